#pragma once

#include "base/status.h"
#include "cameras/camera.h"
#include "base/frame.h"
#include "picture_files/image_files.h"

#include <QObject>

#include <memory>

// The image control: holds the current image and the camera or file it comes from.
// Loading a driver file (.vin) opens its camera; loading a picture file makes it a still
// image that cannot acquire live. When nothing could be loaded the control holds no image
// (handle 0) and `statusText` says why.
class ImageControl : public QObject
{
    Q_OBJECT
public:
    static constexpr int kSnapTimeoutMs = 3000;

    explicit ImageControl(QObject *parent = nullptr);
    ~ImageControl() override;

    // Loads the named picture or acquisition driver file as the current image.
    void setFileName(const QString &path);
    QString fileName() const { return m_fileName; }

    // Identifies the current image buffer; changes when a new source or a new size or
    // pixel format replaces it; 0 when there is no image.
    quintptr imageHandle() const { return m_frame.isNull() ? 0 : m_handle; }
    int imageWidth() const { return m_frame.width; }
    int imageHeight() const { return m_frame.height; }
    const Frame &currentFrame() const { return m_frame; }

    bool canAcquireLive() const { return m_camera != nullptr; }
    // The live picture: the camera streams and every frame it sends becomes the current image.
    void setLive(bool on);
    bool isLive() const;
    // While a series runs, a camera keeps streaming although the live picture is off, so that a
    // snap costs a copy of the newest frame instead of a new acquisition; the frames do not
    // become the current image until a snap takes one.
    void setSeriesStreaming(bool on);
    bool isStreaming() const;

    // Acquires one new picture into the current image.
    Status snap();
    // Writes the current image to `path` in the format its extension names.
    Status save(const QString &path, const ImageMetadata &metadata = {}, SaveMode mode = SaveMode::CreateNew) const;

    // One short line on the source, or on why there is no image.
    QString statusText() const { return m_status; }
    // The driver file's source ("test-pattern", "genicam", ...), or "file" for a still image.
    QString sourceName() const { return m_source; }
    Camera *camera() const { return m_camera.get(); }
    // The camera that delivers the image; for a still image the source "file".
    CameraIdentity cameraIdentity() const;

Q_SIGNALS:
    // The current image has new content (a live frame); the display should redraw.
    void imageUpdated();
    // The image buffer was replaced; whoever shows it must attach to the new handle.
    void bufferReplaced();

private:
    void takeFrame(const Frame &frame);
    void onFrameReady(const Frame &frame);
    void onCameraLost(const QString &reason);
    void clear(const QString &reason);
    void updateStreaming();

    QString m_fileName;
    std::unique_ptr<Camera> m_camera;
    Frame m_frame;
    quintptr m_handle = 0;
    quintptr m_nextHandle = 1;
    QString m_status;
    QString m_source;
    bool m_liveWanted = false;
    bool m_seriesStreaming = false;
};
