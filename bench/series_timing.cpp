// A headless series of pictures through the real window: how exactly the pictures keep to
// their schedule, and what each part of a capture step costs.
//
// Run:  QT_QPA_PLATFORM=offscreen build/bin/bench_series_timing [pictures] [interval-ms] [out-dir]
// Defaults: 200 pictures at 50 ms from a 2048x2048 Mono8 test-pattern camera, once per format.

#include "bench_support.h"
#include "analog/simulated_card.h"
#include "ui/display_control.h"
#include "picture_files/image_files.h"
#include "recording/series_log.h"
#include "ui/form1.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

struct Series
{
    std::vector<double> errors; // capture instant minus its due time, ms
    int missed = 0;
    double drift = 0; // error of the last picture minus error of the first
    double lastScheduledMs = 0;
};

Series runSeries(Form1 &form, const QString &extension, int pictures, int interval, const QString &dir)
{
    Series result;
    form.state().FileExtension = extension;
    form.SaveText->setText(QStringLiteral("bench%1").arg(extension.mid(1)));
    form.state().SaveDirectory = dir + QLatin1Char('/');
    form.Timer1->setInterval(interval);
    form.engine().setLimits(pictures, std::nullopt);
    QObject::connect(&form.engine(), &SeriesEngine::pictureSaved, &form, [&](const StepReport &report) {
        result.errors.push_back(report.stopwatchMs - report.scheduledMs);
        result.lastScheduledMs = report.scheduledMs;
    });
    form.StartStop->click();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (form.state().Recording == RecordingState::Idle)
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    form.engine().waitForSync(60000);
    QCoreApplication::processEvents();
    QObject::disconnect(&form.engine(), &SeriesEngine::pictureSaved, &form, nullptr);
    if (!result.errors.empty()) {
        result.missed = int(std::lround(result.lastScheduledMs / interval)) + 1 - int(result.errors.size());
        result.drift = result.errors.back() - result.errors.front();
    }
    form.engine().setLimits(std::nullopt, std::nullopt);
    return result;
}

// Median cost of each part of a step, taken one by one outside a series.
void stepParts(Form1 &form, const QString &extension, const QString &dir)
{
    std::vector<double> snap, compose, save, refresh;
    form.state().FileExtension = extension;
    form.state().SaveDirectory = dir + QLatin1Char('/');
    form.LiveCheck1->setChecked(false); // as during a series
    QElapsedTimer t;
    for (int i = 0; i < 30; ++i) {
        t.start();
        Frame frame;
        form.engine().source().snap(frame);
        snap.push_back(t.nsecsElapsed() / 1e6);
        t.start();
        form.ComposeFileName();
        compose.push_back(t.nsecsElapsed() / 1e6);
        t.start();
        saveImage(frame, form.state().FullFileName);
        save.push_back(t.nsecsElapsed() / 1e6);
        t.start();
        form.CVdisplay1->refresh();
        QCoreApplication::processEvents(); // the redraw happens here
        refresh.push_back(t.nsecsElapsed() / 1e6);
        ++form.state().FrameCounter;
    }
    form.state().FrameCounter = 1;
    std::printf("  step parts (median ms): snap %.2f, compose %.3f, save %.2f, refresh %.2f\n",
                percentile(snap, 0.5), percentile(compose, 0.5), percentile(save, 0.5), percentile(refresh, 0.5));
}

// What the series log adds to a step: one row formatted and written, and the saved file's size.
void logCost(const QString &dir)
{
    SeriesLog log;
    SeriesLogHeader header;
    log.open(dir + QStringLiteral("/cost.csv"), header);
    const QString picture = dir + QStringLiteral("/cost.csv");
    std::vector<double> times;
    QElapsedTimer t;
    for (int i = 0; i < 2000; ++i) {
        t.start();
        SeriesLogRow row;
        row.picture = i + 1;
        row.fileName = picture;
        row.scheduledMs = 50.0 * i;
        row.stopwatchMs = 50.0 * i + 0.3;
        row.channel0 = ChannelSample{true, 2048, 106.0};
        row.channel1 = ChannelSample{true, 2171, 5.30029296875};
        row.result = QStringLiteral("ok");
        row.bytes = QFileInfo(picture).size();
        log.append(row);
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("series log per step: median %.4f ms, p99 %.4f ms\n", percentile(times, 0.5), percentile(times, 0.99));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int pictures = argc > 1 ? std::atoi(argv[1]) : 200;
    const int interval = argc > 2 ? std::atoi(argv[2]) : 50;
    const std::unique_ptr<QTemporaryDir> tmp =
        makeScratchFolder(argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString(), QStringLiteral("bench"));
    if (!tmp)
        return 1;
    const QString driver = writeTestPatternDriver(tmp->filePath(QStringLiteral("camera.vin")), 2048, 2048);
    setMessageSink([](const QString &text) { std::printf("message: %s\n", qPrintable(text)); });

    Form1 form(driver, std::make_unique<SimulatedCard>());
    form.show();
    form.NumberCheck->setChecked(true);
    std::printf("%d pictures of 2048x2048 Mono8 every %d ms\n", pictures, interval);
    std::printf("format | error median | p99 | max | drift | missed | files\n");
    for (const char *ext : {".bmp", ".tif", ".jpg", ".mio"}) {
        const QString dir = tmp->filePath(QString::fromLatin1(ext + 1));
        QDir().mkpath(dir);
        const Series s = runSeries(form, QString::fromLatin1(ext), pictures, interval, dir);
        const auto files = QDir(dir).entryList(QDir::Files).size();
        std::printf("%s | %.2f ms | %.2f ms | %.2f ms | %.2f ms | %d | %lld\n", ext, percentile(s.errors, 0.5),
                    percentile(s.errors, 0.99), percentile(s.errors, 1.0), s.drift, s.missed, (long long)files);
        stepParts(form, QString::fromLatin1(ext), dir);
        QDir(dir).removeRecursively();
    }
    logCost(tmp->path());
    return 0;
}
