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
    QTRY_COMPARE(m_engine->state().FrameCounter, 3);
    m_engine->shutDown();
    QVERIFY(!m_engine->isRecording());
    QVERIFY(!m_engine->timer().isActive());
    QCOMPARE(stopped.size(), 0);
    QFile log(m_engine->logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).trimmed().section(QLatin1Char('\n'), -1).startsWith(QStringLiteral("# synced ")));
}

QTEST_GUILESS_MAIN(TestSeriesEngine)
#include "test_series_engine.moc"
