#pragma once

#include "analog/channel_reading.h"

#include <QString>

#include <cstdint>

// Whether a series of pictures is being recorded.
enum class RecordingState { Idle = 0, Recording = 1 };

// The window-level values every part of the program shares. Names follow the system's
// vocabulary; the start-up sequence in Form1 gives them their working values. The values of
// the channel readings are the analog part's own (ChannelReadingState).
struct CaptureState : ChannelReadingState
{
    QString SaveDirectory;   // ends with '/', joined to the base name with nothing between
    QString BaseName;
    QString FileExtension;
    QString FullFileName;    // empty until the first composition
    qint64 FrameCounter = 1; // at least 1; widened so that long series never wrap
    double ElapsedMsec = 0;  // stopwatch reading of the current capture step
    RecordingState Recording = RecordingState::Idle;
    QString LastBaseName;
    std::int32_t StopwatchHandle = 0;
};
