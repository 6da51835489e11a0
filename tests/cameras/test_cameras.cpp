#include "cameras/camera_clock.h"
#include "cameras/frame_slot.h"
#include "ui/display_image.h"
#include "cameras/driver_file.h"
#include "ui/grabber_control.h"
#include "recording/picture_source.h"
#include "recording/series_engine.h"
#include "ui/image_control.h"
#include "cameras/pattern_generator.h"
#include "base/stopwatch.h"
#include "cameras/test_pattern_camera.h"
#include "test_files.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstring>
#include <limits>
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
    void seriesFramesAreMadeForTheirTicks();
    void liveFramesArriveWithoutPilingUp();
    void showingKeepsTheBufferOfTheSameSize();
    void stopwatch();
    void frameSlotTakesTheNearestFrameOnce_data();
    void frameSlotTakesTheNearestFrameOnce();
    void frameSlotLossEndsTheWait();
    void cameraClock_data();
    void cameraClock();
    void displayScalesBySignificantBits_data();
    void displayScalesBySignificantBits();

private:
    QTemporaryDir m_dir;
};

namespace {

// Opens a 64x48 test pattern with the driver file's `extra` lines.
bool openPattern(TestPatternCamera &camera, const char *extra = "")
{
    DriverFile driver;
    QString error;
    return DriverFile::parse(QStringLiteral("source = test-pattern\nwidth = 64\nheight = 48\n%1").arg(QLatin1String(extra)),
                             driver, error) &&
           camera.open(driver).ok();
}

} // namespace

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
    PatternGenerator generator(100, 70, format);
    const Frame a = generator.frame(1);
    const QByteArray drawn(a.data.constData(), a.data.size());
    const Frame b = generator.frame(2);
    for (std::uint64_t n = 3; n < 12; ++n) // every buffer the generator keeps comes round again
        generator.frame(n);
    QCOMPARE(a.data, drawn); // a frame still held is never drawn over
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
    TestPatternCamera camera;
    QVERIFY(openPattern(camera, "frame-rate = 50\n"));
    Frame first, second;
    QVERIFY(camera.snap(first).ok());
    QVERIFY(camera.snap(second).ok());
    QCOMPARE(second.sequence, first.sequence + 1);

    // The pattern has no sensor clock: a frame is captured when it is made.
    QVERIFY(second.captureNs > first.captureNs && second.captureNs <= stopwatchClockNs());
    QCOMPARE(second.cameraFrameId, first.cameraFrameId + 1);

    QVERIFY(camera.startLive().ok());
    Frame live;
    QVERIFY(camera.snap(live).ok());
    QVERIFY(live.sequence > second.sequence);
    Frame next;
    QVERIFY(camera.snap(next).ok());
    QVERIFY(next.sequence > live.sequence);
    camera.stopLive();
    QVERIFY(!camera.isLive());
}

// From the second tick on a series' frame is made ahead, for its tick alone: never more than
// 0.2 s before it, never one made for another tick, and each a picture of its own.
void TestCameras::seriesFramesAreMadeForTheirTicks()
{
    TestPatternCamera camera;
    QVERIFY(openPattern(camera));
    camera.setSeriesRunning(true);
    constexpr std::int64_t ms = 1'000'000, interval = 300 * ms;
    const std::int64_t start = stopwatchClockNs();
    std::uint64_t lastId = 0;
    // Tick 3 is skipped, as a tick the queue had no room for: the frame made for it is not taken.
    for (const std::int64_t k : {0, 1, 2, 4, 5}) {
        const std::int64_t tick = start + k * interval;
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(tick)));
        Frame frame;
        const CaptureResult taken = camera.capture(tick, k == 0 ? std::numeric_limits<std::int64_t>::max() / 4 : interval, frame);
        QVERIFY(taken.outcome == CaptureOutcome::Picture);
        QVERIFY2(frame.cameraFrameId > lastId, qPrintable(QString::number(k)));
        lastId = frame.cameraFrameId;
        QVERIFY(frame.captureNs <= stopwatchClockNs());
        // Made at once for the first two ticks and after the skipped one, ahead for the others.
        if (k == 2 || k == 5)
            QVERIFY2(frame.captureNs >= tick - 200 * ms - 20 * ms && frame.captureNs < tick, qPrintable(QString::number(k)));
        else
            QVERIFY2(frame.captureNs >= tick, qPrintable(QString::number(k)));
    }
    camera.setSeriesRunning(false);
}

void TestCameras::liveFramesArriveWithoutPilingUp()
{
    const QString path = m_dir.filePath(QStringLiteral("fast.vin"));
    QVERIFY(!writeTextFile(path, "source = test-pattern\nwidth = 64\nheight = 48\nframe-rate = 200\n").isEmpty());
    PictureSource source;
    source.load(path);
    QVERIFY(!source.firstFrame().isNull());
    QSignalSpy updated(&source, &PictureSource::liveFrame);
    source.setLive(true);
    // The receiving thread is busy: frames go on being made, but only one waits in the queue.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QCoreApplication::processEvents();
    QCOMPARE(updated.count(), 1);
    QTRY_VERIFY(updated.count() >= 5);
    QVERIFY(source.camera()->framesPublished() > source.camera()->framesSignalled());
    source.setLive(false);
    QVERIFY(!source.isLive());
}

// A picture of the size and format of the one shown goes into the same buffer; another size
// replaces the buffer, and the grabber says so.
void TestCameras::showingKeepsTheBufferOfTheSameSize()
{
    SeriesEngine engine;
    ImageControl image(engine);
    GrabberControl grabber(image);
    QSignalSpy notified(&grabber, &GrabberControl::notification);
    const QString small = m_dir.filePath(QStringLiteral("small.vin"));
    QVERIFY(!writeTextFile(small, "source = test-pattern\nwidth = 32\nheight = 32\n").isEmpty());
    image.setFileName(small);
    const quintptr handle = image.imageHandle();
    QVERIFY(handle != 0);
    Frame frame;
    QVERIFY(engine.source().snap(frame).ok());
    image.show(frame);
    QCOMPARE(image.imageHandle(), handle); // same buffer, new content
    QCOMPARE(notified.count(), 0);
    image.show(Frame::allocate(16, 16, PixelFormat::Mono8));
    QVERIFY(image.imageHandle() != handle);
    QCOMPARE(notified.count(), 1);
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

// The frame a series' tick takes: the one captured nearest the tick, no farther than half an
// interval from it, never one taken before; or none, when the camera's next frame cannot come
// near enough. Times in ms; the tick falls at 100, ticks 50 apart.
void TestCameras::frameSlotTakesTheNearestFrameOnce_data()
{
    QTest::addColumn<QList<int>>("captured"); // the frames in the slot, oldest first
    QTest::addColumn<int>("period");          // as the camera tells it; 0: from the frames
    QTest::addColumn<int>("taken");           // index into `captured`; -1 none, -2 still waits

    QTest::newRow("the one after is nearer") << QList<int>{60, 92, 104} << 12 << 2;
    QTest::newRow("the one before is nearer") << QList<int>{80, 97, 109} << 12 << 1;
    QTest::newRow("the one before, its successor comes later") << QList<int>{58, 98} << 40 << 1;
    QTest::newRow("the one before, spacing from the frames") << QList<int>{58, 98} << 0 << 1;
    QTest::newRow("the successor may come nearer") << QList<int>{40, 80} << 40 << -2;
    QTest::newRow("beyond half an interval: none") << QList<int>{0, 200} << 200 << -1;
    QTest::newRow("a slow camera's next frame is far: none") << QList<int>{-100} << 300 << -1;
    QTest::newRow("a slow camera's next frame may be near") << QList<int>{-100} << 200 << -2;
    QTest::newRow("the frame after belongs to a later tick") << QList<int>{70, 130} << 60 << -1;
}

void TestCameras::frameSlotTakesTheNearestFrameOnce()
{
    QFETCH(QList<int>, captured);
    QFETCH(int, period);
    QFETCH(int, taken);
    constexpr std::int64_t ms = 1'000'000;
    FrameSlot slot;
    for (int i = 0; i < captured.size(); ++i) {
        Frame frame = Frame::allocate(4, 4, PixelFormat::Mono8);
        frame.sequence = std::uint64_t(i + 1);
        frame.captureNs = captured[i] * ms;
        slot.offer(frame);
    }
    Frame out;
    const auto soon = FrameSlot::Clock::now() + std::chrono::milliseconds(20);
    const FrameSlot::Result result = slot.takeNearest(100 * ms, period * ms, 25 * ms, soon, out);
    if (taken == -2) {
        QCOMPARE(result, FrameSlot::Result::Timeout);
        return;
    }
    QCOMPARE(result, taken < 0 ? FrameSlot::Result::None : FrameSlot::Result::Frame);
    if (taken < 0)
        return;
    QCOMPARE(out.captureNs, captured[taken] * ms);
    // Taken once: the next tick, 50 later, cannot have it again.
    Frame again;
    if (slot.takeNearest(100 * ms, period * ms, 25 * ms, soon, again) == FrameSlot::Result::Frame)
        QVERIFY(again.sequence > out.sequence);
}

// A camera lost while a series waits for its frame ends the wait at once.
void TestCameras::frameSlotLossEndsTheWait()
{
    FrameSlot slot;
    std::thread camera([&slot] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        slot.markLost(QStringLiteral("unplugged"));
    });
    Frame out;
    const auto began = FrameSlot::Clock::now();
    const FrameSlot::Result result =
        slot.takeNearest(stopwatchClockNs(), 40'000'000, 20'000'000, began + std::chrono::seconds(30), out);
    camera.join();
    QCOMPARE(result, FrameSlot::Result::Lost);
    QVERIFY(FrameSlot::Clock::now() - began < std::chrono::seconds(10));
    QCOMPARE(slot.lostReason(), QStringLiteral("unplugged"));
}

// A camera's own clock goes onto the host's: the least delay seen so far sets the offset, so a
// capture is never placed after its arrival, and a clock that jumps starts afresh.
void TestCameras::cameraClock_data()
{
    QTest::addColumn<QList<qint64>>("latch"); // camera, host before, host after; empty: none
    QTest::addColumn<int>("restartBefore");   // the frame before which a new stream starts; -1: none
    QTest::addColumn<QList<qint64>>("stampsAndArrivals");
    QTest::addColumn<QList<qint64>>("captures");
    const QList<qint64> none;
    const QList<qint64> latch{1000, 5000, 5200}; // offset 4100, to within 100
    QTest::newRow("delays vary") << none << -1 << QList<qint64>{1000, 5300, 2000, 6100, 3000, 7500}
                                 << QList<qint64>{5300, 6100, 7100};
    QTest::newRow("no stamp") << none << -1 << QList<qint64>{0, 900} << QList<qint64>{900};
    QTest::newRow("clock reset") << none << -1 << QList<qint64>{2'000'000'000'000, 5000, 1000, 6000}
                                 << QList<qint64>{5000, 6000};
    QTest::newRow("latched, not the least delay") << latch << -1 << QList<qint64>{2000, 9000, 3000, 7200}
                                                  << QList<qint64>{6100, 7100};
    QTest::newRow("restart forgets the delays") << none << 1 << QList<qint64>{1000, 5300, 2000, 9000}
                                                << QList<qint64>{5300, 9000};
    QTest::newRow("restart forgets the latch") << latch << 1 << QList<qint64>{2000, 9000, 2000, 9000}
                                               << QList<qint64>{6100, 9000};
}

void TestCameras::cameraClock()
{
    QFETCH(QList<qint64>, latch);
    QFETCH(int, restartBefore);
    QFETCH(QList<qint64>, stampsAndArrivals);
    QFETCH(QList<qint64>, captures);
    CameraClock clock;
    if (!latch.isEmpty())
        clock.latch(latch[0], latch[1], latch[2]);
    for (qsizetype i = 0; i < captures.size(); ++i) {
        if (i == restartBefore)
            clock.reset();
        QCOMPARE(clock.toHost(stampsAndArrivals[2 * i], stampsAndArrivals[2 * i + 1]), captures[i]);
    }
    const bool latched = !latch.isEmpty() && restartBefore < 0;
    QCOMPARE(clock.latchUncertaintyNs().value_or(-1), std::int64_t(latched ? 100 : -1));
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
