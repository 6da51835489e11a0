// Finding a V4L2 device, opening it, agreeing on a format and mapping its buffers.

#include "cameras/v4l2/v4l2_camera.h"

#include "cameras/camera_settings.h"
#include "cameras/driver_file.h"
#include "cameras/pixel_formats.h"
#include "cameras/v4l2/v4l2_controls.h"
#include "cameras/v4l2/v4l2_device_io.h"

#include <QFile>
#include <QFileInfo>

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>

namespace {

constexpr int kBufferCount = 4;

// Plain JPEG, which some drivers offer instead, is read as Motion-JPEG.
const NamedPixelFormat *readableFormat(std::uint32_t fourcc)
{
    return findPixelFormat(v4l2PixelFormats(), fourcc == V4L2_PIX_FMT_JPEG ? V4L2_PIX_FMT_MJPEG : fourcc);
}

// The number at the end of a node's path, so that /dev/video2 comes before /dev/video10.
int nodeNumber(const QString &path)
{
    qsizetype digits = path.size();
    while (digits > 0 && path[digits - 1].isDigit())
        --digits;
    return path.mid(digits).toInt();
}

// Whether the open device captures video by streaming; its card name goes to `card`, where it is
// plugged in to `busInfo`.
bool canCapture(int fd, QString *card = nullptr, QString *busInfo = nullptr)
{
    v4l2_capability cap{};
    if (v4l2Ioctl(fd, VIDIOC_QUERYCAP, &cap) < 0)
        return false;
    const std::uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (card)
        *card = QString::fromUtf8(reinterpret_cast<const char *>(cap.card));
    if (busInfo)
        *busInfo = QString::fromUtf8(reinterpret_cast<const char *>(cap.bus_info));
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

// The first format the device offers that this program reads, in our order of preference.
std::uint32_t preferredFormat(int fd)
{
    std::vector<std::uint32_t> offered;
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    while (v4l2Ioctl(fd, VIDIOC_ENUM_FMT, &desc) == 0) {
        offered.push_back(desc.pixelformat);
        ++desc.index;
    }
    std::uint32_t best = 0;
    int bestPreference = 0;
    for (const std::uint32_t o : offered) {
        const NamedPixelFormat *f = findPixelFormat(v4l2PixelFormats(), o);
        if (f && (best == 0 || f->preference < bestPreference)) {
            best = o;
            bestPreference = f->preference;
        }
    }
    return best;
}

// The serial number a USB camera reports, from sysfs; empty for other devices.
QString usbSerialNumber(const QString &devicePath)
{
    const QString node = QFileInfo(devicePath).canonicalFilePath().section(QLatin1Char('/'), -1);
    // The video node's device is a USB interface; the serial number belongs to its parent.
    QFile serial(QStringLiteral("/sys/class/video4linux/%1/device/../serial").arg(node));
    if (node.isEmpty() || !serial.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(serial.readAll()).trimmed();
}

} // namespace

QString fourccName(std::uint32_t fourcc)
{
    const char text[] = {char(fourcc & 0xff), char((fourcc >> 8) & 0xff), char((fourcc >> 16) & 0xff),
                         char((fourcc >> 24) & 0xff)};
    return QString::fromLatin1(text, 4).trimmed();
}

// The video nodes, /dev/video2 before /dev/video10.
QStringList sortedNodes()
{
    QStringList paths = V4l2DeviceIo::current().videoNodes();
    std::sort(paths.begin(), paths.end(), [](const QString &a, const QString &b) {
        return nodeNumber(a) != nodeNumber(b) ? nodeNumber(a) < nodeNumber(b) : a < b;
    });
    return paths;
}

// The sizes the device offers in `fourcc`: each discrete one, or the range it allows.
QString frameSizes(int fd, std::uint32_t fourcc)
{
    QStringList sizes;
    v4l2_frmsizeenum size{};
    size.pixel_format = fourcc;
    while (v4l2Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0) {
        if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
            const v4l2_frmsize_stepwise &s = size.stepwise;
            sizes << QStringLiteral("%1x%2 to %3x%4").arg(s.min_width).arg(s.min_height).arg(s.max_width).arg(s.max_height);
            break;
        }
        sizes << QStringLiteral("%1x%2").arg(size.discrete.width).arg(size.discrete.height);
        ++size.index;
    }
    return sizes.isEmpty() ? QStringLiteral("sizes not told") : sizes.join(QStringLiteral(", "));
}

// "YUYV: 640x480, 1280x720" for each format, under the name a driver file gives it.
QStringList formatsOf(int fd)
{
    QStringList formats;
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    while (v4l2Ioctl(fd, VIDIOC_ENUM_FMT, &desc) == 0) {
        const NamedPixelFormat *f = readableFormat(desc.pixelformat);
        const QString name = f ? QLatin1String(f->name)
                               : fourccName(desc.pixelformat) + QStringLiteral(" (not read by this program)");
        formats << name + QStringLiteral(": ") + frameSizes(fd, desc.pixelformat);
        ++desc.index;
    }
    return formats;
}

QString V4l2Camera::findFirstDevice()
{
    V4l2DeviceIo &io = V4l2DeviceIo::current();
    for (const QString &path : sortedNodes()) {
        const int fd = io.open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
        // A camera that another program holds, or that this user may not use, is the one
        // to open and report: passing it over would show the test pattern as if all were well.
        if (fd < 0 && (errno == EBUSY || errno == EACCES || errno == EPERM))
            return path;
        if (fd < 0)
            continue;
        const bool usable = canCapture(fd) && preferredFormat(fd) != 0;
        io.close(fd);
        if (usable)
            return path;
    }
    return {};
}

QString V4l2Camera::findDevice(const CameraIdentity &identity)
{
    V4l2DeviceIo &io = V4l2DeviceIo::current();
    for (const QString &path : sortedNodes()) {
        const int fd = io.open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
        if (fd < 0)
            continue;
        QString card, busInfo;
        const bool same = canCapture(fd, &card, &busInfo) && card == identity.model && busInfo == identity.busInfo;
        io.close(fd);
        // Two cameras of one model on one hub differ only by their serial numbers, where they have one.
        if (same && (identity.serial.isEmpty() || usbSerialNumber(path) == identity.serial))
            return path;
    }
    return {};
}

QList<FoundCamera> V4l2Camera::listCameras()
{
    V4l2DeviceIo &io = V4l2DeviceIo::current();
    QList<FoundCamera> found;
    for (const QString &path : sortedNodes()) {
        FoundCamera camera;
        camera.identity = {QStringLiteral("v4l2"), path, {}, usbSerialNumber(path)};
        camera.driverFile = QStringLiteral("source = v4l2\ndevice = %1\n").arg(path);
        const int fd = io.open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
        if (fd < 0) {
            // Most likely a camera that another program holds: worth naming.
            if (errno == EBUSY || errno == EACCES || errno == EPERM) {
                camera.note = QStringLiteral("cannot be opened: %1").arg(v4l2ErrorText());
                found << camera;
            }
            continue;
        }
        QString card;
        if (canCapture(fd, &card)) {
            camera.identity.model = card;
            camera.formats = formatsOf(fd);
            camera.driverFile.prepend(QStringLiteral("# %1\n").arg(card));
            found << camera;
        }
        io.close(fd);
    }
    return found;
}

Status V4l2Camera::describeSettings(const QString &path, QString &text)
{
    V4l2DeviceIo &io = V4l2DeviceIo::current();
    const int fd = io.open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
    if (fd < 0)
        return Status::failure(QStringLiteral("cannot open %1: %2").arg(path, v4l2ErrorText()));
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const bool capture = canCapture(fd) && v4l2Ioctl(fd, VIDIOC_G_FMT, &format) == 0;
    if (capture) {
        const v4l2_pix_format &pix = format.fmt.pix;
        text = describeFrameRate(fd, pix.pixelformat, int(pix.width), int(pix.height)) + describeControls(fd);
    }
    io.close(fd);
    if (!capture)
        return Status::failure(QStringLiteral("%1 is not a V4L2 device that can stream pictures").arg(path));
    return Status::success();
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
    // Drivers reset the frame rate when the format changes: it is set after the format.
    if (Status s = applyControls(settings); !s)
        return s;
    return mapBuffers();
}

Status V4l2Camera::openDevice(const QString &path)
{
    m_device = path;
    m_fd = V4l2DeviceIo::current().open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
    if (m_fd < 0)
        return Status::failure(QStringLiteral("cannot open %1: %2").arg(path, v4l2ErrorText()));
    QString card, busInfo;
    if (!canCapture(m_fd, &card, &busInfo))
        return Status::failure(QStringLiteral("%1 is not a V4L2 device that can stream pictures").arg(path));
    m_description = QStringLiteral("V4L2 %1 (%2)").arg(card, path);
    m_identity = {QStringLiteral("v4l2"), path, card, usbSerialNumber(path), busInfo};
    return Status::success();
}

Status V4l2Camera::setFormat(const V4l2Settings &settings)
{
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (v4l2Ioctl(m_fd, VIDIOC_G_FMT, &format) < 0)
        return Status::failure(QStringLiteral("cannot read the format of %1: %2").arg(m_device, v4l2ErrorText()));
    std::uint32_t wanted = format.fmt.pix.pixelformat;
    for (const NamedPixelFormat &f : v4l2PixelFormats())
        if (settings.pixelFormat == QLatin1String(f.name))
            wanted = f.code;
    if (settings.pixelFormat.isEmpty() && !readableFormat(wanted))
        wanted = preferredFormat(m_fd);
    if (wanted == 0)
        return Status::failure(QStringLiteral("%1 offers no format this program reads (%2)")
                                   .arg(m_device, pixelFormatNames(v4l2PixelFormats()).join(QStringLiteral(", "))));
    format.fmt.pix.pixelformat = wanted;
    if (settings.width)
        format.fmt.pix.width = std::uint32_t(settings.width);
    if (settings.height)
        format.fmt.pix.height = std::uint32_t(settings.height);
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (v4l2Ioctl(m_fd, VIDIOC_S_FMT, &format) < 0)
        return Status::failure(QStringLiteral("cannot set the format of %1: %2").arg(m_device, v4l2ErrorText()));

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
    if (v4l2Ioctl(m_fd, VIDIOC_REQBUFS, &request) < 0)
        return Status::failure(
            QStringLiteral("%1 cannot stream through mapped buffers: %2").arg(m_device, v4l2ErrorText()));
    // The driver answered without an error, so errno says nothing here.
    if (request.count < 2)
        return Status::failure(QStringLiteral("%1 cannot stream through mapped buffers: it grants %2 buffer(s), "
                                              "streaming needs at least two")
                                   .arg(m_device)
                                   .arg(request.count));
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (v4l2Ioctl(m_fd, VIDIOC_QUERYBUF, &buffer) < 0)
            return Status::failure(
                QStringLiteral("cannot query buffer %1 of %2: %3").arg(i).arg(m_device, v4l2ErrorText()));
        void *start = V4l2DeviceIo::current().mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, buffer.m.offset);
        if (start == MAP_FAILED)
            return Status::failure(QStringLiteral("cannot map buffer %1 of %2: %3").arg(i).arg(m_device, v4l2ErrorText()));
        m_buffers.push_back({start, buffer.length});
    }
    return Status::success();
}

void V4l2Camera::pinTo(DriverFile &driver) const
{
    if (const NamedPixelFormat *format = readableFormat(m_fourcc))
        driver.pin(QStringLiteral("pixel-format"), QLatin1String(format->name));
    driver.pin(QStringLiteral("width"), QString::number(m_width));
    driver.pin(QStringLiteral("height"), QString::number(m_height));
}

void V4l2Camera::unmapBuffers()
{
    for (const Mapping &m : m_buffers)
        V4l2DeviceIo::current().munmap(m.start, m.length);
    m_buffers.clear();
}
