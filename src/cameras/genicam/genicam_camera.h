#pragma once

#include "cameras/camera_clock.h"
#include "cameras/streaming_camera.h"

#include <atomic>
#include <cstdint>
#include <memory>

struct GenicamSettings;
typedef struct _ArvBuffer ArvBuffer;
typedef struct _ArvCamera ArvCamera;
typedef struct _ArvChunkParser ArvChunkParser;
typedef struct _ArvStream ArvStream;

// A GenICam camera, GigE Vision or USB3 Vision, reached through Aravis (`source = genicam`).
// Frames stream into a small pool of buffers on Aravis's stream thread; each is copied out
// and converted there, and its buffer goes straight back into the pool.
// A camera that stops answering (the control channel is lost, or no picture arrives in
// time) is reported once through `lost`; after that every snap fails with that reason.
class GenicamCamera final : public StreamingCamera
{
    Q_OBJECT
public:
    explicit GenicamCamera(QObject *parent = nullptr);
    ~GenicamCamera() override;

    QString description() const override { return m_description; }
    CameraIdentity identity() const override { return m_identity; }
    Status open(const DriverFile &driver) override;
    std::chrono::nanoseconds framePeriod() const override { return m_framePeriod; }
    std::chrono::nanoseconds exposure() const override { return m_exposure; }
    CameraSettingsInForce settingsInForce() const override;

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

private:
    Status connectCamera(const QString &name);
    Status applySettings(const GenicamSettings &settings);
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

    struct Link;
    Link *m_link = nullptr;
    ArvCamera *m_camera = nullptr;
    ArvStream *m_stream = nullptr;
    QString m_description;
    CameraIdentity m_identity;
    std::chrono::nanoseconds m_framePeriod{0};
    std::chrono::nanoseconds m_exposure{0};

    std::atomic<bool> m_acquiring{false};
    // When the acquisition was asked for, on the monotonic clock: frames begun before belong
    // to an earlier one.
    std::atomic<std::int64_t> m_acceptAfterNs{0};
    CameraClock m_clock; // used on the stream thread only, reset before each stream

    struct GObjectUnref
    {
        void operator()(void *object) const;
    };
    // Reads chunk data on the stream thread; set before the stream starts, and only then.
    std::unique_ptr<ArvChunkParser, GObjectUnref> m_chunkParser;
};
