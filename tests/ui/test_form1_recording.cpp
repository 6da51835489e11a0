#include "analog/simulated_card.h"
#include "ui/image_control.h"
#include "picture_files/image_files.h"
#include "ui/form1.h"
#include "ui/message_box.h"
#include "ui/status_line.h"
#include "test_files.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// Clicks as the window system delivers a user's click: to the window, at the control's place.
void clickAsUser(QWidget *control)
{
    QWidget *window = control->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, control->mapTo(window, control->rect().center()));
}

} // namespace

class TestForm1Recording : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void startRefusals();
    void seriesNumbersWithoutGapsAndGrowingTimes();
    void startThenStopLeavesOnePicture();
    void liveClearAtStartIsTickedAtStop();
    void stopAndStartAgainRestartsCounterAndTime();
    void interval_data();
    void interval();
    void refusedIntervalSwallowsClicks();
    void outputDirectoryIsCreated();
    void failedSaveStopsTheSeries();
    void noImageStopsTheSeries();
    void statusLine();

private:
    void makeForm(const QString &driverText);
    void useNewSeries(const QString &base);
    QStringList pictures() const;

    std::unique_ptr<Form1> m_form;
    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_messages;
};

void TestForm1Recording::makeForm(const QString &driverText)
{
    const QString driver = m_dir->filePath(QStringLiteral("camera.vin"));
    QVERIFY(!writeTextFile(driver, driverText).isEmpty());
    m_form = std::make_unique<Form1>(driver, std::make_unique<SimulatedCard>());
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestForm1Recording::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_messages.clear();
    setMessageSink([this](const QString &text) { m_messages << text; });
    makeForm(QStringLiteral("source = test-pattern\nwidth = 64\nheight = 48\n"));
}

void TestForm1Recording::cleanup()
{
    m_form.reset();
    setMessageSink({});
}

// Points the output at the temporary folder and types a fresh base name.
void TestForm1Recording::useNewSeries(const QString &base)
{
    m_form->state().SaveDirectory = m_dir->path() + QStringLiteral("/out/");
    m_form->SaveText->setText(base);
}

QStringList TestForm1Recording::pictures() const
{
    QStringList files = QDir(m_dir->path() + QStringLiteral("/out")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    files.removeIf([](const QString &name) { return name.endsWith(QLatin1String(".csv")); }); // the series logs
    return files;
}

void TestForm1Recording::startRefusals()
{
    Form1 &f = *m_form;
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QCOMPARE(m_messages.takeLast(), QStringLiteral("Please choose a filename first!"));
    QTest::mouseClick(f.NumberCheck, Qt::LeftButton); // composes, base name unchanged
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QCOMPARE(m_messages.takeLast(), QStringLiteral("Please choose a new filename!"));
    f.Channel0Check->setChecked(false);
    f.Channel1Check->setChecked(false);
    f.TimeCheck->setChecked(false);
    useNewSeries(QStringLiteral("Probe"));
    QDir().mkpath(m_dir->path() + QStringLiteral("/out"));
    QFile existing(f.state().FullFileName);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QCOMPARE(m_messages.takeLast(), QStringLiteral("File already exists:") + f.state().FullFileName);
    QCOMPARE(f.state().Recording, RecordingState::Idle);
    QCOMPARE(f.StartStop->text(), QStringLiteral("Start"));
    QVERIFY(f.FileSetupFrame->isEnabled());
    QVERIFY(f.LiveCheck1->isChecked());
    QVERIFY(m_messages.isEmpty());
}

void TestForm1Recording::seriesNumbersWithoutGapsAndGrowingTimes()
{
    Form1 &f = *m_form;
    f.NumberCheck->setChecked(true);
    f.Channel1Check->setChecked(false);
    f.Timer1->setInterval(50);
    useNewSeries(QStringLiteral("Run"));
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QCOMPARE(f.state().Recording, RecordingState::Recording);
    QCOMPARE(f.StartStop->text(), QStringLiteral("Stop"));
    QVERIFY(!f.FileSetupFrame->isEnabled() && !f.VideoSetupFrame->isEnabled() && !f.ADFrame->isEnabled());
    QVERIFY(!f.OpenImage->isEnabled());
    QVERIFY(f.Timer1->isActive());
    QTRY_VERIFY(pictures().size() >= 6);
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QTRY_COMPARE(f.state().Recording, RecordingState::Idle);
    QVERIFY(!f.Timer1->isActive());
    QVERIFY(f.engine().waitForSync(5000));
    QVERIFY(m_messages.isEmpty());

    const QRegularExpression pattern(QStringLiteral("^Run_(\\d{3})_(\\d{7})msec_(\\d{3})_mA\\.bmp$"));
    const QStringList files = pictures();
    double lastTime = -1;
    for (int i = 0; i < files.size(); ++i) {
        const QRegularExpressionMatch m = pattern.match(files[i]);
        QVERIFY2(m.hasMatch(), qPrintable(files[i]));
        QCOMPARE(m.captured(1).toInt(), i + 1);
        const double time = m.captured(2).toDouble();
        QVERIFY(time > lastTime);
        if (i > 0) // one tick apart, give or take the machine's stalls
            QVERIFY2(time - lastTime >= 40, qPrintable(files[i]));
        lastTime = time;
        Frame frame;
        QVERIFY(loadImage(m_dir->path() + QStringLiteral("/out/") + files[i], frame).ok());
        QCOMPARE(frame.width, 64);
    }
    QVERIFY(pattern.match(files.first()).captured(2).toInt() < 50);
    // Stopping prepares the next series' name.
    QCOMPARE(f.state().FrameCounter, 1);
    QVERIFY(f.FileLabel->text().contains(QStringLiteral("Run_001_0000000msec")));
    QCOMPARE(f.state().LastBaseName, QStringLiteral("Run"));
}

void TestForm1Recording::startThenStopLeavesOnePicture()
{
    Form1 &f = *m_form;
    f.NumberCheck->setChecked(true);
    f.Timer1->setInterval(200);
    useNewSeries(QStringLiteral("Once"));
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QVERIFY(f.engine().waitForSync(5000));
    QTest::qWait(300);
    QCOMPARE(pictures().size(), 1);
    QVERIFY(pictures().first().startsWith(QStringLiteral("Once_001_")));
}

void TestForm1Recording::liveClearAtStartIsTickedAtStop()
{
    Form1 &f = *m_form;
    f.LiveCheck1->setChecked(false);
    QVERIFY(!f.CVimage1->isLive());
    useNewSeries(QStringLiteral("Live"));
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QVERIFY(!f.CVimage1->isLive());
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QTRY_VERIFY(f.LiveCheck1->isChecked());
    QVERIFY(f.CVimage1->isLive());
}

void TestForm1Recording::stopAndStartAgainRestartsCounterAndTime()
{
    Form1 &f = *m_form;
    f.NumberCheck->setChecked(true);
    f.Channel0Check->setChecked(false);
    f.Channel1Check->setChecked(false);
    f.Timer1->setInterval(50);
    useNewSeries(QStringLiteral("A"));
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QTRY_VERIFY(pictures().size() >= 3);
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QTRY_COMPARE(f.state().Recording, RecordingState::Idle);
    QTest::mouseClick(f.StartStop, Qt::LeftButton); // same base name: refused
    QCOMPARE(m_messages.takeLast(), QStringLiteral("Please choose a new filename!"));
    f.SaveText->setText(QStringLiteral("B"));
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QVERIFY(f.engine().waitForSync(5000));
    const QStringList b = pictures().filter(QRegularExpression(QStringLiteral("^B_")));
    QCOMPARE(b.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^B_001_00000\\d\\dmsec\\.bmp$")).match(b.first()).hasMatch(),
             qPrintable(b.first()));
}

void TestForm1Recording::interval_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("message");
    QTest::addColumn<bool>("focusStays");
    QTest::addColumn<int>("interval");
    QTest::newRow("50") << "50" << false << false << 50;
    QTest::newRow("65000") << "65000" << false << false << 65000;
    QTest::newRow("49") << "49" << true << false << 500;
    QTest::newRow("49.4") << "49.4" << true << false << 500;
    QTest::newRow("65001") << "65001" << true << false << 500;
    QTest::newRow("abc") << "abc" << true << true << 500;
    QTest::newRow("empty") << "" << true << true << 500;
    QTest::newRow("100.6") << "100.6" << false << false << 101;
    QTest::newRow("100.5") << "100.5" << false << false << 100;
    QTest::newRow("101.5") << "101.5" << false << false << 102;
}

void TestForm1Recording::interval()
{
    QFETCH(QString, text);
    QFETCH(bool, message);
    QFETCH(bool, focusStays);
    QFETCH(int, interval);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Form1 &f = *m_form;
    f.activateWindow();
    f.Frames->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), f.Frames);
    f.Frames->setText(text);
    QTest::keyClick(f.Frames, Qt::Key_Tab);
    QCOMPARE(m_messages.size(), message ? 1 : 0);
    if (message)
        QCOMPARE(m_messages.first(), QStringLiteral("Only Numbers between 50 and 65000 are allowed"));
    QCOMPARE(QApplication::focusWidget(), focusStays ? static_cast<QWidget *>(f.Frames) : f.StartStop);
    QCOMPARE(f.Timer1->interval(), interval);
    QCOMPARE(f.Frames->text(), text); // a refused text stays in the box
}

void TestForm1Recording::refusedIntervalSwallowsClicks()
{
    Form1 &f = *m_form;
    useNewSeries(QStringLiteral("Never"));
    f.activateWindow();
    f.Frames->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), f.Frames);
    f.Frames->setText(QStringLiteral("abc"));
    clickAsUser(f.StartStop);
    clickAsUser(f.QuitCommand);
    clickAsUser(f.NumberCheck);
    QTest::keyClick(&f, Qt::Key_O, Qt::AltModifier);
    QCOMPARE(m_messages.size(), 4);
    QCOMPARE(f.state().Recording, RecordingState::Idle);
    QVERIFY(f.isVisible());
    QVERIFY(!f.NumberCheck->isChecked());
    QCOMPARE(QApplication::focusWidget(), f.Frames);
    QVERIFY(pictures().isEmpty());
    // Once the text is good, the same click goes through.
    f.Frames->setText(QStringLiteral("250"));
    clickAsUser(f.NumberCheck);
    QVERIFY(f.NumberCheck->isChecked());
    QCOMPARE(f.Timer1->interval(), 250);
    QCOMPARE(m_messages.size(), 4);
    // The window's close box still closes it.
    QVERIFY(f.close());
    QVERIFY(!f.isVisible());
}

void TestForm1Recording::outputDirectoryIsCreated()
{
    Form1 &f = *m_form;
    f.SaveText->setText(QStringLiteral("Fresh"));
    f.state().SaveDirectory = m_dir->path() + QStringLiteral("/not/yet/there/");
    f.ComposeFileName();
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QVERIFY(f.engine().waitForSync(5000));
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(QDir(m_dir->path() + QStringLiteral("/not/yet/there")).entryList({QStringLiteral("*.bmp")}, QDir::Files).size(), 1);
}

void TestForm1Recording::failedSaveStopsTheSeries()
{
    Form1 &f = *m_form;
    f.NumberCheck->setChecked(true);
    f.Timer1->setInterval(50);
    useNewSeries(QStringLiteral("Lost"));
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QTRY_VERIFY(pictures().size() >= 3);
    // The folder is taken away and a file stands in its place.
    const QString out = m_dir->path() + QStringLiteral("/out");
    QVERIFY(QDir().rename(out, m_dir->path() + QStringLiteral("/kept")));
    QFile blocker(out);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QTRY_COMPARE(f.state().Recording, RecordingState::Idle);
    QCOMPARE(m_messages.size(), 1);
    const QStringList lines = m_messages.first().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("Could not save the picture:"));
    QVERIFY(lines[1].startsWith(out + QStringLiteral("/Lost_")));
    // The cause, in words, without the file's name again.
    QCOMPARE(lines[2], QStringLiteral("\"out\" is a file, not a directory."));
    QVERIFY(!f.Timer1->isActive());
    QCOMPARE(f.StartStop->text(), QStringLiteral("Start"));
    QVERIFY(f.FileSetupFrame->isEnabled());
    // Every picture saved before stays whole, and nothing half-written is left.
    const QStringList kept = QDir(m_dir->path() + QStringLiteral("/kept")).entryList({QStringLiteral("*.bmp"), QStringLiteral(".*")}, QDir::Files | QDir::Hidden);
    QVERIFY(kept.size() >= 3);
    for (const QString &name : kept) {
        QVERIFY2(name.endsWith(QLatin1String(".bmp")), qPrintable(name));
        Frame frame;
        QVERIFY(loadImage(m_dir->path() + QStringLiteral("/kept/") + name, frame).ok());
    }
}

void TestForm1Recording::noImageStopsTheSeries()
{
    makeForm(QStringLiteral("source = no-such-camera\n"));
    Form1 &f = *m_form;
    useNewSeries(QStringLiteral("Dark"));
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QTRY_COMPARE(f.state().Recording, RecordingState::Idle);
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().startsWith(QStringLiteral("Could not take the picture:\n")));
    QVERIFY(m_messages.first().contains(QStringLiteral("unknown source")));
    QVERIFY(pictures().isEmpty());
}

// The line under the design area: the series' figures while it runs, a summary with its log
// after it; a warning of the disk at Start, which the log's header gives too.
void TestForm1Recording::statusLine()
{
    Form1 &f = *m_form;
    QCOMPARE(f.StatusLabel->fullText(), QString());
    f.NumberCheck->setChecked(true);
    f.Timer1->setInterval(100);
    useNewSeries(QStringLiteral("Shown"));
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QTRY_VERIFY(pictures().size() >= 3);
    const QRegularExpression running(QStringLiteral(
        "^\\d+ pictures?, \\d+ ticks? missed, 0:00:0\\d since Start, disk full in \\d+ (days|h \\d\\d min)$"));
    QTRY_VERIFY2(running.match(f.StatusLabel->fullText()).hasMatch(), qPrintable(f.StatusLabel->fullText()));
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QVERIFY(f.engine().waitForSync(5000));
    QTRY_COMPARE(f.StatusLabel->fullText(),
                 QStringLiteral("Series ended: %1 pictures, 0 ticks missed in 0:00:00; log %2")
                     .arg(pictures().size())
                     .arg(f.engine().logPath()));
    // A reserve larger than the disk: said at Start, and the series ends at its first picture.
    f.engine().setDiskReserve(std::int64_t(1) << 60);
    useNewSeries(QStringLiteral("NoRoom"));
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
    const QString warning = f.StatusLabel->fullText();
    QVERIFY2(warning.startsWith(QStringLiteral("Disk: ")) && warning.endsWith(QStringLiteral("the series will end at its first")),
             qPrintable(warning));
    QTRY_COMPARE(f.state().Recording, RecordingState::Idle);
    QVERIFY(f.engine().waitForSync(5000));
    QVERIFY2(m_messages.value(0).endsWith(QStringLiteral("\nThe disk is nearly full.")), qPrintable(m_messages.value(0)));
    QFile log(f.engine().logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("\n# disk: " + warning.mid(6).toUtf8() + '\n'));
    QTRY_VERIFY(f.StatusLabel->fullText().startsWith(QStringLiteral("Series ended: 0 pictures, ")));
}

QTEST_MAIN(TestForm1Recording)
#include "test_form1_recording.moc"
