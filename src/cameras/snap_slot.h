#pragma once

#include "base/frame.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// Hands the first frame of a single acquisition from a camera's stream thread to the
// `snap` that waits for it, and keeps why the camera was lost, which ends any wait at once.
// Shared by the back-ends whose single pictures come through their stream.
class SnapSlot
{
public:
    enum class Result { Frame, Lost, Timeout };

    // Called before the acquisition starts, so that its first frame is kept.
    void arm()
    {
        const std::lock_guard lock(m_mutex);
        m_frame = Frame();
        m_armed = true;
    }

    // Called on the stream thread; keeps the frame when a snap waits for one.
    void offer(const Frame &frame)
    {
        const std::lock_guard lock(m_mutex);
        if (!m_armed || !m_frame.isNull())
            return;
        m_frame = frame;
        m_changed.notify_all();
    }

    // Waits for the armed acquisition's frame and disarms.
    Result wait(int timeoutMs, Frame &out)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !m_frame.isNull() || m_isLost.load(); });
        m_armed = false;
        const Result result = m_isLost.load() ? Result::Lost : m_frame.isNull() ? Result::Timeout : Result::Frame;
        if (result == Result::Frame)
            out = m_frame;
        m_frame = Frame();
        return result;
    }

    // Records the reason; true only the first time, so the loss is reported once.
    bool markLost(const QString &reason)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (m_isLost.load())
                return false;
            m_reason = reason;
            m_isLost = true;
        }
        m_changed.notify_all();
        return true;
    }

    bool isLost() const { return m_isLost.load(); }
    QString lostReason() const
    {
        const std::lock_guard lock(m_mutex);
        return m_reason;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_armed = false;
    Frame m_frame;
    QString m_reason;
    std::atomic<bool> m_isLost{false};
};
