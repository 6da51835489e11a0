#pragma once

#include "cameras/camera.h"

#include <QTimer>

#include <atomic>
#include <cstdint>

// What the cameras that stream share, V4L2 devices and GenICam cameras alike: the live picture
// on and off, a single acquisition while not live, a series' choice of the frame nearest its
// tick, and the loss of the camera. A watchdog on the camera's own thread declares it lost when
// a live stream stays silent for longer than its frame period and exposure allow.
class StreamingCamera : public Camera
{
    Q_OBJECT
public:
    explicit StreamingCamera(QObject *parent = nullptr);

    Status startLive() override;
    void stopLive() override;
    bool isLive() const override { return m_live.load(); }
    Status snap(Frame &out) override;
    CaptureResult capture(std::int64_t tickNs, std::int64_t intervalNs, Frame &out) override;
    bool streamsThroughSeries() const override { return true; }
    void awaitFirstFrame() override;

protected:
    // The device's own stream. The core starts and stops it from one thread at a time: the
    // camera's, or a series' while it takes single acquisitions.
    virtual Status startStream() = 0;
    virtual void stopStream() = 0;
    // Whether the device was opened and can stream at all.
    virtual bool isOpen() const = 0;
    // Whether a stream that stays silent has lost its camera, for the watchdog and a series'
    // ticks alike; not where the camera waits to be told to take a picture, nor where a
    // heartbeat of its own tells whether it is there.
    virtual bool silenceMeansLost() const { return true; }
    // Whether the camera sends a frame only when told to take it (a software trigger).
    virtual bool waitsToBeTold() const { return false; }

    // Called on the stream thread for every frame that arrived whole.
    void deliver(const Frame &frame);
    // The camera stopped answering: the stream is over and every wait ends.
    void loseCamera(const QString &reason);
    // Fails with the reason when the camera was lost or never opened.
    Status usable() const;

private:
    Status singleAcquisition(Frame &out);
    void checkSilence();

    std::atomic<bool> m_live{false};
    std::atomic<std::int64_t> m_lastArrivalNs{0};
    std::atomic<bool> m_arrived{false}; // a frame came since live started
    QTimer m_watchdog;
};
