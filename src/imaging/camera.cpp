#include "imaging/camera.h"

#include <chrono>

void Camera::publishFrame(const Frame &frame)
{
    {
        const std::lock_guard lock(m_frameMutex);
        m_latest = frame;
    }
    ++m_published;
    m_frameArrived.notify_all();
    if (!m_deliveryPending.exchange(true)) {
        ++m_signalled;
        Q_EMIT frameReady(frame);
    }
}

Status Camera::waitForNextFrame(Frame &out, int timeoutMs)
{
    std::unique_lock lock(m_frameMutex);
    const std::uint64_t seen = m_latest.sequence;
    const bool arrived = m_frameArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                                 [&] { return m_latest.sequence != seen && !m_latest.isNull(); });
    if (!arrived)
        return Status::failure(QStringLiteral("the camera sent no picture within %1 ms").arg(timeoutMs));
    out = m_latest;
    return Status::success();
}
