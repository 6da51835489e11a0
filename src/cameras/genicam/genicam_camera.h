#pragma once

#include "cameras/streaming_camera.h"

#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

struct GenicamSettings;
typedef struct _ArvBuffer ArvBuffer;
typedef struct _ArvCamera ArvCamera;
typedef struct _ArvDevice ArvDevice;
typedef struct _ArvChunkParser ArvChunkParser;
typedef struct _ArvStream ArvStream;

// A GenICam camera, GigE Vision or USB3 Vision, reached through Aravis (`source = genicam`).
// Frames stream into a small pool of buffers on Aravis's stream thread; each is copied out
// and converted there, and its buffer goes straight back into the pool.
// A camera that stops answering (the control channel is lost, or no picture arrives in
// time) is reported once through `lost`; after that every snap fails with that reason.
// A camera waiting for a software trigger is told to take each picture: by a series at its ticks,
// by a snap, and for the live picture by a timer at the camera's frame rate while no series runs.
class GenicamCamera final : public StreamingCamera
{
    Q_OBJECT
public:
    explicit GenicamCamera(QObject *parent = nullptr);
    ~GenicamCamera() override;

    QString description() const override { return m_description; }
    CameraIdentity identity() const override { return m_identity; }
    Status open(const DriverFile &driver) override;
    Status startLive() override;
    void stopLive() override;
    Status snap(Frame &out) override;
    CaptureResult capture(std::int64_t tickNs, std::int64_t intervalNs, Frame &out) override;
    void setSeriesRunning(bool running) override;
    std::chrono::nanoseconds framePeriod() const override { return m_framePeriod; }
    std::chrono::nanoseconds exposure() const override { return m_exposure; }
    CameraSettingsInForce settingsInForce() const override;
    void pinTo(DriverFile &driver) const override;

    // Frames the camera began to send on this stream, and how many of them arrived whole.
    struct StreamCounts
    {
        std::uint64_t sent = 0;
        std::uint64_t completed = 0;
    };
    StreamCounts streamCounts() const;

    // The cameras that answer a discovery; it broadcasts on every network of this machine.
    static QList<FoundCamera> listCameras();
    // The driver-file lines of every feature the camera `name` (as the `camera` key takes it) can
    // be set to, at its current value.
    static Status describeSettings(const QString &name, QString &text);

protected:
    // During a series the heartbeat tells whether the camera is there: a frame that does not come
    // (between the ticks of a triggered camera, or over a link that drops for a moment) only
    // misses its tick.
    bool silenceMeansLost() const override { return !m_inSeries.load(); }
    bool waitsToBeTold() const override { return m_softwareTrigger; }

private:
    Status connectCamera(const QString &name);
    Status applySettings(const GenicamSettings &settings);
    // `trigger = software` or `free-running`; empty leaves the camera's triggers as they are.
    Status applyTrigger(const QString &trigger);
    // "free-running", "software", or the source of the trigger the camera waits for.
    static QString triggerInForce(ArvDevice *device);
    Status applySize(int width, int height);
    // Reads what the camera settled on, for the description and the stream timeout.
    Status readBack();
    struct FloatFeature;
    Status applyFloat(const FloatFeature &feature, double value);
    // Asks a camera that can send each frame's exposure and gain with it (chunk data) to do so.
    void enableChunkData();
    // The frame's own exposure and gain, where the buffer carries them.
    void readChunkData(ArvBuffer *buffer, Frame &frame) const;
    Status createStream();
    Status startStream() override;
    void stopStream() override;
    bool isOpen() const override { return m_stream != nullptr; }
    // Whether frames in this GenICam pixel format can be shown and saved.
    static bool canConvert(std::uint32_t arvPixelFormat);

    // Called on Aravis's stream thread for every finished buffer.
    static void onNewBuffer(ArvStream *stream, void *link);
    // Called on Aravis's heartbeat thread when the camera no longer answers.
    static void onControlLost(void *device, void *link);
    void takeBuffer();
    Frame convertBuffer(ArvBuffer *buffer) const;

    // The software trigger: the frame of a trigger fired now (none when it did not come and
    // silence is no loss), and the live picture's triggers.
    Status triggeredFrame(Frame &out);
    Status fireTrigger();
    void fireLiveTrigger();
    void skipPendingLiveFrame();
    // The camera's timestamp latch, if it has one that answers; how `frame_ms` is found.
    void findLatch();
    QString frameTimeNote() const;

    struct Link;
    Link *m_link = nullptr;
    // The handlers that call back through the link, disconnected before it goes.
    unsigned long m_newBufferHandler = 0;
    unsigned long m_controlLostHandler = 0;
    ArvCamera *m_camera = nullptr;
    ArvStream *m_stream = nullptr;
    QString m_description;
    CameraIdentity m_identity;
    QString m_pixelFormat; // as opened, for pinTo()
    int m_width = 0;
    int m_height = 0;
    std::chrono::nanoseconds m_framePeriod{0};
    std::chrono::nanoseconds m_exposure{0};

    std::atomic<bool> m_acquiring{false};
    // When the acquisition was asked for, on the monotonic clock: frames begun before belong
    // to an earlier one.
    std::atomic<std::int64_t> m_acceptAfterNs{0};

    bool m_softwareTrigger = false; // the camera waits for TriggerSoftware, as open() left it
    std::atomic<bool> m_inSeries{false};
    QTimer m_liveTrigger{this}; // on the camera's thread, while live and no series runs
    // The last live trigger: when it was fired (0: its frame is no longer awaited) and the
    // newest frame before it.
    std::atomic<std::int64_t> m_liveTriggerNs{0};
    std::atomic<std::uint64_t> m_liveTriggerSequence{0};

    // The camera's clock and the control channel, shared with the thread that refreshes the
    // latch; that thread is joined where the camera is released, which for a lost camera is a
    // thread of its own.
    struct Timing;
    std::shared_ptr<Timing> m_timing;
    std::thread m_clockThread; // only for a camera with a timestamp latch

    struct GObjectUnref
    {
        void operator()(void *object) const;
    };
    // Reads chunk data on the stream thread; set before the stream starts, and only then.
    std::unique_ptr<ArvChunkParser, GObjectUnref> m_chunkParser;
};
