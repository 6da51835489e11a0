#pragma once

#include <QRectF>
#include <QWidget>

class ImageControl;

// The camera display: draws the image whose handle it is given, and the selected area.
//
// Settings, as start-up makes them:
//  - scale mode 3: fit the whole picture into the display, keeping its aspect ratio
//    (0 shows it at its own size from the top-left corner);
//  - interpolation 2: smooth when the picture is drawn reduced or enlarged (0: nearest pixel);
//  - show selection true: the selected area is outlined on the picture.
class DisplayControl : public QWidget
{
    Q_OBJECT
public:
    enum ScaleMode { ActualSize = 0, FitKeepAspect = 3 };
    enum Interpolation { Nearest = 0, Smooth = 2 };

    explicit DisplayControl(const ImageControl &image, QWidget *parent = nullptr);

    void setImageHandle(quintptr handle);
    quintptr imageHandle() const { return m_handle; }

    void setScaleMode(int mode) { m_scaleMode = mode; }
    void setInterpolation(int mode) { m_interpolation = mode; }
    void setShowSelection(bool show) { m_showSelection = show; }

    // The selected area: origin (x0, y0) and the corners (x1, y1) and (x2, y2), in pixels.
    void setSelectedArea(double x0, double y0, double x1, double y1, double x2, double y2);
    QRectF selectedArea() const { return m_selection; }

    // Redraws.
    void refresh() { update(); }

    // Frames of a live picture drawn so far (each counted once), for measurements.
    std::uint64_t framesPainted() const { return m_framesPainted; }
    std::uint64_t lastPaintedSequence() const { return m_lastSequence; }

Q_SIGNALS:
    void framePainted(std::uint64_t sequence);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRectF targetRect(int imageWidth, int imageHeight) const;

    const ImageControl &m_image;
    quintptr m_handle = 0;
    int m_scaleMode = FitKeepAspect;
    int m_interpolation = Smooth;
    bool m_showSelection = true;
    QRectF m_selection;
    std::uint64_t m_framesPainted = 0;
    std::uint64_t m_lastSequence = 0;
};
