// The V4L2 back-end against stand-in devices that answer as the kernel's drivers do.

#include "cameras/v4l2/fake_v4l2.h"
#include "cameras/driver_file.h"
#include "cameras/lost_reports.h"
#include "cameras/v4l2/v4l2_camera.h"
#include "base/stopwatch.h"

#include <QtTest>

#include <limits>
#include <mutex>
#include <thread>

enum class Fault { ErrorFlag, ShortFrame, CorruptJpeg, ShortJpeg, DequeueEintr, DequeueEagain, DequeueEio, PollEintr,
                   DriverDrops, Unplug, Stall };
using Nodes = std::vector<FakeV4l2::Node>;
// Control ids and the values they hold; kFrameRate stands for the frame rate S_PARM settled on.
using Controls = QList<QPair<uint, qlonglong>>;
constexpr uint kFrameRate = 0;
Q_DECLARE_METATYPE(Nodes)
Q_DECLARE_METATYPE(Controls)
Q_DECLARE_METATYPE(FakeV4l2::Node)
Q_DECLARE_METATYPE(Fault)

namespace {

std::unique_ptr<V4l2Camera> openCamera(const QString &lines, Status &status)
{
    DriverFile driver;
    QString error;
    if (!DriverFile::parse(QStringLiteral("source = v4l2\ndevice = /dev/video0\n") + lines, driver, error)) {
        status = Status::failure(error);
        return nullptr;
    }
    auto camera = std::make_unique<V4l2Camera>();
    status = camera->open(driver);
    return camera;
}

void inject(FakeV4l2 &fake, Fault fault)
{
    switch (fault) {
    case Fault::ErrorFlag:
        return fake.damageNext(FakeV4l2::Damage::ErrorFlag, 3);
    case Fault::ShortFrame:
    case Fault::ShortJpeg:
        return fake.damageNext(FakeV4l2::Damage::Short, 3);
    case Fault::CorruptJpeg:
        return fake.damageNext(FakeV4l2::Damage::Corrupt, 3);
    case Fault::DequeueEintr:
        return fake.failNextDequeue(EINTR);
    case Fault::DequeueEagain:
        return fake.failNextDequeue(EAGAIN);
    case Fault::DequeueEio:
        return fake.failNextDequeue(EIO);
    case Fault::PollEintr:
        return fake.interruptNextPoll();
    case Fault::DriverDrops:
        return fake.dropNext(5);
    case Fault::Unplug:
        return fake.unplug(QStringLiteral("/dev/video0"));
    case Fault::Stall:
        return fake.setStalled(true);
    }
}

} // namespace

class TestV4l2 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void findFirstDevice_data();
    void findFirstDevice();
    void negotiatesAndSnaps_data();
    void negotiatesAndSnaps();
    void liveThroughFaults_data();
    void liveThroughFaults();
    void refusedOrUnplugged_data();
    void refusedOrUnplugged();
    void unplugEndsASeriesWait();
    void settingsReachTheControls_data();
    void settingsReachTheControls();
    void settingsInForce();
};

void TestV4l2::findFirstDevice_data()
{
    QTest::addColumn<Nodes>("nodes");
    QTest::addColumn<QString>("expected");

    const auto meta = fakeNode("/dev/video1", {}, false);
    QTest::newRow("capture node, then its metadata node") << Nodes{fakeNode("/dev/video0"), meta} << "/dev/video0";
    QTest::newRow("metadata node first") << Nodes{fakeNode("/dev/video0", {}, false), fakeNode("/dev/video1")}
                                         << "/dev/video1";
    QTest::newRow("numeric order") << Nodes{fakeNode("/dev/video10"), fakeNode("/dev/video2")} << "/dev/video2";
    QTest::newRow("no format we read") << Nodes{fakeNode("/dev/video0", {V4L2_PIX_FMT_H264})} << "";
    QTest::newRow("only a metadata node") << Nodes{meta} << "";
    // A camera that another program holds is the one to report, not a reason to pass it by.
    FakeV4l2::Node held = fakeNode("/dev/video0");
    held.openError = EBUSY;
    QTest::newRow("held by another program") << Nodes{held, fakeNode("/dev/video1")} << "/dev/video0";
}

void TestV4l2::findFirstDevice()
{
    QFETCH(Nodes, nodes);
    QFETCH(QString, expected);
    FakeV4l2 fake(nodes);
    QCOMPARE(V4l2Camera::findFirstDevice(), expected);
    QCOMPARE(fake.openHandles(), 0);
    // A driver file without a device opens the one found, or says there is none.
    DriverFile driver;
    QString error;
    QVERIFY(DriverFile::parse(QStringLiteral("source = v4l2\n"), driver, error));
    V4l2Camera camera;
    const Status opened = camera.open(driver);
    const QString said = opened ? camera.description() : opened.reason();
    QVERIFY2(said.contains(expected.isEmpty() ? QStringLiteral("no V4L2 camera found") : expected), qPrintable(said));
}

void TestV4l2::negotiatesAndSnaps_data()
{
    QTest::addColumn<FakeV4l2::Node>("node");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<uint>("fourcc");

    auto padded = [](std::uint32_t fourcc, std::uint32_t alignment) {
        FakeV4l2::Node n = fakeNode("/dev/video0", {fourcc});
        n.sizes = {{50, 30}};
        n.lineAlignment = alignment;
        return n;
    };
    QTest::newRow("YUYV, rows padded") << padded(V4L2_PIX_FMT_YUYV, 64) << "" << "" << QSize(50, 30)
                                       << uint(V4L2_PIX_FMT_YUYV);
    QTest::newRow("GREY, rows padded") << padded(V4L2_PIX_FMT_GREY, 32) << "" << "" << QSize(50, 30)
                                       << uint(V4L2_PIX_FMT_GREY);
    QTest::newRow("Y16, rows padded") << padded(V4L2_PIX_FMT_Y16, 128) << "" << "" << QSize(50, 30)
                                      << uint(V4L2_PIX_FMT_Y16);
    QTest::newRow("RGB24, rows padded") << padded(V4L2_PIX_FMT_RGB24, 64) << "" << "" << QSize(50, 30)
                                        << uint(V4L2_PIX_FMT_RGB24);
    QTest::newRow("MJPEG") << fakeNode("/dev/video0", {V4L2_PIX_FMT_MJPEG}) << "" << "" << QSize(64, 48)
                           << uint(V4L2_PIX_FMT_MJPEG);
    FakeV4l2::Node noTables = fakeNode("/dev/video0", {V4L2_PIX_FMT_MJPEG});
    noTables.omitHuffmanTables = true;
    QTest::newRow("MJPEG without Huffman tables") << noTables << "" << "" << QSize(64, 48) << uint(V4L2_PIX_FMT_MJPEG);
    QTest::newRow("JPEG for MJPEG") << fakeNode("/dev/video0", {V4L2_PIX_FMT_JPEG}) << "pixel-format = MJPEG" << ""
                                    << QSize(64, 48) << uint(V4L2_PIX_FMT_JPEG);
    QTest::newRow("current format unreadable") << fakeNode("/dev/video0", {V4L2_PIX_FMT_H264, V4L2_PIX_FMT_GREY})
                                               << "" << "" << QSize(64, 48) << uint(V4L2_PIX_FMT_GREY);
    QTest::newRow("asked size offered") << fakeNode("/dev/video0") << "width = 32\nheight = 24" << "" << QSize(32, 24)
                                        << uint(V4L2_PIX_FMT_YUYV);
    FakeV4l2::Node two = fakeNode("/dev/video0");
    two.maxBuffers = 2;
    QTest::newRow("two buffers granted") << two << "" << "" << QSize(64, 48) << uint(V4L2_PIX_FMT_YUYV);
    FakeV4l2::Node one = fakeNode("/dev/video0");
    one.maxBuffers = 1;
    QTest::newRow("one buffer granted") << one << "" << "grants 1 buffer(s), streaming needs at least two" << QSize()
                                        << 0u;
    QTest::newRow("asked size adjusted") << fakeNode("/dev/video0") << "width = 40\nheight = 40"
                                         << "does not offer 40x40; the nearest is 32x24" << QSize() << 0u;
    QTest::newRow("asked format adjusted") << fakeNode("/dev/video0") << "pixel-format = GREY"
                                           << "does not offer pixel-format GREY" << QSize() << 0u;
    QTest::newRow("no format we read") << fakeNode("/dev/video0", {V4L2_PIX_FMT_H264}) << ""
                                       << "offers no format this program reads" << QSize() << 0u;
    QTest::newRow("metadata node") << fakeNode("/dev/video0", {}, false) << ""
                                   << "is not a V4L2 device that can stream pictures" << QSize() << 0u;
    QTest::newRow("bad driver file") << fakeNode("/dev/video0") << "width = 0" << "width" << QSize() << 0u;
}

void TestV4l2::negotiatesAndSnaps()
{
    QFETCH(FakeV4l2::Node, node);
    QFETCH(QString, settings);
    QFETCH(QString, error);
    QFETCH(QSize, size);
    QFETCH(uint, fourcc);

    FakeV4l2 fake({node});
    Status status = Status::success();
    std::unique_ptr<V4l2Camera> camera = openCamera(settings, status);
    if (!error.isEmpty()) {
        QVERIFY2(!status && status.reason().contains(error), qPrintable(status.reason()));
    } else {
        QVERIFY2(status, qPrintable(status.reason()));
        QCOMPARE(fake.format(node.path).pixelformat, fourcc);
        // Every snap while not live streams anew; each must give a whole, unsheared picture.
        for (int i = 0; i < 3; ++i) {
            Frame frame;
            QVERIFY2(camera->snap(frame), qPrintable(camera->description()));
            QCOMPARE(QSize(frame.width, frame.height), size);
            if (FakeV4l2::packedLineBytes(fourcc, size.width()) != 0)
                QVERIFY(shownSequence(frame, fourcc) >= 0);
        }
    }
    camera.reset();
    QCOMPARE(fake.openHandles(), 0);
    QCOMPARE(fake.mappings(), 0);
}

void TestV4l2::liveThroughFaults_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<uint>("fourcc");
    QTest::addColumn<QString>("lost"); // the reason of the loss; empty: the stream goes on

    QTest::newRow("error flag") << Fault::ErrorFlag << uint(V4L2_PIX_FMT_YUYV) << "";
    QTest::newRow("short frame") << Fault::ShortFrame << uint(V4L2_PIX_FMT_GREY) << "";
    QTest::newRow("damaged MJPEG") << Fault::CorruptJpeg << uint(V4L2_PIX_FMT_MJPEG) << "";
    QTest::newRow("short MJPEG") << Fault::ShortJpeg << uint(V4L2_PIX_FMT_MJPEG) << "";
    QTest::newRow("EINTR on dequeue") << Fault::DequeueEintr << uint(V4L2_PIX_FMT_YUYV) << "";
    QTest::newRow("EAGAIN on dequeue") << Fault::DequeueEagain << uint(V4L2_PIX_FMT_YUYV) << "";
    // What the kernel's buffer queue answers once the driver flagged an unrecoverable error.
    QTest::newRow("EIO on dequeue") << Fault::DequeueEio << uint(V4L2_PIX_FMT_YUYV)
                                    << "stopped answering: Input/output error";
    QTest::newRow("EINTR on poll") << Fault::PollEintr << uint(V4L2_PIX_FMT_YUYV) << "";
    QTest::newRow("frames dropped by the driver") << Fault::DriverDrops << uint(V4L2_PIX_FMT_YUYV) << "";
    QTest::newRow("unplugged") << Fault::Unplug << uint(V4L2_PIX_FMT_YUYV) << "stopped answering";
    QTest::newRow("stalled") << Fault::Stall << uint(V4L2_PIX_FMT_YUYV) << "no picture from the camera for";
}

void TestV4l2::liveThroughFaults()
{
    QFETCH(Fault, fault);
    QFETCH(uint, fourcc);
    QFETCH(QString, lost);

    FakeV4l2::Node node = fakeNode("/dev/video0", {fourcc});
    node.lineAlignment = 64;
    FakeV4l2 fake({node});
    Status status = Status::success();
    std::unique_ptr<V4l2Camera> camera = openCamera({}, status);
    QVERIFY2(status, qPrintable(status.reason()));
    LostReports reports(camera.get());
    std::mutex mutex;
    std::vector<Frame> frames;
    connect(camera.get(), &Camera::frameReady, this, [&](const Frame &frame) {
        const std::lock_guard lock(mutex);
        frames.push_back(frame);
        camera->acknowledgeFrame();
    }, Qt::DirectConnection);

    QVERIFY(camera->startLive());
    QVERIFY(camera->startLive()); // already live: nothing changes
    QTRY_VERIFY(camera->framesPublished() >= 3);
    Frame snapped;
    QVERIFY(camera->snap(snapped)); // a snap while live takes the next streamed frame
    QVERIFY(snapped.sequence > 0);
    inject(fake, fault);
    const std::uint64_t before = camera->framesPublished();
    if (lost.isEmpty()) {
        QTRY_VERIFY(camera->framesPublished() >= before + 10);
        QVERIFY(camera->isLive());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(reports.count(), 1, 6000);
        QVERIFY2(reports.reasons().first().contains(lost), qPrintable(reports.reasons().first()));
        QVERIFY(!camera->isLive());
        QVERIFY(!camera->startLive());
        QVERIFY(!camera->snap(snapped));
        QTest::qWait(200);
        QCOMPARE(reports.count(), 1); // reported once
    }
    camera->stopLive();
    if (FakeV4l2::packedLineBytes(fourcc, 64) != 0) {
        const std::lock_guard lock(mutex);
        for (const Frame &frame : frames) // nothing damaged was shown
            QVERIFY(shownSequence(frame, fourcc) >= 0);
    }
    camera.reset();
    QCOMPARE(fake.openHandles(), 0);
    QCOMPARE(fake.mappings(), 0);
}

void TestV4l2::refusedOrUnplugged_data()
{
    QTest::addColumn<int>("openError");
    QTest::addColumn<int>("streamOnError");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("lostReports");

    QTest::newRow("busy on open") << EBUSY << 0 << "" << "cannot open /dev/video0: Device or resource busy" << 0;
    // What UVC answers while another program streams: the format and the buffers are its.
    QTest::newRow("held by another program")
        << 0 << 0 << "held" << "cannot set the format of /dev/video0: Device or resource busy" << 0;
    QTest::newRow("busy on stream-on") << 0 << EBUSY << ""
                                       << "cannot start streaming on /dev/video0: Device or resource busy" << 0;
    QTest::newRow("no USB bandwidth") << 0 << ENOSPC << "" << "No space left on device" << 0;
    QTest::newRow("sensor sends nothing") << 0 << 0 << "stall" << "sent no picture within 3000 ms" << 1;
    QTest::newRow("unplugged between snaps") << 0 << 0 << "unplug" << "No such device" << 1;
}

void TestV4l2::refusedOrUnplugged()
{
    QFETCH(int, openError);
    QFETCH(int, streamOnError);
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    QFETCH(int, lostReports);

    FakeV4l2::Node node = fakeNode("/dev/video0");
    node.openError = openError;
    node.streamOnError = streamOnError;
    FakeV4l2 fake({node});
    const int other = fault == QLatin1String("held") ? fake.open("/dev/video0", 0) : -1;
    v4l2_requestbuffers request{2, V4L2_BUF_TYPE_VIDEO_CAPTURE, V4L2_MEMORY_MMAP, 0, 0, {}};
    if (other >= 0)
        QCOMPARE(fake.ioctl(other, VIDIOC_REQBUFS, &request), 0);
    Status status = Status::success();
    std::unique_ptr<V4l2Camera> camera = openCamera({}, status);
    Frame frame;
    if (!status) {
        QVERIFY2(status.reason().contains(reason), qPrintable(status.reason()));
        QVERIFY(!camera->snap(frame) && !camera->startLive());
    } else {
        LostReports reports(camera.get());
        if (fault == QLatin1String("unplug")) {
            QVERIFY(camera->snap(frame));
            fake.unplug(node.path);
        }
        fake.setStalled(fault == QLatin1String("stall"));
        // The same reason every time: a refusal must not leave the buffers in a state that
        // turns the next try into another error.
        for (int i = 0; i < 2; ++i) {
            const Status snapped = camera->snap(frame);
            QVERIFY2(!snapped && snapped.reason().contains(reason), qPrintable(snapped.reason()));
        }
        QVERIFY(!camera->startLive());
        QTRY_COMPARE(reports.count(), qsizetype(lostReports));
    }
    camera.reset();
    if (other >= 0)
        fake.close(other);
    QCOMPARE(fake.openHandles(), 0);
    QCOMPARE(fake.mappings(), 0);
}

// A series waiting for the frame of its tick hears of an unplugged camera at once, not after the
// seconds a silent stream is given.
void TestV4l2::unplugEndsASeriesWait()
{
    FakeV4l2 fake({fakeNode("/dev/video0")});
    Status status = Status::success();
    std::unique_ptr<V4l2Camera> camera = openCamera({}, status);
    QVERIFY2(status, qPrintable(status.reason()));
    QVERIFY(camera->startLive());
    QTRY_VERIFY(camera->framesPublished() >= 2);
    fake.setStalled(true);
    CaptureResult captured;
    Frame frame;
    const auto began = std::chrono::steady_clock::now();
    std::thread series([&] { captured = camera->capture(stopwatchClockNs() + 50'000'000, 100'000'000, frame); });
    QTest::qWait(150);
    fake.unplug(QStringLiteral("/dev/video0"));
    series.join();
    QCOMPARE(captured.outcome, CaptureOutcome::Lost);
    QVERIFY2(captured.reason.contains(QLatin1String("stopped answering")), qPrintable(captured.reason));
    QVERIFY(std::chrono::steady_clock::now() - began < camera->frameWaitLimit());
    camera.reset();
    QCOMPARE(fake.openHandles(), 0);
}

void TestV4l2::settingsReachTheControls_data()
{
    QTest::addColumn<FakeV4l2::Node>("node");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<Controls>("expected");
    QTest::addColumn<QString>("error");

    const FakeV4l2::Node uvc = fakeNode("/dev/video0");
    FakeV4l2::Node autoWhiteOff = uvc;
    for (FakeV4l2Control &c : autoWhiteOff.controls)
        c.value = c.id == V4L2_CID_AUTO_WHITE_BALANCE ? 0 : c.value;
    FakeV4l2::Node olderDriver = uvc;
    olderDriver.inactiveError = EBUSY;
    FakeV4l2::Node bare = uvc;
    bare.controls.clear();
    // A 64-bit control over the whole range: value - minimum overflows a signed integer there.
    constexpr std::uint32_t kWide = V4L2_CID_USER_BASE | 0x1000;
    FakeV4l2::Node wide = uvc;
    wide.controls.push_back({kWide, V4L2_CTRL_TYPE_INTEGER64, "Sensor Clock Offset",
                             std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), 3});
    const QString inactive = QStringLiteral("control.exposure_time_absolute cannot be set while the camera adjusts it "
                                            "automatically: switch its automatic mode off on an earlier line");
    // The keys of their own: each switches its automatic mode off and sets the control in its unit.
    QTest::newRow("exposure-us") << uvc << "exposure-us = 10000"
                                 << Controls{{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL}, {V4L2_CID_EXPOSURE_ABSOLUTE, 100}}
                                 << "";
    QTest::newRow("exposure-us too short") << uvc << "exposure-us = 100" << Controls{}
                                           << "exposure-us must be from 300 to 204700 in steps of 100 for this camera, not 100";
    QTest::newRow("exposure-us between steps") << uvc << "exposure-us = 350" << Controls{} << "not 350";
    QTest::newRow("gain") << uvc << "gain = 40" << Controls{{V4L2_CID_AUTOGAIN, 0}, {V4L2_CID_GAIN, 40}} << "";
    QTest::newRow("gain too high") << uvc << "gain = 300" << Controls{}
                                   << "gain must be from 0 to 255 for this camera, not 300";
    QTest::newRow("white balance fixed") << uvc << "white-balance = 5000"
                                         << Controls{{V4L2_CID_AUTO_WHITE_BALANCE, 0},
                                                     {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 5000}}
                                         << "";
    QTest::newRow("white balance automatic") << autoWhiteOff << "white-balance = auto"
                                             << Controls{{V4L2_CID_AUTO_WHITE_BALANCE, 1}} << "";
    QTest::newRow("white balance too warm") << uvc << "white-balance = 9000" << Controls{}
                                            << "white-balance must be from 2800 to 6500 in steps of 10 for this camera, not 9000";
    QTest::newRow("frame rate") << uvc << "frame-rate = 25" << Controls{{kFrameRate, 25}} << "";
    QTest::newRow("frame rate not offered") << uvc << "frame-rate = 30" << Controls{}
                                            << "frame-rate must be one of 100, 50, 25 for this camera in YUYV 64x48, not 30";
    QTest::newRow("no such controls") << bare << "exposure-us = 10000" << Controls{}
                                      << "the camera does not let exposure-us be set";
    // The general form: names as v4l2-ctl writes them, case and spaces folded, in the order written.
    QTest::newRow("integer") << uvc << "control.brightness = -10" << Controls{{V4L2_CID_BRIGHTNESS, -10}} << "";
    QTest::newRow("menu by name") << uvc << "control.Power Line Frequency = 60 hz"
                                  << Controls{{V4L2_CID_POWER_LINE_FREQUENCY, 2}} << "";
    QTest::newRow("menu by index") << uvc << "control.power_line_frequency = 0"
                                   << Controls{{V4L2_CID_POWER_LINE_FREQUENCY, 0}} << "";
    QTest::newRow("automatic mode first")
        << uvc << "control.auto_exposure = Manual Mode\ncontrol.exposure_time_absolute = 100"
        << Controls{{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL}, {V4L2_CID_EXPOSURE_ABSOLUTE, 100}} << "";
    QTest::newRow("automatic mode still on") << uvc << "control.exposure_time_absolute = 100" << Controls{} << inactive;
    QTest::newRow("automatic mode on, older driver")
        << olderDriver << "control.exposure_time_absolute = 100" << Controls{} << inactive;
    QTest::newRow("64-bit, on a step") << wide << "control.sensor_clock_offset = 1" << Controls{{kWide, 1}} << "";
    QTest::newRow("64-bit, between steps") << wide << "control.sensor_clock_offset = 2" << Controls{} << "in steps of 3";
    QTest::newRow("integer out of range") << uvc << "control.brightness = 100" << Controls{}
                                          << "control.brightness must be from -64 to 64 for this camera, not 100";
    QTest::newRow("menu index left out") << uvc << "control.auto_exposure = 2" << Controls{}
                                         << "control.auto_exposure must be one of Manual Mode, Aperture Priority Mode "
                                            "for this camera, not \"2\"";
    QTest::newRow("not a boolean") << uvc << "control.white_balance_automatic = maybe" << Controls{}
                                   << "control.white_balance_automatic must be true or false, not \"maybe\"";
    QTest::newRow("unknown") << uvc << "control.zoom_absolute = 1" << Controls{}
                             << "control.zoom_absolute: the camera has no control \"zoom_absolute\"";
    QTest::newRow("disabled") << uvc << "control.focus_automatic_continuous = 1" << Controls{}
                              << "the camera has no control";
    QTest::newRow("button") << uvc << "control.pan_reset = 1" << Controls{}
                            << "control.pan_reset is an action, not a setting";
}

void TestV4l2::settingsReachTheControls()
{
    QFETCH(FakeV4l2::Node, node);
    QFETCH(QString, lines);
    QFETCH(Controls, expected);
    QFETCH(QString, error);
    FakeV4l2 fake({node});
    Status status = Status::success();
    std::unique_ptr<V4l2Camera> camera = openCamera(lines, status);
    if (!error.isEmpty()) {
        QVERIFY2(!status && status.reason().contains(error), qPrintable(status.reason()));
        return;
    }
    QVERIFY2(status, qPrintable(status.reason()));
    for (const auto &[id, value] : expected)
        QCOMPARE(id == kFrameRate ? fake.frameRate(node.path) : fake.control(node.path, id), value);
    Frame frame;
    QVERIFY(camera->snap(frame)); // the camera still streams as set up
}

// What the series log records at Start: the controls' values, and whether an automatic mode sets them.
void TestV4l2::settingsInForce()
{
    FakeV4l2 fake({fakeNode("/dev/video0", {V4L2_PIX_FMT_Y16})});
    Status status = Status::success();
    const CameraSettingsInForce automatic = openCamera({}, status)->settingsInForce();
    QVERIFY2(status, qPrintable(status.reason()));
    QCOMPARE(automatic.exposureUs, 25000.0);
    QVERIFY(automatic.exposureAuto && automatic.gainAuto);
    QCOMPARE(automatic.pixelFormat, QStringLiteral("Y16"));
    QCOMPARE(automatic.significantBits, 16);

    const CameraSettingsInForce fixed =
        openCamera(QStringLiteral("exposure-us = 10000\ngain = 40\nframe-rate = 50"), status)->settingsInForce();
    QVERIFY2(status, qPrintable(status.reason()));
    QCOMPARE(fixed.exposureUs, 10000.0);
    QCOMPARE(fixed.gain, 40.0);
    QCOMPARE(fixed.gainUnit, QStringLiteral("raw"));
    QVERIFY(!fixed.exposureAuto && !fixed.gainAuto);
    QCOMPARE(fixed.frameRate, 50.0);
    QCOMPARE(fixed.trigger, QStringLiteral("free-running"));

    // A driver that does not flag its time per frame as set has no frame rate to tell.
    FakeV4l2::Node untimed = fakeNode("/dev/video0");
    untimed.timePerFrame = false;
    FakeV4l2 other({untimed});
    const std::unique_ptr<V4l2Camera> camera = openCamera({}, status);
    QVERIFY2(status, qPrintable(status.reason()));
    Frame frame;
    QVERIFY(camera->snap(frame));
    QCOMPARE(camera->framePeriod().count(), 0);
    QVERIFY(!camera->settingsInForce().frameRate);
}

QTEST_GUILESS_MAIN(TestV4l2)
#include "test_v4l2.moc"
