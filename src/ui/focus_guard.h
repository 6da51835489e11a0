#pragma once

#include <QObject>

#include <functional>

class QWidget;

// Validates a box when the focus is about to leave it for another control of its window: by
// a mouse press on a control that takes the focus, by Tab or Shift+Tab, or by an access key
// (Alt+letter). The check decides:
//  - Stay: the focus stays in the box and the press, key or access key has no other effect;
//  - Leave: the focus moves on, but what tried to move it (a click, an access key) has no
//    other effect, since a message came in between;
//  - Pass: nothing happened, the event goes on as usual.
// Closing the window is never held up.
class FocusGuard : public QObject
{
    Q_OBJECT
public:
    enum class Verdict { Pass, Leave, Stay };

    FocusGuard(QWidget &box, std::function<Verdict()> check, QObject *parent = nullptr);
    ~FocusGuard() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *focusTargetOf(QWidget *clicked) const;
    bool decide(QWidget *target, bool isTab);

    QWidget &m_box;
    std::function<Verdict()> m_check;
    bool m_checking = false;
};
