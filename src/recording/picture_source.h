#pragma once

#include "base/frame.h"
#include "base/status.h"
#include "cameras/camera.h"
#include "cameras/camera_factory.h"

#include <QObject>

#include <memory>
#include <optional>

// Where the pictures come from: the camera a driver file (.vin) opens, or a picture file that
// stands still. The series engine owns it; the window's image control shows what it sends.
// When nothing could be loaded there is no source, and `statusText` says why.
class PictureSource : public QObject
{
    Q_OBJECT
public:
    explicit PictureSource(QObject *parent = nullptr);
    ~PictureSource() override;

    // Loads the named picture or acquisition driver file. A camera gives its first picture at
    // once, so that the image has a size before live starts.
    void load(const QString &path);
    // Takes a camera opened elsewhere in place of a driver file's, with its first picture.
    void useCamera(std::unique_ptr<Camera> camera, const QString &sourceName);

    QString fileName() const { return m_fileName; }
    // The picture the source gave when it was loaded; null when there is no source.
    const Frame &firstFrame() const { return m_first; }
    // One short line on the source, or on why there is none.
    QString statusText() const { return m_status; }
    // The driver file's source ("test-pattern", "genicam", ...), or "file" for a still picture.
    QString sourceName() const { return m_source; }
    Camera *camera() const { return m_camera.get(); }
    // The camera that delivers the pictures; for a still picture the source "file".
    CameraIdentity cameraIdentity() const;

    bool canAcquireLive() const { return m_camera != nullptr; }
    // The live picture: the camera streams and every frame is sent on through `liveFrame`.
    void setLive(bool on);
    bool isLive() const;
    // While a series runs, a camera that streams keeps streaming although the live picture is
    // off, so that each tick can take the frame captured nearest it; the camera hears of the
    // series too (Camera::setSeriesRunning).
    void setSeriesStreaming(bool on);
    bool isStreaming() const;

    // One picture now, outside a series: a new acquisition, or the still picture.
    Status snap(Frame &out);
    // The picture of a series' tick (see Camera::capture); the still picture for a file. Called
    // on the series' own thread.
    CaptureResult capture(std::int64_t tickNs, std::int64_t intervalNs, Frame &out);

    // A camera that was lost is let go once no series uses it any more: the source then holds
    // nothing and says why.
    void releaseLostCamera();

    // A series goes on while its camera is away: the lost camera is let go at once, but the
    // source keeps its picture and driver file, so that the camera can be opened again and
    // taken back. How to open it, while the lost camera is still held; none without a driver file.
    std::optional<CameraReopening> reopening() const;
    void letLostCameraGo(const QString &reason);
    void useReopened(std::unique_ptr<Camera> camera);

Q_SIGNALS:
    // Another source was loaded, or there is none now.
    void changed();
    // A live frame to show.
    void liveFrame(const Frame &frame);
    // The camera stopped answering; it is kept until releaseLostCamera().
    void cameraLost(const QString &reason);

private:
    void clear(const QString &reason);
    // Holds `camera` and hears what it sends.
    void adopt(std::unique_ptr<Camera> camera);
    void updateStreaming();
    void onFrameReady(const Frame &frame);

    QString m_fileName;
    std::optional<DriverFile> m_driver; // what the camera was opened from
    QString m_awayReason;               // why the camera let go during a series was lost
    std::unique_ptr<Camera> m_camera;
    Frame m_first;
    QString m_status;
    QString m_source;
    bool m_liveWanted = false;
    bool m_seriesStreaming = false;
    std::uint64_t m_generation = 0; // of the camera held now
};
