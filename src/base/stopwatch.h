#pragma once

#include <cstdint>

// Stopwatch sets, each holding a few independent watches that measure milliseconds with
// sub-millisecond resolution on the monotonic clock. A set is addressed by its handle.
// Every function returns 0 on success and -1 for an unknown handle or watch.
constexpr int kWatchesPerSet = 4;

int StopwatchCreate(std::int32_t &handle);
int StopwatchStart(std::int32_t handle, int watch);
// Starts the watch at `monotonicNs`, an instant of stopwatchClockNs()'s clock, so that a
// schedule and the watch share their zero exactly.
int StopwatchStartAt(std::int32_t handle, int watch, std::int64_t monotonicNs);
int StopwatchRead(std::int32_t handle, int watch, double &milliseconds);
// Milliseconds from the start of the watch to `monotonicNs`, an instant of stopwatchClockNs()'s
// clock; negative for an instant before the start.
int StopwatchReadAt(std::int32_t handle, int watch, std::int64_t monotonicNs, double &milliseconds);
int StopwatchDestroy(std::int32_t handle);

// Now on the stopwatch's clock, CLOCK_MONOTONIC, in nanoseconds: the clock of V4L2 buffer
// timestamps and of the capture times of frames.
std::int64_t stopwatchClockNs();
