#include "ui/status_line.h"

#include "recording/series_engine.h"

#include <QFontMetrics>

namespace {

// A warning of the disk at Start stays this long before the figures take its place.
constexpr qint64 kDiskNoteMs = 10000;

} // namespace

StatusLine::StatusLine(SeriesEngine &engine, QWidget *parent)
    : QLabel(parent), m_engine(engine), m_progress(engine), m_clock(this)
{
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The time since Start moves on by itself.
    m_clock.setInterval(1000);
    connect(&m_clock, &QTimer::timeout, this, &StatusLine::refresh);
    connect(&m_progress, &SeriesProgress::changed, this, &StatusLine::refresh);
}

void StatusLine::refresh()
{
    const SeriesFigures figures = m_progress.figures();
    if (m_progress.isRunning()) {
        if (!m_clock.isActive())
            m_clock.start();
        m_text = !figures.diskNote.isEmpty() && figures.elapsedMs < kDiskNoteMs
                     ? QStringLiteral("Disk: %1").arg(figures.diskNote)
                     : progressText(figures);
    } else {
        m_clock.stop();
        m_text = m_progress.hasSeries() ? summaryText(figures, m_engine.logPath()) : QString();
    }
    setToolTip(m_text);
    setText(fontMetrics().elidedText(m_text, Qt::ElideMiddle, contentsRect().width()));
}

void StatusLine::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    setText(fontMetrics().elidedText(m_text, Qt::ElideMiddle, contentsRect().width()));
}
