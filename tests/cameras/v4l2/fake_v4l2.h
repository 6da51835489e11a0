#pragma once

#include "base/frame.h"
#include "cameras/v4l2/v4l2_device_io.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <linux/videodev2.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// One control of the stand-in, as the UVC driver presents it.
struct FakeV4l2Control
{
    std::uint32_t id = 0;
    std::uint32_t type = V4L2_CTRL_TYPE_INTEGER;
    const char *name = "";
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    std::int64_t step = 1;
    std::int64_t value = 0; // the current one; also the default
    std::uint32_t flags = 0; // V4L2_CTRL_FLAG_DISABLED, V4L2_CTRL_FLAG_READ_ONLY
    std::vector<const char *> menu = {}; // by index; nullptr where the driver leaves an index out
    std::uint32_t master = 0;     // the automatic control that may make this one inactive
    std::uint32_t activeWhen = 0; // bit n: active while the master's value is n
};

// A USB camera's controls: user and camera classes, automatic modes with the controls they set,
// a menu with indexes left out, a button and a disabled control.
std::vector<FakeV4l2Control> uvcControls();

// One device node of the stand-in and how its driver behaves.
struct FakeV4l2Node
{
    QString path = QStringLiteral("/dev/video0");
    QByteArray card = "Fake UVC Camera";
    QByteArray busInfo = "usb-0000:00:14.0-1";
    // False: the metadata node a UVC camera registers beside its capture node.
    bool capture = true;
    // Offered in this order; the first is the one a driver falls back to.
    std::vector<std::uint32_t> formats{V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG};
    // Discrete frame sizes, offered in every format; the first is the current one.
    std::vector<QSize> sizes{{64, 48}, {32, 24}};
    // Rows are padded to a multiple of this many bytes, as frame grabbers do.
    std::uint32_t lineAlignment = 1;
    // REQBUFS grants at least one buffer and at most this many.
    std::uint32_t maxBuffers = 32;
    int frameRate = 100;
    // The frame rates offered in every format and size (intervals of 1/rate s), as S_PARM picks.
    std::vector<int> frameRates{100, 50, 25};
    // False: G_PARM leaves out V4L2_CAP_TIMEPERFRAME, and its time per frame means nothing.
    bool timePerFrame = true;
    std::vector<FakeV4l2Control> controls = uvcControls();
    // errno of setting a control an automatic mode sets: EACCES, EBUSY in older drivers.
    int inactiveError = EACCES;
    // How long the sensor exposes before a frame is read out: buffers are stamped with the
    // start of the exposure (V4L2_BUF_FLAG_TSTAMP_SRC_SOE), this long before the frame is done.
    int exposureMs = 0;
    // How long the first frame of a stream takes beyond a frame period, as a USB camera that
    // starts its sensor at STREAMON does.
    int startMs = 0;
    // Like most UVC cameras, leave the Huffman tables out of MJPEG frames.
    bool omitHuffmanTables = false;
    // errno of every open (EBUSY: an exclusive driver that another program holds).
    int openError = 0;
    // errno of STREAMON (EBUSY: held elsewhere; ENOSPC: not enough USB bandwidth).
    int streamOnError = 0;
};

// Video devices that answer the V4L2 calls the way the kernel's drivers do, installed in
// place of the system's calls for as long as the object lives. Each node streams a
// pattern through memory-mapped buffers from a thread of its own, as a sensor would:
// a frame made while the program has no buffer queued is dropped and its sequence number
// skipped. Tests inject the faults real devices show.
class FakeV4l2 final : public V4l2DeviceIo
{
public:
    using Node = FakeV4l2Node;

    enum class Damage {
        ErrorFlag, // the driver flags the buffer V4L2_BUF_FLAG_ERROR
        Short,     // bytesused covers half the picture
        Corrupt,   // an MJPEG frame whose data ends in the middle of the scan
    };

    explicit FakeV4l2(std::vector<Node> nodes = {Node()});
    ~FakeV4l2() override;
    FakeV4l2(const FakeV4l2 &) = delete;
    FakeV4l2 &operator=(const FakeV4l2 &) = delete;

    // Faults; callable from any thread while the program streams.
    void damageNext(Damage damage, int frames = 1);
    void dropNext(int frames); // the driver loses frames: their sequence numbers are skipped
    void failNextDequeue(int error); // one DQBUF fails with this errno (EINTR, EAGAIN, EIO)
    void interruptNextPoll();        // one poll fails with EINTR
    void setStalled(bool stalled);   // the sensor stops sending
    void unplug(const QString &path);
    // The camera unplugged from `path` comes back, as a new device at `newPath` (its old path
    // when empty), as the kernel may number a camera that re-enumerates afresh.
    void plugBackIn(const QString &path, const QString &newPath = {});

    // What happened so far.
    std::uint64_t framesMade(const QString &path) const;
    int openHandles() const;
    int mappings() const;
    // The format S_FMT settled on last.
    v4l2_pix_format format(const QString &path) const;
    // A control's value now; the frame rate S_PARM settled on.
    std::int64_t control(const QString &path, std::uint32_t id) const;
    int frameRate(const QString &path) const;

    // The pixel bytes of frame `sequence` with rows packed tightly, for uncompressed formats.
    static QByteArray picture(std::uint32_t fourcc, QSize size, std::uint32_t sequence);
    static std::uint32_t packedLineBytes(std::uint32_t fourcc, int width);

    QStringList videoNodes() override;
    int open(const char *path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void *arg) override;
    void *mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override;
    int munmap(void *address, std::size_t length) override;
    int poll(pollfd *fds, nfds_t count, int timeoutMs) override;

private:
    struct Device
    {
        struct Buffer
        {
            enum class State { Idle, Queued, Done };
            std::vector<std::uint8_t> memory;
            std::uint32_t offset = 0;
            State state = State::Idle;
            v4l2_buffer info{};
            int maps = 0;
        };

        Node node;
        v4l2_pix_format pix{};
        std::vector<Buffer> buffers;
        int owner = -1; // the handle that allocated the buffers
        std::deque<int> queued;
        std::deque<int> done;
        bool streaming = false;
        bool gone = false;
        std::uint32_t sequence = 0;
        std::uint64_t made = 0;
        std::thread producer;
    };
    struct Handle
    {
        Device *device = nullptr;
        bool nonBlocking = false;
    };

    void addDevice(Node node);
    Device *deviceOf(const QString &path) const;
    Device *deviceOfFd(int fd) const;
    int control(Device &d, const Handle &h, unsigned long request, void *arg, std::unique_lock<std::mutex> &lock);
    int setFormat(Device &d, v4l2_format &f, bool apply);
    // Controls, menus, stream parameters and frame intervals (fake_v4l2_controls.cpp).
    int controlCall(Device &d, unsigned long request, void *arg);
    int queryControl(const Device &d, v4l2_query_ext_ctrl &q) const;
    int queryMenu(const Device &d, v4l2_querymenu &m) const;
    int extendedControls(Device &d, bool set, v4l2_ext_controls &controls);
    int streamParameters(Device &d, bool set, v4l2_streamparm &p);
    int frameIntervals(const Device &d, v4l2_frmivalenum &interval) const;
    int requestBuffers(Device &d, v4l2_requestbuffers &r);
    int queryBuffer(Device &d, v4l2_buffer &b) const;
    int queueBuffer(Device &d, const v4l2_buffer &b);
    int dequeueBuffer(Device &d, const Handle &h, v4l2_buffer &b, std::unique_lock<std::mutex> &lock);
    int streamOn(Device &d);
    void streamOff(Device &d, std::unique_lock<std::mutex> &lock);
    void produce(Device &d);
    void makeFrame(Device &d);
    void fill(Device &d, int index, std::uint32_t sequence, std::optional<Damage> damage);
    short readiness(const Device *d) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<Device>> m_devices;
    std::map<int, Handle> m_handles;
    std::map<void *, std::size_t> m_mappings;
    int m_nextFd = 1000;
    std::vector<Damage> m_damage;
    int m_drop = 0;
    int m_dequeueError = 0;
    bool m_interruptPoll = false;
    bool m_stalled = false;
    V4l2DeviceIo *m_previous = nullptr;
};

// A capture node offering `formats` (empty: YUYV and MJPEG) in 64x48 and 32x24 or, with
// `capture` false, the metadata node of a camera.
FakeV4l2::Node fakeNode(const char *path, std::vector<std::uint32_t> formats = {}, bool capture = true);

// The sequence number of the stand-in's frame that `frame` shows, whole and with its rows
// in place, once converted from `fourcc`; -1 when it shows none of them.
int shownSequence(const Frame &frame, std::uint32_t fourcc);
