// `pictures-in-a-row cameras` against stand-in V4L2 devices: what it lists, and the driver file
// it writes opens the camera it names.
#include "app/cameras_command.h"
#include "cameras/v4l2/fake_v4l2.h"
#include "recording/picture_source.h"
#include "test_files.h"

#include <QTemporaryDir>
#include <QtTest>

class TestCamerasCommand : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listsCaptureDevicesInNodeOrder();
    void driverFileOpensTheCamera();
    void refusals_data();
    void refusals();
};

namespace {

// A camera with its metadata node, a second camera at a higher node, and one another program holds.
std::vector<FakeV4l2::Node> machine()
{
    FakeV4l2::Node busy = fakeNode("/dev/video4");
    busy.openError = EBUSY;
    return {fakeNode("/dev/video10", {V4L2_PIX_FMT_GREY}), fakeNode("/dev/video0"),
            fakeNode("/dev/video1", {}, false), busy};
}

} // namespace

void TestCamerasCommand::listsCaptureDevicesInNodeOrder()
{
    const FakeV4l2 devices(machine());
    const CamerasReport report = camerasReport({});
    QCOMPARE(report.exitCode, 0);
    QCOMPARE(report.output, QStringLiteral("1  /dev/video0  Fake UVC Camera (v4l2)\n"
                                           "     YUYV: 64x48, 32x24\n"
                                           "     MJPEG: 64x48, 32x24\n"
                                           "2  /dev/video4 (v4l2, cannot be opened: Device or resource busy)\n"
                                           "3  /dev/video10  Fake UVC Camera (v4l2)\n"
                                           "     GREY: 64x48, 32x24\n"));
    const FakeV4l2 none(std::vector<FakeV4l2::Node>{});
    QVERIFY(camerasReport({}).output.startsWith(QStringLiteral("No V4L2 camera found")));
}

void TestCamerasCommand::driverFileOpensTheCamera()
{
    const FakeV4l2 devices(machine());
    const CamerasReport report = camerasReport({QStringLiteral("--driver-file"), QStringLiteral("3")});
    QCOMPARE(report.exitCode, 0);
    QCOMPARE(report.output, QStringLiteral("# Fake UVC Camera\nsource = v4l2\ndevice = /dev/video10\n"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString driver = writeTextFile(dir.filePath(QStringLiteral("camera3.vin")), report.output);
    PictureSource source;
    source.load(driver);
    QVERIFY2(!source.firstFrame().isNull(), qPrintable(source.statusText()));
    QCOMPARE(source.cameraIdentity().device, QStringLiteral("/dev/video10"));
}

void TestCamerasCommand::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");
    QTest::newRow("beyond the list") << QStringList{"--driver-file", "5"} << "from 1 to 3, not \"5\"";
    QTest::newRow("not a number") << QStringList{"--driver-file", "one"} << "not \"one\"";
    QTest::newRow("unknown option") << QStringList{"--all"} << "Unknown option 'all'";
}

void TestCamerasCommand::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    const FakeV4l2 devices(machine());
    const CamerasReport report = camerasReport(arguments);
    QCOMPARE(report.exitCode, 2);
    QVERIFY(report.output.isEmpty());
    QVERIFY2(report.error.contains(reason), qPrintable(report.error));
}

QTEST_GUILESS_MAIN(TestCamerasCommand)
#include "test_cameras_command.moc"
