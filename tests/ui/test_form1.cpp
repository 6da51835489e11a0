#include "ui/display_control.h"
#include "ui/grabber_control.h"
#include "ui/image_control.h"
#include "picture_files/image_files.h"
#include "cameras/test_pattern_camera.h"
#include "ui/common_dialog.h"
#include "ui/form1.h"
#include "ui/status_line.h"
#include "ui/window_units.h"
#include "test_files.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

QString driver(const char *name)
{
    return qEnvironmentVariable("PIR_DRIVERS_DIR") + QLatin1Char('/') + QLatin1String(name);
}

// Runs `action` on the next modal dialog once it is open (it may take a while to build).
void whenDialogOpens(std::function<void(QWidget *)> action, int triesLeft = 1500)
{
    QTimer::singleShot(20, [action, triesLeft] {
        if (QWidget *w = QApplication::activeModalWidget())
            action(w);
        else if (triesLeft > 0)
            whenDialogOpens(action, triesLeft - 1);
    });
}

// Closes the next modal dialog that opens, reporting its object name and title.
void cancelNextDialog(QString *seen)
{
    whenDialogOpens([seen](QWidget *w) {
        *seen = w->objectName() + QLatin1Char('|') + w->windowTitle();
        w->close();
    });
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void initialWindow();
    void everyControlIsNamedForAutomation();
    void layoutFollowsDesignUnits();
    void disablingAFrameLocksEverythingInside();
    void altOPressesOpenImage();
    void tabOrder();
    void startUpState();
    void liveFollowsTheCheckBox();
    void openingAStillImage();
    void missingOrBadDriverLeavesNoImage_data();
    void missingOrBadDriverLeavesNoImage();
    void closingWhileLiveStopsTheCamera();

private:
    std::unique_ptr<Form1> m_form;
    QTemporaryDir m_dir;
};

void TestForm1::init()
{
    m_form = std::make_unique<Form1>(driver("test-pattern.vin"));
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestForm1::cleanup()
{
    m_form.reset();
}

void TestForm1::initialWindow()
{
    Form1 &f = *m_form;
    QCOMPARE(f.windowTitle(), QStringLiteral("Pictures in a row"));
    QVERIFY(f.TimeCheck->isChecked());
    QVERIFY(f.Channel0Check->isChecked());
    QVERIFY(f.Channel1Check->isChecked());
    QVERIFY(f.LiveCheck1->isChecked());
    QVERIFY(!f.NumberCheck->isChecked());
    QCOMPARE(f.SaveText->text(), QStringLiteral("VideoBasename"));
    QCOMPARE(f.Frames->text(), QStringLiteral("500"));
    QCOMPARE(f.FileType->currentText(), QStringLiteral(".bmp"));
    QCOMPARE(f.FileLabel->text(), QStringLiteral("Filename to Save"));
    QCOMPARE(f.TimeName->text(), QStringLiteral("_0000000msec_000mA"));
    QCOMPARE(f.StartStop->text(), QStringLiteral("Start"));
    QVERIFY(f.StartStop->font().bold());
    QCOMPARE(f.StartStop->font().pointSize(), 12);
    QCOMPARE(f.OpenImage->text(), QStringLiteral("&Open Image"));
    QCOMPARE(f.Channel0Label->text(), QStringLiteral("IN    : 0 - 10 V OUT: 0 - 212.8 mA"));
    QCOMPARE(f.RangeLabel->text(), QStringLiteral("(Possible Range: 50 - 65000 msec)"));
    QVERIFY(f.FrameLabel->alignment() & Qt::AlignRight);
    QVERIFY(f.RangeLabel->alignment() & Qt::AlignHCenter);
    QStringList items;
    for (int i = 0; i < f.FileType->count(); ++i)
        items << f.FileType->itemText(i);
    QCOMPARE(items, QStringList({".bmp", ".tif", ".jpg", ".mio"}));
    QVERIFY(f.FileType->isEditable());
    QVERIFY(!f.Timer1->isActive());
    QCOMPARE(f.CommonDialog1->DialogTitle, QStringLiteral("Please Choose a Directory"));
    QCOMPARE(f.CommonDialog1->FileName, QStringLiteral("Please Choose a Directory"));
}

void TestForm1::everyControlIsNamedForAutomation()
{
    const QStringList names = {
        "FileSetupFrame", "CVdisplay1",      "StartStop",     "VideoSetupFrame", "ADFrame",        "OpenImage",
        "QuitCommand",    "CommonDialog1",   "CVimage1",      "Timer1",          "CVgrabber1",     "SetDir",
        "SaveText",       "TimeName",        "FileType",      "NumberCheck",     "TimeCheck",      "FileLabel",
        "LiveCheck1",     "Line1",           "FrameLabel",    "Frames",          "Label1",         "RangeLabel",
        "Channel0Frame",  "Channel1Frame",   "Channel0Label", "Read0Command",    "Channel0OutLabel", "Channel0Check",
        "Channel1Label",  "Read1Command",    "Channel1OutLabel", "Channel1Check"};
    QCOMPARE(names.size(), 34);
    QCOMPARE(m_form->objectName(), QStringLiteral("Form1"));
    QCOMPARE(m_form->accessibleDescription(), QStringLiteral("Form1"));
    for (const QString &name : names) {
        QObject *o = m_form->findChild<QObject *>(name);
        QVERIFY2(o, qPrintable(name));
        if (auto *w = qobject_cast<QWidget *>(o))
            QCOMPARE(w->accessibleDescription(), name);
    }
    QCOMPARE(m_form->SaveText->accessibleName(), QStringLiteral("Base name"));
    QCOMPARE(m_form->Frames->accessibleName(), QStringLiteral("Capture interval in milliseconds"));
    QCOMPARE(m_form->FileType->accessibleName(), QStringLiteral("File type"));
    // Controls with a caption keep it as the name a screen reader reads.
    QVERIFY(m_form->StartStop->accessibleName().isEmpty());
}

void TestForm1::layoutFollowsDesignUnits()
{
    Form1 &f = *m_form;
    const DesignUnits du = windowUnits(f);
    auto px = [&du](int twips) { return du.px(twips); };
    // The status line lies under the design area, which it makes higher by its own height alone.
    QCOMPARE(f.size(), QSize(px(10035), px(8640 + 270)));
    QCOMPARE(f.StatusLabel->geometry(), du.rect(120, 8640, 9795, 270));
    QCOMPARE(f.minimumSize(), f.maximumSize());
    QCOMPARE(f.CVdisplay1->geometry(), QRect(0, px(1320), px(7095), px(1320 + 7215) - px(1320)));
    QCOMPARE(f.SaveText->parentWidget(), f.FileSetupFrame);
    QCOMPARE(f.SaveText->pos(), QPoint(px(1320), px(240)));
    QCOMPARE(f.Read1Command->parentWidget(), f.Channel1Frame);
    QCOMPARE(f.Channel1Frame->parentWidget(), f.ADFrame);
    QCOMPARE(f.Channel1Frame->pos(), QPoint(px(120), px(1320)));
    QCOMPARE(f.QuitCommand->pos(), QPoint(px(8760), px(8040)));
}

void TestForm1::disablingAFrameLocksEverythingInside()
{
    Form1 &f = *m_form;
    f.NumberCheck->setEnabled(false); // a control's own state must survive the frame's
    f.FileSetupFrame->setEnabled(false);
    f.ADFrame->setEnabled(false);
    for (QWidget *w : {static_cast<QWidget *>(f.SetDir), static_cast<QWidget *>(f.SaveText),
                       static_cast<QWidget *>(f.FileType), static_cast<QWidget *>(f.TimeCheck),
                       static_cast<QWidget *>(f.Read0Command), static_cast<QWidget *>(f.Channel1Check)})
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    // A click on a control in a disabled frame, two deep, does nothing.
    QTest::mouseClick(f.Channel1Check, Qt::LeftButton);
    QVERIFY(f.Channel1Check->isChecked());
    f.FileSetupFrame->setEnabled(true);
    f.ADFrame->setEnabled(true);
    QVERIFY(f.SetDir->isEnabled());
    QVERIFY(f.Read1Command->isEnabled());
    QVERIFY(!f.NumberCheck->isEnabled());
}

void TestForm1::altOPressesOpenImage()
{
    QString seen;
    cancelNextDialog(&seen);
    m_form->activateWindow();
    QTest::keyClick(m_form.get(), Qt::Key_O, Qt::AltModifier);
    QTRY_VERIFY(!seen.isEmpty());
    QCOMPARE(seen, QStringLiteral("OpenImageWindow|Open Image"));
}

void TestForm1::tabOrder()
{
    Form1 &f = *m_form;
    const QList<QWidget *> expected = {f.OpenImage,  f.SaveText, f.FileType,    f.Frames,       f.StartStop,
                                       f.LiveCheck1, f.SetDir,   f.QuitCommand, f.Read0Command, f.Read1Command,
                                       f.TimeCheck,  f.NumberCheck, f.Channel0Check, f.Channel1Check};
    m_form->activateWindow();
    f.OpenImage->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), f.OpenImage);
    for (int i = 1; i <= expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *want = expected[i % expected.size()];
        QCOMPARE(QApplication::focusWidget()->objectName(), want->objectName());
    }
    // A disabled control is skipped.
    f.Frames->setEnabled(false);
    f.FileType->setFocus();
    QTest::keyClick(f.FileType, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.StartStop);
}

void TestForm1::startUpState()
{
    const CaptureState &s = m_form->state();
    QCOMPARE(s.FrameCounter, 1);
    QCOMPARE(s.ElapsedMsec, 0.0);
    QVERIFY(s.FullFileName.isEmpty());
    QCOMPARE(s.BaseName, QStringLiteral("VideoBasename"));
    QCOMPARE(s.LastBaseName, QStringLiteral("VideoBasename"));
    QCOMPARE(s.FileExtension, QStringLiteral(".bmp"));
    QVERIFY(s.SaveDirectory.endsWith(QStringLiteral("/Daten/")));
    QCOMPARE(s.Recording, RecordingState::Idle);
    QVERIFY(s.StopwatchHandle != 0);
    QCOMPARE(m_form->Timer1->interval(), 500);
    QVERIFY(!m_form->Timer1->isActive());
    QVERIFY(m_form->CVimage1->isLive());
    QVERIFY(m_form->CVimage1->imageHandle() != 0);
    QCOMPARE(m_form->CVdisplay1->imageHandle(), m_form->CVimage1->imageHandle());
    QCOMPARE(m_form->CVgrabber1->imageHandle(), m_form->CVimage1->imageHandle());
    QCOMPARE(m_form->CVdisplay1->selectedArea(), QRectF(0, 0, 1279, 1023));
}

void TestForm1::liveFollowsTheCheckBox()
{
    Form1 &f = *m_form;
    // Live frames reach the display.
    QTRY_VERIFY_WITH_TIMEOUT(f.CVdisplay1->framesPainted() >= 3, 5000);
    for (int round = 0; round < 2; ++round) {
        QTest::mouseClick(f.LiveCheck1, Qt::LeftButton);
        QVERIFY(!f.CVimage1->isLive());
        QTest::mouseClick(f.LiveCheck1, Qt::LeftButton);
        QVERIFY(f.CVimage1->isLive());
    }
    // Setting the value from code goes through the same handling.
    f.LiveCheck1->setChecked(false);
    QVERIFY(!f.CVimage1->isLive());
    const std::uint64_t shown = f.CVdisplay1->lastPaintedSequence();
    QTest::qWait(200);
    QCOMPARE(f.CVdisplay1->lastPaintedSequence(), shown);
}

void TestForm1::openingAStillImage()
{
    Form1 &f = *m_form;
    Frame picture = Frame::allocate(64, 48, PixelFormat::Mono8);
    const QString path = m_dir.filePath(QStringLiteral("still.bmp"));
    QVERIFY(saveImage(picture, path).ok());

    // Types the full path into the dialog's name field, as a user may, and confirms.
    whenDialogOpens([path](QWidget *w) {
        if (auto *edit = w->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
            edit->setText(path);
            QMetaObject::invokeMethod(w, "accept");
        }
    });
    QTest::mouseClick(f.OpenImage, Qt::LeftButton);
    QTRY_COMPARE(f.CVimage1->imageWidth(), 64);
    QVERIFY(!f.LiveCheck1->isEnabled());
    QVERIFY(f.LiveCheck1->isChecked());
    QVERIFY(!f.CVimage1->isLive());
    QCOMPARE(f.CVdisplay1->imageHandle(), f.CVimage1->imageHandle());
    QCOMPARE(f.CVdisplay1->selectedArea(), QRectF(0, 0, 63, 47));
}

void TestForm1::missingOrBadDriverLeavesNoImage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << QString() << "not found";
    QTest::newRow("unknown source") << "source = frame-grabber-9000\n" << "unknown source";
    QTest::newRow("unknown key") << "source = test-pattern\nwidht = 640\n" << "unknown key";
    QTest::newRow("bad value") << "source = test-pattern\nwidth = -5\n" << "width";
    QTest::newRow("bad format") << "source = test-pattern\npixel-format = Mono9\n" << "pixel-format";
}

void TestForm1::missingOrBadDriverLeavesNoImage()
{
    QFETCH(QString, text);
    QFETCH(QString, reason);
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(QStringLiteral("camera.vin"));
    QFile::remove(path);
    if (!text.isNull()) {
        QVERIFY(!writeTextFile(path, text).isEmpty());
    }
    m_form = std::make_unique<Form1>(path);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    Form1 &f = *m_form;
    QCOMPARE(f.CVimage1->imageHandle(), quintptr(0));
    QCOMPARE(f.CVdisplay1->imageHandle(), quintptr(0));
    QCOMPARE(f.CVdisplay1->selectedArea(), QRectF());
    QVERIFY(!f.LiveCheck1->isEnabled());
    QVERIFY2(f.CVimage1->statusText().contains(reason), qPrintable(f.CVimage1->statusText()));
    Frame frame;
    const Status snapped = f.engine().source().snap(frame);
    QVERIFY(!snapped.ok());
    QCOMPARE(snapped.reason(), f.CVimage1->statusText());

    // Another driver brings a picture back.
    f.CVimage1->setFileName(driver("test-pattern.vin"));
    f.SetupUI();
    QVERIFY(f.LiveCheck1->isEnabled());
    QVERIFY(f.CVdisplay1->imageHandle() != 0);
}

void TestForm1::closingWhileLiveStopsTheCamera()
{
    QPointer<Camera> camera = m_form->engine().source().camera();
    QVERIFY(camera && camera->isLive());
    QTest::mouseClick(m_form->QuitCommand, Qt::LeftButton);
    QVERIFY(!m_form->isVisible());
    QVERIFY(!camera->isLive());
    QVERIFY(!m_form->Timer1->isActive());
    m_form.reset();
    QVERIFY(camera.isNull());
}

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
