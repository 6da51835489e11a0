// V4L2 camera back-end against the stand-in device of the tests, beside the test-pattern
// camera in the same run:  build/bin/bench_v4l2 [seconds] [frame rate]
//
// Both cameras 640x480 (YUYV from the stand-in, Mono8 from the pattern), 30 frames/s unless given:
//  - live: frames delivered to the image control (what the display draws) against the
//    frames the source made; the stand-in counts frames it had no queued buffer for too;
//  - snap latency while not live and while live, median and 99th percentile.

#include "bench_support.h"
#include "cameras/camera.h"
#include "cameras/driver_file.h"
#include "cameras/v4l2/fake_v4l2.h"
#include "recording/picture_source.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int kSnaps = 40;

struct Figures
{
    double delivered = 0;
    double made = 0;
    double single = 0;
    double live = 0;
};

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// `made` counts the frames the source has made so far.
Figures measure(const QString &driver, int seconds, const std::function<double(const Camera &)> &made)
{
    Figures f;
    PictureSource image;
    image.load(driver);
    Camera *camera = image.camera();
    if (!camera) {
        std::printf("  cannot open: %s\n", qPrintable(image.statusText()));
        return f;
    }
    int delivered = 0;
    QObject::connect(&image, &PictureSource::liveFrame, [&delivered] { ++delivered; });
    std::vector<double> single, live;
    for (int i = 0; i < kSnaps; ++i) {
        QElapsedTimer t;
        t.start();
        Frame frame;
        if (!image.snap(frame))
            return f;
        single.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    image.setLive(true);
    wait(500); // let the stream settle
    delivered = 0;
    const double madeBefore = made(*camera);
    wait(seconds * 1000); // a plain event loop, as the window runs
    f.delivered = delivered;
    f.made = made(*camera) - madeBefore;
    for (int i = 0; i < kSnaps; ++i) {
        wait(7 * (i % 6)); // spread the calls over the frame period
        QElapsedTimer t;
        t.start();
        Frame frame;
        if (!image.snap(frame))
            return f;
        live.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    image.setLive(false);
    f.single = median(single);
    f.live = median(live);
    std::printf("  live %d s: made %.0f, delivered to the image %.0f = %.1f%%\n", seconds, f.made, f.delivered,
                f.made > 0 ? 100.0 * f.delivered / f.made : 0.0);
    std::printf("  snap not live: median %.1f ms, p99 %.1f ms, max %.1f ms\n", f.single, percentile(single, 0.99),
                percentile(single, 1.0));
    std::printf("  snap live:     median %.1f ms, p99 %.1f ms, max %.1f ms\n", f.live, percentile(live, 0.99),
                percentile(live, 1.0));
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const int rate = argc > 2 ? std::max(1, atoi(argv[2])) : 30;
    QTemporaryDir dir;

    std::printf("test pattern 640x480 Mono8, %d frames/s\n", rate);
    const QString patternPath = writeTestPatternDriver(dir.filePath(QStringLiteral("pattern.vin")), 640, 480);
    QFile pattern(patternPath);
    if (pattern.open(QIODevice::Append))
        pattern.write(QStringLiteral("frame-rate = %1\n").arg(rate).toUtf8());
    pattern.close();
    // The pattern camera makes exactly the frames it publishes.
    const Figures base = measure(patternPath, seconds, [](const Camera &c) { return double(c.framesPublished()); });

    std::printf("V4L2 stand-in 640x480 YUYV, %d frames/s, four buffers\n", rate);
    FakeV4l2::Node node = fakeNode("/dev/video0", {V4L2_PIX_FMT_YUYV});
    node.sizes = {{640, 480}};
    node.frameRate = rate;
    FakeV4l2 fake({node});
    const QString v4l2Path = dir.filePath(QStringLiteral("v4l2.vin"));
    QFile v4l2(v4l2Path);
    if (v4l2.open(QIODevice::WriteOnly))
        v4l2.write("source = v4l2\ndevice = /dev/video0\n");
    v4l2.close();
    const Figures f = measure(v4l2Path, seconds, [&](const Camera &) { return double(fake.framesMade(node.path)); });

    // The pattern makes a snap's frame at once, while a device first has to expose one: the
    // snap while not live is put against the frame period instead.
    const double period = 1000.0 / rate;
    if (base.live > 0 && base.made > 0 && f.made > 0)
        std::printf("V4L2 / test pattern: snap live %.2f, share delivered %.2f; "
                    "V4L2 snap not live = %.2f frame periods\n",
                    f.live / base.live, (f.delivered / f.made) / (base.delivered / base.made), f.single / period);
    return 0;
}
