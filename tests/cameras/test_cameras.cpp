#include "cameras/camera_clock.h"
#include "ui/display_image.h"
#include "cameras/driver_file.h"
#include "ui/grabber_control.h"
#include "recording/image_control.h"
#include "cameras/pattern_generator.h"
#include "base/stopwatch.h"
#include "cameras/test_pattern_camera.h"
#include "test_files.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstring>
#include <thread>

class TestCameras : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void driverFileParsing_data();
    void driverFileParsing();
    void patternFramesDiffer_data();
    void patternFramesDiffer();
    void snapTakesANewFrameLiveAndStill();
    void liveFramesArriveWithoutPilingUp();
    void snapKeepsTheBufferOfTheSameSize();
    void stopwatch();
    void seriesStreamingTakesEachFrameOnce();
    void cameraClock_data();
    void cameraClock();
    void displayScalesBySignificantBits_data();
    void displayScalesBySignificantBits();

private:
    QTemporaryDir m_dir;
};

void TestCameras::driverFileParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("width"); // value of `width`, or the expected error's words

    QTest::newRow("plain") << "source = test-pattern\nwidth = 640\n" << true << "640";
    QTest::newRow("comments, blanks, case") << "# camera\n\n  Source=Test-Pattern \n WIDTH =  800 \n" << true << "800";
    QTest::newRow("crlf") << "source = auto\r\nwidth = 32\r\n" << true << "32";
    QTest::newRow("value with =") << "source = genicam\nwidth = a=b\n" << true << "a=b";
    QTest::newRow("no source") << "width = 640\n" << false << "no source";
    QTest::newRow("no equals") << "source = auto\nwidth 640\n" << false << "line 2";
    QTest::newRow("empty key") << "source = auto\n= 640\n" << false << "line 2";
    QTest::newRow("twice") << "source = auto\nwidth = 1\nwidth = 2\n" << false << "twice";
    QTest::newRow("source twice") << "source = auto\nsource = v4l2\n" << false << "twice";
    QTest::newRow("bad key") << "source = auto\nwi dth = 1\n" << false << "bad key";
    QTest::newRow("a prefix of no kind") << "source = auto\nchunk.Gain = 1\n" << false << "bad key";
    QTest::newRow("a name with no letters") << "source = auto\nfeature. = 1\n" << false << "line 2: bad name";
    QTest::newRow("a name with a quote") << "source = auto\ncontrol.gain\" = 1\n" << false << "line 2: bad name";
}

void TestCameras::driverFileParsing()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QString, width);
    DriverFile driver;
    QString error;
    QCOMPARE(DriverFile::parse(text, driver, error), ok);
    if (ok)
        QCOMPARE(driver.values.value(QStringLiteral("width")), width);
    else
        QVERIFY2(error.contains(width), qPrintable(error));
}

void TestCameras::patternFramesDiffer_data()
{
    QTest::addColumn<PixelFormat>("format");
    QTest::newRow("Mono8") << PixelFormat::Mono8;
    QTest::newRow("Mono16") << PixelFormat::Mono16;
    QTest::newRow("RGB8") << PixelFormat::RGB8;
}

void TestCameras::patternFramesDiffer()
{
    QFETCH(PixelFormat, format);
    const PatternGenerator generator(100, 70, format);
    const Frame a = generator.frame(1);
    const Frame b = generator.frame(2);
    QCOMPARE(a.width, 100);
    QCOMPARE(a.height, 70);
    QCOMPARE(a.stride, 100 * bytesPerPixel(format));
    QCOMPARE(a.data.size(), qsizetype(a.stride) * 70);
    QVERIFY(a.data != b.data);
    QCOMPARE(generator.frame(1).data, a.data); // the same number draws the same picture
    // The number box differs between frames 1 and 7 even where the ramp would not.
    QVERIFY(generator.frame(1).data.left(a.stride * 6) != generator.frame(65).data.left(a.stride * 6));
}

void TestCameras::snapTakesANewFrameLiveAndStill()
{
    DriverFile driver;
    QString error;
    QVERIFY(DriverFile::parse("source = test-pattern\nwidth = 64\nheight = 48\nframe-rate = 50\n", driver, error));
    TestPatternCamera camera;
    QVERIFY(camera.open(driver).ok());
    Frame first, second;
    QVERIFY(camera.snap(first, 100).ok());
    QVERIFY(camera.snap(second, 100).ok());
    QCOMPARE(second.sequence, first.sequence + 1);

    // The pattern has no sensor clock: a frame is captured when it is made.
    QVERIFY(second.captureNs > first.captureNs && second.captureNs <= stopwatchClockNs());
    QCOMPARE(second.cameraFrameId, second.sequence);

    QVERIFY(camera.startLive().ok());
    Frame live;
    QVERIFY(camera.snap(live, 1000).ok());
    QVERIFY(live.sequence > second.sequence);
    Frame next;
    QVERIFY(camera.snap(next, 1000).ok());
    QVERIFY(next.sequence > live.sequence);
    camera.stopLive();
    QVERIFY(!camera.isLive());
}

void TestCameras::liveFramesArriveWithoutPilingUp()
{
    const QString path = m_dir.filePath(QStringLiteral("fast.vin"));
    QVERIFY(!writeTextFile(path, "source = test-pattern\nwidth = 64\nheight = 48\nframe-rate = 200\n").isEmpty());
    ImageControl image;
    image.setFileName(path);
    QVERIFY(image.imageHandle() != 0);
    QSignalSpy updated(&image, &ImageControl::imageUpdated);
    image.setLive(true);
    // The UI thread is busy: frames go on being made, but only one waits in the queue.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QCoreApplication::processEvents();
    QCOMPARE(updated.count(), 1);
    QTRY_VERIFY(updated.count() >= 5);
    QVERIFY(image.camera()->framesPublished() > image.camera()->framesSignalled());
    image.setLive(false);
    QVERIFY(!image.isLive());
}

void TestCameras::snapKeepsTheBufferOfTheSameSize()
{
    ImageControl image;
    GrabberControl grabber(image);
    QSignalSpy notified(&grabber, &GrabberControl::notification);
    const QString small = m_dir.filePath(QStringLiteral("small.vin"));
    QVERIFY(!writeTextFile(small, "source = test-pattern\nwidth = 32\nheight = 32\n").isEmpty());
    image.setFileName(small);
    const quintptr handle = image.imageHandle();
    QVERIFY(handle != 0);
    QVERIFY(image.snap().ok());
    QCOMPARE(image.imageHandle(), handle); // same buffer, new content
    QCOMPARE(notified.count(), 0);
}

void TestCameras::stopwatch()
{
    std::int32_t handle = 0;
    QCOMPARE(StopwatchCreate(handle), 0);
    QCOMPARE(StopwatchStart(handle, 0), 0);
    double first = -1, second = -1;
    QCOMPARE(StopwatchRead(handle, 0, first), 0);
    const std::int64_t instant = stopwatchClockNs();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    QCOMPARE(StopwatchRead(handle, 0, second), 0);
    QVERIFY(first >= 0 && first < 5);
    QVERIFY(second >= 19.5);
    QVERIFY(second != std::floor(second) || first != std::floor(first)); // finer than a millisecond
    double at = -1;
    QCOMPARE(StopwatchReadAt(handle, 0, instant, at), 0);
    QVERIFY(at >= first && at < second);
    QCOMPARE(StopwatchReadAt(handle, 0, instant - 5'000'000, at), 0);
    QVERIFY(at < 0); // before the start
    QCOMPARE(StopwatchRead(handle, kWatchesPerSet, first), -1);
    QCOMPARE(StopwatchDestroy(handle), 0);
    QCOMPARE(StopwatchRead(handle, 0, first), -1);
}

// While a series streams with the live picture off, the display is not fed, and a snap costs a
// copy of the newest frame, never the same frame twice.
void TestCameras::seriesStreamingTakesEachFrameOnce()
{
    const QString path = m_dir.filePath(QStringLiteral("series.vin"));
    QVERIFY(!writeTextFile(path, "source = test-pattern\nwidth = 32\nheight = 32\nframe-rate = 20\n").isEmpty());
    ImageControl image;
    image.setFileName(path);
    QSignalSpy updated(&image, &ImageControl::imageUpdated);
    image.setSeriesStreaming(true);
    QVERIFY(image.isStreaming() && !image.isLive());
    QTest::qWait(120);
    QVERIFY(image.snap().ok()); // the newest frame, at once
    const std::uint64_t first = image.currentFrame().sequence;
    QVERIFY(image.snap().ok()); // waits for the next one
    QCOMPARE(image.currentFrame().sequence, first + 1);
    QCOMPARE(updated.count(), 0);
    image.setLive(true); // the live picture goes on without a restart of the stream
    image.setSeriesStreaming(false);
    QVERIFY(image.isLive());
    image.setLive(false);
    QVERIFY(!image.isStreaming());
}

// A camera's own clock goes onto the host's: the least delay seen so far sets the offset, so a
// capture is never placed after its arrival, and a clock that jumps starts afresh.
void TestCameras::cameraClock_data()
{
    QTest::addColumn<QList<qint64>>("stampsAndArrivals");
    QTest::addColumn<QList<qint64>>("captures");
    QTest::newRow("delays vary") << QList<qint64>{1000, 5300, 2000, 6100, 3000, 7500} << QList<qint64>{5300, 6100, 7100};
    QTest::newRow("no stamp") << QList<qint64>{0, 900} << QList<qint64>{900};
    QTest::newRow("clock reset") << QList<qint64>{2'000'000'000'000, 5000, 1000, 6000} << QList<qint64>{5000, 6000};
}

void TestCameras::cameraClock()
{
    QFETCH(QList<qint64>, stampsAndArrivals);
    QFETCH(QList<qint64>, captures);
    CameraClock clock;
    for (qsizetype i = 0; i < captures.size(); ++i)
        QCOMPARE(clock.toHost(stampsAndArrivals[2 * i], stampsAndArrivals[2 * i + 1]), captures[i]);
}

void TestCameras::displayScalesBySignificantBits_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("sample");
    QTest::addColumn<bool>("reduced"); // drawn smaller than half its size
    QTest::addColumn<int>("grey");

    const int mono8 = int(PixelFormat::Mono8), mono16 = int(PixelFormat::Mono16);
    QTest::newRow("12 bits, brightest") << mono16 << 12 << 4095 << false << 255;
    QTest::newRow("12 bits, middle") << mono16 << 12 << 2048 << false << 128;
    QTest::newRow("12 bits, black") << mono16 << 12 << 0 << false << 0;
    QTest::newRow("12 bits, reduced") << mono16 << 12 << 4095 << true << 255;
    QTest::newRow("12 bits, above its range") << mono16 << 12 << 5000 << false << 255;
    QTest::newRow("10 bits, brightest") << mono16 << 10 << 1023 << false << 255;
    QTest::newRow("16 bits, brightest") << mono16 << 16 << 65535 << true << 255;
    QTest::newRow("16 bits, 12-bit value") << mono16 << 16 << 4095 << false << 15;
    QTest::newRow("8 bits unchanged") << mono8 << 8 << 200 << true << 200;
    QTest::newRow("colour unchanged") << int(PixelFormat::RGB8) << 8 << 90 << true << 90;
}

void TestCameras::displayScalesBySignificantBits()
{
    QFETCH(int, format);
    QFETCH(int, bits);
    QFETCH(int, sample);
    QFETCH(bool, reduced);
    QFETCH(int, grey);
    // The sample in the left half, black in the right, which must stay on its side.
    Frame frame = Frame::allocate(40, 20, PixelFormat(format), bits);
    const int pixelBytes = bytesPerPixel(frame.format);
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width / 2; ++x) {
            if (frame.format == PixelFormat::Mono16)
                qToLittleEndian<std::uint16_t>(std::uint16_t(sample), frame.row(y) + 2 * x);
            else
                std::memset(frame.row(y) + x * pixelBytes, sample, std::size_t(pixelBytes));
        }
    }
    const QImage image = displayImage(frame, reduced ? QSize(10, 5) : QSize(80, 40));
    QCOMPARE(image.format(), frame.format == PixelFormat::RGB8 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    QCOMPARE(image.size(), reduced ? QSize(10, 5) : QSize(40, 20));
    QCOMPARE(qGray(image.pixel(0, image.height() - 1)), grey);
    QCOMPARE(qGray(image.pixel(image.width() - 1, 0)), 0);
}

QTEST_MAIN(TestCameras)
#include "test_cameras.moc"
