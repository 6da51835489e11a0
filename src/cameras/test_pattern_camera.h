#pragma once

#include "cameras/camera.h"
#include "cameras/pattern_generator.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// The built-in synthetic camera (`source = test-pattern`). While live it produces frames
// at its frame rate on a thread of its own, on a fixed schedule that does not drift; a snap
// outside the stream is made at once, when asked for. A series' picture is made for its tick:
// at once for the first ticks, then ahead, on a thread of its own (see capture()).
class TestPatternCamera : public Camera
{
    Q_OBJECT
public:
    explicit TestPatternCamera(QObject *parent = nullptr);
    ~TestPatternCamera() override;

    QString description() const override;
    CameraIdentity identity() const override { return {QStringLiteral("test-pattern"), {}, {}, {}}; }
    Status open(const DriverFile &driver) override;
    Status startLive() override;
    void stopLive() override;
    bool isLive() const override { return m_thread.joinable(); }
    Status snap(Frame &out) override;
    CaptureResult capture(std::int64_t tickNs, std::int64_t intervalNs, Frame &out) override;
    void setSeriesRunning(bool running) override;
    std::chrono::nanoseconds framePeriod() const override;
    CameraSettingsInForce settingsInForce() const override;

    int width() const { return m_width; }
    int height() const { return m_height; }
    PixelFormat format() const { return m_format; }
    double frameRate() const { return m_frameRate; }

private:
    void run();
    void makeAhead();
    Frame nextFrame();

    int m_width = 1280;
    int m_height = 1024;
    PixelFormat m_format = PixelFormat::Mono8;
    double m_frameRate = 25.0;
    std::unique_ptr<PatternGenerator> m_generator;
    std::atomic<std::uint64_t> m_made{0}; // the number drawn into each picture

    std::thread m_thread;
    std::mutex m_stopMutex;
    std::condition_variable m_stopRequested;
    bool m_stop = false;

    // The frame of a series' next tick, made ahead.
    struct Ahead
    {
        std::int64_t forTickNs = 0; // the tick the frame is for; 0 none asked
        bool making = false;
        std::optional<Frame> frame;
        bool quit = false;
    };
    std::mutex m_aheadMutex;
    std::condition_variable m_aheadChanged;
    Ahead m_ahead;
    std::thread m_maker; // started with the first series
};
