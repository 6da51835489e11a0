// The buffer queue and the sensor of the V4L2 stand-in: buffers, mapping, poll, frames.

#include "cameras/v4l2/fake_v4l2.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/mman.h>
#include <time.h>

namespace {

constexpr std::uint32_t kPageSize = 4096;

bool isCompressed(std::uint32_t fourcc)
{
    return fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG;
}

// Cameras stream MJPEG without Huffman tables and rely on the standard ones; drops every
// DHT segment in front of the scan.
QByteArray withoutHuffmanTables(const QByteArray &jpeg)
{
    QByteArray out = jpeg.left(2);
    int at = 2;
    while (at + 4 <= jpeg.size() && std::uint8_t(jpeg[at]) == 0xFF) {
        const auto marker = std::uint8_t(jpeg[at + 1]);
        const int length = (std::uint8_t(jpeg[at + 2]) << 8) | std::uint8_t(jpeg[at + 3]);
        if (marker == 0xDA)
            break;
        if (marker != 0xC4)
            out += jpeg.mid(at, 2 + length);
        at += 2 + length;
    }
    return out + jpeg.mid(at);
}

QByteArray encodeJpeg(QSize size, std::uint32_t sequence, bool omitHuffmanTables)
{
    QByteArray rgb = FakeV4l2::picture(V4L2_PIX_FMT_RGB24, size, sequence);
    const std::unique_ptr<void, int (*)(tjhandle)> encoder(tjInitCompress(), tjDestroy);
    unsigned char *jpeg = nullptr;
    unsigned long length = 0;
    tjCompress2(encoder.get(), reinterpret_cast<unsigned char *>(rgb.data()), size.width(), 0, size.height(), TJPF_RGB,
                &jpeg, &length, TJSAMP_422, 85, 0);
    QByteArray out(reinterpret_cast<const char *>(jpeg), qsizetype(length));
    tjFree(jpeg);
    return omitHuffmanTables ? withoutHuffmanTables(out) : out;
}

} // namespace

QByteArray FakeV4l2::picture(std::uint32_t fourcc, QSize size, std::uint32_t sequence)
{
    const std::uint32_t line = packedLineBytes(fourcc, size.width());
    QByteArray bytes(qsizetype(line) * size.height(), Qt::Uninitialized);
    for (int y = 0; y < size.height(); ++y)
        for (std::uint32_t i = 0; i < line; ++i)
            bytes[qsizetype(y) * line + i] = char(std::uint8_t(i * 3 + std::uint32_t(y) * 7 + sequence * 11));
    return bytes;
}

std::uint32_t FakeV4l2::packedLineBytes(std::uint32_t fourcc, int width)
{
    const auto w = std::uint32_t(width);
    switch (fourcc) {
    case V4L2_PIX_FMT_GREY:
        return w;
    case V4L2_PIX_FMT_Y16:
        return 2 * w;
    case V4L2_PIX_FMT_YUYV:
        return (w + 1) / 2 * 4;
    case V4L2_PIX_FMT_RGB24:
        return 3 * w;
    default:
        return 0;
    }
}
int FakeV4l2::requestBuffers(Device &d, v4l2_requestbuffers &r)
{
    if (r.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || r.memory != V4L2_MEMORY_MMAP)
        return EINVAL;
    if (d.streaming)
        return EBUSY;
    for (const Device::Buffer &b : d.buffers)
        if (b.maps > 0)
            return EBUSY; // memory still mapped cannot be freed
    d.buffers.clear();
    d.queued.clear();
    d.done.clear();
    if (r.count == 0)
        return 0;
    r.count = std::clamp<std::uint32_t>(r.count, 1, std::max<std::uint32_t>(1, d.node.maxBuffers));
    const std::uint32_t length = (d.pix.sizeimage + kPageSize - 1) / kPageSize * kPageSize;
    d.buffers.resize(r.count);
    for (std::uint32_t i = 0; i < r.count; ++i) {
        d.buffers[i].memory.assign(length, 0);
        d.buffers[i].offset = i * length;
    }
    return 0;
}

int FakeV4l2::queryBuffer(Device &d, v4l2_buffer &b) const
{
    if (b.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b.index >= d.buffers.size())
        return EINVAL;
    const Device::Buffer &buffer = d.buffers[b.index];
    b.memory = V4L2_MEMORY_MMAP;
    b.length = std::uint32_t(buffer.memory.size());
    b.m.offset = buffer.offset;
    b.flags = (buffer.maps ? V4L2_BUF_FLAG_MAPPED : 0) |
              (buffer.state == Device::Buffer::State::Queued ? V4L2_BUF_FLAG_QUEUED : 0) |
              (buffer.state == Device::Buffer::State::Done ? V4L2_BUF_FLAG_DONE : 0);
    return 0;
}

int FakeV4l2::queueBuffer(Device &d, const v4l2_buffer &b)
{
    if (b.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b.memory != V4L2_MEMORY_MMAP || b.index >= d.buffers.size() ||
        d.buffers[b.index].state != Device::Buffer::State::Idle)
        return EINVAL;
    d.buffers[b.index].state = Device::Buffer::State::Queued;
    d.queued.push_back(int(b.index));
    return 0;
}

int FakeV4l2::dequeueBuffer(Device &d, const Handle &h, v4l2_buffer &b, std::unique_lock<std::mutex> &lock)
{
    if (b.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b.memory != V4L2_MEMORY_MMAP || !d.streaming)
        return EINVAL;
    if (m_dequeueError != 0)
        return std::exchange(m_dequeueError, 0);
    if (d.done.empty() && h.nonBlocking)
        return EAGAIN;
    m_changed.wait(lock, [&] { return !d.done.empty() || d.gone || !d.streaming; });
    if (d.gone)
        return ENODEV;
    if (d.done.empty())
        return EINVAL;
    const int index = d.done.front();
    d.done.pop_front();
    d.buffers[std::size_t(index)].state = Device::Buffer::State::Idle;
    b = d.buffers[std::size_t(index)].info;
    return 0;
}

int FakeV4l2::streamOn(Device &d)
{
    if (d.buffers.empty())
        return EINVAL;
    if (d.node.streamOnError != 0)
        return d.node.streamOnError;
    if (d.streaming)
        return 0;
    d.streaming = true;
    d.sequence = 0;
    d.producer = std::thread([this, &d] { produce(d); });
    return 0;
}

// Stops the sensor and takes every buffer back, queued or done, as STREAMOFF does.
void FakeV4l2::streamOff(Device &d, std::unique_lock<std::mutex> &lock)
{
    d.streaming = false;
    m_changed.notify_all();
    std::thread producer = std::move(d.producer);
    lock.unlock();
    if (producer.joinable())
        producer.join();
    lock.lock();
    for (Device::Buffer &b : d.buffers)
        b.state = Device::Buffer::State::Idle;
    d.queued.clear();
    d.done.clear();
}

void *FakeV4l2::mmap(std::size_t length, int prot, int flags, int fd, off_t offset)
{
    const std::lock_guard lock(m_mutex);
    const auto h = m_handles.find(fd);
    errno = h == m_handles.end() ? EBADF : h->second.device->gone ? ENODEV : 0;
    if (errno != 0)
        return MAP_FAILED;
    errno = EINVAL;
    if (!(flags & MAP_SHARED) || !(prot & PROT_READ))
        return MAP_FAILED;
    for (Device::Buffer &b : h->second.device->buffers) {
        if (off_t(b.offset) != offset || length > b.memory.size())
            continue;
        ++b.maps;
        m_mappings[b.memory.data()] = length;
        errno = 0;
        return b.memory.data();
    }
    return MAP_FAILED;
}

int FakeV4l2::munmap(void *address, std::size_t length)
{
    const std::lock_guard lock(m_mutex);
    const auto m = m_mappings.find(address);
    if (m == m_mappings.end() || m->second != length) {
        errno = EINVAL;
        return -1;
    }
    m_mappings.erase(m);
    for (const auto &d : m_devices)
        for (Device::Buffer &b : d->buffers)
            if (b.memory.data() == address)
                --b.maps;
    return 0;
}

short FakeV4l2::readiness(const Device *d) const
{
    if (!d)
        return POLLNVAL;
    if (d->gone)
        return POLLERR | POLLHUP;
    if (!d->streaming)
        return POLLERR; // nothing to wait for, as the kernel's buffer queue answers
    return d->done.empty() ? 0 : POLLIN | POLLRDNORM;
}

FakeV4l2::Device *FakeV4l2::deviceOfFd(int fd) const
{
    const auto h = m_handles.find(fd);
    return h == m_handles.end() ? nullptr : h->second.device;
}

int FakeV4l2::poll(pollfd *fds, nfds_t count, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    if (std::exchange(m_interruptPoll, false)) {
        errno = EINTR;
        return -1;
    }
    auto ready = [&] {
        int n = 0;
        for (nfds_t i = 0; i < count; ++i) {
            fds[i].revents = short(readiness(deviceOfFd(fds[i].fd)) & (fds[i].events | POLLERR | POLLHUP | POLLNVAL));
            n += fds[i].revents != 0;
        }
        return n;
    };
    int n = 0;
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return (n = ready()) > 0; });
    return n;
}

void FakeV4l2::produce(Device &d)
{
    std::unique_lock lock(m_mutex);
    const auto period = std::chrono::microseconds(1000000 / std::max(1, d.node.frameRate));
    auto next = std::chrono::steady_clock::now() + period + std::chrono::milliseconds(d.node.startMs);
    while (!m_changed.wait_until(lock, next, [&] { return !d.streaming || d.gone; })) {
        const auto now = std::chrono::steady_clock::now();
        if (now < next)
            continue;
        // A sensor keeps its own clock: time the thread lost is not made up with a burst.
        next = std::max(next + period, now);
        if (!m_stalled)
            makeFrame(d);
    }
}

void FakeV4l2::makeFrame(Device &d)
{
    ++d.made;
    const std::uint32_t sequence = d.sequence++;
    if (m_drop > 0) {
        --m_drop;
        return;
    }
    if (d.queued.empty())
        return; // no buffer to fill: the frame is lost, as in a driver
    const int index = d.queued.front();
    d.queued.pop_front();
    std::optional<Damage> damage;
    if (!m_damage.empty()) {
        damage = m_damage.front();
        m_damage.erase(m_damage.begin());
    }
    fill(d, index, sequence, damage);
    d.buffers[std::size_t(index)].state = Device::Buffer::State::Done;
    d.done.push_back(index);
    m_changed.notify_all();
}

void FakeV4l2::fill(Device &d, int index, std::uint32_t sequence, std::optional<Damage> damage)
{
    Device::Buffer &b = d.buffers[std::size_t(index)];
    const v4l2_pix_format &p = d.pix;
    const QSize size(int(p.width), int(p.height));
    std::size_t used = 0;
    if (isCompressed(p.pixelformat)) {
        QByteArray jpeg = encodeJpeg(size, sequence, d.node.omitHuffmanTables);
        if (damage == Damage::Short)
            jpeg.truncate(jpeg.size() / 2);
        if (damage == Damage::Corrupt) // an end-of-image marker in the middle of the scan
            std::memcpy(jpeg.data() + jpeg.size() * 2 / 3, "\xFF\xD9", 2);
        used = std::min(std::size_t(jpeg.size()), b.memory.size());
        std::memcpy(b.memory.data(), jpeg.constData(), used);
    } else {
        const QByteArray tight = picture(p.pixelformat, size, sequence);
        const std::size_t line = packedLineBytes(p.pixelformat, size.width());
        std::memset(b.memory.data(), 0xEE, p.sizeimage); // what row padding holds is undefined
        for (int y = 0; y < size.height(); ++y)
            std::memcpy(b.memory.data() + std::size_t(y) * p.bytesperline, tight.constData() + std::size_t(y) * line,
                        line);
        used = p.sizeimage;
        // A frame cut short on the bus: the rest of the buffer holds whatever was there.
        if (damage == Damage::Short || damage == Damage::ErrorFlag) {
            used = damage == Damage::Short ? p.sizeimage / 2 : p.sizeimage / 3;
            std::memset(b.memory.data() + used, 0x5A, p.sizeimage - used);
        }
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t exposureStart = std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec -
                                       std::int64_t(d.node.exposureMs) * 1'000'000;
    now.tv_sec = exposureStart / 1'000'000'000;
    now.tv_nsec = exposureStart % 1'000'000'000;
    v4l2_buffer &info = b.info;
    info = {};
    info.index = std::uint32_t(index);
    info.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    info.memory = V4L2_MEMORY_MMAP;
    info.bytesused = std::uint32_t(used);
    info.flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_SOE |
                 (damage == Damage::ErrorFlag ? V4L2_BUF_FLAG_ERROR : 0);
    info.field = V4L2_FIELD_NONE;
    info.timestamp.tv_sec = now.tv_sec;
    info.timestamp.tv_usec = now.tv_nsec / 1000;
    info.sequence = sequence;
    info.length = std::uint32_t(b.memory.size());
    info.m.offset = b.offset;
}
