#include "naming/file_name.h"
#include "base/number_pattern.h"

#include <QtTest>

class TestNaming : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void formatNumber_data();
    void formatNumber();
    void numberAndTimePiece_data();
    void numberAndTimePiece();
    void directoryAfterDialog_data();
    void directoryAfterDialog();
};

void TestNaming::formatNumber_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");

    QTest::newRow("exact half rounds up") << 212 * 512 / 4096.0 << "000" << "C" << "027";
    QTest::newRow("more digits than pattern") << 1234.0 << "000" << "C" << "1234";
    QTest::newRow("one decimal") << 10 * 2171 / 4096.0 << "00.0" << "C" << "05.3";
    QTest::newRow("carry into a new digit") << 99.96 << "00.0" << "C" << "100.0";
    QTest::newRow("decimal comma") << 10 * 2171 / 4096.0 << "00.0" << "de_DE" << "05,3";
    QTest::newRow("milliseconds") << 12345.6 << "0000000" << "C" << "0012346";
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

void TestNaming::numberAndTimePiece_data()
{
    QTest::addColumn<bool>("addNumber");
    QTest::addColumn<bool>("addTime");
    QTest::addColumn<qint64>("counter");
    QTest::addColumn<double>("msec");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nothing ticked") << false << false << qint64(7) << 12.0 << "";
    QTest::newRow("time only") << false << true << qint64(1) << 12345.6 << "_0012346msec";
    QTest::newRow("both") << true << true << qint64(1) << 0.0 << "_001_0000000msec";
    QTest::newRow("counter 1000") << true << true << qint64(1000) << 499.5 << "_1000_0000500msec";
    QTest::newRow("counter beyond 16 bits") << true << false << qint64(40000) << 0.0 << "_40000";
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

void TestNaming::directoryAfterDialog_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("fullName");
    QTest::addColumn<QString>("fileTitle");
    QTest::addColumn<QString>("expected");

    QTest::newRow("picked file") << "/old/" << true << "/data/run/x.bmp" << "x.bmp" << "/data/run/";
    QTest::newRow("file in root") << "/old/" << true << "/x.bmp" << "x.bmp" << "/";
    QTest::newRow("cancel before any choice") << "/old/" << false << "Please Choose a Directory" << "" << "/old/";
    QTest::newRow("cancel after a choice") << "/data/run/" << false << "/data/y.bmp" << "y.bmp" << "/data/run/";
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
