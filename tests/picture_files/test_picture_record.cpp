// The series record a picture carries: the .tif OME-XML (or the key=value description of earlier
// versions) and the .mio capture record.
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
    metadata.uuid = QUuid::createUuid();
    metadata.origin.pixelSizeUm = 0.65;
    return metadata;
}

// The description, replaced by `replacement` when one is given.
QString tiffDescription(const QString &path, const QByteArray &replacement = {})
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), replacement.isEmpty() ? "r" : "r+");
    if (!tiff)
        return {};
    char *text = nullptr;
    const QString description = TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &text) ? QString::fromUtf8(text) : QString();
    if (!replacement.isEmpty() &&
        !(TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, replacement.constData()) && TIFFRewriteDirectory(tiff)))
        return {};
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
    void tiffRecordForms();
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
    QCOMPARE(read.origin.pixelSizeUm, metadata.origin.pixelSizeUm);
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
        if (!metadata.uuid.isNull())
            QCOMPARE(read.uuid, metadata.uuid);
    }
    if (metadata.captureTime.isValid())
        QCOMPARE(read.captureTime, metadata.captureTime);
}

// The record keeps the log's number formats in a locale with a decimal comma, and a picture of
// an earlier version, whose description held it as `key=value` lines, reads the same.
void TestPictureRecord::tiffRecordForms()
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("described.tif"));
    const ImageMetadata metadata = seriesRecord(ChannelSample{true, 2048, 106.5}, ChannelSample{});
    const Status saved = saveImage(testFrame(PixelFormat::Mono8, 8, 8), path, metadata);
    QLocale::setDefault(previous);
    QVERIFY2(saved.ok(), qPrintable(saved.reason()));
    const QByteArray earlier = "capture_time=2026-03-14T15:09:26.535+01:00\npicture=3\nscheduled_ms=100.000\n"
                               "stopwatch_ms=100.257\nlateness_ms=0.257\nframe_ms=86.741\nchannel0_count=2048\n"
                               "channel0_mA=106.5\nchannel1_count=ERR\nchannel1_V=ERR\nexposure_us=12500.5\n"
                               "gain=6.02\ngain_unit=dB";
    const QString ome = tiffDescription(path, earlier);
    for (const char *text : {"<M K=\"channel0_mA\">106.5</M>", "<M K=\"stopwatch_ms\">100.257</M>",
                             "PhysicalSizeX=\"0.65\"", "DeltaT=\"0.086741\"", "ExposureTime=\"12.5005\""})
        QVERIFY2(ome.contains(QLatin1String(text)), text);

    Frame out;
    ImageMetadata read;
    QVERIFY(loadImage(path, out, read).ok());
    QCOMPARE(read.picture, metadata.picture);
    QCOMPARE(read.stopwatchMs, 100.257);
    QCOMPARE(read.frameMs, 86.741);
    compareChannels(read.channel0, metadata.channel0);
    compareChannels(read.channel1, metadata.channel1);
    QCOMPARE(read.exposureUs, metadata.exposureUs);
    QCOMPARE(read.captureTime, QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26, 535), Qt::OffsetFromUTC, 3600));
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
    QTest::newRow("version 4") << 4 << 104 << 105;
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
    bytes[72] = char(bytes[72] & (version == 4 ? 0x1f : version == 3 ? 0x03 : 0x01)); // the flags that version knows
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
    QCOMPARE(read.frameMs.has_value(), version >= 3);
    QCOMPARE(read.exposureUs.has_value(), version >= 4);
    QVERIFY(!read.origin.pixelSizeUm);
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
