#include "cameras/v4l2/fake_v4l2.h"

#include "cameras/pixel_conversion.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>
#include <time.h>
namespace {

bool isCompressed(std::uint32_t fourcc)
{
    return fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG;
}

// The distance UVC drivers use to pick the nearest frame size: the pixels the two
// rectangles do not share.
long sizeDistance(QSize a, QSize b)
{
    const long common = long(std::min(a.width(), b.width())) * std::min(a.height(), b.height());
    return long(a.width()) * a.height() + long(b.width()) * b.height() - 2 * common;
}

} // namespace

FakeV4l2::FakeV4l2(std::vector<Node> nodes)
{
    for (Node &node : nodes)
        addDevice(std::move(node));
    m_previous = V4l2DeviceIo::install(this);
}

// A new device starts in its first format and size, as a camera does when it is plugged in.
void FakeV4l2::addDevice(Node node)
{
    auto d = std::make_unique<Device>();
    d->node = std::move(node);
    if (d->node.capture) {
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        f.fmt.pix.pixelformat = d->node.formats.front();
        f.fmt.pix.width = std::uint32_t(d->node.sizes.front().width());
        f.fmt.pix.height = std::uint32_t(d->node.sizes.front().height());
        setFormat(*d, f, true);
    }
    m_devices.push_back(std::move(d));
}

FakeV4l2::~FakeV4l2()
{
    V4l2DeviceIo::install(m_previous);
    std::unique_lock lock(m_mutex);
    for (auto &d : m_devices)
        streamOff(*d, lock);
}
void FakeV4l2::damageNext(Damage damage, int frames)
{
    const std::lock_guard lock(m_mutex);
    m_damage.insert(m_damage.end(), std::size_t(frames), damage);
}

void FakeV4l2::dropNext(int frames)
{
    const std::lock_guard lock(m_mutex);
    m_drop += frames;
}

void FakeV4l2::failNextDequeue(int error)
{
    const std::lock_guard lock(m_mutex);
    m_dequeueError = error;
}

void FakeV4l2::interruptNextPoll()
{
    const std::lock_guard lock(m_mutex);
    m_interruptPoll = true;
}

void FakeV4l2::setStalled(bool stalled)
{
    const std::lock_guard lock(m_mutex);
    m_stalled = stalled;
}

void FakeV4l2::unplug(const QString &path)
{
    std::unique_lock lock(m_mutex);
    Device *d = deviceOf(path);
    if (!d)
        return;
    d->gone = true;
    m_changed.notify_all();
    std::thread producer = std::move(d->producer);
    lock.unlock();
    if (producer.joinable())
        producer.join();
}

void FakeV4l2::plugBackIn(const QString &path, const QString &newPath)
{
    const std::lock_guard lock(m_mutex);
    // The handles of the old device stay with it, gone; the camera is a new device.
    const auto old = std::find_if(m_devices.rbegin(), m_devices.rend(),
                                  [&](const auto &d) { return d->node.path == path && d->gone; });
    if (old == m_devices.rend())
        return;
    Node node = (*old)->node;
    if (!newPath.isEmpty())
        node.path = newPath;
    addDevice(std::move(node));
}

std::uint64_t FakeV4l2::framesMade(const QString &path) const
{
    const std::lock_guard lock(m_mutex);
    for (const auto &d : m_devices)
        if (d->node.path == path)
            return d->made;
    return 0;
}

int FakeV4l2::openHandles() const
{
    const std::lock_guard lock(m_mutex);
    return int(m_handles.size());
}

int FakeV4l2::mappings() const
{
    const std::lock_guard lock(m_mutex);
    return int(m_mappings.size());
}

v4l2_pix_format FakeV4l2::format(const QString &path) const
{
    const std::lock_guard lock(m_mutex);
    for (const auto &d : m_devices)
        if (d->node.path == path)
            return d->pix;
    return {};
}

std::int64_t FakeV4l2::control(const QString &path, std::uint32_t id) const
{
    const std::lock_guard lock(m_mutex);
    for (const auto &d : m_devices)
        for (const FakeV4l2Control &c : d->node.controls)
            if (d->node.path == path && c.id == id)
                return c.value;
    return -1;
}

int FakeV4l2::frameRate(const QString &path) const
{
    const std::lock_guard lock(m_mutex);
    for (const auto &d : m_devices)
        if (d->node.path == path)
            return d->node.frameRate;
    return 0;
}

FakeV4l2::Device *FakeV4l2::deviceOf(const QString &path) const
{
    for (const auto &d : m_devices)
        if (d->node.path == path && !d->gone)
            return d.get();
    return nullptr;
}

QStringList FakeV4l2::videoNodes()
{
    const std::lock_guard lock(m_mutex);
    QStringList paths;
    for (const auto &d : m_devices)
        if (!d->gone)
            paths << d->node.path;
    return paths;
}

int FakeV4l2::open(const char *path, int flags)
{
    const std::lock_guard lock(m_mutex);
    Device *d = deviceOf(QString::fromLocal8Bit(path));
    errno = !d ? ENOENT : d->node.openError;
    if (errno != 0)
        return -1;
    const int fd = m_nextFd++;
    m_handles[fd] = Handle{d, (flags & O_NONBLOCK) != 0};
    return fd;
}

int FakeV4l2::close(int fd)
{
    std::unique_lock lock(m_mutex);
    const auto h = m_handles.find(fd);
    if (h == m_handles.end()) {
        errno = EBADF;
        return -1;
    }
    Device &d = *h->second.device;
    m_handles.erase(h);
    // Closing the handle that owns the buffers stops the stream and frees them once unmapped.
    if (d.owner == fd) {
        streamOff(d, lock);
        d.owner = -1;
        if (std::none_of(d.buffers.begin(), d.buffers.end(), [](const Device::Buffer &b) { return b.maps > 0; }))
            d.buffers.clear();
    }
    return 0;
}

int FakeV4l2::ioctl(int fd, unsigned long request, void *arg)
{
    std::unique_lock lock(m_mutex);
    const auto h = m_handles.find(fd);
    if (h == m_handles.end()) {
        errno = EBADF;
        return -1;
    }
    const Handle handle = h->second; // the call may wait, and the map may change meanwhile
    Device &d = *handle.device;
    if (d.gone) {
        errno = ENODEV;
        return -1;
    }
    const bool queueCall = request == VIDIOC_REQBUFS || request == VIDIOC_QBUF || request == VIDIOC_DQBUF ||
                           request == VIDIOC_STREAMON || request == VIDIOC_STREAMOFF;
    // Another handle's buffers make the queue busy, as the kernel's buffer queue does.
    const int result = queueCall && d.owner >= 0 && d.owner != fd ? EBUSY : control(d, handle, request, arg, lock);
    if (result == 0 && request == VIDIOC_REQBUFS)
        d.owner = static_cast<v4l2_requestbuffers *>(arg)->count ? fd : -1;
    errno = result;
    return result == 0 ? 0 : -1;
}

// Answers one ioctl with 0 or an errno.
int FakeV4l2::control(Device &d, const Handle &h, unsigned long request, void *arg, std::unique_lock<std::mutex> &lock)
{
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto &cap = *static_cast<v4l2_capability *>(arg);
        cap = {};
        std::strncpy(reinterpret_cast<char *>(cap.driver), "uvcvideo", sizeof cap.driver - 1);
        std::strncpy(reinterpret_cast<char *>(cap.card), d.node.card.constData(), sizeof cap.card - 1);
        std::strncpy(reinterpret_cast<char *>(cap.bus_info), d.node.busInfo.constData(), sizeof cap.bus_info - 1);
        cap.device_caps = (d.node.capture ? V4L2_CAP_VIDEO_CAPTURE : V4L2_CAP_META_CAPTURE) | V4L2_CAP_STREAMING |
                          V4L2_CAP_EXT_PIX_FORMAT;
        cap.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING |
                           V4L2_CAP_EXT_PIX_FORMAT | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto &desc = *static_cast<v4l2_fmtdesc *>(arg);
        if (!d.node.capture || desc.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || desc.index >= d.node.formats.size())
            return EINVAL;
        desc.pixelformat = d.node.formats[desc.index];
        desc.flags = isCompressed(desc.pixelformat) ? V4L2_FMT_FLAG_COMPRESSED : 0;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto &size = *static_cast<v4l2_frmsizeenum *>(arg);
        const auto &formats = d.node.formats;
        if (!d.node.capture || std::find(formats.begin(), formats.end(), size.pixel_format) == formats.end() ||
            size.index >= d.node.sizes.size())
            return EINVAL;
        size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size.discrete.width = std::uint32_t(d.node.sizes[size.index].width());
        size.discrete.height = std::uint32_t(d.node.sizes[size.index].height());
        return 0;
    }
    case VIDIOC_G_FMT: {
        auto &f = *static_cast<v4l2_format *>(arg);
        if (!d.node.capture || f.type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return EINVAL;
        f.fmt.pix = d.pix;
        return 0;
    }
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT:
        return setFormat(d, *static_cast<v4l2_format *>(arg), request == VIDIOC_S_FMT);
    case VIDIOC_REQBUFS:
        return requestBuffers(d, *static_cast<v4l2_requestbuffers *>(arg));
    case VIDIOC_QUERYBUF:
        return queryBuffer(d, *static_cast<v4l2_buffer *>(arg));
    case VIDIOC_QBUF:
        return queueBuffer(d, *static_cast<v4l2_buffer *>(arg));
    case VIDIOC_DQBUF:
        return dequeueBuffer(d, h, *static_cast<v4l2_buffer *>(arg), lock);
    case VIDIOC_STREAMON:
        return *static_cast<int *>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE ? EINVAL : streamOn(d);
    case VIDIOC_STREAMOFF:
        if (*static_cast<int *>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return EINVAL;
        streamOff(d, lock);
        return 0;
    default:
        return controlCall(d, request, arg);
    }
}

// Never refuses a format: an unknown pixel format becomes the first offered and the size
// the nearest offered, and the answer says what will really be delivered.
int FakeV4l2::setFormat(Device &d, v4l2_format &f, bool apply)
{
    if (!d.node.capture || f.type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
        return EINVAL;
    if (apply && !d.buffers.empty())
        return EBUSY;
    v4l2_pix_format &p = f.fmt.pix;
    const auto &formats = d.node.formats;
    std::uint32_t fourcc = p.pixelformat;
    if (std::find(formats.begin(), formats.end(), fourcc) == formats.end())
        fourcc = formats.front();
    const QSize asked(int(p.width), int(p.height));
    QSize best = d.node.sizes.front();
    for (const QSize s : d.node.sizes)
        if (sizeDistance(s, asked) < sizeDistance(best, asked))
            best = s;
    const std::uint32_t packed = packedLineBytes(fourcc, best.width());
    const std::uint32_t align = std::max<std::uint32_t>(1, d.node.lineAlignment);
    p = {};
    p.width = std::uint32_t(best.width());
    p.height = std::uint32_t(best.height());
    p.pixelformat = fourcc;
    p.field = V4L2_FIELD_NONE;
    p.colorspace = V4L2_COLORSPACE_SRGB;
    p.bytesperline = packed ? (packed + align - 1) / align * align : 0;
    p.sizeimage = packed ? p.bytesperline * p.height : p.width * p.height * 2 + 16384;
    if (apply)
        d.pix = p;
    return 0;
}

FakeV4l2::Node fakeNode(const char *path, std::vector<std::uint32_t> formats, bool capture)
{
    FakeV4l2::Node node;
    node.path = QString::fromLatin1(path);
    node.capture = capture;
    if (!formats.empty())
        node.formats = std::move(formats);
    return node;
}

int shownSequence(const Frame &frame, std::uint32_t fourcc)
{
    const QSize size(frame.width, frame.height);
    const int line = int(FakeV4l2::packedLineBytes(fourcc, frame.width));
    // The pattern repeats after 256 frames.
    for (std::uint32_t sequence = 0; sequence < 256; ++sequence) {
        const QByteArray tight = FakeV4l2::picture(fourcc, size, sequence);
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(tight.constData());
        Frame expected;
        switch (fourcc) {
        case V4L2_PIX_FMT_GREY:
            expected = convertMono8(bytes, frame.width, frame.height, line);
            break;
        case V4L2_PIX_FMT_Y16:
            expected = convertMono16(bytes, frame.width, frame.height, line, 16);
            break;
        case V4L2_PIX_FMT_YUYV:
            expected = convertYuyv(bytes, frame.width, frame.height, line);
            break;
        case V4L2_PIX_FMT_RGB24:
            expected = convertRgb24(bytes, frame.width, frame.height, line);
            break;
        default:
            return -1;
        }
        if (expected.format == frame.format && expected.stride == frame.stride && expected.data == frame.data)
            return int(sequence);
    }
    return -1;
}
