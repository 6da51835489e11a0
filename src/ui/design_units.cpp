#include "ui/design_units.h"

#include <cmath>

int DesignUnits::px(int twips) const
{
    return int(std::lround(twips * m_pixelsPerTwip));
}

QRect DesignUnits::rect(int left, int top, int width, int height) const
{
    // Both edges are rounded, not the size, so that neighbouring controls neither overlap
    // nor leave gaps at any scale.
    const int x = px(left);
    const int y = px(top);
    return QRect(x, y, px(left + width) - x, px(top + height) - y);
}
