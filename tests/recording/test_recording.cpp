#include "recording/camera_reconnect.h"
#include "recording/disk_space.h"
#include "recording/interval.h"
#include "recording/save_target.h"
#include "recording/series.h"
#include "recording/series_progress.h"

#include <QtTest>

class TestRecording : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void interval_data();
    void interval();
    void transitions();
    void startRefusalsInTheirOrder_data();
    void startRefusalsInTheirOrder();
    void failureMessageHasThreeLines();
    void outputDirectory_data();
    void outputDirectory();
    void diskForecast_data();
    void diskForecast();
    void byteSizes_data();
    void byteSizes();
    void picturesOnTheDisk();
    void reconnectPauses();
    void progressTexts();
};

void TestRecording::interval_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("milliseconds");

    const int ok = IntervalCheck::Accepted, range = IntervalCheck::OutOfRange, bad = IntervalCheck::NotNumeric;
    QTest::newRow("lowest") << "en_US" << "50" << ok << 50;
    QTest::newRow("highest") << "en_US" << "65000" << ok << 65000;
    QTest::newRow("49.4 rounds below 50") << "en_US" << "49.4" << range << 0;
    QTest::newRow("49.5 to even 50") << "en_US" << "49.5" << ok << 50;
    QTest::newRow("49") << "en_US" << "49" << range << 0;
    QTest::newRow("65001") << "en_US" << "65001" << range << 0;
    QTest::newRow("65000.4") << "en_US" << "65000.4" << range << 0;
    QTest::newRow("negative") << "en_US" << "-500" << range << 0;
    QTest::newRow("plus sign") << "en_US" << "+500" << ok << 500;
    QTest::newRow("blanks") << "en_US" << " 500 " << ok << 500;
    QTest::newRow("100.6") << "en_US" << "100.6" << ok << 101;
    QTest::newRow("100.5 to even") << "en_US" << "100.5" << ok << 100;
    QTest::newRow("101.5 to even") << "en_US" << "101.5" << ok << 102;
    QTest::newRow("letters") << "en_US" << "abc" << bad << 0;
    QTest::newRow("empty") << "en_US" << "" << bad << 0;
    QTest::newRow("number then letters") << "en_US" << "500ms" << bad << 0;
    QTest::newRow("infinity") << "en_US" << "inf" << bad << 0;
    QTest::newRow("decimal comma") << "de_DE" << "100,5" << ok << 100;
}

void TestRecording::interval()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(int, outcome);
    QFETCH(int, milliseconds);
    const IntervalCheck check = checkInterval(text, QLocale(locale));
    QCOMPARE(int(check.outcome), outcome);
    if (outcome == IntervalCheck::Accepted)
        QCOMPARE(check.milliseconds, milliseconds);
}

void TestRecording::transitions()
{
    using R = RecordingState;
    QCOMPARE(seriesTransition(R::Idle, SeriesEvent::Start), std::optional(R::Recording));
    QCOMPARE(seriesTransition(R::Recording, SeriesEvent::Stop), std::optional(R::Idle));
    QCOMPARE(seriesTransition(R::Recording, SeriesEvent::StepFailed), std::optional(R::Idle));
    // Illegal: a second start, a stop or failure while idle.
    QVERIFY(!seriesTransition(R::Recording, SeriesEvent::Start));
    QVERIFY(!seriesTransition(R::Idle, SeriesEvent::Stop));
    QVERIFY(!seriesTransition(R::Idle, SeriesEvent::StepFailed));
}

void TestRecording::startRefusalsInTheirOrder_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("base");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("message");

    QTest::newRow("nothing composed, same name, file exists") << "Filename to Save" << "Old" << true
                                                            << "Please choose a filename first!";
    QTest::newRow("same base name, file exists") << "/d/Old.bmp" << "Old" << true << "Please choose a new filename!";
    QTest::newRow("case differs") << "/d/old.bmp" << "old" << false << "";
    QTest::newRow("file exists") << "/d/New.bmp" << "New" << true << "File already exists:/d/New.bmp";
    QTest::newRow("may start") << "/d/New.bmp" << "New" << false << "";
}

void TestRecording::startRefusalsInTheirOrder()
{
    QFETCH(QString, caption);
    QFETCH(QString, base);
    QFETCH(bool, exists);
    QFETCH(QString, message);
    QString asked;
    const StartRequest request{caption, base, QStringLiteral("Old"), QStringLiteral("/d/New.bmp")};
    QCOMPARE(startRefusal(request,
                          [&](const QString &name) {
                              asked = name;
                              return exists;
                          }),
             message);
    if (message.startsWith(QLatin1String("File")))
        QCOMPARE(asked, QStringLiteral("/d/New.bmp"));
}

void TestRecording::failureMessageHasThreeLines()
{
    QCOMPARE(savingFailureMessage(QStringLiteral("/d/a.bmp"), QStringLiteral("no space left on the disk")),
             QStringLiteral("Could not save the picture:\n/d/a.bmp\nNo space left on the disk."));
}

void TestRecording::outputDirectory_data()
{
    QTest::addColumn<QString>("directory"); // below a temporary folder that holds the file "plain"
    QTest::addColumn<QString>("reason");    // empty: made
    QTest::newRow("made with its parents") << "a/b/c" << "";
    QTest::newRow("a file in the way") << "plain/b" << "\"plain\" is a file, not a directory";
}

void TestRecording::outputDirectory()
{
    QFETCH(QString, directory);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile plain(dir.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const Status made = makeOutputDirectory(dir.filePath(directory) + QLatin1Char('/'));
    QCOMPARE(made.reason(), reason);
    QCOMPARE(QFileInfo(dir.filePath(directory)).isDir(), reason.isEmpty());
}

void TestRecording::diskForecast_data()
{
    QTest::addColumn<qint64>("freeMiB");
    QTest::addColumn<qint64>("pictures"); // 0: open-ended
    QTest::addColumn<QString>("forecast");
    // 4 MiB pictures every 500 ms above a reserve of 256 MiB: 8 MiB a second.
    QTest::newRow("fits") << qint64(1280) << qint64(200) << "";
    QTest::newRow("does not fit") << qint64(1280) << qint64(300)
                                  << "1.3 GiB free; the series needs about 1.2 GiB above the reserve of 256 MiB and will "
                                     "end after about 256 of its 300 pictures";
    QTest::newRow("open-ended, 2 min") << qint64(1280) << qint64(0)
                                       << "1.3 GiB free; at 8.0 MiB a second the series reaches the reserve of 256 MiB "
                                          "in about 2 min";
    QTest::newRow("open-ended, over an hour") << qint64(40000) << qint64(0) << "";
    QTest::newRow("no room at all") << qint64(258) << qint64(0)
                                    << "258 MiB free, not enough above the reserve of 256 MiB for one picture: the "
                                       "series will end at its first";
}

void TestRecording::diskForecast()
{
    QFETCH(qint64, freeMiB);
    QFETCH(qint64, pictures);
    QFETCH(QString, forecast);
    const DiskPlan plan{freeMiB << 20, kReserveFloorBytes, 4 << 20, 500,
                        pictures ? std::optional<std::int64_t>(pictures) : std::nullopt};
    QCOMPARE(::diskForecast(plan), forecast);
}

void TestRecording::byteSizes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("bytes"); // -1: refused
    QTest::newRow("bytes") << "4096" << qint64(4096);
    QTest::newRow("none") << "0" << qint64(0);
    QTest::newRow("M") << "256M" << (qint64(256) << 20);
    QTest::newRow("GiB with a fraction") << "1.5GiB" << (qint64(3) << 29);
    QTest::newRow("MB, spaced, lower case") << " 500 mb " << (qint64(500) << 20);
    QTest::newRow("T") << "2T" << (qint64(2) << 40);
    QTest::newRow("a fraction of a byte") << "1.5" << qint64(-1);
    QTest::newRow("negative") << "-1G" << qint64(-1);
    QTest::newRow("words") << "lots" << qint64(-1);
    QTest::newRow("beyond an exbibyte") << "2000000T" << qint64(-1);
}

void TestRecording::byteSizes()
{
    QFETCH(QString, text);
    QFETCH(qint64, bytes);
    QCOMPARE(parseByteSize(text).value_or(-1), bytes);
}

void TestRecording::picturesOnTheDisk()
{
    constexpr std::int64_t header = 64 << 10;
    // .bmp and .jpg keep 8 bits, .bmp rows are padded to four bytes, .tif and .mio keep all bits.
    QCOMPARE(pictureBytesAtMost(2048, 2048, PixelFormat::Mono8, QStringLiteral(".bmp")), (4 << 20) + header);
    QCOMPARE(pictureBytesAtMost(62, 40, PixelFormat::Mono16, QStringLiteral(".bmp")), 64 * 40 + header);
    QCOMPARE(pictureBytesAtMost(62, 40, PixelFormat::Mono16, QStringLiteral(".tif")), 124 * 40 + header);
    QCOMPARE(pictureBytesAtMost(10, 10, PixelFormat::RGB8, QStringLiteral(".jpg")), 300 + header);
    // The reserve: ten pictures, at least 256 MiB, unless chosen.
    QCOMPARE(diskReserve(1 << 20, std::nullopt), kReserveFloorBytes);
    QCOMPARE(diskReserve(48 << 20, std::nullopt), std::int64_t(480) << 20);
    QCOMPARE(diskReserve(48 << 20, 0), 0);
}

void TestRecording::reconnectPauses()
{
    QList<qint64> pauses;
    for (int attempt : {0, 1, 2, 3, 5, 6, 7, 1000})
        pauses << CameraReconnect::pauseBefore(attempt).count();
    QCOMPARE(pauses, (QList<qint64>{0, 500, 1000, 2000, 8000, 10000, 10000, 10000}));
}

void TestRecording::progressTexts()
{
    SeriesFigures f;
    f.pictures = 1;
    f.ticksMissed = 3;
    f.elapsedMs = 3723'400;
    QCOMPARE(progressText(f), QStringLiteral("1 picture, 3 ticks missed, 1:02:03 since Start"));
    f.diskSecondsLeft = 3 * 3600 + 5 * 60 + 20;
    f.awayReason = QStringLiteral("the camera stopped answering");
    QCOMPARE(progressText(f), QStringLiteral("Camera away (the camera stopped answering), trying again: 1 picture, 3 "
                                             "ticks missed, 1:02:03 since Start, disk full in 3 h 05 min"));
    QCOMPARE(summaryText(f, QStringLiteral("/d/P_20240501-220000.csv")),
             QStringLiteral("Series ended: 1 picture, 3 ticks missed in 1:02:03; log /d/P_20240501-220000.csv"));
}

QTEST_MAIN(TestRecording)
#include "test_recording.moc"
