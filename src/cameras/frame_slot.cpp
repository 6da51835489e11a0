#include "cameras/frame_slot.h"

#include <algorithm>

void FrameSlot::reset()
{
    const std::lock_guard lock(m_mutex);
    m_frames.clear();
}

void FrameSlot::offer(const Frame &frame)
{
    {
        const std::lock_guard lock(m_mutex);
        m_frames.push_back(frame);
        while (m_frames.size() > kKept)
            m_frames.pop_front();
    }
    m_changed.notify_all();
}

bool FrameSlot::markLost(const QString &reason)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_lost)
            return false;
        m_lost = true;
        m_reason = reason;
    }
    m_changed.notify_all();
    return true;
}

bool FrameSlot::isLost() const
{
    const std::lock_guard lock(m_mutex);
    return m_lost;
}

QString FrameSlot::lostReason() const
{
    const std::lock_guard lock(m_mutex);
    return m_reason;
}

void FrameSlot::interrupt()
{
    {
        const std::lock_guard lock(m_mutex);
        m_interrupted = true;
    }
    m_changed.notify_all();
}

void FrameSlot::resume()
{
    const std::lock_guard lock(m_mutex);
    m_interrupted = false;
}

bool FrameSlot::isInterrupted() const
{
    const std::lock_guard lock(m_mutex);
    return m_interrupted;
}

FrameSlot::Result FrameSlot::handOut(const Frame &frame, Frame &out)
{
    out = frame;
    m_lastTaken = frame.sequence;
    return Result::Frame;
}

template <typename Ready>
FrameSlot::Result FrameSlot::waitUntil(std::unique_lock<std::mutex> &lock, Clock::time_point deadline, Ready ready)
{
    const bool woken = m_changed.wait_until(lock, deadline, [&] { return m_lost || m_interrupted || ready(); });
    if (m_lost)
        return Result::Lost;
    if (m_interrupted)
        return Result::Interrupted;
    return woken ? Result::Frame : Result::Timeout;
}

FrameSlot::Result FrameSlot::awaitFirst(Clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    return waitUntil(lock, deadline, [this] { return !m_frames.empty(); });
}

FrameSlot::Result FrameSlot::takeNewest(Clock::time_point deadline, Frame &out)
{
    std::unique_lock lock(m_mutex);
    const Result result =
        waitUntil(lock, deadline, [this] { return !m_frames.empty() && m_frames.back().sequence > m_lastTaken; });
    return result == Result::Frame ? handOut(m_frames.back(), out) : result;
}

std::uint64_t FrameSlot::newestSequence() const
{
    const std::lock_guard lock(m_mutex);
    return m_frames.empty() ? 0 : m_frames.back().sequence;
}

FrameSlot::Result FrameSlot::takeFirstAfter(std::uint64_t sequence, Clock::time_point deadline, Frame &out)
{
    std::unique_lock lock(m_mutex);
    const Result result =
        waitUntil(lock, deadline, [&] { return !m_frames.empty() && m_frames.back().sequence > sequence; });
    if (result != Result::Frame)
        return result;
    return handOut(*std::find_if(m_frames.begin(), m_frames.end(), [&](const Frame &f) { return f.sequence > sequence; }),
                   out);
}

FrameSlot::Choice FrameSlot::choose(std::int64_t instantNs, std::int64_t periodNs, std::int64_t windowNs,
                                    const Frame *&chosen) const
{
    const Frame *before = nullptr;
    const Frame *after = nullptr;
    for (const Frame &frame : m_frames) {
        if (frame.sequence <= m_lastTaken)
            continue;
        if (frame.captureNs < instantNs) {
            before = &frame;
        } else {
            after = &frame;
            break;
        }
    }
    if (before && instantNs - before->captureNs > windowNs)
        before = nullptr;
    if (after) {
        if (after->captureNs - instantNs > windowNs)
            after = nullptr; // it belongs to a later instant
        if (after && before)
            chosen = instantNs - before->captureNs <= after->captureNs - instantNs ? before : after;
        else
            chosen = after ? after : before;
        return chosen ? Choice::Take : Choice::None;
    }
    // Where the camera does not tell its frame period, the spacing of its two newest frames does.
    if (periodNs <= 0 && m_frames.size() >= 2)
        periodNs = m_frames.back().captureNs - m_frames[m_frames.size() - 2].captureNs;
    if (periodNs <= 0 || m_frames.empty())
        return Choice::Wait;
    // The next frame is expected a period after the newest one; a tenth of a period is left for
    // the camera's own unsteadiness.
    const std::int64_t nextNs = m_frames.back().captureNs + periodNs - periodNs / 10;
    if (before && nextNs - instantNs > instantNs - before->captureNs) {
        chosen = before;
        return Choice::Take;
    }
    if (nextNs - instantNs > windowNs)
        return before ? (chosen = before, Choice::Take) : Choice::None;
    return Choice::Wait;
}

FrameSlot::Result FrameSlot::takeNearest(std::int64_t instantNs, std::int64_t periodNs, std::int64_t windowNs,
                                         Clock::time_point deadline, Frame &out)
{
    std::unique_lock lock(m_mutex);
    const Frame *chosen = nullptr;
    Choice choice = Choice::Wait;
    const Result result = waitUntil(
        lock, deadline, [&] { return (choice = choose(instantNs, periodNs, windowNs, chosen)) != Choice::Wait; });
    if (result != Result::Frame)
        return result;
    return choice == Choice::None ? Result::None : handOut(*chosen, out);
}
