#include "ui/grabber_control.h"

#include "ui/image_control.h"

GrabberControl::GrabberControl(ImageControl &image, QObject *parent) : QObject(parent)
{
    connect(&image, &ImageControl::bufferReplaced, this, [this, &image] {
        m_handle = image.imageHandle();
        Q_EMIT notification();
    });
}
