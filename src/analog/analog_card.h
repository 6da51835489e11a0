#pragma once

#include <QString>

#include <cstdint>
#include <memory>

// The data-acquisition card: one sample of one analog channel.
class AnalogCard
{
public:
    virtual ~AnalogCard() = default;

    // Takes one sample of `channel` on `board` in range `range` (100: unipolar 0 to 10 V)
    // and writes it to `count` as a 12-bit count. Returns 0 on success, else an error code.
    virtual int AnalogIn(int board, int channel, int range, std::int16_t &count) = 0;

    // True when no real card delivers the readings.
    virtual bool isSimulated() const = 0;
};

// Status codes of AnalogIn besides 0, shared by the back-ends so that a reason can be told.
namespace AnalogError {
constexpr int BadBoard = 1;        // the card object serves another board number
constexpr int BadChannel = 2;      // no such analog input channel
constexpr int NoMatchingRange = 3; // the card offers no range for the requested range code
constexpr int ReadFailed = 4;      // the card did not deliver a sample
} // namespace AnalogError
