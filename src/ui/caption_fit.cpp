#include "ui/caption_fit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

namespace {

CaptionFit labelFit(const QLabel &label, const QString &text)
{
    const QRect room = label.contentsRect();
    const int flags = int(label.alignment()) | (label.wordWrap() ? int(Qt::TextWordWrap) : 0);
    return {room, label.fontMetrics().boundingRect(room, flags, text).size()};
}

CaptionFit buttonFit(const QAbstractButton &button, QStyle::SubElement contents, const QString &text)
{
    QStyleOptionButton opt;
    opt.initFrom(&button);
    opt.text = text;
    const QRect room = button.style()->subElementRect(contents, &opt, &button);
    return {room, button.fontMetrics().size(Qt::TextShowMnemonic, text)};
}

CaptionFit groupFit(const QGroupBox &group, const QString &text)
{
    QStyleOptionGroupBox opt;
    opt.initFrom(&group);
    opt.text = text;
    opt.textAlignment = group.alignment();
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect label = group.style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, &group);
    // The title may run on to the frame's right edge.
    const QRect room(label.topLeft(), QPoint(group.width() - 1, label.bottom()));
    return {room, group.fontMetrics().size(Qt::TextShowMnemonic, text)};
}

// A text box scrolls its text once the text and the cursor after it are wider than the room
// inside its frame and its margins; besides those it keeps 2 pixels beside the text and, as
// its minimum size asks, 1 above and below.
CaptionFit editFit(const QWidget &edit, const QRect &rect, int frameWidth, QMargins margins, const QString &text)
{
    QStyleOptionFrame opt;
    opt.initFrom(&edit);
    opt.rect = rect;
    opt.lineWidth = frameWidth;
    opt.state |= QStyle::State_Sunken;
    const QRect room = edit.style()->subElementRect(QStyle::SE_LineEditContents, &opt, &edit) - (margins + QMargins(2, 1, 2, 1));
    const QFontMetrics fm = edit.fontMetrics();
    return {room, QSize(fm.horizontalAdvance(text) + 1, fm.height())};
}

CaptionFit lineEditFit(const QLineEdit &edit, const QString &text)
{
    const int frame = edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &edit) : 0;
    return editFit(edit, edit.contentsRect(), frame, edit.textMargins(), text);
}

// The combo box places its edit field only when it is shown, so the field's room is taken from
// the combo box's own geometry.
CaptionFit comboFit(const QComboBox &combo, const QString &text)
{
    QStyleOptionComboBox opt;
    opt.initFrom(&combo);
    opt.editable = combo.isEditable();
    opt.frame = combo.hasFrame();
    opt.subControls = QStyle::SC_All;
    const QRect field = combo.style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, &combo);
    return editFit(combo, field, 0, QMargins(), text);
}

} // namespace

CaptionFit captionFit(const QWidget &control, const QString &text)
{
    if (auto *label = qobject_cast<const QLabel *>(&control))
        return labelFit(*label, text);
    if (auto *box = qobject_cast<const QCheckBox *>(&control))
        return buttonFit(*box, QStyle::SE_CheckBoxContents, text);
    if (auto *button = qobject_cast<const QPushButton *>(&control))
        return buttonFit(*button, QStyle::SE_PushButtonContents, text);
    if (auto *group = qobject_cast<const QGroupBox *>(&control))
        return groupFit(*group, text);
    if (auto *combo = qobject_cast<const QComboBox *>(&control))
        return comboFit(*combo, text);
    if (auto *edit = qobject_cast<const QLineEdit *>(&control))
        return lineEditFit(*edit, text);
    Q_ASSERT_X(false, "captionFit", "a control without a caption");
    return {};
}

double fittingFactor(const std::function<void(double)> &layout, const ControlTexts &texts)
{
    constexpr int steps = 32;
    int step = steps;
    for (;; ++step) {
        layout(double(step) / steps);
        const bool allFit = std::all_of(texts.begin(), texts.end(),
                                        [](const auto &t) { return captionFit(*t.first, t.second).fits(); });
        if (allFit || step == 2 * steps)
            return double(step) / steps;
    }
}
