#include "analog/analog_card.h"
#include "analog/simulated_card.h"
#include "ui/form1.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
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

QString driver(const char *name)
{
    return qEnvironmentVariable("PIR_DRIVERS_DIR") + QLatin1Char('/') + QLatin1String(name);
}

// Answers the next modal file dialog that opens; `title` receives its window title.
void answerNextDialog(const std::function<void(QFileDialog *)> &answer, QString *title)
{
    QTimer::singleShot(50, [answer, title] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        *title = dialog->windowTitle();
        answer(dialog);
    });
}

// A card that reports itself as real, to see the plain frame caption.
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

// Confirms the dialog as its "Open" button does; QFileDialog keeps accept() protected.
void confirm(QFileDialog *dialog)
{
    static_cast<QDialog *>(dialog)->accept();
}

} // namespace

class TestForm1Naming : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void composesTheDocumentedExamples();
    void noOptionTicked();
    void everyEditOfTheBaseNameTakesFreshReadings();
    void readButtonsChangeOnlyTheirLabel();
    void failedReadShowsErrorWithoutStopping();
    void decimalSeparatorFollowsTheLocale();
    void directoryFromDialog_data();
    void directoryFromDialog();
    void cancelKeepsTheDirectory();
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
    m_form = std::make_unique<Form1>(driver("test-pattern.vin"), std::move(card));
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestForm1Naming::cleanup()
{
    m_form.reset();
    QLocale::setDefault(QLocale::c());
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

    f.state().FrameCounter = 1000;
    f.NumberCheck->setChecked(true);
    QCOMPARE(f.TimeName->text(), QStringLiteral("_1000_0012346msec"));
}

void TestForm1Naming::noOptionTicked()
{
    Form1 &f = *m_form;
    f.state().SaveDirectory = QStringLiteral("/data/");
    f.TimeCheck->setChecked(false);
    f.Channel0Check->setChecked(false);
    f.Channel1Check->setChecked(false);
    QCOMPARE(f.TimeName->text(), QString());
    QCOMPARE(f.FileLabel->text(), QStringLiteral("/data/VideoBasename.bmp"));
    const int reads = m_card->readCount(0) + m_card->readCount(1);
    f.SaveText->clear();
    QCOMPARE(f.FileLabel->text(), QStringLiteral("/data/.bmp"));
    QCOMPARE(m_card->readCount(0) + m_card->readCount(1), reads);
}

void TestForm1Naming::everyEditOfTheBaseNameTakesFreshReadings()
{
    Form1 &f = *m_form;
    f.SaveText->clear();
    f.SaveText->setFocus();
    const int before = m_card->readCount(0);
    QTest::keyClicks(f.SaveText, QStringLiteral("run"));
    QCOMPARE(m_card->readCount(0), before + 3);
    QCOMPARE(m_card->readCount(1), before + 3);
    QCOMPARE(f.state().BaseName, QStringLiteral("run"));
    // Only the last composition's readings are in the name, and they are the labels' texts.
    const QString suffix = u'_' + f.Channel0OutLabel->text() + u'_' + f.Channel1OutLabel->text();
    QCOMPARE(f.state().AnalogSuffix, suffix);
    QVERIFY(f.FileLabel->text().endsWith(QStringLiteral("run_0000000msec") + suffix + QStringLiteral(".bmp")));
}

void TestForm1Naming::readButtonsChangeOnlyTheirLabel()
{
    Form1 &f = *m_form;
    m_card->setCount(0, 512);
    m_card->setCount(1, 512);
    QTest::mouseClick(f.Read0Command, Qt::LeftButton);
    QCOMPARE(f.Channel0OutLabel->text(), QStringLiteral("027_mA"));
    QCOMPARE(f.Channel1OutLabel->text(), QString());
    QTest::mouseClick(f.Read1Command, Qt::LeftButton);
    QCOMPARE(f.Channel1OutLabel->text(), QStringLiteral("01.3_V"));
    QCOMPARE(f.state().AnalogSuffix, QStringLiteral("_027_mA_01.3_V"));
    // Readings of the buttons alone never reach a name: the start-up caption still stands.
    QCOMPARE(f.FileLabel->text(), QStringLiteral("Filename to Save"));
}

void TestForm1Naming::failedReadShowsErrorWithoutStopping()
{
    Form1 &f = *m_form;
    f.state().SaveDirectory = QStringLiteral("/data/");
    m_card->setFailure(AnalogError::ReadFailed);
    QTest::mouseClick(f.Read0Command, Qt::LeftButton);
    QCOMPARE(f.Channel0OutLabel->text(), QStringLiteral("ERR_mA"));
    f.ComposeFileName();
    QCOMPARE(f.FileLabel->text(), QStringLiteral("/data/VideoBasename_0000000msec_ERR_mA_ERR_V.bmp"));
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void TestForm1Naming::decimalSeparatorFollowsTheLocale()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    m_card->setCount(1, 2171);
    QTest::mouseClick(m_form->Read1Command, Qt::LeftButton);
    QCOMPARE(m_form->Channel1OutLabel->text(), QStringLiteral("05,3_V"));
}

void TestForm1Naming::directoryFromDialog_data()
{
    QTest::addColumn<QString>("typedName");
    QTest::newRow("picked file") << "x.bmp";
    QTest::newRow("preset name confirmed") << "";
}

void TestForm1Naming::directoryFromDialog()
{
    QFETCH(QString, typedName);
    QVERIFY(m_dir.isValid());
    const QString run = m_dir.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkpath(run));
    QFile picked(run + QStringLiteral("/x.bmp"));
    QVERIFY(picked.open(QIODevice::WriteOnly));
    picked.close();

    QString title;
    answerNextDialog(
        [run, typedName](QFileDialog *d) {
            d->setDirectory(run);
            if (!typedName.isEmpty())
                d->selectFile(typedName);
            confirm(d);
        },
        &title);
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
    answerNextDialog([](QFileDialog *d) { d->reject(); }, &title);
    QTest::mouseClick(f.SetDir, Qt::LeftButton);
    QVERIFY(!title.isEmpty());
    QCOMPARE(f.state().SaveDirectory, before);
    // The name is recomposed all the same, and the preset text is nowhere in it.
    QCOMPARE(f.FileLabel->text(), f.state().FullFileName);
    QVERIFY(f.FileLabel->text().startsWith(before + QStringLiteral("VideoBasename")));

    QVERIFY(m_dir.isValid());
    answerNextDialog(
        [this](QFileDialog *d) {
            d->setDirectory(m_dir.path());
            confirm(d);
        },
        &title);
    QTest::mouseClick(f.SetDir, Qt::LeftButton);
    const QString chosen = m_dir.path() + u'/';
    QCOMPARE(f.state().SaveDirectory, chosen);
    title.clear();
    answerNextDialog([](QFileDialog *d) { d->reject(); }, &title);
    QTest::mouseClick(f.SetDir, Qt::LeftButton);
    QVERIFY(!title.isEmpty());
    QCOMPARE(f.state().SaveDirectory, chosen);
}

void TestForm1Naming::fileTypeFollowsOnlyAPick()
{
    Form1 &f = *m_form;
    f.SaveText->setText(QStringLiteral("Probe"));
    const QString composed = f.FileLabel->text();
    const int reads = m_card->readCount(0);

    f.FileType->setFocus();
    f.FileType->lineEdit()->selectAll();
    QTest::keyClicks(f.FileType->lineEdit(), QStringLiteral(".png"));
    f.SaveText->setFocus(); // leaving the box is no pick either
    QCOMPARE(f.FileType->currentText(), QStringLiteral(".png"));
    QCOMPARE(f.state().FileExtension, QStringLiteral(".bmp"));
    QCOMPARE(f.FileLabel->text(), composed);
    QCOMPARE(m_card->readCount(0), reads);

    f.FileType->showPopup();
    QAbstractItemView *list = f.FileType->view();
    QVERIFY(QTest::qWaitForWindowExposed(list->window()));
    const QRect item = list->visualRect(list->model()->index(1, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
    QTRY_COMPARE(f.state().FileExtension, QStringLiteral(".tif"));
    QVERIFY(f.FileLabel->text().endsWith(QStringLiteral(".tif")));
}

void TestForm1Naming::captionTellsWhetherReadingsAreSimulated()
{
    QCOMPARE(m_form->ADFrame->title(), QStringLiteral("AD-Card - CIO-DAS08 (simulated)"));
    Form1 real(driver("test-pattern.vin"), std::make_unique<RealSeemingCard>());
    QCOMPARE(real.ADFrame->title(), QStringLiteral("AD-Card - CIO-DAS08"));
    if (!QFile::exists(QStringLiteral("/dev/comedi0"))) {
        Form1 chosen(driver("test-pattern.vin"));
        QVERIFY(chosen.card().isSimulated());
        QCOMPARE(chosen.ADFrame->title(), QStringLiteral("AD-Card - CIO-DAS08 (simulated)"));
    }
}

QTEST_MAIN(TestForm1Naming)
#include "test_form1_naming.moc"
