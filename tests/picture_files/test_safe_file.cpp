// How a save creates its file: never replacing a file it did not mean to, never leaving a
// temporary file behind, whether the file system makes unnamed files or not.
#include "picture_files/image_files.h"

#include "image_file_support.h"
#include "picture_files/temporary_files.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

Q_DECLARE_METATYPE(SaveMode)

class TestSafeFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { SafeFile::setUnnamedFiles(true); }
    void takenNames_data();
    void takenNames();
    void namesAtTheLimit_data();
    void namesAtTheLimit();
    void staleTemporariesRemoved();
    void killedSaveLeavesNothing();
};

const SaveMode modes[] = {SaveMode::CreateNew, SaveMode::ReplaceOwn};

void TestSafeFile::takenNames_data()
{
    QTest::addColumn<bool>("unnamed"); // false: the way of file systems without unnamed files
    QTest::addColumn<SaveMode>("mode");
    for (bool unnamed : {true, false})
        for (SaveMode mode : modes)
            QTest::addRow("%s, %s", unnamed ? "unnamed" : "named temporary",
                          mode == SaveMode::CreateNew ? "create new" : "replace own")
                << unnamed << mode;
}

// A name that is taken, by a file from before or by one that appeared while the picture was
// written, is replaced only when the caller says the file is its own.
void TestSafeFile::takenNames()
{
    QFETCH(bool, unnamed);
    QFETCH(SaveMode, mode);
    SafeFile::setUnnamedFiles(unnamed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("same.mio"));
    QVERIFY(writeBytes(path, "earlier"));
    const Frame frame = testFrame(PixelFormat::RGB8, 32, 24);
    const Status saved = saveImage(frame, path, {}, mode);
    if (mode == SaveMode::CreateNew) {
        QCOMPARE(saved.reason(), QStringLiteral("file already exists"));
        QCOMPARE(fileBytes(path), QByteArray("earlier"));
    } else {
        QVERIFY2(saved.ok(), qPrintable(saved.reason()));
        Frame read;
        QVERIFY(loadImage(path, read).ok());
        QVERIFY(samePixels(read, frame));
    }
    // Taken between the start of the save and its end, by another program or series.
    const QString racing = dir.filePath(QStringLiteral("racing.bmp"));
    SafeFile file(racing, mode);
    QVERIFY(file.open().ok());
    QVERIFY(file.write(QByteArray("ours")).ok());
    QVERIFY(writeBytes(racing, "theirs"));
    QCOMPARE(file.commit().ok(), mode == SaveMode::ReplaceOwn);
    QCOMPARE(fileBytes(racing), mode == SaveMode::ReplaceOwn ? QByteArray("ours") : QByteArray("theirs"));
    QCOMPARE(rawEntries(dir.path()), (QList<QByteArray>{"racing.bmp", "same.mio"}));
}

void TestSafeFile::namesAtTheLimit_data()
{
    QTest::addColumn<QString>("character");
    QTest::addColumn<int>("bytes"); // of the whole name, extension included
    for (const char *character : {"a", "\xc3\xa4", "\xe6\x97\xa5"}) // a, ä, 日: 1, 2 and 3 bytes
        for (int bytes = 240; bytes <= 255; ++bytes)
            QTest::addRow("%d-byte characters, %d bytes", int(qstrlen(character)), bytes)
                << QString::fromUtf8(character) << bytes;
}

// Every legal name saves in every way, and nothing else stays in the folder: a temporary name
// that cut a name inside a character once failed as "too long" and stayed behind.
void TestSafeFile::namesAtTheLimit()
{
    QFETCH(QString, character);
    QFETCH(int, bytes);
    const int width = int(character.toUtf8().size());
    const int fill = (bytes - 4) / width;
    const QString name = QString((bytes - 4) % width, u'x') + character.repeated(fill) + QStringLiteral(".bmp");
    QCOMPARE(int(name.toUtf8().size()), bytes);
    const Frame frame = testFrame(PixelFormat::Mono8, 8, 8);
    for (bool unnamed : {true, false}) {
        SafeFile::setUnnamedFiles(unnamed);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (SaveMode mode : modes) { // the second replaces the first
            const Status saved = saveImage(frame, dir.filePath(name), {}, mode);
            QVERIFY2(saved.ok(), qPrintable(saved.reason()));
        }
        QCOMPARE(rawEntries(dir.path()), QList<QByteArray>{name.toUtf8()});
    }
}

// Only temporary files this program made, and no save is writing, are removed; a user's file
// of a like name stays, however old.
void TestSafeFile::staleTemporariesRemoved()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray ours[] = {temporaryName("P_001.tif", 255), temporaryName("P_002.tif", 255),
                               temporaryName("P_003.tif", 255), temporaryName(QByteArray(300, 'p'), 255)};
    QByteArray forged = temporaryName("P_004.tif", 255);
    forged[forged.size() - 6] = forged[forged.size() - 6] == '0' ? '1' : '0'; // the check code's last digit
    // Left by a killed program; a save may be writing it; a save holds its lock; cut to fit;
    // then not ours: a user's draft, a forged check code, the old form of our names.
    const QByteArray names[] = {ours[0], ours[1], ours[2], ours[3], ".thesis.Draft1.part", forged, ".P_005.tif.AbC123.part"};
    for (const QByteArray &name : names) {
        const QString path = dir.filePath(QFile::decodeName(name));
        const utimbuf hourAgo{::time(nullptr) - 3600, ::time(nullptr) - 3600};
        QVERIFY(writeBytes(path, "x"));
        QVERIFY(name == ours[1] || ::utime(QFile::encodeName(path).constData(), &hourAgo) == 0);
    }
    QVERIFY(ours[3].size() == 255 && isTemporaryName(ours[3]));
    const int held = ::open(QFile::encodeName(dir.filePath(QFile::decodeName(ours[2]))).constData(), O_RDONLY);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
    QCOMPARE(removeStaleTemporaries(dir.path()), 2);
    ::close(held);
    QList<QByteArray> kept{ours[1], ours[2], ".thesis.Draft1.part", forged, ".P_005.tif.AbC123.part"};
    std::sort(kept.begin(), kept.end());
    QCOMPARE(rawEntries(dir.path()), kept);
    QCOMPARE(removeStaleTemporaries(dir.filePath(QStringLiteral("missing"))), 0);
}

// A program killed in the middle of saving leaves only whole pictures, and no temporary file.
void TestSafeFile::killedSaveLeavesNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Frame frame = testFrame(PixelFormat::RGB8, 2048, 1536); // 9 MB: a save takes milliseconds
    for (int trial = 0; trial < 8; ++trial) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (int i = 0;; ++i)
                saveImage(frame, dir.filePath(QStringLiteral("K_%1_%2.tif").arg(trial).arg(i)));
        }
        // Killed at a different point of a save in every trial.
        QTest::qWait(100 + 13 * trial);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    const QList<QByteArray> names = rawEntries(dir.path());
    QVERIFY(names.size() >= 4);
    for (const QByteArray &name : names) {
        QVERIFY2(name.startsWith("K_") && name.endsWith(".tif"), name.constData());
        Frame read;
        QVERIFY2(loadImage(dir.filePath(QString::fromUtf8(name)), read).ok(), name.constData());
    }
}

QTEST_GUILESS_MAIN(TestSafeFile)
#include "test_safe_file.moc"
