// A series from a streaming camera: what a capture step costs and how late it comes when the
// camera keeps streaming through the series, against an acquisition of its own per step (the
// live picture off, as a series once ran), with the test pattern as the baseline, in one run.
//
// Inside the private network, the emulator free-running at 25 frames/s is then set beside the
// emulator on a software trigger: the spacing of successive frame_ms and |frame_ms - scheduled_ms|.
//
// Run:  scripts/netns-run build/bin/bench_series_stream DIR [pictures] [interval-ms]
// DIR must exist; the pictures go to a fresh folder inside it that is removed afterwards.
// Defaults: 200 pictures at 50 ms, 2048x2048 and 512x512 Mono8 at 25 frames per second, .mio.
// Outside the private network the GenICam emulator is left out.

#include "bench_support.h"
#include "private_network.h"
#include "analog/simulated_card.h"
#include "recording/series_setup.h"
#include "base/stopwatch.h"
#include "recording/series_engine.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

namespace {

struct Figures
{
    std::vector<double> stepMs, latenessMs, ageMs;
    std::vector<double> frameMs, fromTickMs; // frame_ms, and its distance from the picture's tick
    int missed = -1;
    QString failure;
};

int ticksMissed(const QString &logPath)
{
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("# end: .* (\\d+) ticks? missed")).match(QString::fromUtf8(log.readAll()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

Figures runSeries(const QString &driver, bool stream, int pictures, int interval, const QString &dir)
{
    Figures f;
    SeriesEngine engine;
    SeriesSetup setup(engine);
    setup.open(driver, std::make_unique<SimulatedCard>());
    if (!setup.hasPicture()) {
        f.failure = engine.source().statusText();
        return f;
    }
    engine.setOptions(NameOptions{true, false, false, false});
    engine.setStreamDuringSeries(stream);
    engine.timer().setInterval(interval);
    CaptureState &s = engine.state();
    s.SaveDirectory = dir + QLatin1Char('/');
    s.BaseName = QStringLiteral("%1_%2").arg(QFileInfo(driver).baseName(), stream ? "stream" : "single");
    s.FileExtension = QStringLiteral(".mio");
    engine.setLimits(pictures, std::nullopt);
    // As the window has it before Start: live on, then a series switches it off.
    PictureSource &image = engine.source();
    image.setLive(true);
    QEventLoop loop;
    QObject::connect(&engine, &SeriesEngine::started, &image, [&image] { image.setLive(false); });
    QObject::connect(&engine, &SeriesEngine::pictureSaved, &loop, [&](const StepReport &r) {
        f.stepMs.push_back(r.durationMs);
        f.latenessMs.push_back(r.stopwatchMs - r.scheduledMs);
        if (r.frameAgeMs)
            f.ageMs.push_back(*r.frameAgeMs);
        if (r.frameMs) {
            f.frameMs.push_back(*r.frameMs);
            f.fromTickMs.push_back(std::abs(*r.frameMs - r.scheduledMs));
        }
    });
    QObject::connect(&engine, &SeriesEngine::stopped, &loop, [&](SeriesEvent, const QString &message) {
        f.failure = message;
        loop.quit();
    });
    engine.start();
    if (engine.isRecording())
        loop.exec();
    engine.waitForSync(60000);
    f.missed = ticksMissed(engine.logPath());
    return f;
}

void print(const char *camera, const char *mode, const Figures &f)
{
    if (!f.failure.isEmpty()) {
        std::printf("%-22s | %-6s | failed: %s\n", camera, mode, qPrintable(f.failure.simplified()));
        return;
    }
    std::printf("%-22s | %-6s | %6.2f | %6.2f | %7.2f | %7.2f | %7.2f | %3d | %6.2f | %6.2f\n", camera, mode,
                median(f.stepMs), percentile(f.stepMs, 0.99), median(f.latenessMs), percentile(f.latenessMs, 0.99),
                percentile(f.latenessMs, 1.0), f.missed, median(f.ageMs), percentile(f.ageMs, 1.0));
}

void printFrameTimes(const char *trigger, const Figures &f)
{
    if (!f.failure.isEmpty() || f.frameMs.size() < 2) {
        std::printf("%-12s | failed: %s\n", trigger, qPrintable(f.failure.simplified()));
        return;
    }
    std::vector<double> spacing;
    for (std::size_t i = 1; i < f.frameMs.size(); ++i)
        spacing.push_back(f.frameMs[i] - f.frameMs[i - 1]);
    std::printf("%-12s | %6.2f | %6.2f | %6.2f | %6.2f | %6.2f | %6.2f | %3d\n", trigger, median(spacing),
                percentile(spacing, 0.99), percentile(spacing, 1.0), median(f.fromTickMs),
                percentile(f.fromTickMs, 0.99), percentile(f.fromTickMs, 1.0), f.missed);
}

QString writeDriver(const QString &path, const QString &text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text.toUtf8());
    return path;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: %s DIR [pictures] [interval-ms]\n", argv[0]);
        return 2;
    }
    const std::unique_ptr<QTemporaryDir> scratch = makeScratchFolder(args[1], QStringLiteral("bench-stream"));
    if (!scratch)
        return 1;
    const QTemporaryDir &tmp = *scratch;
    const int pictures = args.size() > 2 ? args[2].toInt() : 200;
    const int interval = args.size() > 3 ? args[3].toInt() : 50;
    std::printf("%d pictures every %d ms, .mio; stream: the camera streams through the series; single: an "
                "acquisition per step\n",
                pictures, interval);
    std::printf("camera                 | mode   | step ms median | p99 | late median | p99 | max | missed | "
                "frame age median | max\n");
    for (const int side : {2048, 512}) {
        struct Camera
        {
            QString label;
            QString driver;
        };
        std::vector<Camera> cameras;
        cameras.push_back(
            {QStringLiteral("test pattern %1").arg(side),
             writeDriver(tmp.filePath(QStringLiteral("pattern%1.vin").arg(side)),
                         QStringLiteral("source = test-pattern\nwidth = %1\nheight = %1\nframe-rate = 25\n").arg(side))});
        if (insidePrivateNetwork())
            cameras.push_back({QStringLiteral("GenICam emulator %1").arg(side),
                               writeDriver(tmp.filePath(QStringLiteral("gige%1.vin").arg(side)),
                                           QStringLiteral("source = genicam\ncamera = 127.0.0.1\nwidth = %1\nheight = "
                                                          "%1\npixel-format = Mono8\nframe-rate = 25\n")
                                               .arg(side))});
        for (const Camera &camera : cameras) {
            for (const bool stream : {false, true}) {
                print(qPrintable(camera.label), stream ? "stream" : "single",
                      runSeries(camera.driver, stream, pictures, interval, freshSubfolder(tmp, QStringLiteral("pictures"))));
            }
        }
    }
    if (!insidePrivateNetwork())
        return 0;
    std::printf("\nGenICam emulator 512x512 Mono8, %d pictures every %d ms, streaming through the series\n"
                "trigger      | frame_ms spacing median | p99 | max | |frame_ms - scheduled_ms| median | p99 | max | "
                "missed\n",
                pictures, interval);
    for (const char *trigger : {"free-running", "software"}) {
        const QString driver = writeDriver(
            tmp.filePath(QStringLiteral("%1.vin").arg(QLatin1String(trigger))),
            QStringLiteral("source = genicam\ncamera = 127.0.0.1\nwidth = 512\nheight = 512\npixel-format = Mono8\n"
                           "frame-rate = 25\ntrigger = %1\n")
                .arg(QLatin1String(trigger)));
        printFrameTimes(trigger, runSeries(driver, true, pictures, interval, freshSubfolder(tmp, QStringLiteral("pictures"))));
    }
    return 0;
}
