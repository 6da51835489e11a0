// The series engine on its own, as the `record` command drives it: what the window's tests
// do not reach.
#include "analog/simulated_card.h"
#include "recording/image_control.h"
#include "base/stopwatch.h"
#include "recording/series_engine.h"
#include "test_files.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestSeriesEngine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void stopWhenAPictureIsReported();
    void shutDownEndsTheSeriesQuietly();
    void neverReplacesAFileFromBefore_data();
    void neverReplacesAFileFromBefore();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ImageControl> m_image;
    std::unique_ptr<SeriesEngine> m_engine;
};

void TestSeriesEngine::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const QString driver =
        writeTextFile(m_dir->filePath(QStringLiteral("camera.vin")), "source = test-pattern\nwidth = 32\nheight = 16\n");
    m_image = std::make_unique<ImageControl>();
    m_image->setFileName(driver);
    m_engine = std::make_unique<SeriesEngine>(*m_image);
    m_engine->setCard(std::make_unique<SimulatedCard>());
    m_engine->setOptions(NameOptions{true, false, false, false});
    m_engine->timer().setInterval(50);
    CaptureState &s = m_engine->state();
    s.SaveDirectory = m_dir->path() + QStringLiteral("/out/");
    s.BaseName = QStringLiteral("E");
    s.FileExtension = QStringLiteral(".bmp");
    StopwatchCreate(s.StopwatchHandle);
}

void TestSeriesEngine::cleanup()
{
    StopwatchDestroy(m_engine->state().StopwatchHandle);
    m_engine.reset();
    m_image.reset();
}

// A caller that counts pictures stops the series from inside the step that saved the last one.
void TestSeriesEngine::stopWhenAPictureIsReported()
{
    connect(m_engine.get(), &SeriesEngine::pictureSaved, this, [this](const StepReport &report) {
        if (report.picture == 3)
            m_engine->stop();
    });
    m_engine->start();
    QTRY_VERIFY(!m_engine->isRecording());
    QTest::qWait(120);
    QCOMPARE(QDir(m_engine->state().SaveDirectory).entryList({QStringLiteral("*.bmp")}).size(), 3);
    QCOMPARE(m_engine->state().FrameCounter, 1);
}

// The program's end takes no further picture and does not prepare another series, but the
// pictures taken reach the disk before it returns.
void TestSeriesEngine::shutDownEndsTheSeriesQuietly()
{
    QSignalSpy stopped(m_engine.get(), &SeriesEngine::stopped);
    m_engine->start();
    // At least: a poll that comes late would never see the counter at exactly 3.
    QTRY_VERIFY(m_engine->state().FrameCounter >= 3);
    m_engine->shutDown();
    QVERIFY(!m_engine->isRecording());
    QVERIFY(!m_engine->timer().isActive());
    QCOMPARE(stopped.size(), 0);
    QFile log(m_engine->logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).trimmed().section(QLatin1Char('\n'), -1).startsWith(QStringLiteral("# synced ")));
}

void TestSeriesEngine::neverReplacesAFileFromBefore_data()
{
    QTest::addColumn<int>("picture"); // whose name a file from before the series has
    QTest::newRow("the first picture's name") << 1;
    QTest::newRow("a later picture's name") << 3;
}

// Whatever the checks before Start saw, a file that was there before the series stays as it
// was: the save that would replace it fails, and the series stops with that picture.
void TestSeriesEngine::neverReplacesAFileFromBefore()
{
    QFETCH(int, picture);
    const QString out = m_engine->state().SaveDirectory;
    const QString earlier = out + QStringLiteral("E_%1.bmp").arg(picture, 3, 10, QLatin1Char('0'));
    QVERIFY(QDir().mkpath(out));
    QVERIFY(!writeTextFile(earlier, QStringLiteral("earlier")).isEmpty());
    QSignalSpy stopped(m_engine.get(), &SeriesEngine::stopped);
    m_engine->start();
    QTRY_COMPARE(stopped.size(), 1);
    QCOMPARE(stopped[0][1].toString(), QStringLiteral("Could not save the picture:\n%1\nFile already exists.").arg(earlier));
    QFile file(earlier);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("earlier"));
    QCOMPARE(QDir(out).entryList({QStringLiteral("*.bmp")}).size(), picture);
}

QTEST_GUILESS_MAIN(TestSeriesEngine)
#include "test_series_engine.moc"
