#include "recording/schedule.h"

#include <QDBusConnection>
#include <QDBusMessage>

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
// audio and interrupt threads a system runs above it; RealtimeKit grants at most 20 by default.
constexpr int kRealtimePriority = 10;
// RealtimeKit grants real-time only to a process whose real-time threads may hold the processor
// no longer than this without sleeping (its own upper bound is 200 ms).
constexpr rlim_t kRealtimeCpuLimitUs = 200'000;
constexpr int kRealtimeKitTimeoutMs = 500;

bool makeRealtimeWithRealtimeKit(QString &why)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        why = QStringLiteral("no system bus for RealtimeKit");
        return false;
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) == 0 && (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > kRealtimeCpuLimitUs)) {
        limit.rlim_cur = limit.rlim_max = kRealtimeCpuLimitUs;
        setrlimit(RLIMIT_RTTIME, &limit);
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.RealtimeKit1"), QStringLiteral("/org/freedesktop/RealtimeKit1"),
        QStringLiteral("org.freedesktop.RealtimeKit1"), QStringLiteral("MakeThreadRealtime"));
    call << quint64(gettid()) << quint32(kRealtimePriority);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kRealtimeKitTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        why = QStringLiteral("RealtimeKit refused: %1").arg(reply.errorMessage());
        return false;
    }
    return true;
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
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur > 0 &&
        rlim_t(param.sched_priority) > limit.rlim_cur)
        param.sched_priority = int(limit.rlim_cur);
    const int refused = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (refused == 0)
        return QStringLiteral("real-time priority (SCHED_FIFO %1)").arg(param.sched_priority);
    QString why;
    if (makeRealtimeWithRealtimeKit(why))
        return QStringLiteral("real-time priority from RealtimeKit (SCHED_RR %1)").arg(kRealtimePriority);
    return QStringLiteral("normal priority (real-time not granted: %1; %2)")
        .arg(QString::fromLocal8Bit(std::strerror(refused)), why);
}
