#include "ui/image_control.h"

#include "recording/series_engine.h"

ImageControl::ImageControl(SeriesEngine &engine, QObject *parent) : QObject(parent), m_engine(engine)
{
    connect(&engine.source(), &PictureSource::changed, this, &ImageControl::sourceChanged);
    connect(&engine, &SeriesEngine::frameToShow, this, &ImageControl::show);
    sourceChanged();
}

void ImageControl::setFileName(const QString &path)
{
    m_engine.source().load(path);
}

QString ImageControl::fileName() const
{
    return m_engine.source().fileName();
}

bool ImageControl::canAcquireLive() const
{
    return m_engine.source().canAcquireLive();
}

void ImageControl::setLive(bool on)
{
    m_engine.source().setLive(on);
}

bool ImageControl::isLive() const
{
    return m_engine.source().isLive();
}

QString ImageControl::statusText() const
{
    return m_engine.source().statusText();
}

// A new source gives a new buffer, also when its pictures have the size of the old ones; a
// camera that was lost leaves none.
void ImageControl::sourceChanged()
{
    const bool had = !m_frame.isNull();
    m_frame = m_engine.source().firstFrame();
    if (!m_frame.isNull())
        m_handle = m_nextHandle++;
    if (had) {
        Q_EMIT bufferReplaced();
        Q_EMIT imageUpdated();
    }
}

void ImageControl::show(const Frame &frame)
{
    const bool replaced = m_frame.isNull() || frame.width != m_frame.width || frame.height != m_frame.height ||
                          frame.format != m_frame.format;
    m_frame = frame;
    if (replaced) {
        m_handle = m_nextHandle++;
        Q_EMIT bufferReplaced();
    }
    Q_EMIT imageUpdated();
}
