#include "ui/focus_guard.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>
#include <QWidget>

FocusGuard::FocusGuard(QWidget &box, std::function<Verdict()> check, QObject *parent)
    : QObject(parent), m_box(box), m_check(std::move(check))
{
    qApp->installEventFilter(this);
}

FocusGuard::~FocusGuard()
{
    qApp->removeEventFilter(this);
}

QWidget *FocusGuard::focusTargetOf(QWidget *clicked) const
{
    // A press lands on the control or on a part of it (the text field inside a combo box).
    for (QWidget *w = clicked; w && !w->isWindow(); w = w->parentWidget()) {
        if (w->isEnabled() && (w->focusPolicy() & Qt::ClickFocus))
            return w;
    }
    return nullptr;
}

bool FocusGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (m_checking || !m_box.hasFocus())
        return false;
    QWidget *window = m_box.window();

    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        // Caught at the window, before the press gives the focus to the control under it.
        if (watched != window->windowHandle())
            return false;
        const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
        QWidget *target = focusTargetOf(window->childAt(at));
        if (!target || target == &m_box)
            return false;
        return decide(target, false);
    }
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (watched != &m_box || (key != Qt::Key_Tab && key != Qt::Key_Backtab))
            return false;
        return decide(nullptr, true);
    }
    case QEvent::Shortcut: {
        if (!watched->isWidgetType() || watched == &m_box)
            return false;
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->window() != window)
            return false;
        return decide(focusTargetOf(widget), false);
    }
    default:
        return false;
    }
}

// Returns true when the event is to be swallowed.
bool FocusGuard::decide(QWidget *target, bool isTab)
{
    m_checking = true;
    const Verdict verdict = m_check();
    m_checking = false;
    switch (verdict) {
    case Verdict::Pass:
        return false;
    case Verdict::Stay:
        m_box.setFocus(Qt::OtherFocusReason);
        return true;
    case Verdict::Leave:
        if (isTab) {
            m_box.setFocus(Qt::OtherFocusReason);
            return false; // the Tab key itself moves the focus on
        }
        if (target)
            target->setFocus(Qt::MouseFocusReason);
        return true;
    }
    return false;
}
