// Picture files of a few hundred bytes whose headers claim pictures of gigabytes, pictures whose
// data do not decode, and files that are no files: every reader refuses them, with the reason,
// before it allocates more than the file can decode to.
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
    void compressedTiffsRead_data();
    void compressedTiffsRead();
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
    const auto seed = [](const char *name) { return fileBytes(QStringLiteral(PIR_FUZZ_CORPUS "/") + QLatin1String(name)); };
    QTest::newRow(".jpg") << "x.jpg" << claiming(QStringLiteral("jpg"), 65000, dir) << "more than the file can hold";
    // 1.6 KB whose scans hold at most 0.5 megapixels; the header claims 1.4.
    QTest::newRow(".jpg, 1200 x 1200") << "x.jpg" << seed("jpeg/claims-1200x1200.jpg") << "more than the file can hold";
    // 8-bit grey in one uncompressed strip, as the fuzzer's seed.
    QTest::newRow(".tif, 186 bytes") << "x.tif" << seed("tiff/claims-65535x65535.tif") << "truncated";
    // 64 x 64 in one strip of 4 KB, which neither deflate nor LZW makes into as many pixels.
    QTest::newRow(".tif, deflate, 2200 x 2200") << "x.tif" << seed("tiff/deflate-claims-2200x2200.tif")
                                                << "more than the file can hold";
    QTest::newRow(".tif, LZW, 3500 x 3500") << "x.tif" << seed("tiff/lzw-claims-3500x3500.tif")
                                            << "more than the file can hold";
    // 64 x 64 with 24 bytes in the middle of the data overwritten: once read as black pictures.
    QTest::newRow(".tif, deflate palette, damaged") << "x.tif" << seed("tiff/palette-deflate-damaged.tif") << "damaged";
    QTest::newRow(".tif, LZW palette, damaged") << "x.tif" << seed("tiff/palette-lzw-damaged.tif") << "damaged";
    QTest::newRow(".tif, deflate tiles, damaged") << "x.tif" << seed("tiff/mono8-deflate-tiles-damaged.tif")
                                                 << "damaged";
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

// What other programs write stays readable within those bounds: compressed strips of several rows
// or tiles that overhang the picture, 16 bits with a predictor, a palette. The 50 x 37 pixels
// follow (x * 7 + y * 13) % 251.
void TestHostilePictures::compressedTiffsRead_data()
{
    QTest::addColumn<PixelFormat>("format");
    QTest::newRow("mono8-deflate-strips") << PixelFormat::Mono8;
    QTest::newRow("mono8-lzw-tiles") << PixelFormat::Mono8;
    QTest::newRow("mono16-lzw-predictor") << PixelFormat::Mono16;
    QTest::newRow("rgb8-packbits") << PixelFormat::RGB8;
    QTest::newRow("palette-deflate") << PixelFormat::RGB8;
}

void TestHostilePictures::compressedTiffsRead()
{
    QFETCH(PixelFormat, format);
    const QString name = QLatin1String(QTest::currentDataTag());
    Frame read;
    const Status status = loadImage(QStringLiteral(PIR_FUZZ_CORPUS "/tiff/") + name + QStringLiteral(".tif"), read);
    QVERIFY2(status.ok(), qPrintable(status.reason()));
    Frame expected = Frame::allocate(50, 37, format);
    for (int y = 0; y < expected.height; ++y) {
        for (int x = 0; x < expected.width; ++x) {
            const int v = (x * 7 + y * 13) % 251;
            std::uint8_t *p = expected.row(y) + x * bytesPerPixel(format);
            if (format == PixelFormat::Mono16) {
                qToLittleEndian<std::uint16_t>(std::uint16_t((x * 700 + y * 1300) % 65521), p);
                continue;
            }
            p[0] = std::uint8_t(v);
            if (format == PixelFormat::RGB8) {
                p[1] = std::uint8_t(255 - v);
                p[2] = std::uint8_t(name.startsWith(u"palette") ? v * 7 % 256 : x * y % 256);
            }
        }
    }
    QVERIFY(samePixels(read, expected));
}

QTEST_GUILESS_MAIN(TestHostilePictures)
#include "test_hostile_pictures.moc"
