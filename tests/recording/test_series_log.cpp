#include "recording/series_log.h"

#include <QtTest>

using OptionalSettings = std::optional<CameraSettingsInForce>;
Q_DECLARE_METATYPE(OptionalSettings)

class TestSeriesLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rows_data();
    void rows();
    void path();
    void cameraLine_data();
    void cameraLine();
    void ownNameForEverySeries();
    void settingsAndBits_data();
    void settingsAndBits();
};

void TestSeriesLog::rows_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("channels"); // 0 none, 1 good, 2 failed
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("replaced");
    QTest::addColumn<QString>("expected");

    QTest::newRow("both read") << "/d/a.bmp" << 1 << "ok" << ""
                               << "7,/d/a.bmp,300.000,301.257,1.257,2048,106,2171,5.30029296875,ok,1234,,,,,,\n";
    QTest::newRow("not ticked") << "/d/a.bmp" << 0 << "ok" << "" << "7,/d/a.bmp,300.000,301.257,1.257,,,,,ok,1234,,,,,,\n";
    QTest::newRow("failed read") << "/d/a.bmp" << 2 << "ok" << "" << "7,/d/a.bmp,300.000,301.257,1.257,ERR,ERR,ERR,ERR,ok,1234,,,,,,\n";
    QTest::newRow("comma and quote") << "/d/a,\"b\".bmp" << 0 << "no space left, disk full" << ""
                                     << "7,\"/d/a,\"\"b\"\".bmp\",300.000,301.257,1.257,,,,,\"no space left, disk full\",1234,,,,,,\n";
    QTest::newRow("replaced") << "/d/a.bmp" << 0 << "ok" << "6" << "7,/d/a.bmp,300.000,301.257,1.257,,,,,ok,1234,6,,,,,\n";
    // Readers told that '#' starts a comment (pandas' comment='#') take it as one only outside quotes.
    QTest::newRow("hash") << "/d/run#2.bmp" << 0 << "ok" << "" << "7,\"/d/run#2.bmp\",300.000,301.257,1.257,,,,,ok,1234,,,,,,\n";
    QTest::newRow("frame times") << "/d/a.bmp" << 0 << "ok" << "frame"
                                 << "7,/d/a.bmp,300.000,301.257,1.257,,,,,ok,1234,,4711,-12.500,0.041,10000.5,6.02\n";
}

void TestSeriesLog::rows()
{
    QFETCH(QString, file);
    QFETCH(int, channels);
    QFETCH(QString, result);
    QFETCH(QString, replaced);
    QFETCH(QString, expected);
    SeriesLogRow row;
    row.picture = 7;
    row.fileName = file;
    row.scheduledMs = 300;
    row.stopwatchMs = 301.2571;
    if (channels) {
        row.channel0 = ChannelSample{channels == 1, 2048, 212 * (2048 / 4096.0)};
        row.channel1 = ChannelSample{channels == 1, 2171, 10 * (2171 / 4096.0)};
    }
    row.result = result;
    row.bytes = 1234;
    if (replaced == u"frame") {
        row.frameId = 4711;
        row.frameMs = -12.5; // captured just before Start
        row.frameAgeMs = 0.0409;
        row.exposureUs = 10000.5;
        row.gain = 6.02;
    } else {
        row.replaced = replaced;
    }
    QCOMPARE(formatLogRow(row), expected);
}

void TestSeriesLog::path()
{
    const QDateTime start(QDate(2026, 3, 4), QTime(5, 6, 7, 890));
    QCOMPARE(seriesLogPath(QStringLiteral("/data/"), QStringLiteral("Probe A"), start),
             QStringLiteral("/data/Probe A_20260304-050607.csv"));
}

// The camera line names what was opened, not only what the driver file asked for.
void TestSeriesLog::cameraLine_data()
{
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QStringList>("identity"); // source, device, model, serial
    QTest::addColumn<QString>("expected");
    QTest::newRow("test pattern") << "test-pattern" << QStringList{"test-pattern", "", "", ""}
                                  << "source test-pattern, 64x48, Mono8";
    QTest::newRow("auto found a camera")
        << "auto" << QStringList{"v4l2", "/dev/video2", "UVC Camera", "A1B2"}
        << "source v4l2 (chosen by auto), device /dev/video2, model UVC Camera, serial A1B2, 64x48, Mono8";
    QTest::newRow("auto found none") << "auto" << QStringList{"test-pattern", "", "", ""}
                                     << "source test-pattern (chosen by auto), 64x48, Mono8";
    QTest::newRow("lost camera") << "genicam" << QStringList{"", "", "", ""} << "source genicam, 64x48, Mono8";
    // A line break in a value stays on the '#' line, written as "\n".
    QTest::newRow("line break in the device") << "v4l2" << QStringList{"v4l2", "/dev/vid\neo0", "", ""}
                                              << "source v4l2, device /dev/vid\\neo0, 64x48, Mono8";
}

void TestSeriesLog::cameraLine()
{
    QFETCH(QString, requested);
    QFETCH(QStringList, identity);
    QFETCH(QString, expected);
    SeriesLogHeader header;
    header.driverFile = QStringLiteral("/drivers/camera.vin");
    header.requestedSource = requested;
    header.camera = CameraIdentity{identity[0], identity[1], identity[2], identity[3]};
    header.width = 64;
    header.height = 48;
    header.pixelFormat = QStringLiteral("Mono8");
    const QStringList lines = formatLogHeader(header).split(QLatin1Char('\n'));
    QCOMPARE(lines.filter(QStringLiteral("# camera:")),
             QStringList{QStringLiteral("# camera: driver file /drivers/camera.vin, ") + expected});
}

// A second series started in the same second gets a log of its own; a folder in the way of the
// name is a fault, not another series.
void TestSeriesLog::ownNameForEverySeries()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Probe_20260304-050607.csv"));
    SeriesLog first, second, third;
    QVERIFY(first.open(path, SeriesLogHeader{}).ok());
    QVERIFY(second.open(path, SeriesLogHeader{}).ok());
    QCOMPARE(first.path(), path);
    QCOMPARE(second.path(), dir.filePath(QStringLiteral("Probe_20260304-050607_2.csv")));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Taken.csv")));
    const Status blocked = third.open(dir.filePath(QStringLiteral("Taken.csv")), SeriesLogHeader{});
    QVERIFY(!blocked.ok());
    QVERIFY2(blocked.reason().endsWith(QStringLiteral("\nA directory of that name is in the way.")), qPrintable(blocked.reason()));
}

// The camera's settings at Start, and a word where the pictures cannot keep the camera's bits.
void TestSeriesLog::settingsAndBits_data()
{
    QTest::addColumn<OptionalSettings>("settings");
    QTest::addColumn<QString>("fileType");
    QTest::addColumn<QStringList>("expected");

    CameraSettingsInForce fixed{10000, false, 6, false, "dB", 25, "Mono12", 12, "free-running", "the stamp", {}};
    CameraSettingsInForce automatic{8000, true, 32, true, "raw", 30, "YUYV", 8, "free-running", "", {0.65, "GFP"}};
    CameraSettingsInForce pattern{std::nullopt, false, std::nullopt, false, "", 25, "Mono8", 8, "free-running", "", {}};
    QTest::newRow("fixed, into .bmp")
        << OptionalSettings(fixed) << ".bmp"
        << QStringList{"# settings: exposure 10000 us, gain 6 dB, frame rate 25 frames/s, pixel format Mono12, "
                       "12 significant bits, trigger free-running",
                       "# frame_ms: the stamp",
                       "# bits: the camera gives 12 significant bits; .bmp pictures keep the upper 8"};
    QTest::newRow("fixed, into .mio")
        << OptionalSettings(fixed) << ".mio"
        << QStringList{"# settings: exposure 10000 us, gain 6 dB, frame rate 25 frames/s, pixel format Mono12, "
                       "12 significant bits, trigger free-running",
                       "# frame_ms: the stamp"};
    QTest::newRow("automatic, raw gain")
        << OptionalSettings(automatic) << ".jpg"
        << QStringList{"# settings: exposure automatic, 8000 us at Start, gain automatic, 32 (raw) at Start, frame "
                       "rate 30 frames/s, pixel format YUYV, 8 significant bits, trigger free-running, pixel size 0.65 um, "
                       "channel name GFP"};
    QTest::newRow("test pattern")
        << OptionalSettings(pattern) << ".bmp"
        << QStringList{"# settings: exposure unknown, gain unknown, frame rate 25 frames/s, pixel format Mono8, "
                       "8 significant bits, trigger free-running"};
    QTest::newRow("still picture") << OptionalSettings() << ".tif" << QStringList{};
}

void TestSeriesLog::settingsAndBits()
{
    QFETCH(OptionalSettings, settings);
    QFETCH(QString, fileType);
    QFETCH(QStringList, expected);
    SeriesLogHeader header;
    header.settings = settings;
    header.significantBits = settings ? settings->significantBits : 12;
    header.fileType = fileType;
    header.bitsKept = significantBitsKept(header.significantBits, QStringLiteral("picture") + fileType);
    const QStringList lines = formatLogHeader(header).split(QLatin1Char('\n'));
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^# (settings|frame_ms|bits):"))), expected);
    // New columns come last, so that readers by name and by position keep working.
    QVERIFY(lines.contains(QStringLiteral(
        "picture,file,scheduled_ms,stopwatch_ms,lateness_ms,channel0_count,channel0_mA,channel1_count,channel1_V,"
        "result,bytes,replaced,frame_id,frame_ms,frame_age_ms,exposure_us,gain")));
}

QTEST_MAIN(TestSeriesLog)
#include "test_series_log.moc"
