#pragma once

#include <QRect>

// The window is laid out in design units, twips (1/1440 inch): 15 twips make one pixel at
// 96 dpi. Positions are scaled by the screen's logical DPI and by one factor for the whole
// window (at least 1), so that the proportions hold while the captions get the room their
// font needs.
class DesignUnits
{
public:
    explicit DesignUnits(double logicalDpi = 96.0, double factor = 1.0)
        : m_pixelsPerTwip(logicalDpi / 1440.0 * factor)
    {
    }

    int px(int twips) const;
    QRect rect(int left, int top, int width, int height) const;

private:
    double m_pixelsPerTwip;
};
