#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

// Runs the built program as a user would, with and without a display, and reads what it says.
class TestCommandLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void exitCodesAndOutputs_data();
    void exitCodesAndOutputs();
};

void TestCommandLine::exitCodesAndOutputs_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display"); // empty: none at all; else DISPLAY or a Qt platform
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // what standard output holds; empty: nothing
    QTest::addColumn<QString>("err"); // what standard error holds; empty: nothing

    const QString usage = QStringLiteral("Usage: pictures-in-a-row [options]");
    const QString drivers = qEnvironmentVariable("PIR_DRIVERS_DIR");
    QTest::newRow("help") << QStringList{"--help"} << "" << 0 << usage << "";
    QTest::newRow("-h") << QStringList{"-h"} << "" << 0 << "--driver <FILE>" << "";
    QTest::newRow("version") << QStringList{"--version"} << "" << 0 << "pictures-in-a-row " PIR_VERSION "\n" << "";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "" << 2 << "" << "Unknown option 'bogus'.";
    QTest::newRow("usage on error") << QStringList{"--bogus"} << "" << 2 << "" << usage;
    QTest::newRow("missing value") << QStringList{"--driver"} << "" << 2 << "" << "Missing value after '--driver'.";
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << "" << 2 << "" << "Unknown command 'frobnicate'.";
    QTest::newRow("no display") << QStringList() << "" << 1 << "" << "xvfb-run -a pictures-in-a-row\n";
    QTest::newRow("display gone") << QStringList() << ":97531" << 1 << "" << "xvfb-run -a pictures-in-a-row\n";
    QTest::newRow("check default driver")
        << QStringList{"--check"} << "" << 0 << drivers + "/camera.vin: Test pattern" << "";
    QTest::newRow("check relative driver")
        << QStringList{"--check", "--driver", "test-pattern.vin"} << "" << 0 << drivers + "/test-pattern.vin: Test" << "";
    QTest::newRow("check missing driver")
        << QStringList{"--check", "--driver", "missing.vin"} << "offscreen" << 1 << "" << "driver file not found";
}

void TestCommandLine::exitCodesAndOutputs()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"})
        env.remove(QLatin1String(name));
    if (display.startsWith(QLatin1Char(':')))
        env.insert(QStringLiteral("DISPLAY"), display);
    else if (!display.isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), display);

    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(qEnvironmentVariable("PIR_DRIVERS_DIR"));
    program.start(QStringLiteral(PIR_BINARY), arguments);
    QVERIFY(program.waitForFinished(20000));
    const QString stdOut = QString::fromLocal8Bit(program.readAllStandardOutput());
    const QString stdErr = QString::fromLocal8Bit(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() == exitCode, qPrintable(stdOut + stdErr));
    QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.contains(out), qPrintable(stdOut));
    QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.contains(err), qPrintable(stdErr));
    // Without a display the program says so in one line and nothing else.
    if (exitCode == 1 && arguments.isEmpty())
        QCOMPARE(stdErr.count(QLatin1Char('\n')), 1);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
