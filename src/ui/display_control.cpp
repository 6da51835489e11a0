#include "ui/display_control.h"

#include "ui/display_image.h"
#include "ui/image_control.h"

#include <QImage>
#include <QPainter>

DisplayControl::DisplayControl(const ImageControl &image, QWidget *parent) : QWidget(parent), m_image(image)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void DisplayControl::setImageHandle(quintptr handle)
{
    m_handle = handle;
    update();
}

void DisplayControl::setSelectedArea(double x0, double y0, double x1, double y1, double x2, double y2)
{
    // The corners span the area from the origin: (x1, y1) along the top, (x2, y2) down the side.
    m_selection = QRectF(QPointF(x0, y0), QPointF(std::max(x1, x2), std::max(y1, y2)));
    update();
}

QRectF DisplayControl::targetRect(int imageWidth, int imageHeight) const
{
    if (m_scaleMode != FitKeepAspect)
        return QRectF(0, 0, imageWidth, imageHeight);
    const double scale = std::min(double(width()) / imageWidth, double(height()) / imageHeight);
    const double w = imageWidth * scale;
    const double h = imageHeight * scale;
    return QRectF((width() - w) / 2, (height() - h) / 2, w, h);
}

void DisplayControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(32, 32, 32));
    const Frame &frame = m_image.currentFrame();
    if (m_handle == 0 || m_handle != m_image.imageHandle() || frame.isNull()) {
        painter.setPen(Qt::white);
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, m_image.statusText());
        return;
    }
    const QRectF target = targetRect(frame.width, frame.height);
    // Smoothing a big picture means converting every pixel to 32 bits first; a cheap
    // nearest-pixel reduction to twice the drawn size keeps that to a few thousand rows.
    const QImage image = displayImage(frame, (target.size() * 2).toSize());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_interpolation == Smooth);
    painter.drawImage(target, image);
    if (m_showSelection && m_selection.isValid()) {
        const double sx = target.width() / frame.width;
        const double sy = target.height() / frame.height;
        const QRectF area(target.left() + m_selection.left() * sx, target.top() + m_selection.top() * sy,
                          (m_selection.width() + 1) * sx - 1, (m_selection.height() + 1) * sy - 1);
        painter.setPen(QPen(QColor(255, 200, 0), 1));
        painter.drawRect(area);
    }
    if (frame.sequence != m_lastSequence) {
        m_lastSequence = frame.sequence;
        ++m_framesPainted;
        Q_EMIT framePainted(frame.sequence);
    }
}
