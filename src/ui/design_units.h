#pragma once

#include <QRect>

// The window is laid out in design units, twips (1/1440 inch): 15 twips make one pixel at
// 96 dpi. Positions are scaled by the screen's logical DPI so that the proportions hold.
class DesignUnits
{
public:
    explicit DesignUnits(double logicalDpi = 96.0) : m_pixelsPerTwip(logicalDpi / 1440.0) {}

    int px(int twips) const;
    QRect rect(int left, int top, int width, int height) const;

private:
    double m_pixelsPerTwip;
};
