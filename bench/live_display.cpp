// Live display: time from process start to the first live frame painted, the share of
// test-pattern frames (1280x1024, 25 fps) that reach the display, and what one paint of the
// display costs.
//
// Run:  QT_QPA_PLATFORM=offscreen build/bin/bench_live_display [runs] [pixel-format]
// Each run is a fresh process (the start-up time includes loading Qt); medians are printed.
// The pixel format is Mono8 (the default), Mono16 or RGB8.

#include "bench_support.h"
#include "cameras/camera.h"
#include "ui/display_control.h"
#include "ui/image_control.h"
#include "ui/form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace {

// Milliseconds since this process was started by the kernel.
double msSinceProcessStart()
{
    std::ifstream stat("/proc/self/stat");
    std::string field;
    for (int i = 0; i < 22 && stat >> field; ++i) {
    }
    const double startTicks = std::stod(field);
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (now.tv_sec + now.tv_nsec / 1e9) * 1000.0 - startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// The baseline: an empty Qt window of the same size, painted for the first time.
class BareWindow : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!m_done) {
            m_done = true;
            std::printf("%.1f 1 1\n", msSinceProcessStart());
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
    }
    bool m_done = false;
};

int child(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("PIR_BENCH_BARE")) {
        BareWindow bare;
        bare.resize(669, 576);
        bare.show();
        return app.exec();
    }
    const std::unique_ptr<QTemporaryDir> scratch = makeScratchFolder(QString(), QStringLiteral("bench-display"));
    if (!scratch)
        return 1;
    const QByteArray format = qgetenv("PIR_BENCH_FORMAT");
    Form1 window(writeTestPatternDriver(scratch->filePath(QStringLiteral("camera.vin")), 1280, 1024,
                                       format.isEmpty() ? "Mono8" : format.constData()));
    double firstFrameMs = -1;
    QObject::connect(window.CVdisplay1, &DisplayControl::framePainted, [&](std::uint64_t sequence) {
        if (firstFrameMs < 0 && sequence > 1) // frame 1 is the one snapped at start-up
            firstFrameMs = msSinceProcessStart();
    });
    window.show();
    const Camera *camera = window.engine().source().camera();
    std::uint64_t published0 = 0, painted0 = 0;
    QTimer::singleShot(2000, [&] {
        published0 = camera->framesPublished();
        painted0 = window.CVdisplay1->framesPainted();
    });
    QTimer::singleShot(12000, [&] {
        const double published = double(camera->framesPublished() - published0);
        const double painted = double(window.CVdisplay1->framesPainted() - painted0);
        // Then the paint alone: the display drawn again at once, 50 times.
        std::vector<double> paints;
        QElapsedTimer t;
        for (int i = 0; i < 50; ++i) {
            t.start();
            window.CVdisplay1->repaint();
            paints.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::printf("%.1f %.4f %.0f %.3f\n", firstFrameMs, painted / published, published, median(paints));
        app.quit();
    });
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("PIR_BENCH_CHILD"))
        return child(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const QString format = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("Mono8");
    std::vector<double> first, share, bare, paint;
    for (int i = 0; i < runs; ++i) {
        QProcess b;
        QProcessEnvironment bareEnv = QProcessEnvironment::systemEnvironment();
        bareEnv.insert(QStringLiteral("PIR_BENCH_CHILD"), QStringLiteral("1"));
        bareEnv.insert(QStringLiteral("PIR_BENCH_BARE"), QStringLiteral("1"));
        b.setProcessEnvironment(bareEnv);
        b.start(QString::fromLocal8Bit(argv[0]), {});
        b.waitForFinished(60000);
        double bareMs = 0;
        if (std::sscanf(b.readAllStandardOutput().constData(), "%lf", &bareMs) == 1)
            bare.push_back(bareMs);

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PIR_BENCH_CHILD"), QStringLiteral("1"));
        env.insert(QStringLiteral("PIR_BENCH_FORMAT"), format);
        p.setProcessEnvironment(env);
        p.start(QString::fromLocal8Bit(argv[0]), {});
        p.waitForFinished(60000);
        double f = 0, s = 0, n = 0, d = 0;
        if (std::sscanf(p.readAllStandardOutput().constData(), "%lf %lf %lf %lf", &f, &s, &n, &d) == 4) {
            std::printf("run %d: first live frame painted %.1f ms after process start; %.0f frames sent in 10 s, "
                        "%.1f%% painted; one paint %.2f ms\n",
                        i + 1, f, n, s * 100, d);
            first.push_back(f);
            share.push_back(s);
            paint.push_back(d);
        }
    }
    std::printf("%s, median of %zu runs: first live frame %.1f ms (an empty Qt window's first paint: %.1f ms, "
                "ratio %.2f), frames painted %.1f%%, one paint %.2f ms\n",
                qPrintable(format), first.size(), median(first), median(bare), median(first) / median(bare),
                median(share) * 100, median(paint));
    return 0;
}
