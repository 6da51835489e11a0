#pragma once

#include <QString>

#include <cstdint>

// Whether a series of pictures is being recorded.
enum class RecordingState { Idle = 0, Recording = 1 };

// The window-level values every part of the program shares. Names follow the system's
// vocabulary; the start-up sequence in Form1 gives them their working values.
struct CaptureState
{
    QString SaveDirectory;   // ends with '/', joined to the base name with nothing between
    QString BaseName;
    QString FileExtension;
    QString FullFileName;    // empty until the first composition
    qint64 FrameCounter = 1; // at least 1; widened so that long series never wrap
    double ElapsedMsec = 0;  // stopwatch reading of the current capture step
    RecordingState Recording = RecordingState::Idle;
    QString LastBaseName;
    QString AnalogSuffix;    // "_" + label text of every reading since the last composition
    std::int32_t StopwatchHandle = 0;
    std::int16_t BoardNumber = 0;

    // The last reading of each channel, as the card gave it, for the series record.
    struct ChannelRecord
    {
        bool ok = false;
        std::int16_t count = 0;
        double value = 0;
    };
    ChannelRecord LastReading[2];

    // Scratch values of the channel reading in progress.
    int ChannelNumber = 0;
    int InputRange = 0;
    int FullScale = 0;
    std::int16_t RawCount = 0;
    double ScaledValue = 0;
    QString UnitSuffix;
};
