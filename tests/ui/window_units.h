#pragma once

#include "ui/design_units.h"

#include <QScreen>
#include <QWidget>

// The design units a window was laid out in: its screen's density and the factor (a multiple of
// 1/32 from 1 to 2) that its width, 10035 twips, shows.
inline DesignUnits windowUnits(const QWidget &window)
{
    const double dpi = window.screen()->logicalDotsPerInch();
    for (int step = 32; step <= 64; ++step) {
        if (DesignUnits(dpi, step / 32.0).px(10035) == window.width())
            return DesignUnits(dpi, step / 32.0);
    }
    return DesignUnits(0.0);
}
