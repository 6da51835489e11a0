#pragma once

#include <QObject>

// The capture timer `Timer1`: the interval of the series and whether one is running. The ticks
// themselves come from the series' own schedule, on a thread of its own, so that a busy window
// never delays a picture.
class CaptureTimer : public QObject
{
    Q_OBJECT
public:
    explicit CaptureTimer(QObject *parent = nullptr) : QObject(parent) { setObjectName(QStringLiteral("Timer1")); }

    // Takes effect at the next Start.
    void setInterval(int milliseconds)
    {
        if (milliseconds == m_interval)
            return;
        m_interval = milliseconds;
        Q_EMIT intervalChanged(milliseconds);
    }
    int interval() const { return m_interval; }
    // Enabled from Start to Stop.
    bool isActive() const { return m_active; }
    void setActive(bool active) { m_active = active; }

Q_SIGNALS:
    void intervalChanged(int milliseconds);

private:
    int m_interval = 500;
    bool m_active = false;
};
