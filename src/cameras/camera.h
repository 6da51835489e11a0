#pragma once

#include "base/status.h"
#include "base/frame.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>

struct DriverFile;

// What tells the camera a picture came from, for the records of a series.
struct CameraIdentity
{
    QString source; // the back-end actually opened: "test-pattern", "v4l2" or "genicam"
    QString device; // device node or network address; empty where there is none
    QString model;
    QString serial;
};

// A source of pictures: the test pattern, a V4L2 device or a GenICam camera.
// All public calls come from the UI thread. While live, a back-end hands every frame it
// acquires on its stream thread to `publishFrame`, which keeps the newest one for `snap`
// and passes frames on to the UI thread through `frameReady`.
// A camera found on this machine, as the `cameras` command lists it.
struct FoundCamera
{
    CameraIdentity identity;
    QStringList formats; // "YUYV: 640x480, 1280x720", one per pixel format
    QString note;        // why it could not be asked, e.g. another program holds it
    QString driverFile;  // the text of a driver file that opens it
};

// How a camera is set up, as far as it tells: the series log records it at Start.
struct CameraSettingsInForce
{
    std::optional<double> exposureUs;
    bool exposureAuto = false; // the camera sets the exposure itself; exposureUs is its value now
    std::optional<double> gain;
    bool gainAuto = false;
    QString gainUnit; // "dB", or "raw" for a gain in the camera's own units
    std::optional<double> frameRate; // frames per second while streaming
    QString pixelFormat; // the camera's own name of what it delivers: "Mono12", "YUYV"
    int significantBits = 0; // per sample of the pictures made from it
    QString trigger;         // "free-running", or the source of the trigger the camera waits for
};

class Camera : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~Camera() override = default;

    // A short human description, e.g. "Test pattern 1280x1024 Mono8".
    virtual QString description() const = 0;
    virtual CameraIdentity identity() const = 0;
    // Applies the driver file's settings and opens the device; the reason says why not.
    virtual Status open(const DriverFile &driver) = 0;

    virtual Status startLive() = 0;
    virtual void stopLive() = 0;
    virtual bool isLive() const = 0;

    // Returns a frame not returned before: while streaming the newest one (see waitForNewFrame),
    // otherwise a single acquisition. Blocks the caller for at most `timeoutMs`.
    virtual Status snap(Frame &out, int timeoutMs) = 0;

    // How long the stream may stay silent before the camera counts as lost.
    virtual int lossTimeoutMs() const { return 3000; }

    // What the camera is set to now, as far as it tells. Asks the device, so it is meant for the
    // start of a series, not for every picture.
    virtual CameraSettingsInForce settingsInForce() const { return {}; }

    // The receiver of `frameReady` calls this once it has taken the frame. Until then no
    // further frame is signalled, so a busy UI thread drops live frames instead of letting
    // them pile up in its event queue.
    void acknowledgeFrame() { m_deliveryPending.store(false); }

    std::uint64_t framesPublished() const { return m_published.load(); }
    std::uint64_t framesSignalled() const { return m_signalled.load(); }
    // Frames the camera numbered but that never arrived whole while streaming: lost by the
    // camera, the driver or the transport, as the gaps in the camera's frame numbers tell.
    std::uint64_t framesLost() const { return m_lost.load(); }

Q_SIGNALS:
    // Emitted from the stream thread for frames acquired while live.
    void frameReady(const Frame &frame);
    // Emitted (from any thread) when the camera stopped answering; live acquisition has ended.
    void lost(const QString &reason);

protected:
    // Called by a back-end's stream thread for every frame it acquired while streaming.
    void publishFrame(const Frame &frame);
    // Returns the newest frame published that `snap` has not returned yet, waiting for the next
    // one when there is none; used by `snap` while streaming. A frame is never returned twice.
    Status waitForNewFrame(Frame &out, int timeoutMs);
    // Called when streaming starts: frames of an earlier stream are stale by now, and the
    // camera may number its frames afresh.
    void beginStream();

private:
    std::mutex m_frameMutex;
    std::condition_variable m_frameArrived;
    Frame m_latest;
    std::uint64_t m_lastTaken = 0; // sequence of the frame `snap` returned last
    std::optional<std::uint64_t> m_lastFrameId; // of the frame published last, in this stream
    std::atomic<bool> m_deliveryPending{false};
    std::atomic<std::uint64_t> m_published{0};
    std::atomic<std::uint64_t> m_signalled{0};
    std::atomic<std::uint64_t> m_lost{0};
};

// How many frame numbers lie between two frames that arrived one after the other. A number that
// does not grow means the camera started counting afresh (or a 16-bit GigE Vision block id
// wrapped), and nothing is counted as lost.
std::uint64_t framesMissingBetween(std::uint64_t previousId, std::uint64_t id);
