#pragma once

#include <QRect>

#include <functional>
#include <utility>
#include <vector>

class QString;
class QWidget;

// Where a control draws its caption or text, and the extent that text needs there, in the
// control's own font and wrapped as the control wraps it.
struct CaptionFit
{
    QRect room;
    QSize need;

    bool fits() const { return need.width() <= room.width() && need.height() <= room.height(); }
};

// For labels, check boxes, push buttons, group boxes (their title), text boxes and combo boxes
// (their edit field). It reads the control's geometry, so it holds before the control is shown.
CaptionFit captionFit(const QWidget &control, const QString &text);

using ControlTexts = std::vector<std::pair<const QWidget *, QString>>;

// Lays the window out by `layout` at growing factors (from 1 in steps of 1/32, at most 2) until
// every text fits its control, and returns the factor it stopped at.
double fittingFactor(const std::function<void(double)> &layout, const ControlTexts &texts);
