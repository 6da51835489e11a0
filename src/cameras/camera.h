#pragma once

#include "base/frame.h"
#include "base/status.h"
#include "cameras/driver_file.h"
#include "cameras/frame_slot.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

// What tells the camera a picture came from, for the records of a series.
struct CameraIdentity
{
    QString source; // the back-end actually opened: "test-pattern", "v4l2" or "genicam"
    QString device; // device node or network address; empty where there is none
    QString model;
    QString serial;
    QString busInfo = {}; // where a V4L2 device is plugged in ("usb-0000:00:14.0-1"); empty elsewhere
};

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
    QString trigger;         // "free-running", "software", or the source of the trigger the camera waits for
    // How the frames' capture instants are found, where the back-end says: the series log's
    // `# frame_ms:` line.
    QString frameTime;
    // What the driver file says of the optics and the channel, whatever the source.
    CommonSettings common;
};

// How the capture of a series' tick ended. Each back-end decides what a silence means: a
// triggered camera whose frame never came has only missed its tick, a device that is gone is lost.
enum class CaptureOutcome {
    Picture,     // the tick's picture is in `out`
    NoFrame,     // the camera is there but has no frame for this tick: the tick is missed
    Interrupted, // Stop ended the wait
    Lost,        // the camera stopped answering; the reason says how
    Failed,      // there is nothing to take pictures from at all; the reason says why
};

struct CaptureResult
{
    CaptureOutcome outcome = CaptureOutcome::Picture;
    QString reason; // why the camera was lost, or nothing can be taken
};

// A source of pictures: the test pattern, a V4L2 device or a GenICam camera.
// It is opened, switched live and released by the thread it lives on. A series takes its
// pictures with `capture` on a thread of its own meanwhile; frames pass from a back-end's
// stream thread through `publishFrame` into the camera's frame slot and, while streaming, on
// to the thread the camera lives on through `frameReady`.
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

    // One picture not returned before: while streaming the newest one, otherwise a single
    // acquisition. Waits no longer than the camera's frame period and exposure call for.
    virtual Status snap(Frame &out) = 0;
    // The picture of a series' tick at `tickNs`, an instant of the stopwatch's clock, ticks
    // being `intervalNs` apart; called on the series' own thread. A camera that makes a picture
    // on demand makes it now; one that streams gives the frame captured nearest the tick that no
    // tick had before, or, when none was captured within half an interval of it, none: the tick
    // has no picture.
    virtual CaptureResult capture(std::int64_t tickNs, std::int64_t intervalNs, Frame &out) = 0;
    // Whether a series keeps the camera streaming so that `capture` can choose from its frames.
    virtual bool streamsThroughSeries() const { return false; }
    // A series begins (true) or has ended. A camera told when to take each picture leaves the
    // telling to the series' ticks meanwhile.
    virtual void setSeriesRunning(bool running) { Q_UNUSED(running); }
    // Called on a series' thread before its first tick: a camera whose stream began only at
    // Start waits here for its first frame, as long as a first frame may take, so that the
    // series' grid begins when the camera can serve it and picture 1 is taken at Start.
    virtual void awaitFirstFrame() {}

    // Ends a series' wait for a frame at once, and every later one until resumeWaits().
    void interruptWaits() { m_slot.interrupt(); }
    void resumeWaits() { m_slot.resume(); }

    // The time between two frames and the exposure of each, as far as the camera tells them;
    // zero where it does not.
    virtual std::chrono::nanoseconds framePeriod() const { return {}; }
    virtual std::chrono::nanoseconds exposure() const { return {}; }
    // How long a frame may take to come while streaming, or as the first of a stream (which
    // some cameras take a second or more to begin): a few of the camera's frame periods and
    // exposures, never less than the time a transfer may be held up.
    std::chrono::milliseconds frameWaitLimit(bool firstOfStream = false) const;

    // Pins this camera in `driver`, where the driver file leaves it to the device or the network:
    // the pixel format and size it delivers and, where the file names none, which camera it is,
    // so that opening the driver again after a loss gives the same pictures of the same camera.
    // Asks nothing of the device, which may be gone.
    virtual void pinTo(DriverFile &driver) const { Q_UNUSED(driver); }

    // What the camera is set to now, as far as it tells. Asks the device, so it is meant for the
    // start of a series, not for every picture.
    virtual CameraSettingsInForce settingsInForce() const { return {}; }
    // The driver file's keys that every source takes; set by the camera factory.
    const CommonSettings &commonSettings() const { return m_common; }
    void setCommonSettings(const CommonSettings &settings) { m_common = settings; }

    // The receiver of `frameReady` calls this once it has taken the frame. Until then no
    // further frame is signalled, so a busy receiving thread drops live frames instead of
    // letting them pile up in its event queue.
    void acknowledgeFrame() { m_deliveryPending.store(false); }

    std::uint64_t framesPublished() const { return m_published.load(); }
    std::uint64_t framesSignalled() const { return m_signalled.load(); }
    // Frames the camera numbered but that never arrived whole while streaming: lost by the
    // camera, the driver or the transport, as the gaps in the camera's frame numbers tell.
    std::uint64_t framesLost() const { return m_lost.load(); }

    bool isLost() const { return m_slot.isLost(); }
    QString lostReason() const { return m_slot.lostReason(); }

Q_SIGNALS:
    // Emitted from the stream thread for frames acquired while streaming.
    void frameReady(const Frame &frame);
    // Emitted (from any thread) when the camera stopped answering; streaming has ended.
    void lost(const QString &reason);

protected:
    // Called by a back-end's stream thread for every frame that arrived whole: numbers it,
    // counts the frames the camera numbered in between as lost, and passes it on; through
    // `frameReady` too while `live` (a single acquisition is not shown).
    void publishFrame(Frame frame, bool live = true);
    // Called when a stream starts: frames of an earlier stream are stale by now, and the camera
    // may number its frames afresh.
    void beginStream();
    // Records the reason the camera was lost, ends every wait and says so once through `lost`.
    // Returns false when it had been lost before.
    bool markLost(const QString &reason);

    // Turns a frame slot's answer into a status; a camera that sent nothing in time is lost.
    Status frameResult(FrameSlot::Result result, std::chrono::milliseconds waited);
    // What became of a tick whose capture ended with `status` and `out`: a failure is a loss,
    // unless Stop interrupted the wait.
    CaptureResult tickResult(const Status &status, const Frame &out) const;

    // The next number of the camera's frames, for a frame made on demand.
    std::uint64_t nextSequence() { return ++m_sequence; }

    FrameSlot m_slot;

private:
    CommonSettings m_common;
    std::atomic<std::uint64_t> m_sequence{0};    // of the frame numbered last
    std::optional<std::uint64_t> m_lastFrameId;  // the camera's number of it, in this stream
    std::atomic<bool> m_deliveryPending{false};
    std::atomic<std::uint64_t> m_published{0};
    std::atomic<std::uint64_t> m_signalled{0};
    std::atomic<std::uint64_t> m_lost{0};
};

// How many frame numbers lie between two frames that arrived one after the other. A number that
// does not grow means the camera started counting afresh (or a 16-bit GigE Vision block id
// wrapped), and nothing is counted as lost.
std::uint64_t framesMissingBetween(std::uint64_t previousId, std::uint64_t id);
