#pragma once

#include <QLocale>
#include <QString>

class AnalogCard;
struct CaptureState;

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
QString takeChannelReading(CaptureState &state, AnalogCard &card, int channel, const QLocale &locale);
