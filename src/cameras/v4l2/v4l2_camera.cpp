#include "cameras/v4l2/v4l2_camera.h"

#include "cameras/pixel_conversion.h"
#include "base/stopwatch.h"
#include "cameras/v4l2/v4l2_controls.h"
#include "cameras/v4l2/v4l2_device_io.h"
#include "base/thread_name.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

// How often the stream thread looks up from its poll to see whether it should stop.
constexpr int kPollPeriodMs = 100;

// When the driver stamped the buffer, on the monotonic clock the stopwatch runs on; drivers
// that stamp on another clock, or not at all, leave the time the buffer was taken.
std::int64_t captureTime(const v4l2_buffer &buffer)
{
    const bool monotonic = (buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
    const std::int64_t stamp = std::int64_t(buffer.timestamp.tv_sec) * 1'000'000'000 +
                               std::int64_t(buffer.timestamp.tv_usec) * 1'000;
    const std::int64_t now = stopwatchClockNs();
    return monotonic && stamp > 0 && stamp <= now ? stamp : now;
}

} // namespace

V4l2Camera::V4l2Camera(QObject *parent) : StreamingCamera(parent)
{
}

V4l2Camera::~V4l2Camera()
{
    stopLive();
    stopStream();
    unmapBuffers();
    if (m_fd >= 0)
        V4l2DeviceIo::current().close(m_fd);
}

Status V4l2Camera::startStream()
{
    readFramePeriod();
    for (std::uint32_t i = 0; i < m_buffers.size(); ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (v4l2Ioctl(m_fd, VIDIOC_QBUF, &buffer) < 0)
            return abandonStart(QStringLiteral("queue a buffer"));
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (v4l2Ioctl(m_fd, VIDIOC_STREAMON, &type) < 0)
        return abandonStart(QStringLiteral("start streaming"));
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return Status::success();
}

Status V4l2Camera::abandonStart(const QString &what)
{
    const int error = errno;
    const QString reason =
        QStringLiteral("cannot %1 on %2: %3").arg(what, m_device, QString::fromLocal8Bit(std::strerror(error)));
    // Buffers stay queued after a failed start; stopping takes them back, so that the next
    // try can queue them again instead of failing on buffers the driver still holds.
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    v4l2Ioctl(m_fd, VIDIOC_STREAMOFF, &type);
    if (error == ENODEV)
        loseCamera(reason);
    return Status::failure(reason);
}

void V4l2Camera::stopStream()
{
    if (!m_thread.joinable())
        return;
    m_stop = true;
    m_thread.join();
    // Stopping the stream also takes every buffer back from the driver.
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    v4l2Ioctl(m_fd, VIDIOC_STREAMOFF, &type);
}

void V4l2Camera::readFramePeriod()
{
    v4l2_streamparm parm;
    const v4l2_fract &t = parm.parm.capture.timeperframe;
    m_framePeriodNs =
        readStreamParameters(m_fd, parm) ? std::int64_t(t.numerator) * 1'000'000'000 / std::int64_t(t.denominator) : 0;
}

// Silence is the watchdog's to judge, from the frame period; this thread only stops at a
// device that is gone.
void V4l2Camera::run()
{
    nameThisThread("pir-v4l2");
    while (!m_stop.load()) {
        pollfd fd{m_fd, POLLIN, 0};
        const int ready = V4l2DeviceIo::current().poll(&fd, 1, kPollPeriodMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            loseCamera(QStringLiteral("%1 stopped answering").arg(m_device));
            return;
        }
        if (ready > 0 && takeBuffer() == Taken::Lost)
            return;
    }
}

V4l2Camera::Taken V4l2Camera::takeBuffer()
{
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (v4l2Ioctl(m_fd, VIDIOC_DQBUF, &buffer) < 0) {
        if (errno == EAGAIN)
            return Taken::Nothing;
        loseCamera(QStringLiteral("%1 stopped answering: %2").arg(m_device, v4l2ErrorText()));
        return Taken::Lost;
    }
    Frame frame;
    const Mapping &mapping = m_buffers[buffer.index];
    const bool converted =
        !(buffer.flags & V4L2_BUF_FLAG_ERROR) &&
        convert(static_cast<const std::uint8_t *>(mapping.start), std::min<std::size_t>(buffer.bytesused, mapping.length),
                frame)
            .ok();
    if (v4l2Ioctl(m_fd, VIDIOC_QBUF, &buffer) < 0) {
        loseCamera(QStringLiteral("%1 stopped answering: %2").arg(m_device, v4l2ErrorText()));
        return Taken::Lost;
    }
    if (!converted)
        return Taken::Damaged;
    frame.cameraFrameId = buffer.sequence;
    frame.captureNs = captureTime(buffer);
    deliver(frame);
    return Taken::Frame;
}

Status V4l2Camera::convert(const std::uint8_t *data, std::size_t size, Frame &out) const
{
    if (m_fourcc == V4L2_PIX_FMT_MJPEG || m_fourcc == V4L2_PIX_FMT_JPEG)
        return decodeMjpeg(data, size, m_width, m_height, out);
    // YUYV comes in whole macropixels of two pixels, also when the width is odd.
    const int packed = m_fourcc == V4L2_PIX_FMT_GREY    ? m_width
                       : m_fourcc == V4L2_PIX_FMT_RGB24 ? 3 * m_width
                       : m_fourcc == V4L2_PIX_FMT_YUYV  ? (m_width + 1) / 2 * 4
                                                        : 2 * m_width;
    const int stride = m_stride > 0 ? m_stride : packed;
    if (m_height <= 0 || size < std::size_t(stride) * std::size_t(m_height - 1) + std::size_t(packed))
        return Status::failure(QStringLiteral("short frame"));
    switch (m_fourcc) {
    case V4L2_PIX_FMT_GREY:
        out = convertMono8(data, m_width, m_height, stride);
        break;
    case V4L2_PIX_FMT_Y16:
        out = convertMono16(data, m_width, m_height, stride, 16);
        break;
    case V4L2_PIX_FMT_YUYV:
        out = convertYuyv(data, m_width, m_height, stride);
        break;
    case V4L2_PIX_FMT_RGB24:
        out = convertRgb24(data, m_width, m_height, stride);
        break;
    default:
        return Status::failure(QStringLiteral("unsupported format"));
    }
    return Status::success();
}

