#pragma once

#include <QObject>

class ImageControl;

// The grabber control: works on one image buffer and tells when the camera replaced it
// (a new size or pixel format), so that the window can attach the display again.
class GrabberControl : public QObject
{
    Q_OBJECT
public:
    explicit GrabberControl(ImageControl &image, QObject *parent = nullptr);

    void setImageHandle(quintptr handle) { m_handle = handle; }
    quintptr imageHandle() const { return m_handle; }

Q_SIGNALS:
    void notification();

private:
    quintptr m_handle = 0;
};
