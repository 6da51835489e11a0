#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

class AnalogCard;

// The values a channel reading works with, named as the rest of the capture state is.
struct ChannelReadingState
{
    std::int16_t BoardNumber = 0;
    QString AnalogSuffix; // "_" + label text of every reading since the last composition

    // The last reading of each channel, as the card gave it, for the series record.
    struct ChannelRecord
    {
        bool ok = false;
        std::int16_t count = 0;
        double value = 0;
    };
    ChannelRecord LastReading[2];

    // Scratch values of the reading in progress.
    int ChannelNumber = 0;
    int InputRange = 0;
    int FullScale = 0;
    std::int16_t RawCount = 0;
    double ScaledValue = 0;
    QString UnitSuffix;
};

// What sets the two channels apart: channel 0 is a 0 to 10 V signal standing for up to
// 212 mA, channel 1 a 0 to 10 V signal shown in volts.
struct ChannelSetup
{
    int channelNumber = 0;
    int inputRange = 100; // the card library's unipolar 0 to 10 V range
    int fullScale = 0;
    QString unitSuffix;
    QString pattern;
};

ChannelSetup channelSetup(int channel);

// One reading of `channel` (0 or 1): fills the reading's values in `state`, appends
// "_" + label text to `state.AnalogSuffix` and returns the label text, e.g. "106_mA".
// A read the card reports as failed gives "ERR" + unit ("ERR_mA") rather than a stale
// count dressed up as a measurement; `ScaledValue` is then NaN.
QString takeChannelReading(ChannelReadingState &state, AnalogCard &card, int channel, const QLocale &locale);
