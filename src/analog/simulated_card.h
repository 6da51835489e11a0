#pragma once

#include "analog/analog_card.h"

#include <array>
#include <cstdint>
#include <optional>

// Stands in for the card when none is installed. Both channels follow slow triangle waves,
// each read moving them on by a fixed step, so that successive pictures get different names
// and a run is repeatable. The window marks its readings as simulated.
class SimulatedCard : public AnalogCard
{
public:
    static constexpr int channelCount = 2;

    explicit SimulatedCard(int board = 0);

    int AnalogIn(int board, int channel, int range, std::int16_t &count) override;
    bool isSimulated() const override { return true; }

    // Holds `channel` at `count` for every following read.
    void setCount(int channel, std::int16_t count);
    // Every following read fails with `status` (0 lets reads succeed again); a failed read
    // leaves the count untouched.
    void setFailure(int status);
    // How many reads `channel` has answered, failed ones included.
    int readCount(int channel) const;

private:
    struct Channel
    {
        int position = 0; // along the triangle wave, 0 .. 2 * 4095
        int step = 1;
        std::optional<std::int16_t> heldCount;
        int reads = 0;
    };

    int m_board;
    int m_failure = 0;
    std::array<Channel, channelCount> m_channels;
};
