#pragma once

#include <cstdint>

// Stopwatch sets, each holding a few independent watches that measure milliseconds with
// sub-millisecond resolution on the monotonic clock. A set is addressed by its handle.
// Every function returns 0 on success and -1 for an unknown handle or watch.
constexpr int kWatchesPerSet = 4;

int StopwatchCreate(std::int32_t &handle);
int StopwatchStart(std::int32_t handle, int watch);
int StopwatchRead(std::int32_t handle, int watch, double &milliseconds);
int StopwatchDestroy(std::int32_t handle);
