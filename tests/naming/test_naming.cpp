#include "analog/channel_reading.h"
#include "analog/simulated_card.h"
#include "app/capture_state.h"
#include "naming/file_name.h"
#include "naming/number_pattern.h"

#include <QtTest>

#include <limits>

class TestNaming : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void formatNumber_data();
    void formatNumber();
    void formatInteger_data();
    void formatInteger();
    void numberAndTimePiece_data();
    void numberAndTimePiece();
    void composesTheDocumentedExamples();
    void directoryAfterDialog_data();
    void directoryAfterDialog();
};

void TestNaming::formatNumber_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero") << 0.0 << "000" << "C" << "000";
    QTest::newRow("exact half rounds up") << 212 * 512 / 4096.0 << "000" << "C" << "027";
    QTest::newRow("just below half") << 26.4999 << "000" << "C" << "026";
    QTest::newRow("full scale") << 212 * 4095 / 4096.0 << "000" << "C" << "212";
    QTest::newRow("more digits than pattern") << 1234.0 << "000" << "C" << "1234";
    QTest::newRow("one decimal") << 10 * 2171 / 4096.0 << "00.0" << "C" << "05.3";
    QTest::newRow("half of a decimal") << 10 * 512 / 4096.0 << "00.0" << "C" << "01.3";
    QTest::newRow("carry into a new digit") << 99.96 << "00.0" << "C" << "100.0";
    QTest::newRow("rounds to the next whole") << 10 * 4095 / 4096.0 << "00.0" << "C" << "10.0";
    QTest::newRow("decimal comma") << 10 * 2171 / 4096.0 << "00.0" << "de_DE" << "05,3";
    QTest::newRow("milliseconds") << 12345.6 << "0000000" << "C" << "0012346";
    QTest::newRow("half a millisecond") << 0.5 << "0000000" << "C" << "0000001";
    QTest::newRow("long series") << 1.0e9 << "0000000" << "C" << "1000000000";
    // Their nearest doubles lie just below the half; read as decimals they are halves.
    QTest::newRow("1.15 as decimal") << 1.15 << "0.0" << "C" << "1.2";
    QTest::newRow("2.675 as decimal") << 2.675 << "0.00" << "C" << "2.68";
    QTest::newRow("negative half away from zero") << -2.5 << "000" << "C" << "-003";
    QTest::newRow("negative rounding to zero") << -0.4 << "000" << "C" << "000";
}

void TestNaming::formatNumber()
{
    QFETCH(double, value);
    QFETCH(QString, pattern);
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    QCOMPARE(::formatNumber(value, pattern, QLocale(locale)), expected);
}

void TestNaming::formatInteger_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("expected");

    QTest::newRow("first picture") << qint64(1) << "000" << "001";
    QTest::newRow("thousand") << qint64(1000) << "000" << "1000";
    QTest::newRow("beyond 16 bits") << qint64(40000) << "000" << "40000";
    QTest::newRow("with decimals") << qint64(5) << "00.0" << "05.0";
    QTest::newRow("most negative") << std::numeric_limits<qint64>::min() << "000" << "-9223372036854775808";
}

void TestNaming::formatInteger()
{
    QFETCH(qint64, value);
    QFETCH(QString, pattern);
    QFETCH(QString, expected);
    QCOMPARE(::formatInteger(value, pattern, QLocale::c()), expected);
}

void TestNaming::numberAndTimePiece_data()
{
    QTest::addColumn<bool>("addNumber");
    QTest::addColumn<bool>("addTime");
    QTest::addColumn<qint64>("counter");
    QTest::addColumn<double>("msec");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nothing ticked") << false << false << qint64(7) << 12.0 << "";
    QTest::newRow("number only") << true << false << qint64(1) << 0.0 << "_001";
    QTest::newRow("time only") << false << true << qint64(1) << 0.0 << "_0000000msec";
    QTest::newRow("time rounded") << false << true << qint64(1) << 12345.6 << "_0012346msec";
    QTest::newRow("both") << true << true << qint64(1) << 0.0 << "_001_0000000msec";
    QTest::newRow("counter 1000") << true << true << qint64(1000) << 499.5 << "_1000_0000500msec";
    QTest::newRow("counter 1234") << true << false << qint64(1234) << 0.0 << "_1234";
}

void TestNaming::numberAndTimePiece()
{
    QFETCH(bool, addNumber);
    QFETCH(bool, addTime);
    QFETCH(qint64, counter);
    QFETCH(double, msec);
    QFETCH(QString, expected);
    QCOMPARE(::numberAndTimePiece(addNumber, addTime, counter, msec, QLocale::c()), expected);
}

void TestNaming::composesTheDocumentedExamples()
{
    const QLocale c = QLocale::c();
    CaptureState state;
    SimulatedCard card;
    card.setCount(0, 2048);
    card.setCount(1, 2171);
    takeChannelReading(state, card, 0, c);
    takeChannelReading(state, card, 1, c);
    QCOMPARE(fullFileName("/data/", "Probe", ::numberAndTimePiece(true, true, 1, 0, c), state.AnalogSuffix, ".bmp"),
             QStringLiteral("/data/Probe_001_0000000msec_106_mA_05.3_V.bmp"));

    QCOMPARE(fullFileName("/data/", "Probe", ::numberAndTimePiece(false, true, 1, 12345.6, c), "", ".bmp"),
             QStringLiteral("/data/Probe_0012346msec.bmp"));
    QCOMPARE(fullFileName("/data/", "Probe", "", "", ".tif"), QStringLiteral("/data/Probe.tif"));
    QCOMPARE(fullFileName("/data/", "", "_001", "", ".jpg"), QStringLiteral("/data/_001.jpg"));
}

void TestNaming::directoryAfterDialog_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("fullName");
    QTest::addColumn<QString>("fileTitle");
    QTest::addColumn<QString>("expected");

    QTest::newRow("picked file") << "/old/" << true << "/data/run/x.bmp" << "x.bmp" << "/data/run/";
    QTest::newRow("preset name confirmed") << "/old/" << true << "/data/run/Please Choose a Directory"
                                           << "Please Choose a Directory" << "/data/run/";
    QTest::newRow("file in root") << "/old/" << true << "/x.bmp" << "x.bmp" << "/";
    QTest::newRow("cancel before any choice") << "/old/" << false << "Please Choose a Directory" << ""
                                              << "/old/";
    QTest::newRow("cancel after a choice") << "/data/run/" << false << "/elsewhere/y.bmp" << "y.bmp"
                                           << "/data/run/";
}

void TestNaming::directoryAfterDialog()
{
    QFETCH(QString, current);
    QFETCH(bool, accepted);
    QFETCH(QString, fullName);
    QFETCH(QString, fileTitle);
    QFETCH(QString, expected);
    QCOMPARE(::directoryAfterDialog(current, accepted, fullName, fileTitle), expected);
}

QTEST_GUILESS_MAIN(TestNaming)
#include "test_naming.moc"
