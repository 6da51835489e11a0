// A long series through the real window, as a lab leaves it running: does memory stay flat,
// does the series keep its schedule, and is every picture on the disk and readable.
//
// Run:  QT_QPA_PLATFORM=offscreen build/bin/bench_soak [pictures] [interval-ms] [out-dir]
//           [width] [height] [pixel-format] [type]
// Defaults: 20000 pictures at 50 ms (about 17 minutes) of a 640x480 Mono8 test pattern, .bmp.
// Five minutes of 12-megapixel 16-bit pictures:  bench_soak 6000 50 DIR 4096 3000 Mono16 .mio
// The pictures (about 6 GB at the defaults) are removed as the series goes on, once counted: a
// long series of big pictures would fill the disk otherwise.

#include "bench_support.h"
#include "analog/simulated_card.h"
#include "picture_files/image_files.h"
#include "ui/form1.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// Resident memory of this process in KiB, as the kernel counts it.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

struct Soak
{
    std::vector<double> times; // stopwatch reading of each picture, ms since Start
    long rssStart = 0;         // after the first picture
    long rssWarm = 0;          // after the first minute
    int checked = 0;           // pictures found whole on the disk, of the right size
    QStringList unreadable;
    long rssEnd = 0;
    QStringList messages;
};

void runSoak(Form1 &form, Soak &soak, int pictures, int interval, const QString &dir, const QString &type, int width,
             int height)
{
    form.state().FileExtension = type;
    form.state().SaveDirectory = dir + QLatin1Char('/');
    form.SaveText->setText(QStringLiteral("soak"));
    form.Timer1->setInterval(interval);
    form.engine().setLimits(pictures, std::nullopt);
    auto record = [&, width, height](const StepReport &report) {
        soak.times.push_back(report.stopwatchMs);
        const int taken = int(soak.times.size());
        if (soak.rssWarm == 0 && report.stopwatchMs >= 60000)
            soak.rssWarm = residentKiB();
        // Each picture is read back and removed once saved.
        Frame frame;
        if (loadImage(report.fileName, frame).ok() && frame.width == width && frame.height == height)
            ++soak.checked;
        else
            soak.unreadable << report.fileName;
        QFile::remove(report.fileName);
        if (taken % 2000 == 0)
            std::printf("  %d pictures, %ld KiB resident\n", taken, residentKiB()), std::fflush(stdout);
    };
    QObject::connect(&form.engine(), &SeriesEngine::pictureSaved, &form, record);
    form.StartStop->click();
    soak.rssStart = residentKiB();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (form.state().Recording == RecordingState::Idle)
            loop.quit();
    });
    poll.start(100);
    loop.exec();
    form.engine().waitForSync(60000);
    QCoreApplication::processEvents(); // the last pictures' reports
    soak.rssEnd = residentKiB();
}

// Ticks that came too late and were dropped show as gaps of two or more intervals between
// the stopwatch times of neighbouring pictures.
int missedTicks(const std::vector<double> &times, int interval)
{
    int missed = 0;
    for (std::size_t i = 1; i < times.size(); ++i)
        missed += std::max(0, int(std::lround((times[i] - times[i - 1]) / interval)) - 1);
    return missed;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int pictures = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int interval = argc > 2 ? std::atoi(argv[2]) : 50;
    const std::unique_ptr<QTemporaryDir> tmp =
        makeScratchFolder(argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString(), QStringLiteral("soak"));
    if (!tmp)
        return 1;
    const int width = argc > 4 ? std::atoi(argv[4]) : 640;
    const int height = argc > 5 ? std::atoi(argv[5]) : 480;
    const char *format = argc > 6 ? argv[6] : "Mono8";
    const QString type = argc > 7 ? QString::fromLocal8Bit(argv[7]) : QStringLiteral(".bmp");
    const QString driver = writeTestPatternDriver(tmp->filePath(QStringLiteral("camera.vin")), width, height, format);
    Soak soak;
    setMessageSink([&](const QString &text) { soak.messages << text; });

    Form1 form(driver, std::make_unique<SimulatedCard>());
    form.show();
    form.NumberCheck->setChecked(true);
    const QString dir = tmp->filePath(QStringLiteral("pictures"));
    QDir().mkpath(dir);
    std::printf("%d pictures of %dx%d %s %s every %d ms into %s\n", pictures, width, height, format, qPrintable(type),
                interval, qPrintable(dir));
    std::fflush(stdout);
    QElapsedTimer wall;
    wall.start();
    runSoak(form, soak, pictures, interval, dir, type, width, height);
    const double seconds = wall.elapsed() / 1000.0;

    std::vector<double> steps;
    for (std::size_t i = 1; i < soak.times.size(); ++i)
        steps.push_back(soak.times[i] - soak.times[i - 1]);
    for (const QString &name : soak.unreadable)
        std::printf("  unreadable: %s\n", qPrintable(name));
    std::printf("wall time %.1f s, last picture at %.0f ms\n", seconds, soak.times.empty() ? 0.0 : soak.times.back());
    std::printf("resident memory: start %ld KiB, after the first minute %ld KiB, end %ld KiB (end / first minute "
                "%.3f)\n",
                soak.rssStart, soak.rssWarm, soak.rssEnd, soak.rssWarm > 0 ? double(soak.rssEnd) / soak.rssWarm : 0.0);
    std::printf("interval between pictures: median %.2f ms, p99 %.2f ms, max %.2f ms\n", percentile(steps, 0.5),
                percentile(steps, 0.99), percentile(steps, 1.0));
    std::printf("ticks missed (from the stopwatch): %d\n", missedTicks(soak.times, interval));
    std::printf("pictures: %zu saved, %d expected, %d read back whole\n", soak.times.size(), pictures, soak.checked);
    for (const QString &m : soak.messages)
        std::printf("message: %s\n", qPrintable(m));
    return 0;
}
