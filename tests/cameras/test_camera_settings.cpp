#include "cameras/camera_factory.h"
#include "cameras/camera_settings.h"
#include "cameras/driver_file.h"
#include "cameras/v4l2/v4l2_camera.h"

#include <QDir>
#include <QTest>

namespace {

DriverFile parsed(const QString &text)
{
    DriverFile driver;
    QString error;
    if (!DriverFile::parse(text, driver, error))
        qFatal("test driver file does not parse: %s", qPrintable(error));
    return driver;
}

} // namespace

class TestCameraSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void genicamRefusals_data();
    void genicamRefusals();
    void genicamAccepted();
    void v4l2Refusals_data();
    void v4l2Refusals();
    void v4l2Accepted();
    void factoryRefusals_data();
    void factoryRefusals();
    void controlCharacterRefused();
    void shippedDriverFilesParse_data();
    void shippedDriverFilesParse();
    void autoWithoutDeviceIsTestPattern();
};

void TestCameraSettings::genicamRefusals_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unknown key") << "device = /dev/video0"
                                 << "unknown key \"device\"";
    QTest::newRow("misspelt key") << "exposure = 100"
                                  << "unknown key \"exposure\"";
    QTest::newRow("bad pixel format") << "pixel-format = YUYV"
                                      << "pixel-format must be one of Mono8";
    QTest::newRow("packed mono") << "pixel-format = Mono12Packed"
                                 << "pixel-format must be one of";
    QTest::newRow("zero width") << "width = 0"
                                << "width must be a whole number from 1";
    QTest::newRow("fractional height") << "height = 480.5"
                                       << "height must be a whole number";
    QTest::newRow("negative exposure") << "exposure-us = -5"
                                       << "exposure-us must be a number from 1";
    QTest::newRow("exposure not a number") << "exposure-us = fast"
                                           << "exposure-us must be a number";
    QTest::newRow("gain out of range") << "gain-db = 500"
                                       << "gain-db must be a number from -100 to 100";
    QTest::newRow("zero frame rate") << "frame-rate = 0"
                                     << "frame-rate must be a number from 0.01";
    QTest::newRow("v4l2 control") << "control.gain = 1"
                                  << "unknown key \"control.gain\" for source genicam";
    QTest::newRow("trigger of no kind") << "trigger = Line1"
                                        << "trigger must be software or free-running, not \"Line1\"";
}

void TestCameraSettings::genicamRefusals()
{
    QFETCH(QString, text);
    QFETCH(QString, reason);
    GenicamSettings settings;
    settings.width = 77;
    const Status read = readGenicamSettings(parsed(QStringLiteral("source = genicam\n") + text), settings);
    QVERIFY(!read.ok());
    QVERIFY2(read.reason().contains(reason), qPrintable(read.reason()));
    QCOMPARE(settings.width, 77); // a refused file changes nothing
}

void TestCameraSettings::genicamAccepted()
{
    GenicamSettings settings;
    QVERIFY(readGenicamSettings(parsed(QStringLiteral("source = genicam\n")), settings).ok());
    QVERIFY(settings.camera.isEmpty());
    QVERIFY(settings.pixelFormat.isEmpty());
    QCOMPARE(settings.width, 0);
    QVERIFY(!settings.exposureUs && !settings.gainDb && !settings.frameRate);

    const Status read = readGenicamSettings(
        parsed(QStringLiteral("source = genicam\ncamera = 192.168.7.20\npixel-format = bayerrg8\nwidth = 640\n"
                              "height = 480\nexposure-us = 2500\ngain-db = -3.5\nframe-rate = 12.5\n"
                              "trigger = Software\n")),
        settings);
    QVERIFY2(read.ok(), qPrintable(read.reason()));
    QCOMPARE(settings.camera, QStringLiteral("192.168.7.20"));
    QCOMPARE(settings.pixelFormat, QStringLiteral("BayerRG8")); // the camera's own spelling
    QCOMPARE(settings.width, 640);
    QCOMPARE(settings.height, 480);
    QCOMPARE(*settings.exposureUs, 2500.0);
    QCOMPARE(*settings.gainDb, -3.5);
    QCOMPARE(*settings.frameRate, 12.5);
    QCOMPARE(settings.trigger, QStringLiteral("software"));

    // A camera's own features keep the case of their names and the order written, repeats too:
    // a selector is set before each value it selects.
    QVERIFY(readGenicamSettings(parsed(QStringLiteral("source = genicam\nFeature.GainSelector = AnalogAll\n"
                                                      "feature.Gain = 3\nfeature.GainSelector = DigitalAll\n"
                                                      "feature.Gain = 1\n")),
                                settings)
                .ok());
    QStringList features;
    for (const NamedSetting &f : settings.features)
        features << f.key() + u'=' + f.value;
    QCOMPARE(features, (QStringList{"feature.GainSelector=AnalogAll", "feature.Gain=3", "feature.GainSelector=DigitalAll",
                                    "feature.Gain=1"}));
}

void TestCameraSettings::v4l2Refusals_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");
    QTest::newRow("genicam key") << "camera = 10.0.0.2"
                                 << "unknown key \"camera\"";
    QTest::newRow("gain in dB") << "gain-db = 3"
                                << "unknown key \"gain-db\"";
    QTest::newRow("gain not a number") << "gain = high"
                                       << "gain must be a number, not \"high\"";
    QTest::newRow("white balance in words") << "white-balance = warm"
                                            << "white-balance must be auto or a colour temperature from 1000 to 20000 "
                                               "kelvin, not \"warm\"";
    QTest::newRow("genicam feature") << "feature.Gain = 1"
                                     << "unknown key \"feature.Gain\" for source v4l2";
    QTest::newRow("relative device") << "device = video0"
                                     << "device must be a path";
    QTest::newRow("genicam pixel format") << "pixel-format = Mono8"
                                          << "pixel-format must be one of GREY";
    QTest::newRow("huge width") << "width = 100000"
                                << "width must be a whole number from 1 to 65535";
}

void TestCameraSettings::v4l2Refusals()
{
    QFETCH(QString, text);
    QFETCH(QString, reason);
    V4l2Settings settings;
    const Status read = readV4l2Settings(parsed(QStringLiteral("source = v4l2\n") + text), settings);
    QVERIFY(!read.ok());
    QVERIFY2(read.reason().contains(reason), qPrintable(read.reason()));
}

void TestCameraSettings::v4l2Accepted()
{
    V4l2Settings settings;
    const Status read = readV4l2Settings(
        parsed(QStringLiteral("source = v4l2\ndevice = /dev/video2\npixel-format = mjpeg\nwidth = 1280\nheight = 720\n"
                              "exposure-us = 20000\ngain = 12\nframe-rate = 30\nwhite-balance = AUTO\n"
                              "control.Power Line Frequency = 50 Hz\n")),
        settings);
    QVERIFY2(read.ok(), qPrintable(read.reason()));
    QCOMPARE(settings.device, QStringLiteral("/dev/video2"));
    QCOMPARE(settings.pixelFormat, QStringLiteral("MJPEG"));
    QCOMPARE(settings.width, 1280);
    QCOMPARE(settings.height, 720);
    QCOMPARE(settings.exposureUs, 20000.0);
    QCOMPARE(settings.gain, 12.0);
    QCOMPARE(settings.frameRate, 30.0);
    QVERIFY(settings.whiteBalanceAuto && !settings.whiteBalanceKelvin);
    QCOMPARE(settings.controls.size(), 1);
    QCOMPARE(settings.controls.first().key(), QStringLiteral("control.Power Line Frequency"));
    QCOMPARE(settings.controls.first().value, QStringLiteral("50 Hz"));
}

void TestCameraSettings::factoryRefusals_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unknown source") << "source = firewire"
                                    << "unknown source \"firewire\"";
    QTest::newRow("auto takes no keys") << "source = auto\nwidth = 640"
                                        << "unknown key \"width\"";
    QTest::newRow("auto takes no controls") << "source = auto\ncontrol.brightness = 10"
                                            << "unknown key \"control.brightness\" for source auto";
    QTest::newRow("test pattern takes no features") << "source = test-pattern\nfeature.Width = 64"
                                                    << "unknown key \"feature.Width\" for source test-pattern";
    QTest::newRow("v4l2 missing device") << "source = v4l2\ndevice = /dev/video-nonexistent"
                                         << "cannot open /dev/video-nonexistent";
    QTest::newRow("v4l2 not a video device") << "source = v4l2\ndevice = /dev/null"
                                             << "/dev/null is not a V4L2 device";
    QTest::newRow("v4l2 bad key before device") << "source = v4l2\ncamera = x"
                                                << "unknown key \"camera\"";
    QTest::newRow("genicam bad key") << "source = genicam\ndevice = /dev/video0"
                                     << "unknown key \"device\"";
}

void TestCameraSettings::factoryRefusals()
{
    QFETCH(QString, text);
    QFETCH(QString, reason);
    QString error;
    const std::unique_ptr<Camera> camera = createCamera(parsed(text), error);
    QVERIFY(!camera);
    QVERIFY2(error.contains(reason), qPrintable(error));
}

// A NUL byte in the line that the reason shows would cut every message that shows it.
void TestCameraSettings::controlCharacterRefused()
{
    DriverFile driver;
    QString error;
    QVERIFY(!DriverFile::parse(QString::fromUtf8("source = v4l2\ndevice = /dev/vi\0deo0\n", 36), driver, error));
    QCOMPARE(error, QStringLiteral("line 2: a control character (byte 0) is not text"));
}

void TestCameraSettings::shippedDriverFilesParse_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("source");
    QTest::newRow("camera.vin") << "camera.vin"
                                << "auto";
    QTest::newRow("test-pattern.vin") << "test-pattern.vin"
                                      << "test-pattern";
    QTest::newRow("v4l2.vin") << "v4l2.vin"
                              << "v4l2";
    QTest::newRow("genicam-first.vin") << "genicam-first.vin"
                                       << "genicam";
    QTest::newRow("genicam-emulator.vin") << "genicam-emulator.vin"
                                          << "genicam";
}

void TestCameraSettings::shippedDriverFilesParse()
{
    QFETCH(QString, name);
    QFETCH(QString, source);
    const QString dir = qEnvironmentVariable("PIR_DRIVERS_DIR");
    if (dir.isEmpty())
        QSKIP("PIR_DRIVERS_DIR is not set; run through CTest");
    DriverFile driver;
    QString error;
    QVERIFY2(DriverFile::load(QDir(dir).filePath(name), driver, error), qPrintable(error));
    QCOMPARE(driver.source, source);
    // Every shipped file passes its back-end's key checks (opening needs the device).
    if (source == QLatin1String("v4l2")) {
        V4l2Settings settings;
        QVERIFY(readV4l2Settings(driver, settings).ok());
    } else if (source == QLatin1String("genicam")) {
        GenicamSettings settings;
        QVERIFY(readGenicamSettings(driver, settings).ok());
    }
}

void TestCameraSettings::autoWithoutDeviceIsTestPattern()
{
    if (!V4l2Camera::findFirstDevice().isEmpty())
        QSKIP("a V4L2 camera is connected; auto opens it instead");
    QString error;
    const std::unique_ptr<Camera> camera = createCamera(parsed(QStringLiteral("source = auto")), error);
    QVERIFY2(camera, qPrintable(error));
    QVERIFY2(camera->description().startsWith(QLatin1String("Test pattern")), qPrintable(camera->description()));
}

QTEST_GUILESS_MAIN(TestCameraSettings)
#include "test_camera_settings.moc"
