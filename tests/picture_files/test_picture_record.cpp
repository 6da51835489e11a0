// The series record a picture carries: the .tif description and the .mio capture record.
#include "picture_files/image_files.h"

#include "image_file_support.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <tiffio.h>

#include <cstring>

Q_DECLARE_METATYPE(ImageMetadata)

namespace {

ImageMetadata seriesRecord(std::optional<ChannelSample> channel0, std::optional<ChannelSample> channel1)
{
    ImageMetadata metadata;
    metadata.captureTime = QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26, 535));
    metadata.picture = 3;
    metadata.scheduledMs = 100.0;
    metadata.stopwatchMs = 100.2571234;
    metadata.frameMs = 86.7409876;
    metadata.exposureUs = 12500.5;
    metadata.gain = 6.02;
    metadata.gainUnit = QStringLiteral("dB");
    metadata.channel0 = channel0;
    metadata.channel1 = channel1;
    return metadata;
}

QString tiffDescription(const QString &path)
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tiff)
        return {};
    char *text = nullptr;
    const QString description = TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &text) ? QString::fromLatin1(text) : QString();
    TIFFClose(tiff);
    return description;
}

void compareChannels(const std::optional<ChannelSample> &read, const std::optional<ChannelSample> &written)
{
    QCOMPARE(read.has_value(), written.has_value());
    if (!written)
        return;
    QCOMPARE(read->ok, written->ok);
    if (written->ok) {
        QCOMPARE(read->count, written->count);
        QCOMPARE(read->value, written->value);
    }
}

} // namespace

class TestPictureRecord : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsBack_data();
    void readsBack();
    void tiffDescriptionText();
    void oldMioReadsWithoutRecord_data();
    void oldMioReadsWithoutRecord();
};

void TestPictureRecord::readsBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<ImageMetadata>("metadata");

    const ChannelSample current{true, 2048, 106.0001220703125};
    const ChannelSample voltage{true, -3, -0.00457763671875};
    ImageMetadata rawGainOnly = seriesRecord(std::nullopt, std::nullopt);
    rawGainOnly.exposureUs.reset();
    rawGainOnly.gain = 32;
    rawGainOnly.gainUnit = QStringLiteral("raw");
    const struct
    {
        const char *label;
        ImageMetadata metadata;
    } records[] = {
        {"both channels", seriesRecord(current, voltage)},
        {"channel 1 failed", seriesRecord(current, ChannelSample{})},
        {"count 0 read", seriesRecord(ChannelSample{true, 0, 0.0}, std::nullopt)},
        {"no channels", seriesRecord(std::nullopt, std::nullopt)},
        {"raw gain, no exposure", rawGainOnly},
        {"outside a series", ImageMetadata{}},
    };
    for (const char *name : {"picture.tif", "picture.mio"})
        for (const auto &r : records)
            QTest::addRow("%s %s", name, r.label) << QString::fromLatin1(name) << r.metadata;
}

void TestPictureRecord::readsBack()
{
    QFETCH(QString, name);
    QFETCH(ImageMetadata, metadata);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    const Frame frame = testFrame(PixelFormat::Mono16, 40, 30, 12);
    const Status saved = saveImage(frame, path, metadata);
    QVERIFY2(saved.ok(), qPrintable(saved.reason()));
    Frame out;
    ImageMetadata read;
    read.picture = 99; // what the caller held before is not taken for the file's record
    const Status loaded = loadImage(path, out, read);
    QVERIFY2(loaded.ok(), qPrintable(loaded.reason()));
    QVERIFY(samePixels(out, frame));

    compareChannels(read.channel0, metadata.channel0);
    compareChannels(read.channel1, metadata.channel1);
    QCOMPARE(read.stopwatchMs.has_value(), metadata.stopwatchMs.has_value());
    QCOMPARE(read.frameMs.has_value(), metadata.frameMs.has_value());
    // The camera's settings keep their full precision in both.
    QCOMPARE(read.exposureUs, metadata.exposureUs);
    QCOMPARE(read.gain, metadata.gain);
    QCOMPARE(read.gainUnit, metadata.gainUnit);
    if (name.endsWith(u".mio")) {
        QCOMPARE(read.captureTime.isValid(), true);
        if (metadata.stopwatchMs)
            QCOMPARE(*read.stopwatchMs, *metadata.stopwatchMs); // full precision
        if (metadata.frameMs)
            QCOMPARE(*read.frameMs, *metadata.frameMs);
        QVERIFY(!read.picture && !read.scheduledMs);
    } else {
        // The description holds the log's three decimals.
        if (metadata.stopwatchMs)
            QCOMPARE(*read.stopwatchMs, 100.257);
        if (metadata.frameMs)
            QCOMPARE(*read.frameMs, 86.741);
        QCOMPARE(read.picture, metadata.picture);
        QCOMPARE(read.scheduledMs, metadata.scheduledMs);
    }
    if (metadata.captureTime.isValid())
        QCOMPARE(read.captureTime, metadata.captureTime);
}

void TestPictureRecord::tiffDescriptionText()
{
    // A locale with a decimal comma must not reach the file.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("described.tif"));
    ImageMetadata metadata = seriesRecord(ChannelSample{true, 2048, 106.5}, ChannelSample{});
    metadata.captureTime = QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26, 535), Qt::OffsetFromUTC, 3600);
    const Status saved = saveImage(testFrame(PixelFormat::Mono8, 8, 8), path, metadata);
    QLocale::setDefault(previous);
    QVERIFY2(saved.ok(), qPrintable(saved.reason()));
    QCOMPARE(tiffDescription(path), QStringLiteral("capture_time=2026-03-14T15:09:26.535+01:00\n"
                                                   "picture=3\n"
                                                   "scheduled_ms=100.000\n"
                                                   "stopwatch_ms=100.257\n"
                                                   "lateness_ms=0.257\n"
                                                   "frame_ms=86.741\n"
                                                   "channel0_count=2048\n"
                                                   "channel0_mA=106.5\n"
                                                   "channel1_count=ERR\n"
                                                   "channel1_V=ERR\n"
                                                   "exposure_us=12500.5\n"
                                                   "gain=6.02\n"
                                                   "gain_unit=dB"));
}

// What earlier versions wrote: version 1 kept the whole record's bytes zero, version 2 had no
// frame time (bytes 75 on zero, flag bit 1 clear), version 3 no exposure or gain (bytes 88 on
// zero, flags 2 to 4 clear).
void TestPictureRecord::oldMioReadsWithoutRecord_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("zeroFrom");
    QTest::addColumn<int>("damaged"); // a byte that must be zero in that version
    QTest::newRow("version 1") << 1 << 40 << 41;
    QTest::newRow("version 2") << 2 << 75 << 81;
    QTest::newRow("version 3") << 3 << 88 << 90;
}

void TestPictureRecord::oldMioReadsWithoutRecord()
{
    QFETCH(int, version);
    QFETCH(int, zeroFrom);
    QFETCH(int, damaged);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.mio"));
    const Frame frame = testFrame(PixelFormat::Mono16, 40, 30, 10);
    QVERIFY(saveImage(frame, path, seriesRecord(ChannelSample{true, 7, 1.5}, ChannelSample{})).ok());
    QByteArray bytes = fileBytes(path);
    qToLittleEndian<std::uint16_t>(std::uint16_t(version), bytes.data() + 8);
    std::memset(bytes.data() + zeroFrom, 0, 124 - zeroFrom);
    bytes[72] = char(bytes[72] & (version == 3 ? 0x03 : 0x01)); // the flags that version knows
    QByteArray header = bytes.left(128);
    std::memset(header.data() + 124, 0, 4);
    qToLittleEndian<std::uint32_t>(zlibCrc32(header), bytes.data() + 124);
    QVERIFY(writeBytes(path, bytes));

    Frame out;
    ImageMetadata read;
    const Status loaded = loadImage(path, out, read);
    QVERIFY2(loaded.ok(), qPrintable(loaded.reason()));
    QVERIFY(samePixels(out, frame));
    QCOMPARE(read.captureTime, QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26, 535)));
    QCOMPARE(read.frameMs.has_value(), version == 3);
    QVERIFY(!read.exposureUs && !read.gain);
    QCOMPARE(read.stopwatchMs.has_value(), version >= 2);
    QCOMPARE(read.channel0.has_value(), version >= 2);

    // Where the version has no field, a byte is damage.
    bytes[damaged] = 1;
    header = bytes.left(128);
    std::memset(header.data() + 124, 0, 4);
    qToLittleEndian<std::uint32_t>(zlibCrc32(header), bytes.data() + 124);
    QVERIFY(writeBytes(path, bytes));
    const Status refused = loadImage(path, out, read);
    QVERIFY(!refused.ok());
    QVERIFY2(refused.reason().contains(QStringLiteral("reserved")), qPrintable(refused.reason()));
}

QTEST_GUILESS_MAIN(TestPictureRecord)
#include "test_picture_record.moc"
