#include "analog/channel_reading.h"

#include "analog/analog_card.h"
#include "base/number_pattern.h"

#include <limits>

ChannelSetup channelSetup(int channel)
{
    if (channel == 0)
        return ChannelSetup{0, 100, 212, QStringLiteral("_mA"), QStringLiteral("000")};
    return ChannelSetup{1, 100, 10, QStringLiteral("_V"), QStringLiteral("00.0")};
}

QString takeChannelReading(ChannelReadingState &state, AnalogCard &card, int channel, const QLocale &locale)
{
    const ChannelSetup setup = channelSetup(channel);
    state.ChannelNumber = setup.channelNumber;
    state.InputRange = setup.inputRange;
    state.FullScale = setup.fullScale;
    state.UnitSuffix = setup.unitSuffix;

    const int status = card.AnalogIn(state.BoardNumber, state.ChannelNumber, state.InputRange, state.RawCount);
    QString text;
    if (status == 0) {
        state.ScaledValue = state.FullScale * (state.RawCount / 4096.0);
        text = formatNumber(state.ScaledValue, setup.pattern, locale) + state.UnitSuffix;
    } else {
        state.ScaledValue = std::numeric_limits<double>::quiet_NaN();
        text = QStringLiteral("ERR") + state.UnitSuffix;
    }
    state.LastReading[setup.channelNumber] = ChannelReadingState::ChannelRecord{status == 0, state.RawCount, state.ScaledValue};
    state.AnalogSuffix += u'_' + text;
    return text;
}
