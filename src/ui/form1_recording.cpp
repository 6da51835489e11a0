#include "ui/form1.h"

#include "imaging/display_control.h"
#include "imaging/image_control.h"
#include "imaging/stopwatch.h"
#include "recording/interval.h"
#include "recording/series.h"
#include "ui/focus_guard.h"
#include "ui/message_box.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

// The capture step, Start/Stop and the capture interval.

void Form1::connectRecordingHandlers()
{
    connect(Timer1, &QTimer::timeout, this, &Form1::Saving);
    connect(StartStop, &QPushButton::clicked, this, &Form1::StartStop_Click);
    // The guard lives as long as the box it watches.
    new FocusGuard(*Frames, [this] { return Frames_Validate(); }, Frames);
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

void Form1::Saving()
{
    StopwatchRead(m_state.StopwatchHandle, 0, m_state.ElapsedMsec);
    const Status acquired = CVimage1->snap();
    ComposeFileName();
    Status saved = acquired;
    if (saved) {
        // A fresh machine has no output directory yet; the first picture makes it.
        if (!QDir().mkpath(m_state.SaveDirectory))
            saved = Status::failure(QStringLiteral("cannot create the directory %1").arg(m_state.SaveDirectory));
    }
    if (saved)
        saved = CVimage1->save(m_state.FullFileName);
    if (!saved) {
        const QString name = m_state.FullFileName;
        stopSeries(SeriesEvent::StepFailed);
        showMessage(this, savingFailureMessage(name, saved.reason()));
        return;
    }
    CVdisplay1->refresh();
    m_state.FrameCounter += 1;
}

void Form1::StartStop_Click()
{
    if (m_state.Recording == RecordingState::Idle)
        startSeries();
    else
        stopSeries(SeriesEvent::Stop);
}

void Form1::startSeries()
{
    const StartRequest request{FileLabel->text(), SaveText->text(), m_state.LastBaseName, m_state.FullFileName};
    const QString refusal = startRefusal(request, [](const QString &name) { return QFileInfo::exists(name); });
    if (!refusal.isEmpty()) {
        showMessage(this, refusal);
        return;
    }
    m_state.Recording = *seriesTransition(m_state.Recording, SeriesEvent::Start);
    StartStop->setText(QStringLiteral("Stop"));
    FileSetupFrame->setEnabled(false);
    VideoSetupFrame->setEnabled(false);
    ADFrame->setEnabled(false);
    OpenImage->setEnabled(false);
    if (LiveCheck1->isChecked())
        LiveCheck1->setChecked(false);
    StopwatchStart(m_state.StopwatchHandle, 0);
    // The timer runs from the same instant as the stopwatch, so that picture n is due at
    // Start + (n - 1) x interval however long the first step takes. Nothing else runs on this
    // thread before the first step is done, so no tick can overtake it.
    Timer1->start();
    Saving();
}

void Form1::stopSeries(SeriesEvent why)
{
    const std::optional<RecordingState> next = seriesTransition(m_state.Recording, why);
    if (!next)
        return;
    m_state.Recording = *next;
    Timer1->stop();
    StartStop->setText(QStringLiteral("Start"));
    FileSetupFrame->setEnabled(true);
    VideoSetupFrame->setEnabled(true);
    ADFrame->setEnabled(true);
    OpenImage->setEnabled(true);
    LiveCheck1->setChecked(true);
    m_state.FrameCounter = 1;
    m_state.ElapsedMsec = 0;
    ComposeFileName();
    m_state.LastBaseName = SaveText->text();
}
