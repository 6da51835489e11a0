#include "analog/analog_card.h"
#include "analog/simulated_card.h"
#include "ui/common_dialog.h"
#include "ui/form1.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

QString driver()
{
    return qEnvironmentVariable("PIR_DRIVERS_DIR") + QStringLiteral("/test-pattern.vin");
}

// Answers the next modal file dialog; `title` receives its window title. It looks again until
// the dialog is up, so that it does not depend on how soon the dialog opens.
void answerNextDialog(const std::function<void(QFileDialog *)> &answer, QString *title, int attempts = 100)
{
    QTimer::singleShot(50, [answer, title, attempts] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (attempts > 1)
                answerNextDialog(answer, title, attempts - 1);
            return;
        }
        *title = dialog->windowTitle();
        answer(dialog);
    });
}

// Confirms in `directory` with the name the file field holds, or with `name`, as "Open" does.
std::function<void(QFileDialog *)> confirmIn(const QString &directory, const QString &name = QString())
{
    return [directory, name](QFileDialog *d) {
        d->setDirectory(directory);
        if (!name.isEmpty())
            d->selectFile(name);
        static_cast<QDialog *>(d)->accept(); // QFileDialog keeps accept() protected
    };
}

void cancel(QFileDialog *d)
{
    d->reject();
}

class RealSeemingCard : public AnalogCard
{
public:
    int AnalogIn(int, int, int, std::int16_t &count) override
    {
        count = 0;
        return 0;
    }
    bool isSimulated() const override { return false; }
};

} // namespace

class TestForm1Naming : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void composesTheDocumentedExamples();
    void everyEditOfTheBaseNameTakesFreshReadings();
    void readButtonsAndFailedReads();
    void directoryFromDialog_data();
    void directoryFromDialog();
    void cancelKeepsTheDirectory();
    void movingKeepsThePresetName_data();
    void movingKeepsThePresetName();
    void fileTypeFollowsOnlyAPick();
    void captionTellsWhetherReadingsAreSimulated();

private:
    SimulatedCard *m_card = nullptr;
    std::unique_ptr<Form1> m_form;
    QTemporaryDir m_dir;
};

void TestForm1Naming::init()
{
    auto card = std::make_unique<SimulatedCard>();
    m_card = card.get();
    m_form = std::make_unique<Form1>(driver(), std::move(card));
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestForm1Naming::cleanup()
{
    m_form.reset();
}

void TestForm1Naming::composesTheDocumentedExamples()
{
    Form1 &f = *m_form;
    m_card->setCount(0, 2048);
    m_card->setCount(1, 2171);
    f.state().SaveDirectory = QStringLiteral("/data/");
    f.SaveText->setText(QStringLiteral("Probe"));
    f.NumberCheck->setChecked(true);
    QCOMPARE(f.TimeName->text(), QStringLiteral("_001_0000000msec"));
    QCOMPARE(f.state().FullFileName, QStringLiteral("/data/Probe_001_0000000msec_106_mA_05.3_V.bmp"));
    QCOMPARE(f.FileLabel->text(), f.state().FullFileName);

    f.NumberCheck->setChecked(false);
    f.Channel0Check->setChecked(false);
    f.Channel1Check->setChecked(false);
    f.state().ElapsedMsec = 12345.6;
    f.ComposeFileName();
    QCOMPARE(f.FileLabel->text(), QStringLiteral("/data/Probe_0012346msec.bmp"));
    f.TimeCheck->setChecked(false);
    QCOMPARE(f.TimeName->text(), QString());
    QCOMPARE(f.FileLabel->text(), QStringLiteral("/data/Probe.bmp"));
}

void TestForm1Naming::everyEditOfTheBaseNameTakesFreshReadings()
{
    Form1 &f = *m_form;
    f.SaveText->clear();
    const int before = m_card->readCount(1);
    QTest::keyClicks(f.SaveText, QStringLiteral("run"));
    QCOMPARE(m_card->readCount(1), before + 3);
    QCOMPARE(f.state().BaseName, QStringLiteral("run"));
    // Only the last composition's readings are in the name, and they are the labels' texts.
    const QString suffix = u'_' + f.Channel0OutLabel->text() + u'_' + f.Channel1OutLabel->text();
    QCOMPARE(f.state().AnalogSuffix, suffix);
    QVERIFY(f.FileLabel->text().endsWith(QStringLiteral("/run_0000000msec") + suffix + QStringLiteral(".bmp")));
}

void TestForm1Naming::readButtonsAndFailedReads()
{
    Form1 &f = *m_form;
    m_card->setCount(0, 512);
    QTest::mouseClick(f.Read0Command, Qt::LeftButton);
    QCOMPARE(f.Channel0OutLabel->text(), QStringLiteral("027_mA"));
    QCOMPARE(f.Channel1OutLabel->text(), QString());
    QCOMPARE(f.FileLabel->text(), QStringLiteral("Filename to Save"));

    m_card->setFailure(AnalogError::ReadFailed);
    f.state().SaveDirectory = QStringLiteral("/data/");
    f.ComposeFileName();
    QCOMPARE(f.Channel0OutLabel->text(), QStringLiteral("ERR_mA"));
    QCOMPARE(f.FileLabel->text(), QStringLiteral("/data/VideoBasename_0000000msec_ERR_mA_ERR_V.bmp"));
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void TestForm1Naming::directoryFromDialog_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("picked file") << "x.bmp";
    QTest::newRow("preset name confirmed") << "";
}

void TestForm1Naming::directoryFromDialog()
{
    QFETCH(QString, name);
    const QString run = m_dir.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkpath(run));
    QFile picked(run + QStringLiteral("/x.bmp"));
    QVERIFY(picked.open(QIODevice::WriteOnly));
    picked.close();

    QString title;
    answerNextDialog(confirmIn(run, name), &title);
    QTest::mouseClick(m_form->SetDir, Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("Please Choose a Directory"));
    QCOMPARE(m_form->state().SaveDirectory, run + u'/');
    QVERIFY(m_form->FileLabel->text().startsWith(run + QStringLiteral("/VideoBasename_")));
}

void TestForm1Naming::cancelKeepsTheDirectory()
{
    Form1 &f = *m_form;
    const QString before = f.state().SaveDirectory;
    QString title;
    answerNextDialog(cancel, &title);
    QTest::mouseClick(f.SetDir, Qt::LeftButton);
    QVERIFY(!title.isEmpty());
    QCOMPARE(f.state().SaveDirectory, before);
    // The name is recomposed all the same, without the dialog's preset text.
    QVERIFY(f.FileLabel->text().startsWith(before + QStringLiteral("VideoBasename_")));

    answerNextDialog(confirmIn(m_dir.path()), &title);
    QTest::mouseClick(f.SetDir, Qt::LeftButton);
    title.clear();
    answerNextDialog(cancel, &title);
    QTest::mouseClick(f.SetDir, Qt::LeftButton);
    QVERIFY(!title.isEmpty());
    QCOMPARE(f.state().SaveDirectory, m_dir.path() + u'/');
}

void TestForm1Naming::movingKeepsThePresetName_data()
{
    QTest::addColumn<QString>("from"); // where the dialog opens, below the temporary folder
    QTest::addColumn<QString>("typed"); // into the file-name field, then Enter; <dir> is that folder
    QTest::addColumn<QString>("to");
    QTest::newRow("into a folder by name") << "" << "run" << "run";
    QTest::newRow("to a folder by path") << "" << "<dir>/run" << "run";
    QTest::newRow("up to the parent") << "run" << ".." << "";
}

void TestForm1Naming::movingKeepsThePresetName()
{
    QFETCH(QString, from);
    QFETCH(QString, typed);
    QFETCH(QString, to);
    const QString dir = m_dir.path();
    QVERIFY(QDir().mkpath(dir + QStringLiteral("/run")));
    const auto below = [&dir](const QString &name) { return name.isEmpty() ? dir : dir + u'/' + name; };
    m_form->CommonDialog1->FileName = below(from) + QStringLiteral("/Please Choose a Directory");

    QString title, field;
    bool openEnabled = false;
    answerNextDialog(
        [&](QFileDialog *d) {
            auto *name = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            name->setFocus();
            // Set at once: typed key by key, the completer could show its list of "/" in time
            // for the Return to pick it (the save directory became "/" under load).
            name->setText(QString(typed).replace(QLatin1String("<dir>"), dir));
            QTest::keyClick(name, Qt::Key_Return);
            field = name->text();
            QPushButton *open = d->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Open);
            openEnabled = open->isEnabled();
            if (openEnabled)
                open->click();
            if (d->isVisible()) // "Open" moved on instead of confirming
                d->reject();
        },
        &title);
    QTest::mouseClick(m_form->SetDir, Qt::LeftButton);
    QCOMPARE(field, QStringLiteral("Please Choose a Directory"));
    QVERIFY(openEnabled);
    QCOMPARE(m_form->state().SaveDirectory, below(to) + u'/');
}

void TestForm1Naming::fileTypeFollowsOnlyAPick()
{
    Form1 &f = *m_form;
    f.SaveText->setText(QStringLiteral("Probe"));
    const QString composed = f.FileLabel->text();
    f.FileType->setFocus();
    f.FileType->lineEdit()->selectAll();
    QTest::keyClicks(f.FileType->lineEdit(), QStringLiteral(".png"));
    f.SaveText->setFocus(); // leaving the box is no pick either
    QCOMPARE(f.state().FileExtension, QStringLiteral(".bmp"));
    QCOMPARE(f.FileLabel->text(), composed);

    f.FileType->showPopup();
    QAbstractItemView *list = f.FileType->view();
    QVERIFY(QTest::qWaitForWindowExposed(list->window()));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(1, 0)).center());
    QTRY_COMPARE(f.state().FileExtension, QStringLiteral(".tif"));
    QVERIFY(f.FileLabel->text().endsWith(QStringLiteral(".tif")));
}

void TestForm1Naming::captionTellsWhetherReadingsAreSimulated()
{
    QCOMPARE(m_form->ADFrame->title(), QStringLiteral("AD-Card - CIO-DAS08 (simulated)"));
    Form1 real(driver(), std::make_unique<RealSeemingCard>());
    QCOMPARE(real.ADFrame->title(), QStringLiteral("AD-Card - CIO-DAS08"));
    if (!QFile::exists(QStringLiteral("/dev/comedi0"))) {
        Form1 chosen(driver());
        QVERIFY(chosen.card().isSimulated());
    }
}

QTEST_MAIN(TestForm1Naming)
#include "test_form1_naming.moc"
