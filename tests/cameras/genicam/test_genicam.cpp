// Runs against Aravis's GigE Vision camera emulator, only inside the private network
// namespace that scripts/netns-run sets up (CTest starts it that way).

#include "private_network.h"
#include "app/cameras_command.h"
#include "cameras/driver_file.h"
#include "cameras/genicam/genicam_camera.h"
#include "cameras/lost_reports.h"
#include "recording/series_engine.h"
#include "ui/image_control.h"
#include "picture_files/image_files.h"
#include "test_files.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <arv.h>

#include <atomic>
#include <csignal>
#include <memory>

namespace {

constexpr int kTimeoutMs = 3000;

// True when this process sees no network interface but loopback.
DriverFile emulatorDriver(const QString &extra = {})
{
    DriverFile driver;
    QString error;
    if (!DriverFile::parse(QStringLiteral("source = genicam\ncamera = 127.0.0.1\n") + extra, driver, error))
        qFatal("test driver file does not parse: %s", qPrintable(error));
    // The emulator keeps its settings from one opening to the next, as cameras do.
    if (!driver.values.contains(QStringLiteral("pixel-format")))
        driver.values.insert(QStringLiteral("pixel-format"), QStringLiteral("Mono8"));
    return driver;
}

std::unique_ptr<GenicamCamera> openEmulator(const QString &extra, Status &opened)
{
    auto camera = std::make_unique<GenicamCamera>();
    opened = camera->open(emulatorDriver(extra));
    return camera;
}

} // namespace

class TestGenicam : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void openRefusesWhatTheCameraCannotDo_data();
    void openRefusesWhatTheCameraCannotDo();
    void pixelFormats_data();
    void pixelFormats();
    void snapWhileNotLive();
    void liveFramesRefreshTheImage();
    void snapWhileLive();
    void largestPicture();
    void picturesInARowAreNewAndDecodable();
    void listedCameraOpensFromItsDriverFile();
    void featuresSetAndRefused_data();
    void featuresSetAndRefused();
    void settingsListOpensTheCamera();
    void settingsInForce();
    // These stop the emulator: they run last, and all but the last start a new one after.
    void emulatorDescribedOtherwise_data();
    void emulatorDescribedOtherwise();
    void emulatorKilledBetweenSnaps();
    void emulatorKilledMidStream();
    void cleanupTestCase();

private:
    QString writeDriver(const QString &name, const QString &text);
    // What the tests of settings change, back to the emulator's own values.
    void resetEmulator();
    void killEmulator();
    bool startOwnEmulator(const QStringList &extra = {});

    QTemporaryDir m_dir;
    QProcess m_ownEmulator;
};

void TestGenicam::initTestCase()
{
    if (!insidePrivateNetwork())
        QSKIP("GenICam discovery broadcasts on every network: run only through scripts/netns-run");
    QVERIFY(qEnvironmentVariableIntValue("PIR_EMULATOR_PID") > 0);
    QVERIFY(m_dir.isValid());
}

QString TestGenicam::writeDriver(const QString &name, const QString &text)
{
    return writeTextFile(m_dir.filePath(name), text);
}

void TestGenicam::openRefusesWhatTheCameraCannotDo_data()
{
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QString>("reason");
    // The emulator's sensor is 2048x2048 and exposes 10 us to 10 s; it has no Mono12.
    QTest::newRow("too wide") << "width = 4096\n"
                              << "width must be from 1 to 2048";
    QTest::newRow("exposure too long") << "exposure-us = 20000000\n"
                                       << "exposure-us must be from 10 to";
    QTest::newRow("pixel format not offered") << "pixel-format = Mono12\n"
                                              << "does not offer pixel-format Mono12";
    QTest::newRow("no camera there") << ""
                                     << "";
}

void TestGenicam::openRefusesWhatTheCameraCannotDo()
{
    QFETCH(QString, extra);
    QFETCH(QString, reason);
    GenicamCamera camera;
    DriverFile driver = emulatorDriver(extra);
    if (reason.isEmpty()) {
        // Nothing answers at this loopback address; the open must fail, not hang.
        driver.values.insert(QStringLiteral("camera"), QStringLiteral("127.0.0.2"));
        reason = QStringLiteral("cannot open 127.0.0.2");
    }
    const Status opened = camera.open(driver);
    QVERIFY(!opened.ok());
    QVERIFY2(opened.reason().contains(reason), qPrintable(opened.reason()));
}

void TestGenicam::pixelFormats_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("bits");
    QTest::newRow("Mono8") << "Mono8" << int(PixelFormat::Mono8) << 8;
    QTest::newRow("Mono16") << "Mono16" << int(PixelFormat::Mono16) << 16;
    QTest::newRow("RGB8") << "RGB8" << int(PixelFormat::RGB8) << 8;
    QTest::newRow("BayerRG8") << "BayerRG8" << int(PixelFormat::RGB8) << 8;
    QTest::newRow("BayerBG8") << "BayerBG8" << int(PixelFormat::RGB8) << 8;
}

void TestGenicam::pixelFormats()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    QFETCH(int, bits);
    Status opened = Status::success();
    auto camera = openEmulator(QStringLiteral("pixel-format = %1\nwidth = 320\nheight = 240\n").arg(name), opened);
    QVERIFY2(opened.ok(), qPrintable(opened.reason()));
    QVERIFY(camera->description().contains(QLatin1String("320x240")));
    Frame frame;
    const Status snapped = camera->snap(frame);
    QVERIFY2(snapped.ok(), qPrintable(snapped.reason()));
    QCOMPARE(int(frame.format), format);
    QCOMPARE(frame.significantBits, bits);
    QCOMPARE(frame.width, 320);
    QCOMPARE(frame.height, 240);
    QCOMPARE(frame.data.size(), qsizetype(frame.stride) * 240);
}

void TestGenicam::snapWhileNotLive()
{
    Status opened = Status::success();
    auto camera = openEmulator(QStringLiteral("width = 512\nheight = 512\n"), opened);
    QVERIFY2(opened.ok(), qPrintable(opened.reason()));
    // Frames are offered on the stream thread.
    std::atomic<int> signalled{0};
    connect(camera.get(), &Camera::frameReady, this, [&signalled] { ++signalled; }, Qt::DirectConnection);
    std::uint64_t previous = 0;
    for (int i = 0; i < 3; ++i) {
        Frame frame;
        const Status snapped = camera->snap(frame);
        QVERIFY2(snapped.ok(), qPrintable(snapped.reason()));
        QCOMPARE(frame.width, 512);
        QCOMPARE(frame.format, PixelFormat::Mono8);
        QVERIFY(frame.sequence > previous);
        previous = frame.sequence;
        QVERIFY(!camera->isLive());
    }
    // A single acquisition is not a live frame: nothing is offered to the display.
    QCOMPARE(signalled.load(), 0);
}

void TestGenicam::liveFramesRefreshTheImage()
{
    const QString path = writeDriver(
        QStringLiteral("live.vin"),
        QStringLiteral("source = genicam\ncamera = 127.0.0.1\npixel-format = Mono8\nwidth = 512\nheight = 512\n"));
    SeriesEngine engine;
    ImageControl image(engine);
    image.setFileName(path);
    QVERIFY2(image.imageHandle() != 0, qPrintable(image.statusText()));
    QVERIFY(image.canAcquireLive());
    QCOMPARE(image.imageWidth(), 512);

    QSignalSpy updated(&image, &ImageControl::imageUpdated);
    image.setLive(true);
    QVERIFY(image.isLive());
    // The emulator sends 25 frames a second.
    QTRY_VERIFY_WITH_TIMEOUT(updated.count() >= 10, 5000);
    const std::uint64_t seen = image.currentFrame().sequence;
    QTRY_VERIFY_WITH_TIMEOUT(image.currentFrame().sequence > seen, kTimeoutMs);
    image.setLive(false);
    QVERIFY(!image.isLive());
}

void TestGenicam::snapWhileLive()
{
    Status opened = Status::success();
    auto camera = openEmulator(QStringLiteral("width = 512\nheight = 512\n"), opened);
    QVERIFY2(opened.ok(), qPrintable(opened.reason()));
    Camera *live = camera.get();
    connect(live, &Camera::frameReady, live, [live] { live->acknowledgeFrame(); });
    QVERIFY(camera->startLive().ok());
    std::uint64_t previous = 0;
    for (int i = 0; i < 5; ++i) {
        Frame frame;
        const Status snapped = camera->snap(frame);
        QVERIFY2(snapped.ok(), qPrintable(snapped.reason()));
        QVERIFY2(frame.sequence > previous, "each snap returns a new frame");
        previous = frame.sequence;
    }
    QVERIFY(camera->isLive());
    camera->stopLive();
    QVERIFY(!camera->isLive());
    // The camera still takes single pictures after live ends.
    Frame frame;
    QVERIFY(camera->snap(frame).ok());
    QVERIFY(frame.sequence > previous);
}

void TestGenicam::largestPicture()
{
    Status opened = Status::success();
    auto camera = openEmulator(QStringLiteral("width = 2048\nheight = 2048\n"), opened);
    QVERIFY2(opened.ok(), qPrintable(opened.reason()));
    Frame frame;
    const Status snapped = camera->snap(frame);
    QVERIFY2(snapped.ok(), qPrintable(snapped.reason()));
    QCOMPARE(frame.width, 2048);
    QCOMPARE(frame.height, 2048);
}

void TestGenicam::picturesInARowAreNewAndDecodable()
{
    // Single acquisitions in a row, live off, one snap and save every 100 ms.
    const QString path = writeDriver(QStringLiteral("series.vin"),
                                     QStringLiteral("source = genicam\ncamera = 127.0.0.1\npixel-format = Mono8\n"
                                                    "width = 512\nheight = 512\n"));
    PictureSource image;
    image.load(path);
    QVERIFY2(!image.firstFrame().isNull(), qPrintable(image.statusText()));
    QStringList saved;
    QList<std::uint64_t> sequences;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, &image, [&] {
        const QString name =
            m_dir.filePath(QStringLiteral("series%1.tif").arg(saved.size() + 1, 3, 10, QLatin1Char('0')));
        Frame frame;
        if (image.snap(frame).ok() && saveImage(frame, name).ok()) {
            saved << name;
            sequences << frame.sequence;
        } else {
            timer.stop();
        }
        if (saved.size() == 10)
            timer.stop();
    });
    timer.start();
    QTRY_VERIFY_WITH_TIMEOUT(!timer.isActive(), 5000);
    QCOMPARE(saved.size(), 10);
    QByteArray previous;
    for (int i = 0; i < saved.size(); ++i) {
        Frame frame;
        const Status loaded = loadImage(saved[i], frame);
        QVERIFY2(loaded.ok(), qPrintable(loaded.reason()));
        QCOMPARE(frame.width, 512);
        QCOMPARE(frame.format, PixelFormat::Mono8);
        // The emulator's pattern moves with every frame: a repeated picture would match.
        QVERIFY2(frame.data != previous, qPrintable(QStringLiteral("picture %1 repeats the one before").arg(i + 1)));
        previous = frame.data;
        if (i > 0)
            QVERIFY(sequences[i] > sequences[i - 1]);
    }
}

void TestGenicam::killEmulator()
{
    if (m_ownEmulator.state() != QProcess::NotRunning) {
        m_ownEmulator.kill();
        m_ownEmulator.waitForFinished();
        return;
    }
    QCOMPARE(::kill(qEnvironmentVariableIntValue("PIR_EMULATOR_PID"), SIGKILL), 0);
}

bool TestGenicam::startOwnEmulator(const QStringList &extra)
{
    m_ownEmulator.start(QStringLiteral("arv-fake-gv-camera-0.8"),
                        QStringList{QStringLiteral("-i"), QStringLiteral("127.0.0.1")} + extra);
    if (!m_ownEmulator.waitForStarted())
        return false;
    for (int attempt = 0; attempt < 50; ++attempt) {
        GenicamCamera probe;
        if (probe.open(emulatorDriver()).ok())
            return true;
        QTest::qWait(100);
    }
    return false;
}

void TestGenicam::cleanupTestCase()
{
    if (m_ownEmulator.state() != QProcess::NotRunning) {
        m_ownEmulator.kill();
        m_ownEmulator.waitForFinished();
    }
}

// What `cameras --genicam` lists: the emulator, by its serial number, in a driver file that opens it.
void TestGenicam::listedCameraOpensFromItsDriverFile()
{
    const QList<FoundCamera> found = GenicamCamera::listCameras();
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().identity.device, QStringLiteral("127.0.0.1"));
    QVERIFY(found.first().driverFile.contains(QStringLiteral("\ncamera = ") + found.first().identity.serial + u'\n'));
    PictureSource source;
    source.load(writeDriver(QStringLiteral("listed.vin"), found.first().driverFile));
    QVERIFY2(!source.firstFrame().isNull(), qPrintable(source.statusText()));
    QCOMPARE(source.cameraIdentity().serial, found.first().identity.serial);
}

void TestGenicam::resetEmulator()
{
    Status opened = Status::success();
    openEmulator(QStringLiteral("feature.GainRaw = 0\nfeature.GainAuto = Off\nfeature.ExposureTimeAbs = 10000\n"
                                "feature.TriggerMode = Off\nfeature.TriggerSource = Line0\n"),
                 opened);
    QVERIFY2(opened.ok(), qPrintable(opened.reason()));
}

void TestGenicam::featuresSetAndRefused_data()
{
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("result"); // a line of the camera's settings afterwards, or the refusal
    QTest::newRow("integer") << "feature.GainRaw = 3" << "\nfeature.GainRaw = 3\n";
    QTest::newRow("float") << "feature.ExposureTimeAbs = 2500" << "\nfeature.ExposureTimeAbs = 2500\n";
    QTest::newRow("enumeration, any case") << "feature.GainAuto = continuous" << "\nfeature.GainAuto = Continuous\n";
    QTest::newRow("boolean") << "feature.TestBoolean = true" << "\nfeature.TestBoolean = true\n";
    QTest::newRow("in the order written") << "feature.GainRaw = 2\nfeature.GainRaw = 5" << "\nfeature.GainRaw = 5\n";
    QTest::newRow("unknown") << "feature.Foo = 1" << "feature.Foo: the camera has no feature \"Foo\"";
    QTest::newRow("names keep their case") << "feature.gainraw = 1" << "the camera has no feature \"gainraw\"";
    QTest::newRow("category") << "feature.ImageFormatControl = 1" << "the camera has no feature";
    QTest::newRow("integer out of range") << "feature.GainRaw = 11"
                                          << "feature.GainRaw must be from 0 to 10 for this camera, not 11";
    QTest::newRow("float out of range") << "feature.ExposureTimeAbs = 5"
                                        << "feature.ExposureTimeAbs must be from 10 to 10000000 for this camera, not 5";
    QTest::newRow("not an entry") << "feature.PixelFormat = Mono12"
                                  << "feature.PixelFormat must be one of BayerBG8, BayerGB8, BayerGR8, BayerRG8, "
                                     "Mono8, RGB8, Mono16 for this camera, not \"Mono12\"";
    QTest::newRow("not a boolean") << "feature.TestBoolean = yes" << "feature.TestBoolean must be true or false";
    QTest::newRow("command") << "feature.AcquisitionStart = 1" << "feature.AcquisitionStart is a command, not a setting";
    QTest::newRow("read-only") << "feature.SensorWidth = 1024" << "feature.SensorWidth is read-only";
}

void TestGenicam::featuresSetAndRefused()
{
    QFETCH(QString, lines);
    QFETCH(QString, result);
    Status opened = Status::success();
    openEmulator(lines, opened);
    QString settings;
    QVERIFY(GenicamCamera::describeSettings(QStringLiteral("127.0.0.1"), settings).ok());
    resetEmulator();
    const bool refused = !result.startsWith(u'\n');
    QCOMPARE(opened.ok(), !refused);
    if (refused)
        QVERIFY2(opened.reason().contains(result), qPrintable(opened.reason()));
    else
        QVERIFY2(settings.contains(result), qPrintable(settings));
}

// `cameras --genicam --settings N` lists the emulator's exposure and gain, and all it prints is a
// driver file that opens the camera as it is.
void TestGenicam::settingsListOpensTheCamera()
{
    const QStringList listed = camerasReport({QStringLiteral("--genicam")}).output.split(u'\n');
    const QStringList emulator = listed.filter(QStringLiteral("127.0.0.1"));
    QCOMPARE(emulator.size(), 1);
    const CamerasReport report =
        camerasReport({QStringLiteral("--genicam"), QStringLiteral("--settings"), emulator.first().section(u' ', 0, 0)});
    QCOMPARE(report.exitCode, 0);
    for (const char *line : {"\n# ExposureTimeAbs: number from 10 to 10000000\nfeature.ExposureTimeAbs = 10000\n",
                             "\n# GainRaw: whole number from 0 to 10\nfeature.GainRaw = 0\n",
                             "\n# SensorWidth: read-only\n# feature.SensorWidth = 2048\n"})
        QVERIFY2(report.output.contains(QLatin1String(line)), qPrintable(report.output));
    QVERIFY(!report.output.contains(QStringLiteral("AcquisitionStart =")));
    PictureSource source;
    source.load(writeDriver(QStringLiteral("settings.vin"), report.output));
    QVERIFY2(!source.firstFrame().isNull(), qPrintable(source.statusText()));
}

// What the series log records at Start. The emulator's gain is raw, not in dB.
void TestGenicam::settingsInForce()
{
    Status opened = Status::success();
    const CameraSettingsInForce fixed =
        openEmulator(QStringLiteral("exposure-us = 2500\ngain-db = 4\npixel-format = Mono16\n"), opened)->settingsInForce();
    QVERIFY2(opened.ok(), qPrintable(opened.reason()));
    QCOMPARE(fixed.exposureUs, 2500.0);
    QCOMPARE(fixed.gain, 4.0);
    QCOMPARE(fixed.gainUnit, QStringLiteral("raw"));
    QVERIFY(!fixed.exposureAuto && !fixed.gainAuto);
    QCOMPARE(fixed.frameRate, 25.0);
    QCOMPARE(fixed.pixelFormat, QStringLiteral("Mono16"));
    QCOMPARE(fixed.significantBits, 16);
    QCOMPARE(fixed.trigger, QStringLiteral("free-running"));
    // The emulator has no timestamp latch.
    QVERIFY2(fixed.frameTime.startsWith(QLatin1String("the arrival time less an estimate of the transfer")) &&
                 fixed.frameTime.endsWith(QLatin1String("(the camera has no timestamp latch)")),
             qPrintable(fixed.frameTime));
    const CameraSettingsInForce triggered =
        openEmulator(QStringLiteral("feature.TriggerMode = On\nfeature.TriggerSource = Software\n"), opened)
            ->settingsInForce();
    resetEmulator();
    QVERIFY2(opened.ok(), qPrintable(opened.reason()));
    QCOMPARE(triggered.trigger, QStringLiteral("software"));
}

// The emulator started again from its own description, changed: without the TriggerSoftware
// command, a software trigger is refused by name; a timestamp latch that reads nothing but zero
// is not taken for a clock.
void TestGenicam::emulatorDescribedOtherwise_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QString>("result"); // the refusal, or the end of what frame_ms is said to be
    QTest::newRow("no software trigger")
        << "\\bTriggerSoftware\\b" << "NotATrigger" << "trigger = software\n"
        << "trigger = software: the camera has no software trigger (no TriggerSoftware command)";
    auto reg = [](const char *name, const char *address, int length, const char *access) {
        return QStringLiteral("<IntReg Name=\"%1\"><Address>%2</Address><Length>%3</Length><AccessMode>%4</AccessMode>"
                              "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>")
            .arg(QLatin1String(name), QLatin1String(address))
            .arg(length)
            .arg(QLatin1String(access));
    };
    QTest::newRow("a latch that reads zero")
        << "</RegisterDescription>"
        << "<Command Name=\"GevTimestampControlLatch\"><pValue>LatchRegister</pValue><CommandValue>2</CommandValue>"
               "</Command>" +
               reg("LatchRegister", "0x944", 4, "WO") + reg("GevTimestampValue", "0x948", 8, "RO") +
               "</RegisterDescription>"
        << "" << "(the camera has no timestamp latch that answers)";
}

void TestGenicam::emulatorDescribedOtherwise()
{
    QFETCH(QString, pattern);
    QFETCH(QString, replacement);
    QFETCH(QString, extra);
    QFETCH(QString, result);
    GInetAddress *loopback = g_inet_address_new_from_string("127.0.0.1");
    ArvDevice *device = arv_gv_device_new(loopback, loopback, nullptr);
    g_object_unref(loopback);
    QVERIFY(device);
    std::size_t size = 0;
    const char *text = arv_device_get_genicam_xml(device, &size);
    QString description = QString::fromUtf8(text, qsizetype(size));
    g_object_unref(device);
    const QString changed = QString(description).replace(QRegularExpression(pattern), replacement);
    QVERIFY(changed != description);
    const QString path = writeDriver(QStringLiteral("described.xml"), changed);

    killEmulator();
    QVERIFY(startOwnEmulator({QStringLiteral("-g"), path}));
    Status opened = Status::success();
    const CameraSettingsInForce settings = openEmulator(extra, opened)->settingsInForce();
    killEmulator();
    QVERIFY2(startOwnEmulator(), "the emulator did not come back");
    if (opened.ok())
        QVERIFY2(settings.frameTime.endsWith(result), qPrintable(settings.frameTime));
    else
        QCOMPARE(opened.reason(), result);
}

void TestGenicam::emulatorKilledBetweenSnaps()
{
    // As in a series: live is off and every picture is a single acquisition.
    Status opened = Status::success();
    auto camera = openEmulator(QStringLiteral("width = 512\nheight = 512\n"), opened);
    QVERIFY2(opened.ok(), qPrintable(opened.reason()));
    LostReports lost(camera.get());
    Frame frame;
    QVERIFY(camera->snap(frame).ok());

    killEmulator();
    QElapsedTimer clock;
    clock.start();
    const Status snapped = camera->snap(frame);
    QVERIFY(!snapped.ok());
    QVERIFY2(clock.elapsed() < kTimeoutMs + 1000, "a snap of a lost camera ends after its timeout");
    QTRY_COMPARE(lost.count(), 1);
    QCOMPARE(lost.reasons().first(), snapped.reason());
    // Later snaps fail at once with the same reason, and nothing is reported twice.
    clock.restart();
    const Status again = camera->snap(frame);
    QCOMPARE(again.reason(), snapped.reason());
    QVERIFY(clock.elapsed() < 100);
    QVERIFY(!camera->startLive().ok());
    QCOMPARE(lost.count(), 1);
    clock.restart();
    camera.reset();
    QVERIFY2(clock.elapsed() < 1000, "releasing a lost camera must not hold the window");

    QVERIFY2(startOwnEmulator(), "the emulator did not come back");
}

void TestGenicam::emulatorKilledMidStream()
{
    const QString path = writeDriver(QStringLiteral("lost.vin"),
                                     QStringLiteral("source = genicam\ncamera = 127.0.0.1\npixel-format = Mono8\n"));
    SeriesEngine engine;
    ImageControl image(engine);
    image.setFileName(path);
    QVERIFY2(image.imageHandle() != 0, qPrintable(image.statusText()));
    QSignalSpy updated(&image, &ImageControl::imageUpdated);
    LostReports lost(engine.source().camera());
    image.setLive(true);
    QTRY_VERIFY_WITH_TIMEOUT(updated.count() >= 3, 5000);

    killEmulator();
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 15000);
    qInfo("lost reported after %lld ms: %s", clock.elapsed(), qPrintable(lost.reasons().first()));
    QTRY_COMPARE_WITH_TIMEOUT(image.imageHandle(), quintptr(0), 1000);
    QVERIFY2(image.statusText().startsWith(QLatin1String("Camera lost")), qPrintable(image.statusText()));

    // With no image, a snap fails with the reason.
    Frame frame;
    const Status snapped = engine.source().snap(frame);
    QVERIFY(!snapped.ok());
    QVERIFY2(snapped.reason().contains(QLatin1String("Camera lost")), qPrintable(snapped.reason()));
    // The lost camera is deleted later; releasing it must not hold the window.
    clock.restart();
    QTest::qWait(100);
    QVERIFY(clock.elapsed() < 1000);
}

QTEST_GUILESS_MAIN(TestGenicam)
#include "test_genicam.moc"
