// TIFF through libtiff, reading: grey and RGB rows straight into the frame, every other layout
// libtiff understands through its RGBA raster, and the picture's own row of the series log from its
// OME-XML or the `key=value` description of earlier versions.
#include "picture_files/image_formats.h"
#include "picture_files/ome_xml.h"
#include "picture_files/picture_record.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <memory>
#include <vector>

namespace {

constexpr std::uint32_t maxReadSide = 65535;

struct TiffCloser
{
    void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// libtiff's findings are about its structures ("Can not read TIFF directory count"); the reader
// says in words what the user can make of a refused file, so they are not kept.
int ignoreMessage(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

TiffHandle openForReading(const QString &path)
{
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, ignoreMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreMessage, nullptr);
    TIFF *tiff = TIFFOpenExt(QFile::encodeName(path).constData(), "r", options);
    TIFFOpenOptionsFree(options);
    return TiffHandle(tiff);
}

// The picture's record: OME-XML, or the `key=value` lines of earlier versions. Keys of other
// programs' descriptions are passed over.
void parseDescription(const QByteArray &text, ImageMetadata &metadata)
{
    if (readPictureOmeXml(text, metadata))
        return;
    QHash<QString, QString> pairs;
    for (const QString &line : QString::fromLatin1(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            pairs.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    readRecordPairs(pairs, metadata);
}

Status readScanlines(TIFF *tiff, Frame &frame)
{
    for (int y = 0; y < frame.height; ++y) {
        if (TIFFReadScanline(tiff, frame.row(y), std::uint32_t(y)) < 0)
            return Status::failure(QStringLiteral("its picture data are damaged or cut short (row %1)").arg(y));
    }
    return Status::success();
}

// Any other layout libtiff understands (palette, tiles, other photometrics) comes through its
// RGBA reader as 8-bit colour.
Status readAsRgba(TIFF *tiff, Frame &frame)
{
    std::vector<std::uint32_t> rgba(std::size_t(frame.width) * std::size_t(frame.height));
    if (!TIFFReadRGBAImageOriented(tiff, std::uint32_t(frame.width), std::uint32_t(frame.height), rgba.data(),
                                   ORIENTATION_TOPLEFT, 0))
        return Status::failure(QStringLiteral("its pixel layout is not supported"));
    const std::uint32_t *in = rgba.data();
    for (int y = 0; y < frame.height; ++y) {
        std::uint8_t *out = frame.row(y);
        for (int x = 0; x < frame.width; ++x, ++in, out += 3) {
            out[0] = std::uint8_t(TIFFGetR(*in));
            out[1] = std::uint8_t(TIFFGetG(*in));
            out[2] = std::uint8_t(TIFFGetB(*in));
        }
    }
    return Status::success();
}

// What the reader makes of the file's samples: grey or RGB rows read straight into the frame,
// anything else through libtiff's RGBA raster.
struct TiffLayout
{
    std::uint16_t bits = 1;
    std::uint16_t samples = 1;
    bool grey = false;
    bool rgb = false;
};

TiffLayout tiffLayout(TIFF *tiff)
{
    TiffLayout l;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    const bool strips = !TIFFIsTiled(tiff) && planar == PLANARCONFIG_CONTIG;
    l.grey = strips && l.samples == 1 && photometric == PHOTOMETRIC_MINISBLACK && (l.bits == 8 || l.bits == 16);
    l.rgb = strips && l.samples == 3 && photometric == PHOTOMETRIC_RGB && l.bits == 8;
    return l;
}

// No codec of TIFF expands a real picture more than a few thousandfold (deflate's own limit is
// 1032 to 1, JPEG's about a thousand, a fax page's about 1700): a header that claims more
// describes pixels the file cannot hold.
constexpr std::uint64_t maxExpansion = 4096;

// Checks, before any memory is set aside for the pixels, that the strips or tiles lie inside the
// file and can hold the picture the header claims: the samples exactly for uncompressed data,
// and what the reader will allocate within the largest expansion of a codec otherwise (a layout
// read through the RGBA raster takes seven bytes a pixel, 56 times the samples of a bilevel one).
Status checkFileHolds(TIFF *tiff, std::uint64_t fileSize, std::uint32_t width, std::uint32_t height)
{
    const TiffLayout layout = tiffLayout(tiff);
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    const std::uint64_t raw = (std::uint64_t(width) * layout.bits * layout.samples + 7) / 8 * height;
    const std::uint64_t allocated = layout.grey || layout.rgb ? raw : std::uint64_t(width) * height * (3 + 4);
    const std::uint32_t pieces = TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    std::uint64_t stored = 0;
    for (std::uint32_t i = 0; i < pieces; ++i) {
        int error = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tiff, i, &error);
        const std::uint64_t count = TIFFGetStrileByteCountWithErr(tiff, i, &error);
        if (error || offset > fileSize || count > fileSize - offset)
            return Status::failure(QStringLiteral("it is truncated"));
        stored += count;
    }
    if (compression == COMPRESSION_NONE ? raw > stored : allocated > stored * maxExpansion)
        return Status::failure(
            QStringLiteral("its header claims %1 x %2 pixels, more than the file can hold").arg(width).arg(height));
    return Status::success();
}

Status readPixels(TIFF *tiff, Frame &frame)
{
    const TiffLayout layout = tiffLayout(tiff);
    frame = Frame::allocate(frame.width, frame.height,
                            layout.grey ? (layout.bits == 16 ? PixelFormat::Mono16 : PixelFormat::Mono8)
                                        : PixelFormat::RGB8);
    if (frame.format == PixelFormat::Mono16) {
        std::uint16_t maxValue = 0xffff;
        TIFFGetField(tiff, TIFFTAG_MAXSAMPLEVALUE, &maxValue);
        frame.significantBits = std::max(1, int(std::bit_width(maxValue)));
    }
    return layout.grey || layout.rgb ? readScanlines(tiff, frame) : readAsRgba(tiff, frame);
}
} // namespace

Status readTiff(const QString &path, Frame &out, ImageMetadata &metadata)
{
    const auto refuse = [&path](const QString &why) {
        return Status::failure(QStringLiteral("Cannot read \"%1\": %2").arg(path, why));
    };
    TiffHandle tiff = openForReading(path);
    // libtiff's findings are about its structures ("Can not read TIFF directory count"): the
    // reasons say in words what the user can make of them.
    if (!tiff)
        return refuse(QStringLiteral("it is not a TIFF picture, or it is damaged or cut short"));
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0 || width > maxReadSide || height > maxReadSide)
        return refuse(QStringLiteral("impossible size %1 x %2").arg(width).arg(height));
    if (Status status = checkFileHolds(tiff.get(), std::uint64_t(QFileInfo(path).size()), width, height); !status)
        return refuse(status.reason());
    Frame frame;
    frame.width = int(width);
    frame.height = int(height);
    if (Status status = readPixels(tiff.get(), frame); !status)
        return refuse(status.reason());
    ImageMetadata record;
    char *dateTime = nullptr;
    if (TIFFGetField(tiff.get(), TIFFTAG_DATETIME, &dateTime) && dateTime)
        record.captureTime =
            QDateTime::fromString(QString::fromLatin1(dateTime), QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    char *description = nullptr;
    if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEDESCRIPTION, &description) && description)
        parseDescription(QByteArray(description), record);
    out = frame;
    metadata = record;
    return Status::success();
}
