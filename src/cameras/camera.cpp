#include "cameras/camera.h"

#include <algorithm>

namespace {

// A USB camera may take a second or more to send the first frame after it was told to stream;
// a frame of a running stream may still be held up on the bus or the network for a while.
constexpr std::chrono::milliseconds kFirstFrameFloor{3000};
constexpr std::chrono::milliseconds kNextFrameFloor{2000};
// Frames a camera may fall behind before its silence counts as a loss.
constexpr int kPeriodsLate = 3;

} // namespace

std::uint64_t framesMissingBetween(std::uint64_t previousId, std::uint64_t id)
{
    return id > previousId ? id - previousId - 1 : 0;
}

std::chrono::milliseconds Camera::frameWaitLimit(bool firstOfStream) const
{
    const auto ownTime = std::chrono::ceil<std::chrono::milliseconds>(kPeriodsLate * (framePeriod() + exposure()));
    return std::max(ownTime, firstOfStream ? kFirstFrameFloor : kNextFrameFloor);
}

void Camera::publishFrame(Frame frame, bool live)
{
    frame.sequence = nextSequence();
    if (m_lastFrameId)
        m_lost += framesMissingBetween(*m_lastFrameId, frame.cameraFrameId);
    m_lastFrameId = frame.cameraFrameId;
    m_slot.offer(frame);
    ++m_published;
    if (live && !m_deliveryPending.exchange(true)) {
        ++m_signalled;
        Q_EMIT frameReady(frame);
    }
}

void Camera::beginStream()
{
    m_slot.reset();
    m_lastFrameId.reset();
    m_deliveryPending = false; // nothing from an earlier stream is still on its way
}

bool Camera::markLost(const QString &reason)
{
    if (!m_slot.markLost(reason))
        return false;
    Q_EMIT lost(reason);
    return true;
}

Status Camera::frameResult(FrameSlot::Result result, std::chrono::milliseconds waited)
{
    switch (result) {
    case FrameSlot::Result::Frame:
    case FrameSlot::Result::None:
        return Status::success();
    case FrameSlot::Result::Interrupted:
        return Status::failure(QStringLiteral("the wait for a picture was ended"));
    case FrameSlot::Result::Timeout:
        markLost(QStringLiteral("the camera sent no picture within %1 ms").arg(waited.count()));
        break;
    case FrameSlot::Result::Lost:
        break;
    }
    return Status::failure(lostReason());
}

CaptureResult Camera::tickResult(const Status &status, const Frame &out) const
{
    if (status)
        return {out.isNull() ? CaptureOutcome::NoFrame : CaptureOutcome::Picture, {}};
    if (m_slot.isInterrupted())
        return {CaptureOutcome::Interrupted, status.reason()};
    return {CaptureOutcome::Lost, status.reason()};
}
