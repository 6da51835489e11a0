#include "recording/image_control.h"

#include "cameras/camera.h"
#include "cameras/camera_factory.h"
#include "cameras/driver_file.h"

#include <QFileInfo>

ImageControl::ImageControl(QObject *parent) : QObject(parent) {}

ImageControl::~ImageControl()
{
    if (m_camera)
        m_camera->stopLive();
}

void ImageControl::setFileName(const QString &path)
{
    if (m_camera) {
        m_camera->stopLive();
        m_camera.reset();
    }
    m_fileName = path;
    m_frame = Frame();
    m_source.clear();

    if (QFileInfo(path).suffix().compare(QLatin1String("vin"), Qt::CaseInsensitive) == 0) {
        DriverFile driver;
        QString error;
        if (!DriverFile::load(path, driver, error)) {
            clear(error);
            return;
        }
        std::unique_ptr<Camera> camera = createCamera(driver, error);
        if (!camera) {
            clear(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), error));
            return;
        }
        // The first picture gives the image its size at once, before live starts.
        Frame first;
        const Status snapped = camera->snap(first, kSnapTimeoutMs);
        if (!snapped) {
            clear(QStringLiteral("%1: %2").arg(camera->description(), snapped.reason()));
            return;
        }
        m_camera = std::move(camera);
        connect(m_camera.get(), &Camera::frameReady, this, &ImageControl::onFrameReady, Qt::QueuedConnection);
        connect(m_camera.get(), &Camera::lost, this, &ImageControl::onCameraLost, Qt::QueuedConnection);
        m_status = m_camera->description();
        m_source = driver.source;
        m_handle = m_nextHandle++;
        m_frame = first;
        return;
    }

    Frame still;
    const Status loaded = loadImage(path, still);
    if (!loaded) {
        clear(loaded.reason()); // the reason names the file
        return;
    }
    m_status = QFileInfo(path).fileName();
    m_source = QStringLiteral("file");
    m_handle = m_nextHandle++;
    m_frame = still;
}

void ImageControl::clear(const QString &reason)
{
    m_frame = Frame();
    m_handle = 0;
    m_status = reason;
}

void ImageControl::setLive(bool on)
{
    m_liveWanted = on;
    updateStreaming();
}

void ImageControl::setSeriesStreaming(bool on)
{
    m_seriesStreaming = on;
    updateStreaming();
}

void ImageControl::updateStreaming()
{
    if (!m_camera)
        return;
    const bool wanted = m_liveWanted || m_seriesStreaming;
    if (!wanted) {
        m_camera->stopLive();
        return;
    }
    if (m_camera->isLive())
        return;
    m_camera->acknowledgeFrame(); // nothing from an earlier run is still on its way
    const Status started = m_camera->startLive();
    if (!started)
        m_status = started.reason();
}

CameraIdentity ImageControl::cameraIdentity() const
{
    if (m_camera)
        return m_camera->identity();
    return {m_source, {}, {}, {}};
}

bool ImageControl::isLive() const
{
    return m_liveWanted && isStreaming();
}

bool ImageControl::isStreaming() const
{
    return m_camera && m_camera->isLive();
}

Status ImageControl::snap()
{
    if (!m_camera) {
        // A still image has nothing to acquire; it stays the current image.
        if (!m_frame.isNull())
            return Status::success();
        return Status::failure(m_status.isEmpty() ? QStringLiteral("no image source") : m_status);
    }
    Frame frame;
    const Status snapped = m_camera->snap(frame, isStreaming() ? m_camera->lossTimeoutMs() : kSnapTimeoutMs);
    if (!snapped)
        return snapped;
    takeFrame(frame);
    return Status::success();
}

Status ImageControl::save(const QString &path, const ImageMetadata &metadata, SaveMode mode) const
{
    if (m_frame.isNull())
        return Status::failure(m_status.isEmpty() ? QStringLiteral("no current image") : m_status);
    return saveImage(m_frame, path, metadata, mode);
}

void ImageControl::takeFrame(const Frame &frame)
{
    const bool replaced = m_frame.isNull() || frame.width != m_frame.width || frame.height != m_frame.height ||
                          frame.format != m_frame.format;
    m_frame = frame;
    if (replaced) {
        m_handle = m_nextHandle++;
        Q_EMIT bufferReplaced();
    }
}

void ImageControl::onFrameReady(const Frame &frame)
{
    // A frame still queued from a camera that has since been replaced is stale; its sender
    // may be gone, so it is only compared, never used.
    if (!m_camera || sender() != m_camera.get())
        return;
    m_camera->acknowledgeFrame();
    // While a series streams with the live picture off, the display shows the saved pictures.
    if (!isLive())
        return;
    takeFrame(frame);
    Q_EMIT imageUpdated();
}

void ImageControl::onCameraLost(const QString &reason)
{
    if (sender() != m_camera.get())
        return;
    m_camera->stopLive();
    // Deleted later: this slot runs on behalf of the camera's own signal.
    m_camera.release()->deleteLater();
    clear(QStringLiteral("Camera lost: %1").arg(reason));
    Q_EMIT bufferReplaced();
    Q_EMIT imageUpdated();
}
