#include "picture_files/image_files.h"

#include "image_file_support.h"
#include "picture_files/image_formats.h"
#include "picture_files/safe_file.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

class TestImageFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void failedSaveLeavesNothing_data();
    void failedSaveLeavesNothing();
    void failureInTheMiddleKeepsOldFile();
    void errorReasons_data();
    void errorReasons();
    void reduceTo8Bits_data();
    void reduceTo8Bits();
    void damagedMioRefused_data();
    void damagedMioRefused();
    void damagedFilesRefused_data();
    void damagedFilesRefused();
    void readsPng();
    void readsOwnLargeBitmap();
    void syncsSeries();
};

void TestImageFiles::roundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<PixelFormat>("format");
    QTest::addColumn<int>("significantBits");
    QTest::addColumn<int>("padding"); // bytes after each row in memory, as some cameras deliver

    // An odd width makes the bitmap pad its rows and the JPEG encoder its blocks.
    const struct
    {
        const char *label;
        PixelFormat format;
        int bits;
    } formats[] = {{"Mono8", PixelFormat::Mono8, 8},
                   {"Mono16 12 bits", PixelFormat::Mono16, 12},
                   {"Mono16 16 bits", PixelFormat::Mono16, 16},
                   {"RGB8", PixelFormat::RGB8, 8}};
    for (const char *name : {"picture.bmp", "picture.tif", "picture.jpg", "picture.mio"})
        for (const auto &f : formats)
            QTest::addRow("%s %s", name, f.label) << QString::fromLatin1(name) << f.format << f.bits << 0;
    QTest::newRow("upper-case .BMP") << QStringLiteral("UPPER.BMP") << PixelFormat::RGB8 << 8 << 0;
    QTest::newRow(".tiff") << QStringLiteral("long.tiff") << PixelFormat::Mono16 << 10 << 0;
    QTest::newRow(".JPEG") << QStringLiteral("long.JPEG") << PixelFormat::Mono8 << 8 << 0;
    QTest::newRow("padded rows .bmp") << QStringLiteral("padded.bmp") << PixelFormat::Mono16 << 12 << 6;
    QTest::newRow("padded rows .tif") << QStringLiteral("padded.tif") << PixelFormat::RGB8 << 8 << 7;
    QTest::newRow("padded rows .jpg") << QStringLiteral("padded.jpg") << PixelFormat::RGB8 << 8 << 5;
    QTest::newRow("padded rows .mio") << QStringLiteral("padded.mio") << PixelFormat::Mono16 << 16 << 2;
}

void TestImageFiles::roundTrip()
{
    QFETCH(QString, name);
    QFETCH(PixelFormat, format);
    QFETCH(int, significantBits);
    QFETCH(int, padding);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    const Frame frame = withPadding(testFrame(format, 333, 217, significantBits), padding);
    ImageMetadata metadata;
    metadata.captureTime = QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26, 535));
    const Status saved = saveImage(frame, path, metadata);
    QVERIFY2(saved.ok(), qPrintable(saved.reason()));
    QCOMPARE(entries(dir.path()), QStringList{name}); // no temporary file stays behind

    const QString suffix = QFileInfo(name).suffix().toLower();
    const bool eightBitFormat = suffix == u"bmp" || suffix.startsWith(u"jp");
    const Frame expected = eightBitFormat ? as8Bit(frame) : frame;
    Frame ours;
    ImageMetadata read;
    const Status loaded = loadImage(path, ours, read);
    QVERIFY2(loaded.ok(), qPrintable(loaded.reason()));

    if (suffix.startsWith(u"jp")) {
        QCOMPARE(ours.format, expected.format);
        QVERIFY2(psnr(ours, expected) >= 40.0, qPrintable(QString::number(psnr(ours, expected))));
        const Frame qt = fromQImage(QImage(path), expected.format);
        QVERIFY2(psnr(qt, expected) >= 40.0, qPrintable(QString::number(psnr(qt, expected))));
    } else if (suffix == u"bmp") {
        QVERIFY(samePixels(ours, expected));
        QVERIFY(samePixels(fromQImage(QImage(path), expected.format), expected));
    } else if (suffix.startsWith(u"tif")) {
        QVERIFY(samePixels(ours, expected));
        QCOMPARE(ours.significantBits, expected.significantBits);
        QString software, dateTime;
        QVERIFY(samePixels(readWithLibtiff(path, software, dateTime), expected));
        QCOMPARE(software, QStringLiteral("Pictures in a row"));
        QCOMPARE(dateTime, QStringLiteral("2026:03:14 15:09:26"));
        QCOMPARE(read.captureTime, metadata.captureTime); // the description keeps the milliseconds
    } else {
        QVERIFY(samePixels(ours, expected));
        QCOMPARE(ours.significantBits, expected.significantBits);
        QCOMPARE(read.captureTime, metadata.captureTime);
        qint64 msecs = 0;
        QVERIFY(samePixels(readMioByHand(path, msecs), expected));
        QCOMPARE(msecs, metadata.captureTime.toMSecsSinceEpoch());
    }
}

void TestImageFiles::failedSaveLeavesNothing_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<bool>("withImage");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing directory") << QStringLiteral("nowhere/a.bmp") << true << QStringLiteral("does not exist");
    QTest::newRow("parent is a file") << QStringLiteral("plain-file/a.tif") << true
                                      << QStringLiteral("not a directory");
    QTest::newRow("read-only directory") << QStringLiteral("locked/a.jpg") << true << QStringLiteral("no permission");
    QTest::newRow("name too long") << QString(300, u'n') + QStringLiteral(".mio") << true << QStringLiteral("too long");
    QTest::newRow("target is a directory") << QStringLiteral("taken.bmp") << true
                                           << QStringLiteral("a directory of that name");
    QTest::newRow("unknown extension") << QStringLiteral("a.gif") << true << QStringLiteral("\".gif\"");
    QTest::newRow(".png is read, not written") << QStringLiteral("a.png") << true << QStringLiteral("\".png\"");
    QTest::newRow("no extension") << QStringLiteral("a") << true << QStringLiteral("no extension");
    QTest::newRow("no current image") << QStringLiteral("a.bmp") << false << QStringLiteral("no current image");
}

void TestImageFiles::failedSaveLeavesNothing()
{
    QFETCH(QString, relativePath);
    QFETCH(bool, withImage);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("plain-file")), "x"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken.bmp")));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    QFile::setPermissions(dir.filePath(QStringLiteral("locked")), QFile::ReadOwner | QFile::ExeOwner);
    const QStringList before = entries(dir.path());

    const Frame frame = withImage ? testFrame(PixelFormat::Mono8, 64, 48) : Frame();
    // Permission bits do not bind root, as the tests run in CI; there a user without rights saves.
    const bool asNobody = ::geteuid() == 0 && relativePath.startsWith(u"locked");
    if (asNobody)
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                              QFile::ExeOther);
    const Status status =
        asNobody ? saveAsNobody(frame, dir.filePath(relativePath)) : saveImage(frame, dir.filePath(relativePath));
    QVERIFY(!status.ok());
    QVERIFY2(status.reason().contains(reason), qPrintable(status.reason()));
    QCOMPARE(entries(dir.path()), before);
    QVERIFY(entries(dir.filePath(QStringLiteral("locked"))).isEmpty());
    QVERIFY(entries(dir.filePath(QStringLiteral("taken.bmp"))).isEmpty());
    QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A write that fails after part of the picture is out (here the file-size limit stands in for a
// full disk) must remove the partial file and leave the earlier picture of that name as it was.
void TestImageFiles::failureInTheMiddleKeepsOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("series.tif"));
    QVERIFY(saveImage(testFrame(PixelFormat::Mono8, 64, 48), path).ok());
    const QByteArray old = fileBytes(path);

    rlimit saved{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 200 * 1024;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    const QStringList names{QStringLiteral("series.tif"), QStringLiteral("series.bmp"), QStringLiteral("series.mio")};
    std::vector<Status> statuses;
    for (const QString &name : names)
        statuses.push_back(saveImage(testFrame(PixelFormat::Mono16, 1024, 1024), dir.filePath(name)));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    for (const Status &status : statuses) {
        QVERIFY(!status.ok());
        QVERIFY2(status.reason().contains(QStringLiteral("larger than")), qPrintable(status.reason()));
    }
    QCOMPARE(fileBytes(path), old);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("series.tif")});
}

void TestImageFiles::errorReasons_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");
    QTest::newRow("ENOSPC") << ENOSPC << QStringLiteral("no space left on the disk");
    QTest::newRow("EDQUOT") << EDQUOT << QStringLiteral("no space left on the disk");
    QTest::newRow("ENOENT") << ENOENT << QStringLiteral("the directory \"run\" does not exist");
    QTest::newRow("EACCES") << EACCES << QStringLiteral("no permission to write in the directory");
    QTest::newRow("EROFS") << EROFS << QStringLiteral("the directory is on a read-only file system");
    QTest::newRow("ENAMETOOLONG") << ENAMETOOLONG << QStringLiteral("the name is too long for the file system");
    QTest::newRow("EEXIST") << EEXIST << QStringLiteral("file already exists");
    // "run" is made a link to itself: no "does not exist" for a folder that is a loop.
    QTest::newRow("ELOOP") << ELOOP << QStringLiteral("the symbolic link \"run\" leads round in a loop");
}

void TestImageFiles::errorReasons()
{
    QFETCH(int, error);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (error == ELOOP)
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("run")), dir.filePath(QStringLiteral("run"))));
    QCOMPARE(fileErrorReason(error, dir.filePath(QStringLiteral("run/p.bmp"))), reason);
}

void TestImageFiles::reduceTo8Bits_data()
{
    QTest::addColumn<int>("sample");
    QTest::addColumn<int>("significantBits");
    QTest::addColumn<int>("expected");
    QTest::newRow("12-bit full scale") << 4095 << 12 << 255;
    QTest::newRow("12-bit low bits dropped") << 31 << 12 << 1;
    QTest::newRow("12-bit out of range saturates") << 5000 << 12 << 255;
    QTest::newRow("10-bit middle") << 512 << 10 << 128;
    QTest::newRow("16-bit high byte") << 0xab12 << 16 << 0xab;
    QTest::newRow("8 bits in 16 stay") << 200 << 8 << 200;
}

void TestImageFiles::reduceTo8Bits()
{
    QFETCH(int, sample);
    QFETCH(int, significantBits);
    QFETCH(int, expected);
    std::uint8_t in[2];
    qToLittleEndian<std::uint16_t>(std::uint16_t(sample), in);
    std::uint8_t out = 0;
    reduceRowTo8Bits(in, &out, 1, significantBits);
    QCOMPARE(int(out), expected);
}

void TestImageFiles::damagedMioRefused_data()
{
    QTest::addColumn<int>("offset"); // -1: cut the file to `value` bytes; -2: append `value` bytes
    QTest::addColumn<int>("size");   // 1, 2 or 4 bytes at `offset`
    QTest::addColumn<qint64>("value");
    QTest::addColumn<bool>("fixChecksum");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty") << -1 << 0 << qint64(0) << false << QStringLiteral("empty");
    QTest::newRow("cut in the header") << -1 << 0 << qint64(60) << false << QStringLiteral("header");
    QTest::newRow("cut in the pixels") << -1 << 0 << qint64(128 + 100) << false << QStringLiteral("truncated");
    QTest::newRow("last byte missing") << -1 << 0 << qint64(128 + 40 * 30 * 2 - 1) << false
                                       << QStringLiteral("truncated");
    QTest::newRow("bytes appended") << -2 << 0 << qint64(3) << false << QStringLiteral("follow the last row");
    QTest::newRow("magic") << 1 << 1 << qint64('X') << false << QStringLiteral("header");
    QTest::newRow("newer version") << 8 << 2 << qint64(6) << true << QStringLiteral("version 6");
    QTest::newRow("header too short") << 10 << 2 << qint64(64) << true << QStringLiteral("header size");
    QTest::newRow("checksum") << 33 << 1 << qint64(0x55) << false << QStringLiteral("checksum");
    QTest::newRow("zero width") << 12 << 4 << qint64(0) << true << QStringLiteral("size");
    QTest::newRow("huge width") << 12 << 4 << qint64(0xffffffff) << true << QStringLiteral("size");
    QTest::newRow("huge height, stride") << 16 << 4 << qint64(60000) << true << QStringLiteral("truncated");
    QTest::newRow("unknown pixel format") << 20 << 1 << qint64(9) << true << QStringLiteral("pixel format");
    QTest::newRow("bits per pixel") << 21 << 1 << qint64(8) << true << QStringLiteral("bits per pixel");
    QTest::newRow("significant bits") << 22 << 1 << qint64(17) << true << QStringLiteral("significant bits");
    QTest::newRow("stride too short") << 24 << 4 << qint64(79) << true << QStringLiteral("stride");
    QTest::newRow("stride overflows") << 24 << 4 << qint64(0xfffffff0) << true << QStringLiteral("stride");
    QTest::newRow("reserved byte") << 115 << 1 << qint64(1) << true << QStringLiteral("reserved");
    QTest::newRow("unknown record flag") << 72 << 1 << qint64(0x40) << true << QStringLiteral("record flags");
    QTest::newRow("pixel size not taken") << 111 << 1 << qint64(0x40) << true << QStringLiteral("pixel size");
    QTest::newRow("frame time not taken") << 87 << 1 << qint64(0x40) << true << QStringLiteral("frame time");
    QTest::newRow("exposure not taken") << 95 << 1 << qint64(0x40) << true << QStringLiteral("exposure");
    QTest::newRow("gain in dB, but no gain") << 72 << 1 << qint64(0x10) << true << QStringLiteral("record flags");
    QTest::newRow("unknown channel state") << 74 << 1 << qint64(3) << true << QStringLiteral("state 3 of channel 1");
    QTest::newRow("stopwatch time not taken") << 47 << 1 << qint64(0x40) << true << QStringLiteral("stopwatch");
    QTest::newRow("count of a channel not read") << 64 << 4 << qint64(7) << true << QStringLiteral("not read");
}

void TestImageFiles::damagedMioRefused()
{
    QFETCH(int, offset);
    QFETCH(int, size);
    QFETCH(qint64, value);
    QFETCH(bool, fixChecksum);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("damaged.mio"));
    QVERIFY(saveImage(testFrame(PixelFormat::Mono16, 40, 30, 12), path).ok());
    QByteArray bytes = fileBytes(path);
    if (offset == -1)
        bytes.truncate(value);
    else if (offset == -2)
        bytes.append(QByteArray(value, '\0'));
    else if (size == 1)
        bytes[offset] = char(value);
    else if (size == 2)
        qToLittleEndian<std::uint16_t>(std::uint16_t(value), bytes.data() + offset);
    else
        qToLittleEndian<std::uint32_t>(std::uint32_t(value), bytes.data() + offset);
    if (fixChecksum) {
        QByteArray header = bytes.left(128);
        std::memset(header.data() + 124, 0, 4);
        qToLittleEndian<std::uint32_t>(zlibCrc32(header), bytes.data() + 124);
    }
    QVERIFY(writeBytes(path, bytes));

    Frame out = testFrame(PixelFormat::RGB8, 4, 4);
    const Status status = loadImage(path, out);
    QVERIFY(!status.ok());
    QVERIFY2(status.reason().contains(reason), qPrintable(status.reason()));
    QCOMPARE(out.width, 4); // a refused file leaves the caller's frame alone
}

void TestImageFiles::damagedFilesRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("keep"); // share of the file kept
    QTest::newRow("jpg cut in half") << QStringLiteral("cut.jpg") << 0.5;
    QTest::newRow("jpg header only") << QStringLiteral("cut.jpg") << 0.01;
    QTest::newRow("tif cut in half") << QStringLiteral("cut.tif") << 0.5;
    QTest::newRow("tif header only") << QStringLiteral("cut.tif") << 0.001;
    QTest::newRow("bmp cut in half") << QStringLiteral("cut.bmp") << 0.5;
    QTest::newRow("empty bmp") << QStringLiteral("cut.bmp") << 0.0;
    QTest::newRow("empty jpg") << QStringLiteral("cut.jpg") << 0.0;
}

void TestImageFiles::damagedFilesRefused()
{
    QFETCH(QString, name);
    QFETCH(double, keep);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QVERIFY(saveImage(testFrame(PixelFormat::Mono8, 200, 150), path).ok());
    const QByteArray bytes = fileBytes(path);
    QVERIFY(writeBytes(path, bytes.left(qsizetype(double(bytes.size()) * keep))));
    Frame out;
    const Status status = loadImage(path, out);
    QVERIFY(!status.ok());
    // The reason names the file once and the cause in words, not in a library's calls.
    QCOMPARE(status.reason().count(path), 1);
    const QRegularExpression libraryCall(QStringLiteral("\\b(tj|TIFF)[A-Z]\\w*|\\(\\)"));
    QVERIFY2(!libraryCall.match(status.reason()).hasMatch(), qPrintable(status.reason()));
    QVERIFY(out.isNull());
}

void TestImageFiles::readsPng()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("deep.png"));
    const Frame frame = testFrame(PixelFormat::Mono16, 50, 40);
    const QImage image(reinterpret_cast<const uchar *>(frame.data.constData()), frame.width, frame.height, frame.stride,
                       QImage::Format_Grayscale16);
    QVERIFY(image.save(path));
    Frame read;
    const Status status = loadImage(path, read);
    QVERIFY2(status.ok(), qPrintable(status.reason()));
    QVERIFY(samePixels(read, frame)); // 16-bit grey stays 16-bit
}

// Qt refuses pictures above 128 MB, which it would need for a colour bitmap of 6000 x 6000
// (36 megapixels); the program reads back every bitmap it writes.
void TestImageFiles::readsOwnLargeBitmap()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.bmp"));
    const Frame frame = testFrame(PixelFormat::RGB8, 6000, 6000);
    QVERIFY(saveImage(frame, path).ok());
    Frame read;
    const Status status = loadImage(path, read);
    QVERIFY2(status.ok(), qPrintable(status.reason()));
    QVERIFY(samePixels(read, frame));
}

void TestImageFiles::syncsSeries()
{
    QTemporaryDir dir;
    QVERIFY(syncSavedPictures(dir.path()).ok());
    const Status missing = syncSavedPictures(dir.filePath(QStringLiteral("gone")));
    QVERIFY(!missing.ok());
    QVERIFY2(missing.reason().contains(QStringLiteral("gone")), qPrintable(missing.reason()));
}

QTEST_GUILESS_MAIN(TestImageFiles)
#include "test_image_files.moc"
