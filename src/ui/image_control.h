#pragma once

#include "base/frame.h"

#include <QObject>

class SeriesEngine;

// The image control: the picture the window shows. It is a view: the series engine loads the
// source and feeds it live frames or, during a series, each saved picture. When there is no
// picture (handle 0) `statusText` says why.
class ImageControl : public QObject
{
    Q_OBJECT
public:
    explicit ImageControl(SeriesEngine &engine, QObject *parent = nullptr);

    // Loads the named picture or acquisition driver file as the source of the pictures.
    void setFileName(const QString &path);
    QString fileName() const;

    // Identifies the current image buffer; changes when a new source or a new size or
    // pixel format replaces it; 0 when there is no image.
    quintptr imageHandle() const { return m_frame.isNull() ? 0 : m_handle; }
    int imageWidth() const { return m_frame.width; }
    int imageHeight() const { return m_frame.height; }
    const Frame &currentFrame() const { return m_frame; }

    bool canAcquireLive() const;
    // The live picture: the camera streams and every frame it sends is shown.
    void setLive(bool on);
    bool isLive() const;
    // One short line on the source, or on why there is no image.
    QString statusText() const;

    // Makes `frame` the current image.
    void show(const Frame &frame);

Q_SIGNALS:
    // The current image has new content; the display should redraw.
    void imageUpdated();
    // The image buffer was replaced; whoever shows it must attach to the new handle.
    void bufferReplaced();

private:
    void sourceChanged();

    SeriesEngine &m_engine;
    Frame m_frame;
    quintptr m_handle = 0;
    quintptr m_nextHandle = 1;
};
