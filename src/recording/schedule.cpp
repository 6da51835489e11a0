#include "recording/schedule.h"

#include <chrono>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace {

// High enough to run before the desktop's ordinary threads, low enough to leave room for the
// audio and interrupt threads a system runs above it.
constexpr int kRealtimePriority = 10;

// A real-time thread that runs longer than RLIMIT_RTTIME without sleeping is killed by the
// kernel (SIGXCPU at the soft limit, SIGKILL at the hard one), and a schedule thread may well
// be busy that long, making a large test pattern. Real-time is taken only where no such limit
// applies; a soft limit below an unlimited hard one is lifted. RealtimeKit is not asked: it
// grants real-time only to a process whose hard limit is at most 200 ms.
QString realtimeTimeLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0)
        return QStringLiteral("RLIMIT_RTTIME unreadable");
    if (limit.rlim_max != RLIM_INFINITY)
        return QStringLiteral("RLIMIT_RTTIME limits a real-time thread to %1 ms without sleeping")
            .arg(qulonglong(limit.rlim_max / 1000));
    if (limit.rlim_cur != RLIM_INFINITY) {
        limit.rlim_cur = RLIM_INFINITY;
        if (setrlimit(RLIMIT_RTTIME, &limit) != 0)
            return QStringLiteral("RLIMIT_RTTIME cannot be lifted");
    }
    return QString();
}

} // namespace

std::int64_t Schedule::lastTickBy(std::int64_t nowNs) const
{
    if (nowNs < m_start)
        return -1;
    return (nowNs - m_start) / m_interval;
}

Schedule::Next Schedule::afterCapture(std::int64_t served, std::int64_t nowNs) const
{
    const std::int64_t last = std::max(served, lastTickBy(nowNs));
    return Next{last + 1, last - served, false};
}

Schedule::Next Schedule::onWake(std::int64_t wanted, std::int64_t nowNs) const
{
    const std::int64_t last = lastTickBy(nowNs);
    if (last < wanted)
        return Next{wanted, 0, false}; // woken before its time: sleep on
    if (2 * (nowNs - tickTime(last)) < m_interval)
        return Next{last, last - wanted, true};
    return Next{last + 1, last + 1 - wanted, false};
}

std::int64_t SeriesClock::now() const
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The standard library's steady clock is CLOCK_MONOTONIC, and its condition variable waits to an
// absolute deadline on it, as clock_nanosleep with TIMER_ABSTIME does, while Stop can end the
// wait at once.
bool SeriesClock::sleepUntil(std::int64_t deadlineNs, std::unique_lock<std::mutex> &lock,
                             std::condition_variable &changed, const bool &stop)
{
    const std::chrono::steady_clock::time_point deadline{std::chrono::nanoseconds(deadlineNs)};
    changed.wait_until(lock, deadline, [&] { return stop; });
    return !stop;
}

QString raiseSchedulePriority()
{
    // A sleeping thread is woken up to the timer slack (50 µs by default) after its deadline.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    if (const QString limited = realtimeTimeLimit(); !limited.isEmpty())
        return QStringLiteral("normal priority (real-time not taken: %1)").arg(limited);
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur > 0 &&
        rlim_t(param.sched_priority) > limit.rlim_cur)
        param.sched_priority = int(limit.rlim_cur);
    const int refused = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (refused == 0)
        return QStringLiteral("real-time priority (SCHED_FIFO %1)").arg(param.sched_priority);
    return QStringLiteral("normal priority (real-time not granted: %1; RealtimeKit not asked: it grants real-time "
                          "only under a CPU-time limit that the kernel enforces by killing the program)")
        .arg(QString::fromLocal8Bit(std::strerror(refused)));
}
