#include "ui/form1.h"

#include "ui/display_control.h"
#include "recording/interval.h"
#include "recording/series.h"
#include "ui/focus_guard.h"
#include "ui/message_box.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

// Start/Stop and the capture interval. The series itself, its capture step, timer and log,
// is the engine's; the window locks and unlocks its controls around it.

void Form1::connectRecordingHandlers()
{
    connect(StartStop, &QPushButton::clicked, this, &Form1::StartStop_Click);
    connect(m_engine, &SeriesEngine::started, this, &Form1::lockForSeries);
    connect(m_engine, &SeriesEngine::stopped, this, &Form1::seriesStopped);
    // Shown once the handler that hears it is over: the series goes on meanwhile on its own
    // threads, and the message box must not run inside another handler.
    for (auto signal : {&SeriesEngine::logWarning, &SeriesEngine::saveFailed}) {
        connect(m_engine, signal, this, [this](const QString &message) {
            QTimer::singleShot(0, this, [this, message] { showMessage(this, message); });
        });
    }
    m_framesGuard = new FocusGuard(*Frames, [this] { return Frames_Validate(); }, this);
}

FocusGuard::Verdict Form1::Frames_Validate()
{
    const IntervalCheck check = checkInterval(Frames->text());
    switch (check.outcome) {
    case IntervalCheck::Accepted:
        Timer1->setInterval(check.milliseconds);
        return FocusGuard::Verdict::Pass;
    case IntervalCheck::OutOfRange:
        showMessage(this, QLatin1String(kIntervalMessage));
        return FocusGuard::Verdict::Leave;
    case IntervalCheck::NotNumeric:
        break;
    }
    showMessage(this, QLatin1String(kIntervalMessage));
    return FocusGuard::Verdict::Stay;
}

void Form1::StartStop_Click()
{
    if (m_engine->isRecording())
        m_engine->stop();
    else if (const QString refusal = startSeries(); !refusal.isEmpty())
        showMessage(this, refusal);
}

// Starts a series unless a check refuses it: then the message, and nothing has changed.
QString Form1::startSeries()
{
    const StartRequest request{FileLabel->text(), SaveText->text(), state().LastBaseName, state().FullFileName};
    const QString refusal = m_setup->startRefusal(request);
    if (!refusal.isEmpty())
        return refusal;
    m_engine->setOptions(nameOptions());
    m_engine->start();
    return {};
}

void Form1::lockForSeries()
{
    StartStop->setText(QStringLiteral("Stop"));
    FileSetupFrame->setEnabled(false);
    VideoSetupFrame->setEnabled(false);
    ADFrame->setEnabled(false);
    OpenImage->setEnabled(false);
    if (LiveCheck1->isChecked())
        LiveCheck1->setChecked(false);
}

void Form1::seriesStopped(SeriesEvent, const QString &message)
{
    StartStop->setText(QStringLiteral("Start"));
    FileSetupFrame->setEnabled(true);
    VideoSetupFrame->setEnabled(true);
    ADFrame->setEnabled(true);
    OpenImage->setEnabled(true);
    LiveCheck1->setChecked(true);
    ComposeFileName();
    state().LastBaseName = SaveText->text();
    if (!message.isEmpty())
        showMessage(this, message);
}
