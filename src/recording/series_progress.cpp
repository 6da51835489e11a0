#include "recording/series_progress.h"

#include "recording/disk_space.h"
#include "recording/series_engine.h"

namespace {

QString counts(const SeriesFigures &f)
{
    return countsText(f.pictures, f.ticksMissed);
}

} // namespace

QString countsText(qint64 pictures, qint64 ticksMissed)
{
    return QStringLiteral("%1 picture%2, %3 tick%4 missed")
        .arg(pictures)
        .arg(pictures == 1 ? QString() : QStringLiteral("s"))
        .arg(ticksMissed)
        .arg(ticksMissed == 1 ? QString() : QStringLiteral("s"));
}

QString clockText(qint64 ms)
{
    const qint64 s = std::max<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString progressText(const SeriesFigures &f)
{
    QString text = QStringLiteral("%1, %2 since Start").arg(counts(f), clockText(f.elapsedMs));
    if (f.diskSecondsLeft)
        text += QStringLiteral(", disk full in %1").arg(spanText(*f.diskSecondsLeft));
    if (!f.awayReason.isEmpty())
        text = QStringLiteral("Camera away (%1), trying again: %2").arg(f.awayReason, text);
    return text;
}

QString summaryText(const SeriesFigures &f, const QString &logPath)
{
    QString text = QStringLiteral("Series ended: %1 in %2").arg(counts(f), clockText(f.elapsedMs));
    if (!logPath.isEmpty())
        text += QStringLiteral("; log %1").arg(logPath);
    return text;
}

SeriesProgress::SeriesProgress(SeriesEngine &engine, QObject *parent) : QObject(parent)
{
    connect(&engine, &SeriesEngine::started, this, [this, &engine] {
        m_figures = SeriesFigures();
        m_figures.diskNote = engine.diskForecast();
        m_clock.start();
        m_running = true;
        m_started = true;
        Q_EMIT changed();
    });
    connect(&engine, &SeriesEngine::pictureSaved, this, [this](const StepReport &report) {
        ++m_figures.pictures;
        if (report.diskSecondsLeft)
            m_figures.diskSecondsLeft = report.diskSecondsLeft;
        Q_EMIT changed();
    });
    connect(&engine, &SeriesEngine::ticksMissedChanged, this, [this](qint64 total) {
        m_figures.ticksMissed = total;
        Q_EMIT changed();
    });
    connect(&engine, &SeriesEngine::cameraAway, this, [this](const QString &reason) {
        m_figures.awayReason = reason;
        Q_EMIT changed();
    });
    connect(&engine, &SeriesEngine::cameraBack, this, [this] {
        m_figures.awayReason.clear();
        Q_EMIT changed();
    });
    connect(&engine, &SeriesEngine::stopped, this, [this] {
        m_figures.elapsedMs = m_clock.elapsed();
        m_figures.awayReason.clear();
        m_running = false;
        Q_EMIT changed();
    });
}

SeriesFigures SeriesProgress::figures() const
{
    SeriesFigures f = m_figures;
    if (m_running)
        f.elapsedMs = m_clock.elapsed();
    return f;
}
