#include "ui/form1.h"

#include "imaging/display_control.h"
#include "imaging/image_control.h"
#include "imaging/stopwatch.h"
#include "recording/interval.h"
#include "recording/save_target.h"
#include "recording/series.h"
#include "ui/focus_guard.h"
#include "ui/message_box.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
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

namespace {

// The picture's own copy of its log row, as far as it is known before the save. The channels
// are taken after ComposeFileName, which reads them.
void fillPictureRecord(ImageMetadata &metadata, const CaptureState &state, int intervalMs, bool channel0,
                       bool channel1)
{
    metadata.picture = state.FrameCounter;
    metadata.stopwatchMs = state.ElapsedMsec;
    metadata.scheduledMs = double(state.FrameCounter - 1) * intervalMs;
    auto reading = [&state](int channel) {
        const CaptureState::ChannelRecord &r = state.LastReading[channel];
        return r.ok ? ChannelSample{true, r.count, r.value} : ChannelSample{};
    };
    if (channel0)
        metadata.channel0 = reading(0);
    if (channel1)
        metadata.channel1 = reading(1);
}

} // namespace

void Form1::Saving()
{
    StopwatchRead(m_state.StopwatchHandle, 0, m_state.ElapsedMsec);
    ImageMetadata metadata;
    metadata.captureTime = QDateTime::currentDateTime();
    const Status acquired = CVimage1->snap();
    ComposeFileName();
    fillPictureRecord(metadata, m_state, Timer1->interval(), Channel0Check->isChecked(), Channel1Check->isChecked());
    Status saved = acquired;
    if (saved)
        saved = checkSaveTarget(m_state.SaveDirectory, m_state.FullFileName);
    // A fresh machine has no output directory yet; the first picture of a series makes it. One
    // that goes away later is not made again: it may be the mount point of an unplugged disk.
    if (saved && m_state.FrameCounter == 1) {
        if (!QDir().mkpath(m_state.SaveDirectory))
            saved = Status::failure(QStringLiteral("cannot create the directory %1").arg(m_state.SaveDirectory));
    }
    if (saved)
        saved = CVimage1->save(m_state.FullFileName, metadata);
    logStep(metadata, saved);
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
    openSeriesLog();
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
    m_log.close();
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

void Form1::openSeriesLog()
{
    m_logWarned = false;
    const QDateTime start = QDateTime::currentDateTime();
    SeriesLogHeader header;
    header.program = QStringLiteral("Pictures in a row");
    header.version = QCoreApplication::applicationVersion();
    header.start = start;
    header.driverFile = CVimage1->fileName();
    header.source = CVimage1->sourceName();
    header.width = CVimage1->imageWidth();
    header.height = CVimage1->imageHeight();
    header.pixelFormat = CVimage1->imageHandle() ? pixelFormatName(CVimage1->currentFrame().format) : QString();
    header.card = m_card->isSimulated() ? QStringLiteral("simulated") : QStringLiteral("comedi /dev/comedi%1").arg(m_state.BoardNumber);
    header.intervalMs = Timer1->interval();
    const std::pair<QCheckBox *, const char *> options[] = {{NumberCheck, "number"}, {TimeCheck, "time"},
                                                           {Channel0Check, "channel 0"}, {Channel1Check, "channel 1"}};
    for (const auto &[box, name] : options) {
        if (box->isChecked())
            header.options << QLatin1String(name);
    }
    const QString logPath = seriesLogPath(m_state.SaveDirectory, m_state.BaseName, start);
    // A base name that leads out of the directory stops the series at its first picture;
    // the log must not get out either.
    if (!checkSaveTarget(m_state.SaveDirectory, logPath))
        return;
    QDir().mkpath(m_state.SaveDirectory);
    const Status opened = m_log.open(logPath, header);
    if (!opened)
        warnAboutLog(opened);
}

void Form1::logStep(const ImageMetadata &record, const Status &saved)
{
    if (!m_log.isOpen())
        return;
    // The row is the picture's own record, plus what became of its save.
    SeriesLogRow row;
    row.picture = record.picture.value_or(m_state.FrameCounter);
    row.fileName = m_state.FullFileName;
    row.scheduledMs = record.scheduledMs.value_or(0);
    row.stopwatchMs = record.stopwatchMs.value_or(m_state.ElapsedMsec);
    row.channel0 = record.channel0;
    row.channel1 = record.channel1;
    row.result = saved ? QStringLiteral("ok") : saved.reason();
    row.bytes = saved ? QFileInfo(m_state.FullFileName).size() : 0;
    const Status written = m_log.append(row);
    if (!written)
        warnAboutLog(written);
}

void Form1::warnAboutLog(const Status &failure)
{
    if (m_logWarned)
        return;
    m_logWarned = true;
    // Shown once the step is over: the series goes on, and a tick must not run inside it.
    QTimer::singleShot(0, this, [this, reason = failure.reason()] {
        showMessage(this, QStringLiteral("The series log cannot be written:\n%1\nThe pictures are still saved.").arg(reason));
    });
}
