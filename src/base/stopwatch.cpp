#include "base/stopwatch.h"

#include <array>
#include <chrono>
#include <map>
#include <mutex>

namespace {

// On Linux the steady clock is CLOCK_MONOTONIC, the clock V4L2 drivers stamp their buffers with.
using Clock = std::chrono::steady_clock;

struct Registry
{
    std::mutex mutex;
    std::int32_t nextHandle = 1;
    std::map<std::int32_t, std::array<Clock::time_point, kWatchesPerSet>> sets;
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

} // namespace

int StopwatchCreate(std::int32_t &handle)
{
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    handle = r.nextHandle++;
    std::array<Clock::time_point, kWatchesPerSet> watches;
    watches.fill(Clock::now());
    r.sets.emplace(handle, watches);
    return 0;
}

int StopwatchStart(std::int32_t handle, int watch)
{
    return StopwatchStartAt(handle, watch, stopwatchClockNs());
}

int StopwatchStartAt(std::int32_t handle, int watch, std::int64_t monotonicNs)
{
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    const auto it = r.sets.find(handle);
    if (it == r.sets.end() || watch < 0 || watch >= kWatchesPerSet)
        return -1;
    it->second[std::size_t(watch)] = Clock::time_point{std::chrono::nanoseconds(monotonicNs)};
    return 0;
}

int StopwatchRead(std::int32_t handle, int watch, double &milliseconds)
{
    const Clock::time_point now = Clock::now();
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    const auto it = r.sets.find(handle);
    if (it == r.sets.end() || watch < 0 || watch >= kWatchesPerSet)
        return -1;
    milliseconds = std::chrono::duration<double, std::milli>(now - it->second[std::size_t(watch)]).count();
    return 0;
}

int StopwatchReadAt(std::int32_t handle, int watch, std::int64_t monotonicNs, double &milliseconds)
{
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    const auto it = r.sets.find(handle);
    if (it == r.sets.end() || watch < 0 || watch >= kWatchesPerSet)
        return -1;
    const Clock::time_point at{std::chrono::nanoseconds(monotonicNs)};
    milliseconds = std::chrono::duration<double, std::milli>(at - it->second[std::size_t(watch)]).count();
    return 0;
}

std::int64_t stopwatchClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

int StopwatchDestroy(std::int32_t handle)
{
    Registry &r = registry();
    const std::lock_guard lock(r.mutex);
    return r.sets.erase(handle) == 1 ? 0 : -1;
}
