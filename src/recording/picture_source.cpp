#include "recording/picture_source.h"

#include "cameras/camera_factory.h"
#include "cameras/driver_file.h"
#include "picture_files/image_files.h"

#include <QFileInfo>

#include <utility>

PictureSource::PictureSource(QObject *parent) : QObject(parent) {}

PictureSource::~PictureSource()
{
    if (m_camera)
        m_camera->stopLive();
}

void PictureSource::load(const QString &path)
{
    if (m_camera) {
        m_camera->stopLive();
        m_camera.reset();
    }
    ++m_generation;
    m_fileName = path;
    m_first = Frame();
    m_source.clear();
    m_driver.reset();
    m_awayReason.clear();

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
        useCamera(std::move(camera), driver.source);
        if (m_camera)
            m_driver = driver;
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
    m_first = still;
    Q_EMIT changed();
}

void PictureSource::useCamera(std::unique_ptr<Camera> camera, const QString &sourceName)
{
    m_driver.reset();
    m_awayReason.clear();
    Frame first;
    const Status snapped = camera->snap(first);
    if (!snapped) {
        clear(QStringLiteral("%1: %2").arg(camera->description(), snapped.reason()));
        return;
    }
    adopt(std::move(camera));
    m_source = sourceName;
    m_first = first;
    updateStreaming();
    Q_EMIT changed();
}

void PictureSource::adopt(std::unique_ptr<Camera> camera)
{
    m_camera = std::move(camera);
    // What a camera sent is queued; by the time it arrives, that camera may have been replaced
    // by another, even one at the same address. Its generation tells.
    const std::uint64_t generation = ++m_generation;
    connect(m_camera.get(), &Camera::frameReady, this, [this, generation](const Frame &frame) {
        if (generation == m_generation)
            onFrameReady(frame);
    }, Qt::QueuedConnection);
    connect(m_camera.get(), &Camera::lost, this, [this, generation](const QString &reason) {
        if (generation == m_generation)
            Q_EMIT cameraLost(reason);
    }, Qt::QueuedConnection);
    m_status = m_camera->description();
}

void PictureSource::clear(const QString &reason)
{
    m_first = Frame();
    m_status = reason;
    Q_EMIT changed();
}

void PictureSource::setLive(bool on)
{
    m_liveWanted = on;
    updateStreaming();
}

void PictureSource::setSeriesStreaming(bool on)
{
    m_seriesStreaming = on;
    if (m_camera)
        m_camera->setSeriesRunning(on);
    updateStreaming();
}

void PictureSource::updateStreaming()
{
    if (!m_camera || m_camera->isLost())
        return;
    const bool wanted = m_liveWanted || (m_seriesStreaming && m_camera->streamsThroughSeries());
    if (!wanted) {
        m_camera->stopLive();
        return;
    }
    if (m_camera->isLive())
        return;
    const Status started = m_camera->startLive();
    if (!started)
        m_status = started.reason();
}

CameraIdentity PictureSource::cameraIdentity() const
{
    if (m_camera)
        return m_camera->identity();
    return {m_source, {}, {}, {}};
}

bool PictureSource::isLive() const
{
    return m_liveWanted && isStreaming();
}

bool PictureSource::isStreaming() const
{
    return m_camera && m_camera->isLive();
}

Status PictureSource::snap(Frame &out)
{
    if (m_camera)
        return m_camera->snap(out);
    // A still picture has nothing to acquire; it stays the picture.
    if (m_first.isNull())
        return Status::failure(m_status.isEmpty() ? QStringLiteral("no image source") : m_status);
    out = m_first;
    return Status::success();
}

CaptureResult PictureSource::capture(std::int64_t tickNs, std::int64_t intervalNs, Frame &out)
{
    if (m_camera)
        return m_camera->capture(tickNs, intervalNs, out);
    const Status snapped = snap(out);
    return {snapped ? CaptureOutcome::Picture : CaptureOutcome::Failed, snapped ? QString() : snapped.reason()};
}

void PictureSource::onFrameReady(const Frame &frame)
{
    m_camera->acknowledgeFrame();
    // While a series streams with the live picture off, the display shows the saved pictures.
    if (isLive())
        Q_EMIT liveFrame(frame);
}

void PictureSource::releaseLostCamera()
{
    if (!m_camera && !m_awayReason.isEmpty()) {
        clear(QStringLiteral("Camera lost: %1").arg(std::exchange(m_awayReason, QString())));
        return;
    }
    if (!m_camera || !m_camera->isLost())
        return;
    const QString reason = m_camera->lostReason();
    letLostCameraGo(reason);
    m_awayReason.clear();
    clear(QStringLiteral("Camera lost: %1").arg(reason));
}

std::optional<CameraReopening> PictureSource::reopening() const
{
    if (!m_driver || !m_camera)
        return std::nullopt;
    return reopeningOf(*m_driver, *m_camera);
}

void PictureSource::letLostCameraGo(const QString &reason)
{
    m_awayReason = reason;
    if (!m_camera)
        return;
    m_camera->stopLive();
    // Deleted later: this may run on behalf of the camera's own signal.
    m_camera.release()->deleteLater();
    ++m_generation;
}

void PictureSource::useReopened(std::unique_ptr<Camera> camera)
{
    m_awayReason.clear();
    adopt(std::move(camera));
    if (m_seriesStreaming)
        m_camera->setSeriesRunning(true);
    updateStreaming();
}
