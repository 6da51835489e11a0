// A V4L2 camera through the whole window, against the stand-in device of the tests.

#include "analog/simulated_card.h"
#include "ui/display_control.h"
#include "cameras/v4l2/fake_v4l2.h"
#include "ui/image_control.h"
#include "picture_files/image_files.h"
#include "ui/form1.h"
#include "ui/message_box.h"
#include "ui/status_line.h"
#include "recording/camera_gap.h"
#include "test_files.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using Nodes = std::vector<FakeV4l2::Node>;
Q_DECLARE_METATYPE(Nodes)

class TestForm1V4l2 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void unpluggedCameraComesBack_data();
    void unpluggedCameraComesBack();
    void seriesTakesEachFrameAtItsDriverTime();
    void autoSource_data();
    void autoSource();

private:
    void stopWhileAway(Form1 &f);
    void comeBack(Form1 &f, FakeV4l2 &fake, const QString &path, const QString &returnsAs);

    QTemporaryDir m_dir;
    QStringList m_messages;
};

void TestForm1V4l2::init()
{
    m_messages.clear();
    setMessageSink([this](const QString &text) { m_messages << text; });
}

void TestForm1V4l2::cleanup()
{
    setMessageSink({});
}

// Stop ends the series at once, also while the camera is tried again; the display says why it is dark.
void TestForm1V4l2::stopWhileAway(Form1 &f)
{
    QElapsedTimer clock;
    clock.start();
    f.StartStop->click();
    QTRY_COMPARE(f.state().Recording, RecordingState::Idle);
    QVERIFY(clock.elapsed() < 500);
    QCOMPARE(f.CVimage1->imageHandle(), quintptr(0));
    QVERIFY2(f.CVimage1->statusText().startsWith(QStringLiteral("Camera lost: ")), qPrintable(f.CVimage1->statusText()));
    QVERIFY(m_messages.isEmpty());
}

// The camera comes back at `returnsAs`: the series takes its pictures again, the gap logged.
void TestForm1V4l2::comeBack(Form1 &f, FakeV4l2 &fake, const QString &path, const QString &returnsAs)
{
    const QDir out(f.state().SaveDirectory);
    const qsizetype before = out.entryList({QStringLiteral("*.bmp")}, QDir::Files).size();
    fake.plugBackIn(path, returnsAs);
    QTRY_VERIFY_WITH_TIMEOUT(out.entryList({QStringLiteral("*.bmp")}, QDir::Files).size() >= before + 4, 15000);
    QVERIFY2(!f.StatusLabel->fullText().startsWith(QStringLiteral("Camera away")), qPrintable(f.StatusLabel->fullText()));
    f.StartStop->click();
    QVERIFY(f.engine().waitForSync(5000));
    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(u'\n')));
    QFile log(f.engine().logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const CameraGap gap = readCameraGap(QString::fromUtf8(log.readAll()).split(u'\n'), 50);
    QVERIFY2(gap.problem.isEmpty(), qPrintable(gap.problem));
    qInfo("camera away from %lld to %lld ms", gap.lostMs, gap.backMs);
}

void TestForm1V4l2::unpluggedCameraComesBack_data()
{
    QTest::addColumn<QString>("returnsAs"); // empty: the series is stopped while the camera is away
    QTest::addColumn<bool>("stopOnLoss");
    QTest::newRow("at its node") << "/dev/video0" << false;
    QTest::newRow("at another node") << "/dev/video2" << false;
    QTest::newRow("stopped while away") << "" << false;
    QTest::newRow("a loss stops the series") << "" << true;
}

// A camera unplugged for two seconds costs the series only those ticks: the window says that it
// is away, it is found again by its name and where it is plugged in, also at another node, set up
// as the driver file says, and the pictures number on.
void TestForm1V4l2::unpluggedCameraComesBack()
{
    QFETCH(QString, returnsAs);
    QFETCH(bool, stopOnLoss);
    // A frame grabber's padded rows, and a size and format that must be asked for.
    FakeV4l2::Node node = fakeNode("/dev/video0", {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV});
    node.lineAlignment = 256;
    node.sizes = {{32, 24}, {62, 40}};
    FakeV4l2 fake({node, fakeNode("/dev/video1", {}, false)});
    const QString driver = m_dir.filePath(QStringLiteral("grabber.vin"));
    QVERIFY(!writeTextFile(driver, "source = v4l2\ndevice = /dev/video0\npixel-format = YUYV\nwidth = 62\nheight = 40\n")
                 .isEmpty());
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out"));
    auto pictures = [&out] { return QDir(out).entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name); };
    {
        Form1 f(driver, std::make_unique<SimulatedCard>());
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QVERIFY2(f.CVimage1->imageHandle() != 0, qPrintable(f.CVimage1->statusText()));
        f.state().SaveDirectory = out + QLatin1Char('/');
        f.NumberCheck->setChecked(true);
        f.Timer1->setInterval(50);
        f.SaveText->setText(QStringLiteral("Grabber"));
        f.engine().setStopOnCameraLoss(stopOnLoss);
        f.StartStop->click();
        QTRY_VERIFY_WITH_TIMEOUT(pictures().size() >= 4, 10000);
        fake.unplug(node.path);
        if (stopOnLoss) {
            QTRY_COMPARE_WITH_TIMEOUT(f.state().Recording, RecordingState::Idle, 5000);
            QVERIFY2(m_messages.value(0).contains(QStringLiteral("stopped answering")), qPrintable(m_messages.value(0)));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(f.StatusLabel->fullText().startsWith(QStringLiteral("Camera away (")), 5000);
            QTest::qWait(2000);
            QCOMPARE(f.state().Recording, RecordingState::Recording);
            if (returnsAs.isEmpty())
                stopWhileAway(f);
            else
                comeBack(f, fake, node.path, returnsAs);
        }
    }
    // Every picture is whole, at the size the driver file asks for, rows in place.
    for (const QString &name : pictures()) {
        Frame frame;
        QVERIFY(loadImage(out + QLatin1Char('/') + name, frame).ok());
        QCOMPARE(QSize(frame.width, frame.height), QSize(62, 40));
        QVERIFY2(shownSequence(frame, V4L2_PIX_FMT_YUYV) >= 0, qPrintable(name));
    }
    QCOMPARE(fake.openHandles(), 0);
    QCOMPARE(fake.mappings(), 0);
}

// The camera streams through the series: every picture is a frame of its own, stamped with the
// driver's time (the start of its exposure, so never younger than the exposure), the one
// captured nearest its tick, and the frames the driver dropped are counted at the end. The log
// tells the settings at Start, and every row the exposure fixed then; the gain, left automatic,
// is in no row.
void TestForm1V4l2::seriesTakesEachFrameAtItsDriverTime()
{
    FakeV4l2::Node node = fakeNode("/dev/video0", {V4L2_PIX_FMT_GREY});
    node.frameRate = 25;
    node.exposureMs = 20;
    node.startMs = 300;
    FakeV4l2 fake({node});
    const QString driver = m_dir.filePath(QStringLiteral("camera25.vin"));
    QVERIFY(!writeTextFile(driver, "source = v4l2\ndevice = /dev/video0\nexposure-us = 20000\nframe-rate = 25\n")
                 .isEmpty());
    QStringList lines;
    {
        Form1 f(driver, std::make_unique<SimulatedCard>());
        f.state().SaveDirectory = m_dir.filePath(QStringLiteral("stream")) + QLatin1Char('/');
        f.NumberCheck->setChecked(true);
        f.LiveCheck1->setChecked(false); // the camera streams from Start on
        f.Timer1->setInterval(50);
        f.SaveText->setText(QStringLiteral("Stream"));
        f.StartStop->click();
        QTRY_VERIFY_WITH_TIMEOUT(f.state().FrameCounter > 6, 10000);
        fake.dropNext(3);
        QTRY_VERIFY_WITH_TIMEOUT(f.state().FrameCounter > 14, 10000);
        f.StartStop->click();
        QVERIFY(f.engine().waitForSync(5000));
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(u'|')));
        QFile log(f.engine().logPath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        lines = QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    QCOMPARE(lines.filter(QStringLiteral("# settings: ")),
             QStringList{"# settings: exposure 20000 us, gain automatic, 32 (raw) at Start, frame rate 25 frames/s, "
                         "pixel format GREY, 8 significant bits, trigger free-running"});
    const QStringList rows = lines.filter(QRegularExpression(QStringLiteral("^\\d+,")));
    QVERIFY(rows.size() >= 14);
    // Picture 1 is taken at Start, though the first frame came later.
    QCOMPARE(rows.first().section(u',', 2, 2), QStringLiteral("0.000"));
    QCOMPARE(lines.filter(QStringLiteral("# schedule: ")).size(), 1);
    qint64 lastSequence = -1;
    for (const QString &row : rows) {
        const QStringList field = row.split(u',');
        QVERIFY2(field[12].toLongLong() > lastSequence, qPrintable(row));
        lastSequence = field[12].toLongLong();
        // Never younger than its exposure; captured within half an interval of its tick.
        QVERIFY2(field[14].toDouble() >= 20.0, qPrintable(row));
        QVERIFY2(qAbs(field[13].toDouble() - field[2].toDouble()) <= 25.0 + 1.0, qPrintable(row));
        QCOMPARE(field.mid(15), (QStringList{"20000", ""}));
    }
    const QString frames = lines.filter(QStringLiteral("# frames: ")).value(0);
    const QRegularExpressionMatch lost = QRegularExpression(QStringLiteral(", (\\d+) lost by")).match(frames);
    QVERIFY2(lost.hasMatch() && lost.captured(1).toInt() >= 3, qPrintable(frames));
}

void TestForm1V4l2::autoSource_data()
{
    QTest::addColumn<Nodes>("nodes");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("image");

    QTest::newRow("metadata node passed over")
        << Nodes{fakeNode("/dev/video0", {}, false), fakeNode("/dev/video1")} << "(/dev/video1)" << true;
    FakeV4l2::Node held = fakeNode("/dev/video0");
    held.openError = EBUSY;
    QTest::newRow("camera held elsewhere") << Nodes{held} << "Device or resource busy" << false;
    FakeV4l2::Node noBandwidth = fakeNode("/dev/video0");
    noBandwidth.streamOnError = ENOSPC;
    QTest::newRow("not enough USB bandwidth") << Nodes{noBandwidth} << "No space left on device" << false;
    QTest::newRow("no camera") << Nodes{fakeNode("/dev/video0", {}, false)} << "Test pattern" << true;
}

void TestForm1V4l2::autoSource()
{
    QFETCH(Nodes, nodes);
    QFETCH(QString, status);
    QFETCH(bool, image);

    FakeV4l2 fake(nodes);
    {
        Form1 f(qEnvironmentVariable("PIR_DRIVERS_DIR") + QStringLiteral("/camera.vin"),
                std::make_unique<SimulatedCard>());
        QVERIFY2(f.CVimage1->statusText().contains(status), qPrintable(f.CVimage1->statusText()));
        QCOMPARE(f.CVimage1->imageHandle() != 0, image);
        QCOMPARE(f.LiveCheck1->isEnabled(), image);
        QVERIFY(m_messages.isEmpty());
    }
    QCOMPARE(fake.openHandles(), 0);
}

QTEST_MAIN(TestForm1V4l2)
#include "test_form1_v4l2.moc"
