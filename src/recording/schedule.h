#pragma once

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <mutex>

// The grid a series takes its pictures on: tick k falls at start + k × interval of the
// monotonic clock the stopwatch runs on. No delay moves the grid: a tick that cannot be served
// at its time is missed and counted, and the next picture is taken on the grid again.
class Schedule
{
public:
    Schedule(std::int64_t startNs, std::int64_t intervalNs) : m_start(startNs), m_interval(intervalNs) {}

    std::int64_t start() const { return m_start; }
    std::int64_t interval() const { return m_interval; }
    std::int64_t tickTime(std::int64_t tick) const { return m_start + tick * m_interval; }
    // The last tick whose time has come by `nowNs`.
    std::int64_t lastTickBy(std::int64_t nowNs) const;

    struct Next
    {
        std::int64_t tick = 0;   // the tick to serve or to sleep to
        std::int64_t missed = 0; // ticks passed over on the way
        bool serveNow = false;   // serve `tick` at once rather than sleep to it
    };
    // The capture of `served` ended at `nowNs`: every tick that came meanwhile could not be
    // served, and the schedule sleeps to the first one after now.
    Next afterCapture(std::int64_t served, std::int64_t nowNs) const;
    // The schedule woke at `nowNs` to serve `wanted`, later than its time if the machine held it
    // up. The tick nearest now is served while now lies less than half an interval after it;
    // ticks before it are missed. Further behind, every tick that came is missed, and the
    // schedule sleeps to the next.
    Next onWake(std::int64_t wanted, std::int64_t nowNs) const;

private:
    std::int64_t m_start;
    std::int64_t m_interval;
};

// The clock a series keeps its schedule on. The program's is CLOCK_MONOTONIC, whose absolute
// deadlines no change of the wall clock moves; tests put a clock of their own in its place.
class SeriesClock
{
public:
    virtual ~SeriesClock() = default;
    virtual std::int64_t now() const;
    // Sleeps until `deadlineNs` unless `stop` becomes true first (it is changed under `mutex`,
    // which the caller holds, and `changed` notified). Returns false when stopped.
    virtual bool sleepUntil(std::int64_t deadlineNs, std::unique_lock<std::mutex> &lock, std::condition_variable &changed,
                            const bool &stop);
};

// Lowers the calling thread's timer slack to the least and takes real-time priority where
// RLIMIT_RTPRIO grants it and no RLIMIT_RTTIME lets the kernel kill a thread that is busy for a
// while. Returns how the thread runs, in words for the series log.
QString raiseSchedulePriority();
