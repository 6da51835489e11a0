#pragma once

#include "analog/analog_card.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct comedi_t_struct;

// Physical limits of one input range as the driver reports them. `unit` uses the driver's
// codes: volt 0, milliampere 1, none 2.
struct RangeLimits
{
    double min = 0;
    double max = 0;
    unsigned unit = 0;
};

namespace RangeUnit {
constexpr unsigned Volt = 0;
constexpr unsigned MilliAmpere = 1;
constexpr unsigned None = 2;
} // namespace RangeUnit

// The limits that a range code of the card's library stands for; only 100 (unipolar 0 to 10 V)
// is in use here.
std::optional<RangeLimits> limitsOfRangeCode(int rangeCode);

// The index of the range in `ranges` that serves `rangeCode`, or -1 when there is none.
int chooseRange(const std::vector<RangeLimits> &ranges, int rangeCode);

// Scales a sample of a converter whose largest value is `maxdata` to the 0 to 4095 count of a
// 12-bit converter.
std::int16_t toTwelveBitCount(std::uint32_t sample, std::uint32_t maxdata);

// Board N is the Linux driver stack's device /dev/comediN; readings come from its first
// analog input subdevice, ground-referenced, one sample per call.
class ComediCard : public AnalogCard
{
public:
    // Null when the device cannot be opened or has no analog input; `reason` tells why, and
    // stays empty when there is no such device at all.
    static std::unique_ptr<ComediCard> open(int board, QString *reason = nullptr);
    ~ComediCard() override;
    ComediCard(const ComediCard &) = delete;
    ComediCard &operator=(const ComediCard &) = delete;

    int AnalogIn(int board, int channel, int range, std::int16_t &count) override;
    bool isSimulated() const override { return false; }

private:
    ComediCard(comedi_t_struct *device, int board, int subdevice);
    std::vector<RangeLimits> rangesOf(unsigned channel) const;

    comedi_t_struct *m_device;
    int m_board;
    int m_subdevice;
};
