// Picture files of a few hundred bytes whose headers claim pictures of gigabytes, and files that
// are no files: every reader refuses them, with the reason, before it allocates.
#include "picture_files/image_files.h"

#include "cameras/pixel_conversion.h"
#include "image_file_support.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cstring>
#include <sys/stat.h>

class TestHostilePictures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hostileSizesRefused_data();
    void hostileSizesRefused();
};

namespace {

// One of our own small pictures, its header changed to claim `side` x `side` pixels.
QByteArray claiming(const QString &suffix, int side, const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("small.") + suffix);
    saveImage(testFrame(suffix == u"jpg" ? PixelFormat::RGB8 : PixelFormat::Mono8, 640, 480), path);
    QByteArray bytes = fileBytes(path);
    QFile::remove(path);
    if (suffix == u"jpg") { // the baseline start of frame: height, then width, big-endian
        const qsizetype sof = bytes.indexOf("\xff\xc0");
        qToBigEndian<std::uint16_t>(std::uint16_t(side), bytes.data() + sof + 5);
        qToBigEndian<std::uint16_t>(std::uint16_t(side), bytes.data() + sof + 7);
    } else if (suffix == u"bmp" || suffix == u"rle.bmp") {
        qToLittleEndian<std::int32_t>(side, bytes.data() + 18);
        qToLittleEndian<std::int32_t>(side, bytes.data() + 22);
        if (suffix == u"rle.bmp")
            qToLittleEndian<std::uint32_t>(1, bytes.data() + 30); // run-length coded: size unknown in advance
    } else if (suffix == u"mio") {
        qToLittleEndian<std::uint32_t>(std::uint32_t(side), bytes.data() + 12);
        qToLittleEndian<std::uint32_t>(std::uint32_t(side), bytes.data() + 16);
        qToLittleEndian<std::uint32_t>(std::uint32_t(side), bytes.data() + 24);
        std::memset(bytes.data() + 124, 0, 4);
        qToLittleEndian<std::uint32_t>(zlibCrc32(bytes.left(128)), bytes.data() + 124);
    }
    return bytes;
}

} // namespace

void TestHostilePictures::hostileSizesRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // empty: `name` is made a pipe, or a link to a device
    QTest::addColumn<QString>("reason");
    QTemporaryDir dir;
    QTest::newRow(".jpg") << "x.jpg" << claiming(QStringLiteral("jpg"), 65000, dir) << "more than the file can hold";
    // 8-bit grey in one uncompressed strip, as the fuzzer's seed.
    QTest::newRow(".tif, 186 bytes") << "x.tif" << fileBytes(QStringLiteral(PIR_FUZZ_CORPUS "/tiff/claims-65535x65535.tif"))
                                     << "truncated";
    QTest::newRow(".bmp") << "x.bmp" << claiming(QStringLiteral("bmp"), 65000, dir) << "truncated";
    QTest::newRow(".bmp, run-length coded") << "x.bmp" << claiming(QStringLiteral("rle.bmp"), 65000, dir)
                                            << "not a bitmap Qt can decode";
    QTest::newRow(".mio") << "x.mio" << claiming(QStringLiteral("mio"), 40000, dir) << "truncated";
    QTest::newRow("MJPEG frame of 640 x 480") << "mjpeg" << claiming(QStringLiteral("jpg"), 65000, dir)
                                              << "65000 x 65000 instead of 640 x 480";
    QTest::newRow("a pipe named .bmp") << "pipe.bmp" << QByteArray() << "not a file";
    QTest::newRow("/dev/zero named .bmp") << "zero.bmp" << QByteArray() << "not a file";
}

// A file of a few hundred bytes whose header claims a picture of gigabytes is refused before
// anything is allocated for it: the reader runs where it may not map more than 1 GiB.
void TestHostilePictures::hostileSizesRefused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (name == u"pipe.bmp")
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    else if (name == u"zero.bmp")
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    else
        QVERIFY(writeBytes(path, bytes));
    const auto read = [&] {
        Frame frame;
        if (name == u"mjpeg")
            return decodeMjpeg(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()),
                               640, 480, frame);
        return loadImage(path, frame);
    };
    // AddressSanitizer reserves terabytes of address space for itself: no limit there.
#if defined(__SANITIZE_ADDRESS__)
    const Status status = inChildProcess(read);
#else
    const Status status = inChildProcess(read, std::uint64_t(1) << 30);
#endif
    QVERIFY(!status.ok());
    QVERIFY2(status.reason().contains(reason), qPrintable(status.reason()));
}

QTEST_GUILESS_MAIN(TestHostilePictures)
#include "test_hostile_pictures.moc"
