#include "recording/interval.h"
#include "recording/save_target.h"
#include "recording/series.h"

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

QTEST_MAIN(TestRecording)
#include "test_recording.moc"
