#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <optional>

class SeriesEngine;

// How a series goes, in figures.
struct SeriesFigures
{
    qint64 pictures = 0;    // saved
    qint64 ticksMissed = 0; // ticks that got no picture
    qint64 elapsedMs = 0;   // since Start
    std::optional<double> diskSecondsLeft; // until the disk's reserve, at the rate so far
    QString awayReason;     // why the camera is away; empty while it answers
    QString diskNote;       // said at Start: the series will not fit on the disk
};

// "12 pictures, 3 ticks missed, 0:01:05 since Start, disk full in 3 h 20 min", and while the
// camera is away "Camera away (reason), trying again: 12 pictures, ...".
QString progressText(const SeriesFigures &figures);
// "Series ended: 120 pictures, 3 ticks missed in 0:01:00; log /data/Probe_20240501-220000.csv".
QString summaryText(const SeriesFigures &figures, const QString &logPath);
// "12 pictures, 1 tick missed".
QString countsText(qint64 pictures, qint64 ticksMissed);
// "1:02:03" (hours:minutes:seconds), "0:00:05".
QString clockText(qint64 ms);

// Gathers the figures of the engine's latest series from its signals alone, so that showing them
// never waits on the series' threads. The window's status line and `record` show them.
class SeriesProgress : public QObject
{
    Q_OBJECT
public:
    explicit SeriesProgress(SeriesEngine &engine, QObject *parent = nullptr);

    // The figures now; the time since Start stops at the end of the series.
    SeriesFigures figures() const;
    bool isRunning() const { return m_running; }
    // Whether any series was started.
    bool hasSeries() const { return m_started; }

Q_SIGNALS:
    // A figure other than the time changed.
    void changed();

private:
    SeriesFigures m_figures;
    QElapsedTimer m_clock;
    bool m_running = false;
    bool m_started = false;
};
