// A series meets what a lab throws at it: a full disk, a folder taken away or made read-only,
// and base names that are hard to take as file names. Whatever happens, the series either
// saves where the name says or stops with the save message; earlier pictures stay whole,
// nothing half-written is left and the window keeps working.
//
// The disk and read-only cases mount small file systems; they run only in the private mount
// namespace that in_mount_namespace.sh opens, and skip with the reason elsewhere.
#include "analog/simulated_card.h"
#include "ui/image_control.h"
#include "picture_files/image_files.h"
#include "recording/disk_space.h"
#include "recording/series_log.h"
#include "ui/form1.h"
#include "ui/message_box.h"
#include "test_files.h"

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>

namespace {

bool runMount(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("mount"), arguments) == 0;
}

// Every file below `dir`, relative to it, sorted.
QStringList filesBelow(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

// Freezes a file system, or thaws it, and thaws it on the way out, before anything that waits for it.
struct Frozen
{
    QString point;
    bool set(bool frozen) { return QProcess::execute("fsfreeze", {frozen ? "-f" : "-u", point}) == 0; }
    ~Frozen() { set(false); }
};

// Sectors written to the block device that holds `point`, since the device appeared.
qint64 sectorsWritten(const QString &point)
{
    QFile stat(QStringLiteral("/sys/block/%1/stat").arg(QFileInfo(QString::fromUtf8(QStorageInfo(point).device())).fileName()));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    return QString::fromLatin1(stat.readAll()).simplified().section(QLatin1Char(' '), 6, 6).toLongLong();
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void hostileBaseNames_data();
    void hostileBaseNames();
    void folderRemovedMidSeries();
    void linkMadeMidSeries();
    void diskNearlyFull();
    void folderMadeReadOnly();
    void diskFullOnTheLogRow();
    void recordOnAFaultyDisk_data();
    void recordOnAFaultyDisk();
    void syncedCoversEveryFileSystem();

private:
    void makeForm(int width, int height);
    void startSeries(const QString &directory, const QString &base, int intervalMs);
    // Mounts a fresh tmpfs and gives its path in `point`, or the reason why not.
    bool mountTmpfs(const QString &size, QString &point);
    // Mounts a fresh ext4 file system on a loop device at `point`, in the private mount namespace:
    // fsfreeze can freeze it, and its device counts what reached it.
    bool mountExt4(const QString &point);
    void verifySeriesStoppedBy(const QString &directory, const QString &reasonPart, int atLeast);

    std::unique_ptr<Form1> m_form;
    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_mounts;
    QStringList m_messages;
};

void TestFaults::makeForm(int width, int height)
{
    const QString driver = m_dir->filePath(QStringLiteral("camera.vin"));
    const QString text = QStringLiteral("source = test-pattern\nwidth = %1\nheight = %2\n").arg(width).arg(height);
    QVERIFY(!writeTextFile(driver, text).isEmpty());
    m_form = std::make_unique<Form1>(driver, std::make_unique<SimulatedCard>());
    // The small disks here fill up past any reserve: what is tested is how the saves fail.
    m_form->engine().setDiskReserve(0);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    // Numbered names and nothing else, so that every picture of a series has its own name.
    m_form->NumberCheck->setChecked(true);
    m_form->TimeCheck->setChecked(false);
    m_form->Channel0Check->setChecked(false);
    m_form->Channel1Check->setChecked(false);
}

void TestFaults::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_messages.clear();
    setMessageSink([this](const QString &text) { m_messages << text; });
    makeForm(64, 48);
}

void TestFaults::cleanup()
{
    m_form.reset();
    setMessageSink({});
    // Unmounted innermost first, before the temporary folder that holds the mount points goes.
    while (!m_mounts.isEmpty())
        QProcess::execute(QStringLiteral("umount"), {m_mounts.takeLast()});
    m_dir.reset();
}

void TestFaults::startSeries(const QString &directory, const QString &base, int intervalMs)
{
    Form1 &f = *m_form;
    f.Timer1->setInterval(intervalMs);
    f.state().SaveDirectory = directory + QLatin1Char('/');
    f.SaveText->setText(base);
    QTest::mouseClick(f.StartStop, Qt::LeftButton);
}

bool TestFaults::mountTmpfs(const QString &size, QString &point)
{
    if (qEnvironmentVariableIsSet("PIR_PRIVATE_MOUNTS_REFUSED")) {
        point = QStringLiteral("no private mount namespace may be made on this machine");
        return false;
    }
    if (!qEnvironmentVariableIsSet("PIR_PRIVATE_MOUNTS")) {
        point = QStringLiteral("needs a private mount namespace: run through tests/recording/in_mount_namespace.sh");
        return false;
    }
    const QString dir = m_dir->filePath(QStringLiteral("disk"));
    QDir().mkpath(dir);
    if (!runMount({QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("size=") + size,
                   QStringLiteral("tmpfs"), dir})) {
        point = QStringLiteral("mounting a tmpfs is not allowed here");
        return false;
    }
    m_mounts << dir;
    point = dir;
    return true;
}

bool TestFaults::mountExt4(const QString &point)
{
    const QString image = m_dir->filePath(QStringLiteral("ext4.img"));
    QFile file(image);
    // Its journal commits only when synced: what reaches the device before is what a sync wrote.
    if (!qEnvironmentVariableIsSet("PIR_PRIVATE_MOUNTS") || !QDir().mkpath(point) || !file.open(QIODevice::WriteOnly) ||
        !file.resize(32 << 20) || QProcess::execute("mkfs.ext4", {"-q", "-F", image}) != 0 ||
        !runMount({"-o", "loop,commit=300", image, point}))
        return false;
    m_mounts << point;
    return true;
}

// The series has stopped with the save message for its next picture; every picture before
// it decodes, and neither that picture nor a temporary file was left.
void TestFaults::verifySeriesStoppedBy(const QString &directory, const QString &reasonPart, int atLeast)
{
    Form1 &f = *m_form;
    QTRY_COMPARE_WITH_TIMEOUT(f.state().Recording, RecordingState::Idle, 30000);
    QCOMPARE(m_messages.size(), 1);
    const QStringList lines = m_messages.takeFirst().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("Could not save the picture:"));
    QVERIFY2(lines[1].startsWith(directory + QLatin1Char('/')), qPrintable(lines[1]));
    QVERIFY2(lines[2].contains(reasonPart, Qt::CaseInsensitive), qPrintable(lines[2]));
    QVERIFY(!QFileInfo::exists(lines[1]));
    QVERIFY(!f.Timer1->isActive());
    QCOMPARE(f.StartStop->text(), QStringLiteral("Start"));
    QVERIFY(f.FileSetupFrame->isEnabled());
    const QStringList pictures = QDir(directory).entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name);
    QVERIFY2(pictures.size() >= atLeast, qPrintable(pictures.join(QLatin1Char(' '))));
    for (int i = 0; i < pictures.size(); ++i) {
        QCOMPARE(pictures[i].section(QLatin1Char('_'), -1), QStringLiteral("%1.bmp").arg(i + 1, 3, 10, QLatin1Char('0')));
        Frame frame;
        QVERIFY2(loadImage(directory + QLatin1Char('/') + pictures[i], frame).ok(), qPrintable(pictures[i]));
        QCOMPARE(frame.width, m_form->CVimage1->imageWidth());
    }
    QVERIFY(lines[1].endsWith(QStringLiteral("_%1.bmp").arg(pictures.size() + 1, 3, 10, QLatin1Char('0'))));
    const QStringList all = QDir(directory).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : all)
        QVERIFY2(!name.endsWith(QLatin1String(".part")), qPrintable(name));
}

void TestFaults::hostileBaseNames_data()
{
    // The base name, and the file it saves below the chosen folder; none when the series must
    // stop at once, with a reason that contains `refusal`, or not start, with `refusal` first.
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("saved");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("into a subfolder") << "sub/inner" << "sub/inner_001.bmp" << "";
    QTest::newRow("into a missing subfolder") << "nowhere/inner" << "" << "does not exist";
    QTest::newRow("out to the parent") << "../escaped" << "" << "The name leads out of the directory";
    // "link" leads to a folder beside the chosen one.
    QTest::newRow("through a link") << "link/inner" << "" << "The folder \"link\" of the name is a symbolic link";
    QTest::newRow("through a link and back") << "link/../back" << "" << "The folder \"link\" of the name is a symbolic link";
    QTest::newRow("out and back in") << "../out/back" << "back_001.bmp" << "";
    QTest::newRow("down and up") << "sub/../level" << "level_001.bmp" << "";
    QTest::newRow("only dots") << ".." << ".._001.bmp" << "";
    QTest::newRow("leading slash") << "/rooted" << "rooted_001.bmp" << "";
    QTest::newRow("300 characters") << QString(300, QLatin1Char('x')) << "" << "too long";
    QTest::newRow("leading dash") << "-rf" << "-rf_001.bmp" << "";
    QTest::newRow("spaces") << " two  spaces " << " two  spaces _001.bmp" << "";
    QTest::newRow("non-ASCII") << "Grüße Ωmega 日本" << "Grüße Ωmega 日本_001.bmp" << "";
    QTest::newRow("empty") << "" << "_001.bmp" << "";
}

void TestFaults::hostileBaseNames()
{
    QFETCH(QString, base);
    QFETCH(QString, saved);
    QFETCH(QString, refusal);
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out + QStringLiteral("/sub")));
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("elsewhere"))));
    QVERIFY(QFile::link(QStringLiteral("../elsewhere"), out + QStringLiteral("/link")));
    startSeries(out, base, 200);
    Form1 &f = *m_form;
    if (f.state().Recording == RecordingState::Recording)
        QTest::mouseClick(f.StartStop, Qt::LeftButton);
    QTRY_COMPARE(f.state().Recording, RecordingState::Idle);
    QCOMPARE(f.StartStop->text(), QStringLiteral("Start"));
    // The first picture is written after Stop, on the series' own thread.
    QVERIFY(f.engine().waitForSync(5000));
    if (saved.isEmpty()) {
        QTRY_COMPARE(m_messages.size(), 1);
        const QString &message = m_messages.first();
        QVERIFY2(message.startsWith(refusal) ||
                     (message.startsWith(QStringLiteral("Could not save the picture:\n")) && message.contains(refusal)),
                 qPrintable(message));
        QCOMPARE(filesBelow(out), QStringList());
    } else {
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(QLatin1Char('\n'))));
        // Only pictures are looked at: a series may write other records beside them.
        QCOMPARE(filesBelow(out).filter(QStringLiteral(".bmp")), QStringList{saved});
        Frame frame;
        QVERIFY(loadImage(out + QLatin1Char('/') + saved, frame).ok());
    }
    // Nothing lands beside the chosen folder.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("camera.vin"), QStringLiteral("elsewhere"), QStringLiteral("out")}));
    QCOMPARE(filesBelow(m_dir->filePath(QStringLiteral("elsewhere"))), QStringList());
    QVERIFY(f.isVisible());
}

void TestFaults::folderRemovedMidSeries()
{
    const QString out = m_dir->filePath(QStringLiteral("out"));
    startSeries(out, QStringLiteral("Gone"), 50);
    QTRY_VERIFY(QDir(out).entryList({QStringLiteral("*.bmp")}, QDir::Files).size() >= 3);
    // Moved away, as far as the series can tell the same as removed. It must not make the
    // folder again: on an unplugged disk that would fill its bare mount point.
    const QString kept = m_dir->filePath(QStringLiteral("kept"));
    QVERIFY(QDir().rename(out, kept));
    QTRY_COMPARE(m_form->state().Recording, RecordingState::Idle);
    QVERIFY(!QFileInfo::exists(out));
    // Put back, the folder holds every picture the series saved, whole.
    QVERIFY(QDir().rename(kept, out));
    verifySeriesStoppedBy(out, QStringLiteral("does not exist"), 3);
}

// A subfolder of the series turned into a link to elsewhere stops the series before a picture
// goes there.
void TestFaults::linkMadeMidSeries()
{
    const QString out = m_dir->filePath(QStringLiteral("out"));
    const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(out + QStringLiteral("/sub")) && QDir().mkpath(elsewhere));
    startSeries(out, QStringLiteral("sub/Linked"), 50);
    QTRY_VERIFY(QDir(out + QStringLiteral("/sub")).entryList({QStringLiteral("*.bmp")}, QDir::Files).size() >= 3);
    // Swapped in one step, so that no picture meets a missing folder instead.
    QVERIFY(QFile::link(elsewhere, out + QStringLiteral("/link")));
    QCOMPARE(::renameat2(AT_FDCWD, QFile::encodeName(out + QStringLiteral("/sub")).constData(), AT_FDCWD,
                         QFile::encodeName(out + QStringLiteral("/link")).constData(), RENAME_EXCHANGE),
             0);
    QTRY_COMPARE(m_form->state().Recording, RecordingState::Idle);
    QVERIFY(m_form->engine().waitForSync(5000));
    QCOMPARE(m_messages.size(), 1);
    QVERIFY2(m_messages.first().startsWith(QStringLiteral("Could not save the picture:\n")) &&
                 m_messages.first().contains(QStringLiteral("\"sub\" of the name is a symbolic link")),
             qPrintable(m_messages.first()));
    QCOMPARE(filesBelow(elsewhere), QStringList());
}

// A series that fills its disk ends before the reserve: 2048 x 2048 pictures of 4 MiB on 64 MiB,
// 16 MiB kept free. Every picture saved is whole, nothing half-written is left, the log is complete
// and synced, the reserve is still free, and with room again the window saves anew.
void TestFaults::diskNearlyFull()
{
    QString disk;
    if (!mountTmpfs(QStringLiteral("64m"), disk))
        QSKIP(qPrintable(disk));
    makeForm(2048, 2048);
    constexpr std::int64_t reserve = 16 << 20;
    m_form->engine().setDiskReserve(reserve);
    const QString out = disk + QStringLiteral("/out");
    startSeries(out, QStringLiteral("Full"), 50);
    verifySeriesStoppedBy(out, QStringLiteral("The disk is nearly full."), 10);
    QVERIFY(m_form->engine().waitForSync(5000));
    QFile log(m_form->engine().logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.constLast().startsWith(QStringLiteral("# synced ")), qPrintable(lines.constLast()));
    QVERIFY(lines[lines.size() - 2].startsWith(QStringLiteral("# end: ")));
    QVERIFY(freeBytes(out).value_or(0) >= reserve);
    // The window keeps working: with room again, the next series saves.
    const QStringList pictures = QDir(out).entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name);
    for (const QString &name : pictures.mid(0, 3))
        QVERIFY(QFile::remove(out + QLatin1Char('/') + name));
    startSeries(out, QStringLiteral("Again"), 1000);
    QCOMPARE(m_form->state().Recording, RecordingState::Recording);
    QTest::mouseClick(m_form->StartStop, Qt::LeftButton);
    QVERIFY(m_form->engine().waitForSync(5000));
    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(QLatin1Char('\n'))));
    Frame frame;
    QVERIFY(loadImage(out + QStringLiteral("/Again_001.bmp"), frame).ok());
}

void TestFaults::folderMadeReadOnly()
{
    QString disk;
    if (!mountTmpfs(QStringLiteral("8m"), disk))
        QSKIP(qPrintable(disk));
    const QString out = disk + QStringLiteral("/out");
    startSeries(out, QStringLiteral("Locked"), 50);
    QTRY_VERIFY(QDir(out).entryList({QStringLiteral("*.bmp")}, QDir::Files).size() >= 3);
    // Root ignores permission bits, so the folder is made read-only by a read-only bind mount.
    QVERIFY(runMount({QStringLiteral("--bind"), out, out}));
    m_mounts << out;
    QVERIFY(runMount({QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), out}));
    verifySeriesStoppedBy(out, QStringLiteral("read-only"), 3);
}

// The disk fills up in the middle of a row: the log keeps its last whole row, names the real
// reason, and takes its end once there is room again.
void TestFaults::diskFullOnTheLogRow()
{
    QString disk;
    if (!mountTmpfs(QStringLiteral("64k"), disk))
        QSKIP(qPrintable(disk));
    SeriesLog log;
    QVERIFY(log.open(disk + QStringLiteral("/Full.csv"), SeriesLogHeader{}).ok());
    // What the log leaves of its last page is filled up by another file.
    QFile filler(disk + QStringLiteral("/filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    for (const QByteArray piece(512, 'f'); filler.write(piece) == piece.size();) {
    }
    SeriesLogRow row;
    row.fileName = disk + QStringLiteral("/") + QString(200, u'p') + QStringLiteral(".bmp");
    row.result = QStringLiteral("ok");
    Status written = Status::success();
    for (row.picture = 1; row.picture < 200 && written; ++row.picture)
        written = log.append(row);
    QVERIFY(!written.ok());
    QCOMPARE(written.reason(), disk + QStringLiteral("/Full.csv\nNo space left on the disk."));
    filler.close();
    QVERIFY(filler.remove());
    QVERIFY(log.finish(SeriesLogEnd{}).ok());
    QFile file(disk + QStringLiteral("/Full.csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.constLast(), QString()); // every line whole
    const QStringList rows = lines.filter(QRegularExpression(QStringLiteral("^\\d+,")));
    QCOMPARE(rows.size(), int(row.picture) - 2);
    for (const QString &r : rows)
        QVERIFY2(r.endsWith(QStringLiteral(",ok,0,,,,,,")), qPrintable(r));
    QVERIFY(lines[lines.size() - 2].startsWith(QStringLiteral("# end: ")));
}

// `record` on a disk that takes nothing: a full one leaves no log without its header and says
// so; a frozen one holds the pictures, and only a second signal ends the wait for them, with
// their count and exit status 1.
void TestFaults::recordOnAFaultyDisk_data()
{
    QTest::addColumn<bool>("full"); // full at Start; else frozen until the test thaws it
    QTest::addColumn<int>("signals"); // sent once the series has ended by --count
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    QTest::newRow("full at Start") << true << 0 << 1 << "The series log cannot be written:";
    QTest::newRow("frozen, one signal after the series") << false << 1 << 0 << "Series ended: 10 pictures";
    QTest::newRow("frozen, a second signal") << false << 2 << 1
                                             << "pictures taken were not saved: a second signal ended the wait for the disk.";
}

void TestFaults::recordOnAFaultyDisk()
{
    QFETCH(bool, full);
    QFETCH(int, signals);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QString disk = m_dir->filePath(QStringLiteral("disk"));
    if (full ? !mountTmpfs(QStringLiteral("1m"), disk) : !mountExt4(disk))
        QSKIP("needs a private mount namespace with tmpfs and ext4 on a loop device");
    const QString out = disk + QStringLiteral("/run");
    QFile filler(disk + QStringLiteral("/filler"));
    QVERIFY(QDir().mkpath(out) && filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    for (const QByteArray piece(4096, 'f'); full && filler.write(piece) == piece.size();) {
    }
    QProcess record;
    QByteArray errors;
    connect(&record, &QProcess::readyReadStandardError, this, [&] { errors += record.readAllStandardError(); });
    Frozen frozen{disk}; // thawed before the process is waited for
    QVERIFY(full || frozen.set(true));
    record.start(PIR_APP_PATH, {"record", "--driver", m_dir->filePath("camera.vin"), "--dir", out, "--add", "number",
                                "--interval", "50", "--count", "10", "--quiet", "--disk-reserve", "0"});
    QTest::qWait(2000); // the series has ended; its pictures wait for the disk
    for (int i = 0; i < signals; ++i, QTest::qWait(100))
        ::kill(pid_t(record.processId()), SIGTERM);
    // One signal leaves the wait as it is; a second ends it, while the disk still holds the writer.
    QVERIFY(signals != 1 || !record.waitForFinished(1000));
    QTRY_VERIFY_WITH_TIMEOUT(signals != 2 || QString::fromUtf8(errors).contains(error), 10000);
    QVERIFY(full || frozen.set(false));
    QVERIFY(record.waitForFinished(30000) || record.state() == QProcess::NotRunning);
    errors += record.readAllStandardError();
    QCOMPARE(record.exitCode(), exitCode);
    QVERIFY2(error.isEmpty() ? errors.isEmpty() : QString::fromUtf8(errors).contains(error), errors.constData());
    const QStringList logs = QDir(out).entryList({QStringLiteral("*.csv")}, QDir::Files);
    if (full)
        QCOMPARE(logs, QStringList());
    if (exitCode != 0)
        return;
    QFile log(out + QLatin1Char('/') + logs.value(0));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^\\d+,.*,ok,"))).size(),
             QDir(out).entryList({QStringLiteral("*.bmp")}, QDir::Files).size());
    QVERIFY(lines.constLast().startsWith(QStringLiteral("# synced ")));
}

// A base name that leads into a subfolder on a file system of its own: the log says synced only
// once that file system's pictures have reached its device.
void TestFaults::syncedCoversEveryFileSystem()
{
    const QString out = m_dir->filePath(QStringLiteral("out")), sub = out + QStringLiteral("/sub");
    if (!mountExt4(sub))
        QSKIP("needs a private mount namespace with ext4 on a loop device");
    makeForm(640, 480);
    const qint64 before = sectorsWritten(sub);
    startSeries(out, QStringLiteral("sub/Far"), 50);
    QTRY_VERIFY(QDir(sub).entryList({QStringLiteral("*.bmp")}, QDir::Files).size() >= 4);
    QTest::mouseClick(m_form->StartStop, Qt::LeftButton);
    QVERIFY(m_form->engine().waitForSync(10000));
    qint64 bytes = 0;
    for (const QFileInfo &file : QDir(sub).entryInfoList({QStringLiteral("*.bmp")}, QDir::Files))
        bytes += file.size();
    QVERIFY2((sectorsWritten(sub) - before) * 512 >= bytes, qPrintable(QString::number(bytes)));
}

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
