#include "imaging/v4l2_camera.h"

#include "imaging/camera_settings.h"
#include "imaging/driver_file.h"
#include "imaging/pixel_conversion.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <linux/videodev2.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int kBufferCount = 4;
constexpr int kStreamTimeoutMs = 3000;
constexpr int kPollPeriodMs = 100;

struct NamedFormat
{
    const char *name;
    std::uint32_t fourcc;
};

// The formats this program converts, in the order it prefers them when none is asked for.
constexpr NamedFormat kFormats[] = {{"YUYV", V4L2_PIX_FMT_YUYV},
                                    {"MJPEG", V4L2_PIX_FMT_MJPEG},
                                    {"GREY", V4L2_PIX_FMT_GREY},
                                    {"Y16", V4L2_PIX_FMT_Y16},
                                    {"RGB24", V4L2_PIX_FMT_RGB24}};

bool isSupported(std::uint32_t fourcc)
{
    for (const NamedFormat &f : kFormats)
        if (f.fourcc == fourcc)
            return true;
    return fourcc == V4L2_PIX_FMT_JPEG;
}

QString fourccName(std::uint32_t fourcc)
{
    const char text[] = {char(fourcc & 0xff), char((fourcc >> 8) & 0xff), char((fourcc >> 16) & 0xff),
                         char((fourcc >> 24) & 0xff)};
    return QString::fromLatin1(text, 4).trimmed();
}

int xioctl(int fd, unsigned long request, void *arg)
{
    int result;
    do {
        result = ::ioctl(fd, request, arg);
    } while (result < 0 && errno == EINTR);
    return result;
}

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Whether the open device captures video by streaming; its card name goes to `card`.
bool canCapture(int fd, QString *card = nullptr)
{
    v4l2_capability cap{};
    if (xioctl(fd, VIDIOC_QUERYCAP, &cap) < 0)
        return false;
    const std::uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (card)
        *card = QString::fromUtf8(reinterpret_cast<const char *>(cap.card));
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

// The first format the device offers that this program reads, in our order of preference.
std::uint32_t preferredFormat(int fd)
{
    std::vector<std::uint32_t> offered;
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    while (xioctl(fd, VIDIOC_ENUM_FMT, &desc) == 0) {
        offered.push_back(desc.pixelformat);
        ++desc.index;
    }
    for (const NamedFormat &f : kFormats)
        for (const std::uint32_t o : offered)
            if (o == f.fourcc)
                return o;
    return 0;
}

// The serial number a USB camera reports, from sysfs; empty for other devices.
QString usbSerialNumber(const QString &devicePath)
{
    const QString node = QFileInfo(devicePath).canonicalFilePath().section(QLatin1Char('/'), -1);
    // The video node's device is a USB interface; the serial number belongs to its parent.
    QFile serial(QStringLiteral("/sys/class/video4linux/%1/device/../serial").arg(node));
    if (!serial.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(serial.readAll()).trimmed();
}

} // namespace

V4l2Camera::V4l2Camera(QObject *parent) : Camera(parent)
{
}

V4l2Camera::~V4l2Camera()
{
    stopLive();
    unmapBuffers();
    if (m_fd >= 0)
        ::close(m_fd);
}

QString V4l2Camera::findFirstDevice()
{
    QStringList names = QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(names.begin(), names.end(), numeric);
    for (const QString &name : names) {
        const QString path = QStringLiteral("/dev/") + name;
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
        if (fd < 0)
            continue;
        const bool usable = canCapture(fd) && preferredFormat(fd) != 0;
        ::close(fd);
        if (usable)
            return path;
    }
    return {};
}

Status V4l2Camera::open(const DriverFile &driver)
{
    V4l2Settings settings;
    if (Status s = readV4l2Settings(driver, settings); !s)
        return s;
    QString path = settings.device;
    if (path.isEmpty())
        path = findFirstDevice();
    if (path.isEmpty())
        return Status::failure(QStringLiteral("no V4L2 camera found"));
    if (Status s = openDevice(path); !s)
        return s;
    if (Status s = setFormat(settings); !s)
        return s;
    return mapBuffers();
}

Status V4l2Camera::openDevice(const QString &path)
{
    m_device = path;
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
    if (m_fd < 0)
        return Status::failure(QStringLiteral("cannot open %1: %2").arg(path, lastError()));
    QString card;
    if (!canCapture(m_fd, &card))
        return Status::failure(QStringLiteral("%1 is not a V4L2 device that can stream pictures").arg(path));
    m_description = QStringLiteral("V4L2 %1 (%2)").arg(card, path);
    m_identity = {QStringLiteral("v4l2"), path, card, usbSerialNumber(path)};
    return Status::success();
}

Status V4l2Camera::setFormat(const V4l2Settings &settings)
{
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(m_fd, VIDIOC_G_FMT, &format) < 0)
        return Status::failure(QStringLiteral("cannot read the format of %1: %2").arg(m_device, lastError()));
    std::uint32_t wanted = format.fmt.pix.pixelformat;
    for (const NamedFormat &f : kFormats)
        if (settings.pixelFormat == QLatin1String(f.name))
            wanted = f.fourcc;
    if (settings.pixelFormat.isEmpty() && !isSupported(wanted))
        wanted = preferredFormat(m_fd);
    if (wanted == 0)
        return Status::failure(
            QStringLiteral("%1 offers no format this program reads (GREY, Y16, YUYV, RGB24, MJPEG)").arg(m_device));
    format.fmt.pix.pixelformat = wanted;
    if (settings.width)
        format.fmt.pix.width = std::uint32_t(settings.width);
    if (settings.height)
        format.fmt.pix.height = std::uint32_t(settings.height);
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (xioctl(m_fd, VIDIOC_S_FMT, &format) < 0)
        return Status::failure(QStringLiteral("cannot set the format of %1: %2").arg(m_device, lastError()));

    // Drivers answer an unsupported request with the nearest they have; the file asked
    // for something else, so say so instead of delivering other pictures.
    const v4l2_pix_format &pix = format.fmt.pix;
    if (pix.pixelformat != wanted && !(wanted == V4L2_PIX_FMT_MJPEG && pix.pixelformat == V4L2_PIX_FMT_JPEG))
        return Status::failure(QStringLiteral("%1 does not offer pixel-format %2").arg(m_device, fourccName(wanted)));
    if ((settings.width && int(pix.width) != settings.width) || (settings.height && int(pix.height) != settings.height))
        return Status::failure(QStringLiteral("%1 does not offer %2x%3; the nearest is %4x%5")
                                   .arg(m_device)
                                   .arg(settings.width ? settings.width : int(pix.width))
                                   .arg(settings.height ? settings.height : int(pix.height))
                                   .arg(pix.width)
                                   .arg(pix.height));
    m_fourcc = pix.pixelformat;
    m_width = int(pix.width);
    m_height = int(pix.height);
    m_stride = int(pix.bytesperline);
    m_description += QStringLiteral(" %1x%2 %3").arg(m_width).arg(m_height).arg(fourccName(m_fourcc));
    return Status::success();
}

Status V4l2Camera::mapBuffers()
{
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(m_fd, VIDIOC_REQBUFS, &request) < 0 || request.count < 2)
        return Status::failure(
            QStringLiteral("%1 cannot stream through mapped buffers: %2").arg(m_device, lastError()));
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (xioctl(m_fd, VIDIOC_QUERYBUF, &buffer) < 0)
            return Status::failure(
                QStringLiteral("cannot query buffer %1 of %2: %3").arg(i).arg(m_device, lastError()));
        void *start = ::mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, buffer.m.offset);
        if (start == MAP_FAILED)
            return Status::failure(QStringLiteral("cannot map buffer %1 of %2: %3").arg(i).arg(m_device, lastError()));
        m_buffers.push_back({start, buffer.length});
    }
    return Status::success();
}

void V4l2Camera::unmapBuffers()
{
    for (const Mapping &m : m_buffers)
        ::munmap(m.start, m.length);
    m_buffers.clear();
}

Status V4l2Camera::startStreaming()
{
    for (std::uint32_t i = 0; i < m_buffers.size(); ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (xioctl(m_fd, VIDIOC_QBUF, &buffer) < 0)
            return Status::failure(QStringLiteral("cannot queue a buffer on %1: %2").arg(m_device, lastError()));
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(m_fd, VIDIOC_STREAMON, &type) < 0)
        return Status::failure(QStringLiteral("cannot start streaming on %1: %2").arg(m_device, lastError()));
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return Status::success();
}

void V4l2Camera::stopStreaming()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    // Stopping the stream also takes every buffer back from the driver.
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    xioctl(m_fd, VIDIOC_STREAMOFF, &type);
}

void V4l2Camera::run()
{
    auto lastFrame = std::chrono::steady_clock::now();
    while (!m_stop.load()) {
        pollfd fd{m_fd, POLLIN, 0};
        const int ready = ::poll(&fd, 1, kPollPeriodMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            markLost(QStringLiteral("%1 stopped answering").arg(m_device));
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (ready == 0) {
            if (now - lastFrame > std::chrono::milliseconds(kStreamTimeoutMs)) {
                markLost(QStringLiteral("no picture from %1 for %2 s").arg(m_device).arg(kStreamTimeoutMs / 1000));
                return;
            }
            continue;
        }
        if (!takeBuffer())
            return;
        lastFrame = now;
    }
}

bool V4l2Camera::takeBuffer()
{
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (xioctl(m_fd, VIDIOC_DQBUF, &buffer) < 0) {
        if (errno == EAGAIN)
            return true;
        markLost(QStringLiteral("%1 stopped answering: %2").arg(m_device, lastError()));
        return false;
    }
    Frame frame;
    const auto *data = static_cast<const std::uint8_t *>(m_buffers[buffer.index].start);
    const bool converted = !(buffer.flags & V4L2_BUF_FLAG_ERROR) && convert(data, buffer.bytesused, frame).ok();
    if (xioctl(m_fd, VIDIOC_QBUF, &buffer) < 0) {
        markLost(QStringLiteral("%1 stopped answering: %2").arg(m_device, lastError()));
        return false;
    }
    if (converted)
        deliver(frame);
    return true;
}

Status V4l2Camera::convert(const std::uint8_t *data, std::size_t size, Frame &out) const
{
    if (m_fourcc == V4L2_PIX_FMT_MJPEG || m_fourcc == V4L2_PIX_FMT_JPEG)
        return decodeMjpeg(data, size, out);
    const int packed = m_fourcc == V4L2_PIX_FMT_GREY    ? m_width
                       : m_fourcc == V4L2_PIX_FMT_RGB24 ? 3 * m_width
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

void V4l2Camera::deliver(const Frame &frame)
{
    Frame numbered = frame;
    numbered.sequence = ++m_sequence;
    if (m_live.load()) {
        publishFrame(numbered);
        return;
    }
    m_slot.offer(numbered);
}

Status V4l2Camera::usable() const
{
    if (m_slot.isLost())
        return Status::failure(m_slot.lostReason());
    if (m_fd < 0 || m_buffers.empty())
        return Status::failure(QStringLiteral("the camera is not open"));
    return Status::success();
}

Status V4l2Camera::startLive()
{
    if (Status s = usable(); !s)
        return s;
    if (m_live.load())
        return Status::success();
    m_live = true;
    if (Status s = startStreaming(); !s) {
        m_live = false;
        return s;
    }
    return Status::success();
}

void V4l2Camera::stopLive()
{
    m_live = false;
    // The thread may have ended on its own when the device was lost; it is joined anyway.
    if (m_thread.joinable())
        stopStreaming();
}

Status V4l2Camera::snap(Frame &out, int timeoutMs)
{
    if (Status s = usable(); !s)
        return s;
    if (m_live.load()) {
        const Status waited = waitForNewFrame(out, timeoutMs);
        if (!waited)
            markLost(waited.reason());
        return m_slot.isLost() ? Status::failure(m_slot.lostReason()) : waited;
    }
    m_slot.arm();
    if (Status s = startStreaming(); !s)
        return s;
    const SnapSlot::Result result = m_slot.wait(timeoutMs, out);
    stopStreaming();
    if (result == SnapSlot::Result::Timeout)
        markLost(QStringLiteral("%1 sent no picture within %2 ms").arg(m_device).arg(timeoutMs));
    return m_slot.isLost() ? Status::failure(m_slot.lostReason()) : Status::success();
}

void V4l2Camera::markLost(const QString &reason)
{
    if (!m_slot.markLost(reason))
        return;
    m_live = false;
    Q_EMIT lost(reason);
}
