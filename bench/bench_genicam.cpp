// GenICam camera back-end against Aravis's GigE Vision emulator. Run it only inside the
// private network namespace:  scripts/netns-run build/bin/bench_genicam [seconds] [frame rate]
//
// For 512x512 and the emulator's largest picture (2048x2048), Mono8 (25 frames/s unless given):
//  - live: frames that reached the image control (what the display draws) against the
//    frames the emulator began to send, and the CPU used by this process and the emulator;
//  - snap latency while live and while not live, median, against plain Aravis in the same
//    run (popping the next buffer of a running stream; arv_camera_acquisition).

#include "bench_support.h"
#include "private_network.h"
#include "cameras/driver_file.h"
#include "cameras/genicam/genicam_camera.h"
#include "recording/picture_source.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <arv.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSnaps = 40;
constexpr guint64 kTimeoutUs = 3000000;

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds used so far by another process, from /proc.
double otherCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0.0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // After the name: state is field 3, utime 14 and stime 15 (counting from 1).
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

QString driverText(int size, double rate)
{
    return QStringLiteral("source = genicam\ncamera = 127.0.0.1\npixel-format = Mono8\nwidth = %1\nheight = %1\n"
                          "frame-rate = %2\n")
        .arg(size)
        .arg(rate);
}

void measureLive(const QString &driverPath, int seconds, qint64 emulatorPid)
{
    PictureSource image;
    image.load(driverPath);
    auto *camera = qobject_cast<GenicamCamera *>(image.camera());
    if (!camera) {
        std::printf("  live: cannot open: %s\n", qPrintable(image.statusText()));
        return;
    }
    int delivered = 0;
    QObject::connect(&image, &PictureSource::liveFrame, [&delivered] { ++delivered; });
    image.setLive(true);
    QTest::qWait(500); // let the stream settle
    delivered = 0;
    const GenicamCamera::StreamCounts before = camera->streamCounts();
    const double cpuBefore = processCpuSeconds();
    const double emulatorBefore = otherCpuSeconds(emulatorPid);
    QElapsedTimer wall;
    wall.start();
    // A plain event loop, as the window runs: QTest::qWait sleeps between its rounds.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = double(wall.elapsed()) / 1000.0;
    const double cpu = processCpuSeconds() - cpuBefore;
    const double emulatorCpu = otherCpuSeconds(emulatorPid) - emulatorBefore;
    const GenicamCamera::StreamCounts after = camera->streamCounts();
    image.setLive(false);
    const double sent = double(after.sent - before.sent);
    const double whole = double(after.completed - before.completed);
    std::printf("  live %.1f s: sent %.0f (%.1f/s), arrived whole %.0f, delivered to the image %d = %.1f%% of sent; "
                "CPU this process %.1f%% of a core, emulator %.1f%%\n",
                elapsed, sent, sent / elapsed, whole, delivered, sent > 0 ? 100.0 * delivered / sent : 0.0,
                100.0 * cpu / elapsed, 100.0 * emulatorCpu / elapsed);
}

void measureSnaps(const DriverFile &driver)
{
    GenicamCamera camera;
    if (Status s = camera.open(driver); !s) {
        std::printf("  snap: cannot open: %s\n", qPrintable(s.reason()));
        return;
    }
    QObject::connect(&camera, &Camera::frameReady, &camera, [&camera] { camera.acknowledgeFrame(); });
    std::vector<double> single, live;
    Frame frame;
    for (int i = 0; i < kSnaps; ++i) {
        QElapsedTimer t;
        t.start();
        if (!camera.snap(frame))
            return;
        single.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    camera.startLive();
    QTest::qWait(300);
    for (int i = 0; i < kSnaps; ++i) {
        QTest::qWait(7 * (i % 6)); // spread the calls over the frame period
        QElapsedTimer t;
        t.start();
        if (!camera.snap(frame))
            return;
        live.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    camera.stopLive();
    std::printf("  snap not live: median %.1f ms, p99 %.1f ms\n", median(single), percentile(single, 0.99));
    std::printf("  snap live:     median %.1f ms, p99 %.1f ms\n", median(live), percentile(live, 0.99));
}

// The same two acquisitions through Aravis alone, without this program's camera layer.
void measureAravisBaseline(int size)
{
    GError *error = nullptr;
    GInetAddress *loopback = g_inet_address_new_from_string("127.0.0.1");
    ArvDevice *device = arv_gv_device_new(loopback, loopback, &error);
    g_object_unref(loopback);
    if (!device) {
        std::printf("  baseline: %s\n", error->message);
        g_clear_error(&error);
        return;
    }
    ArvCamera *camera = arv_camera_new_with_device(device, nullptr);
    g_object_unref(device);
    arv_camera_set_region(camera, 0, 0, size, size, nullptr);
    std::vector<double> single, live;
    for (int i = 0; i < kSnaps; ++i) {
        QElapsedTimer t;
        t.start();
        ArvBuffer *buffer = arv_camera_acquisition(camera, kTimeoutUs, nullptr);
        single.push_back(double(t.nsecsElapsed()) / 1e6);
        g_clear_object(&buffer);
    }
    ArvStream *stream = arv_camera_create_stream(camera, nullptr, nullptr, nullptr);
    const guint payload = arv_camera_get_payload(camera, nullptr);
    for (int i = 0; i < 8; ++i)
        arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
    arv_camera_set_acquisition_mode(camera, ARV_ACQUISITION_MODE_CONTINUOUS, nullptr);
    arv_camera_start_acquisition(camera, nullptr);
    QTest::qWait(300);
    for (int i = 0; i < kSnaps; ++i) {
        QTest::qWait(7 * (i % 6));
        while (ArvBuffer *old = arv_stream_try_pop_buffer(stream))
            arv_stream_push_buffer(stream, old);
        QElapsedTimer t;
        t.start();
        ArvBuffer *buffer = arv_stream_timeout_pop_buffer(stream, kTimeoutUs);
        live.push_back(double(t.nsecsElapsed()) / 1e6);
        if (buffer)
            arv_stream_push_buffer(stream, buffer);
    }
    arv_camera_stop_acquisition(camera, nullptr);
    g_object_unref(stream);
    g_object_unref(camera);
    std::printf("  Aravis alone, arv_camera_acquisition: median %.1f ms, p99 %.1f ms\n", median(single),
                percentile(single, 0.99));
    std::printf("  Aravis alone, next buffer of a running stream: median %.1f ms, p99 %.1f ms\n", median(live),
                percentile(live, 0.99));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (!insidePrivateNetwork()) {
        std::fprintf(stderr, "GenICam discovery broadcasts on every network: run only through scripts/netns-run\n");
        return 77;
    }
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const double rate = argc > 2 ? std::max(0.1, atof(argv[2])) : 25.0;
    const qint64 emulatorPid = qEnvironmentVariableIntValue("PIR_EMULATOR_PID");
    const std::unique_ptr<QTemporaryDir> dir = makeScratchFolder(QString(), QStringLiteral("bench-genicam"));
    if (!dir)
        return 1;
    for (const int size : {512, 2048}) {
        std::printf("%dx%d Mono8, %g frames/s\n", size, size, rate);
        const QString path = dir->filePath(QStringLiteral("bench-%1.vin").arg(size));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(driverText(size, rate).toUtf8());
        file.close();
        DriverFile driver;
        QString error;
        if (!DriverFile::load(path, driver, error))
            return 1;
        measureLive(path, seconds, emulatorPid);
        measureSnaps(driver);
        measureAravisBaseline(size);
        std::fflush(stdout);
    }
    return 0;
}
