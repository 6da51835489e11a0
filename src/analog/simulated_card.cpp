#include "analog/simulated_card.h"

namespace {

constexpr int maxCount = 4095;
constexpr int unipolar10Volts = 100;

int triangle(int position)
{
    return position <= maxCount ? position : 2 * maxCount - position;
}

} // namespace

SimulatedCard::SimulatedCard(int board) : m_board(board)
{
    // Steps of a few display digits: channel 0 moves about 1.2 mA, channel 1 about 0.1 V a read.
    m_channels[0] = Channel{1024, 23, std::nullopt, 0};
    m_channels[1] = Channel{2171, 41, std::nullopt, 0};
}

int SimulatedCard::AnalogIn(int board, int channel, int range, std::int16_t &count)
{
    if (board != m_board)
        return AnalogError::BadBoard;
    if (channel < 0 || channel >= channelCount)
        return AnalogError::BadChannel;
    Channel &c = m_channels[std::size_t(channel)];
    ++c.reads;
    if (range != unipolar10Volts)
        return AnalogError::NoMatchingRange;
    if (m_failure != 0)
        return m_failure;
    if (c.heldCount) {
        count = *c.heldCount;
        return 0;
    }
    count = std::int16_t(triangle(c.position));
    c.position = (c.position + c.step) % (2 * maxCount);
    return 0;
}

void SimulatedCard::setCount(int channel, std::int16_t count)
{
    if (channel >= 0 && channel < channelCount)
        m_channels[std::size_t(channel)].heldCount = count;
}

void SimulatedCard::setFailure(int status)
{
    m_failure = status;
}

int SimulatedCard::readCount(int channel) const
{
    return channel >= 0 && channel < channelCount ? m_channels[std::size_t(channel)].reads : 0;
}
