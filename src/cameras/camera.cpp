#include "cameras/camera.h"

#include <chrono>

std::uint64_t framesMissingBetween(std::uint64_t previousId, std::uint64_t id)
{
    return id > previousId ? id - previousId - 1 : 0;
}

void Camera::publishFrame(const Frame &frame)
{
    {
        const std::lock_guard lock(m_frameMutex);
        m_latest = frame;
        if (m_lastFrameId)
            m_lost += framesMissingBetween(*m_lastFrameId, frame.cameraFrameId);
        m_lastFrameId = frame.cameraFrameId;
    }
    ++m_published;
    m_frameArrived.notify_all();
    if (!m_deliveryPending.exchange(true)) {
        ++m_signalled;
        Q_EMIT frameReady(frame);
    }
}

void Camera::beginStream()
{
    const std::lock_guard lock(m_frameMutex);
    m_latest = Frame();
    m_lastFrameId.reset();
}

Status Camera::waitForNewFrame(Frame &out, int timeoutMs)
{
    std::unique_lock lock(m_frameMutex);
    const bool arrived = m_frameArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                                 [&] { return m_latest.sequence > m_lastTaken && !m_latest.isNull(); });
    if (!arrived)
        return Status::failure(QStringLiteral("the camera sent no picture within %1 ms").arg(timeoutMs));
    out = m_latest;
    m_lastTaken = m_latest.sequence;
    return Status::success();
}
