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
    void settingsOpenTheCamera();
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

// Every setting at its current value, in a driver file that opens the camera as it is: what an
// automatic mode sets, and what cannot be set, stays a comment.
void TestCamerasCommand::settingsOpenTheCamera()
{
    const FakeV4l2 devices(machine());
    const CamerasReport report = camerasReport({QStringLiteral("--settings"), QStringLiteral("1")});
    QCOMPARE(report.exitCode, 0);
    QCOMPARE(report.output,
             QStringLiteral("# Fake UVC Camera\nsource = v4l2\ndevice = /dev/video0\n\n"
                            "# Every setting of this camera at its current value: keep the lines to fix and delete\n"
                            "# the others (a line starting with # is not read).\n"
                            "# frame-rate: frames per second in YUYV 64x48, one of 100, 50, 25\nframe-rate = 100\n"
                            "\n# User Controls\n"
                            "# Brightness: whole number from -64 to 64\ncontrol.brightness = 0\n"
                            "# White Balance, Automatic: true or false\ncontrol.white_balance_automatic = true\n"
                            "# Gain, Automatic: true or false\ncontrol.gain_automatic = true\n"
                            "# Gain: whole number from 0 to 255; inactive while an automatic mode sets it\n"
                            "# control.gain = 32\n"
                            "# Power Line Frequency: one of Disabled, 50 Hz, 60 Hz\ncontrol.power_line_frequency = 50 Hz\n"
                            "# White Balance Temperature: whole number from 2800 to 6500 in steps of 10; inactive "
                            "while an automatic mode sets it\n# control.white_balance_temperature = 4600\n"
                            "\n# Camera Controls\n"
                            "# Auto Exposure: one of Manual Mode, Aperture Priority Mode\n"
                            "control.auto_exposure = Aperture Priority Mode\n"
                            "# Exposure Time, Absolute: whole number from 3 to 2047, in units of 100 us (exposure-us "
                            "sets it in us); inactive while an automatic mode sets it\n"
                            "# control.exposure_time_absolute = 250\n"
                            "\n# Any source\n"
                            "# pixel-size-um: the size of one pixel in the sample plane, after the optics, in "
                            "micrometres;\n# without it the pictures claim no pixel size\n# pixel-size-um = 6.5\n"
                            "# channel-name: what the pictures' OME-XML calls their channel; the camera's model "
                            "without it\n# channel-name = GFP\n"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    PictureSource source;
    // The keys of any source are taken by this one too.
    source.load(writeTextFile(dir.filePath(QStringLiteral("settings.vin")),
                              report.output + QStringLiteral("pixel-size-um = 6.5\n")));
    QVERIFY2(!source.firstFrame().isNull(), qPrintable(source.statusText()));
    QCOMPARE(source.camera()->commonSettings().pixelSizeUm, 6.5);

    const CamerasReport busy = camerasReport({QStringLiteral("--settings"), QStringLiteral("2")});
    QCOMPARE(busy.exitCode, 1);
    QCOMPARE(busy.error, QStringLiteral("Cannot ask the camera: cannot open /dev/video4: Device or resource busy\n"));
}

void TestCamerasCommand::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");
    QTest::newRow("beyond the list") << QStringList{"--driver-file", "5"} << "from 1 to 3, not \"5\"";
    QTest::newRow("not a number") << QStringList{"--driver-file", "one"} << "not \"one\"";
    QTest::newRow("unknown option") << QStringList{"--all"} << "Unknown option 'all'";
    QTest::newRow("settings beyond the list") << QStringList{"--settings", "4"} << "--settings takes the number of a "
                                                                                    "camera listed, from 1 to 3, not \"4\"";
    QTest::newRow("two driver files") << QStringList{"--settings", "1", "--driver-file", "1"}
                                      << "give one of them";
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
