#pragma once

#include "recording/series_progress.h"

#include <QLabel>
#include <QTimer>

class SeriesEngine;

// The line under the window's design area: during a series the pictures saved, the ticks
// missed, the time since Start and how long the disk lasts, and whether the camera is away;
// after Stop a summary of the series with its log, until the next Start. It shows what the
// engine sends and never waits on the series.
class StatusLine : public QLabel
{
    Q_OBJECT
public:
    explicit StatusLine(SeriesEngine &engine, QWidget *parent = nullptr);

    // The whole text; the line shows as much of it as fits.
    QString fullText() const { return m_text; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void refresh();

    SeriesEngine &m_engine;
    SeriesProgress m_progress;
    QTimer m_clock;
    QString m_text;
};
