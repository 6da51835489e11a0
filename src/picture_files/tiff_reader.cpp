// TIFF through libtiff, reading: grey and RGB strips or tiles straight into the frame, every other
// layout libtiff understands through its RGBA raster, and the picture's own row of the series log
// from its OME-XML or the `key=value` description of earlier versions.
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
#include <cstring>
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
// says in words what the user can make of a refused file, so only the fact of an error is kept.
// A codec that meets damaged data says so here, and some return as if all went well.
struct TiffErrors
{
    bool seen = false;
};

int noteError(TIFF *, void *errors, const char *, const char *, va_list)
{
    static_cast<TiffErrors *>(errors)->seen = true;
    return 1;
}

int ignoreMessage(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

TiffHandle openForReading(const QString &path, TiffErrors &errors)
{
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, noteError, &errors);
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

// What the reader makes of the file's samples: grey or RGB decoded straight into the frame, strip
// by strip or tile by tile; anything else through libtiff's RGBA raster.
struct TiffLayout
{
    std::uint16_t bits = 1;
    std::uint16_t samples = 1;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t compression = COMPRESSION_NONE;
    bool separatePlanes = false;
    bool tiled = false;
    bool grey = false;
    bool rgb = false;
};

TiffLayout tiffLayout(TIFF *tiff)
{
    TiffLayout l;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &l.photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &l.compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    l.separatePlanes = planar == PLANARCONFIG_SEPARATE;
    l.tiled = TIFFIsTiled(tiff);
    l.grey = !l.separatePlanes && l.samples == 1 && l.photometric == PHOTOMETRIC_MINISBLACK &&
             (l.bits == 8 || l.bits == 16);
    l.rgb = !l.separatePlanes && l.samples == 3 && l.photometric == PHOTOMETRIC_RGB && l.bits == 8;
    return l;
}

// The most bytes the file's codec can make of `stored` bytes. Deflate's limit is 1032 to 1 (a
// 258-byte match in two bits); LZW's about 1703 (after a clear, the n-th code stands for at most
// n + 1 bytes, and libtiff's table is full 4861 codes of 9 to 12 bits later); PackBits' 64 (two
// bytes for a run of 128). JPEG spends at least a bit on every 8 x 8 block of each component: a
// byte holds at most 512 pixels of the finest one, as many times more as the others are coarser.
// Camera and lab pictures never compress further than deflate's limit, so codecs with no useful
// limit of their own (fax coding, LZMA, Zstandard) are held to it: a header that claims more
// describes a blank or a forged picture.
std::uint64_t maxDecodedBytes(TIFF *tiff, const TiffLayout &l, std::uint64_t stored)
{
    switch (l.compression) {
    case COMPRESSION_NONE:
        return stored;
    case COMPRESSION_PACKBITS:
        return stored * 64;
    case COMPRESSION_LZW:
        return stored * 1703;
    case COMPRESSION_JPEG: {
        std::uint16_t across = 1, down = 1;
        if (l.photometric == PHOTOMETRIC_YCBCR)
            TIFFGetFieldDefaulted(tiff, TIFFTAG_YCBCRSUBSAMPLING, &across, &down);
        const std::uint64_t pixels = stored * 512 * std::clamp<std::uint16_t>(across, 1, 4) *
                                     std::clamp<std::uint16_t>(down, 1, 4);
        return pixels * l.samples * l.bits / 8;
    }
    default:
        return stored * 1032;
    }
}

// What the codec must make of all strips or tiles together; 0 where libtiff finds it too large.
std::uint64_t decodedBytes(TIFF *tiff, const TiffLayout &l, std::uint32_t height)
{
    if (l.tiled)
        return std::uint64_t(TIFFNumberOfTiles(tiff)) * TIFFTileSize64(tiff);
    return TIFFVStripSize64(tiff, height) * (l.separatePlanes ? l.samples : 1);
}

// Checks, before any memory is set aside for the pixels, that the strips or tiles lie inside the
// file and that their codec can make of them what the header claims: exactly the samples when
// uncompressed. What the reader then allocates is the claimed picture, or four bytes a pixel
// through the RGBA raster (32 times the samples of a bilevel one).
Status checkFileHolds(TIFF *tiff, const TiffLayout &layout, std::uint64_t fileSize, std::uint32_t width,
                      std::uint32_t height)
{
    const std::uint32_t pieces = layout.tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    std::uint64_t stored = 0;
    for (std::uint32_t i = 0; i < pieces; ++i) {
        int error = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tiff, i, &error);
        const std::uint64_t count = TIFFGetStrileByteCountWithErr(tiff, i, &error);
        if (error || offset > fileSize || count > fileSize - offset)
            return Status::failure(QStringLiteral("it is truncated"));
        stored += count;
    }
    // Pieces may share their bytes; the file holds no more than its size.
    const std::uint64_t decoded = decodedBytes(tiff, layout, height);
    if (decoded == 0 || decoded > maxDecodedBytes(tiff, layout, std::min(stored, fileSize)))
        return Status::failure(
            QStringLiteral("its header claims %1 x %2 pixels, more than the file can hold").arg(width).arg(height));
    return Status::success();
}

Status damagedAt(std::uint32_t row)
{
    return Status::failure(QStringLiteral("its picture data are damaged or cut short (row %1)").arg(row));
}

// Each strip decoded into its rows of the frame, whose rows are the file's scanlines.
Status readStrips(TIFF *tiff, Frame &frame)
{
    const auto height = std::uint32_t(frame.height);
    std::uint32_t rowsPerStrip = height;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, height);
    for (std::uint32_t y = 0; y < height; y += rowsPerStrip) {
        const tmsize_t size = tmsize_t(std::min(rowsPerStrip, height - y)) * frame.stride;
        if (TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, y, 0), frame.row(int(y)), size) != size)
            return damagedAt(y);
    }
    return Status::success();
}

// Each tile decoded whole, then the part of it inside the picture copied into the frame.
Status readTiles(TIFF *tiff, Frame &frame)
{
    const auto width = std::uint32_t(frame.width), height = std::uint32_t(frame.height);
    const auto pixelBytes = std::uint32_t(bytesPerPixel(frame.format));
    std::uint32_t tileWidth = 0, tileLength = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileLength);
    const tmsize_t tileSize = TIFFTileSize(tiff);
    if (tileWidth == 0 || tileLength == 0 || tileSize != tmsize_t(tileWidth) * tileLength * pixelBytes)
        return Status::failure(QStringLiteral("its pixel layout is not supported"));
    std::vector<std::uint8_t> tile(static_cast<std::size_t>(tileSize));
    for (std::uint32_t y = 0; y < height; y += tileLength) {
        for (std::uint32_t x = 0; x < width; x += tileWidth) {
            if (TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, x, y, 0, 0), tile.data(), tileSize) != tileSize)
                return damagedAt(y);
            const std::size_t bytes = std::size_t(std::min(tileWidth, width - x)) * pixelBytes;
            for (std::uint32_t r = 0; r < std::min(tileLength, height - y); ++r)
                std::memcpy(frame.row(int(y + r)) + std::size_t(x) * pixelBytes,
                            tile.data() + std::size_t(r) * tileWidth * pixelBytes, bytes);
        }
    }
    return Status::success();
}

// Any other layout libtiff understands (palette, planes, other photometrics) comes through its
// RGBA reader as 8-bit colour, which stops at the first strip or tile that does not decode. The
// raster becomes the picture in place, each pixel packed to three bytes behind the reading, so
// that reading takes four bytes a pixel, not seven.
Status readAsRgba(TIFF *tiff, Frame &frame)
{
    char why[1024] = {};
    if (!TIFFRGBAImageOK(tiff, why))
        return Status::failure(QStringLiteral("its pixel layout is not supported"));
    const std::size_t count = std::size_t(frame.width) * std::size_t(frame.height);
    QByteArray pixels(qsizetype(4 * count), Qt::Uninitialized);
    auto *raster = reinterpret_cast<std::uint32_t *>(pixels.data());
    if (!TIFFReadRGBAImageOriented(tiff, std::uint32_t(frame.width), std::uint32_t(frame.height), raster,
                                   ORIENTATION_TOPLEFT, 1))
        return Status::failure(QStringLiteral("its picture data are damaged or cut short"));
    auto *out = reinterpret_cast<std::uint8_t *>(pixels.data());
    for (std::size_t i = 0; i < count; ++i, out += 3) {
        const std::uint32_t abgr = raster[i];
        out[0] = std::uint8_t(TIFFGetR(abgr));
        out[1] = std::uint8_t(TIFFGetG(abgr));
        out[2] = std::uint8_t(TIFFGetB(abgr));
    }
    pixels.resize(qsizetype(3 * count));
    frame.format = PixelFormat::RGB8;
    frame.stride = 3 * frame.width;
    frame.data = pixels;
    return Status::success();
}

Status readPixels(TIFF *tiff, const TiffLayout &layout, Frame &frame)
{
    if (!layout.grey && !layout.rgb)
        return readAsRgba(tiff, frame);
    frame = Frame::allocate(frame.width, frame.height,
                            layout.grey ? (layout.bits == 16 ? PixelFormat::Mono16 : PixelFormat::Mono8)
                                        : PixelFormat::RGB8);
    if (frame.format == PixelFormat::Mono16) {
        std::uint16_t maxValue = 0xffff;
        TIFFGetField(tiff, TIFFTAG_MAXSAMPLEVALUE, &maxValue);
        frame.significantBits = std::max(1, int(std::bit_width(maxValue)));
    }
    return layout.tiled ? readTiles(tiff, frame) : readStrips(tiff, frame);
}
} // namespace

Status readTiff(const QString &path, Frame &out, ImageMetadata &metadata)
{
    const auto refuse = [&path](const QString &why) {
        return Status::failure(QStringLiteral("Cannot read \"%1\": %2").arg(path, why));
    };
    TiffErrors errors;
    TiffHandle tiff = openForReading(path, errors);
    // libtiff's findings are about its structures ("Can not read TIFF directory count"): the
    // reasons say in words what the user can make of them.
    if (!tiff)
        return refuse(QStringLiteral("it is not a TIFF picture, or it is damaged or cut short"));
    // What libtiff mended in the directory does not touch the pixels.
    errors.seen = false;
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0 || width > maxReadSide || height > maxReadSide)
        return refuse(QStringLiteral("impossible size %1 x %2").arg(width).arg(height));
    const TiffLayout layout = tiffLayout(tiff.get());
    if (Status status = checkFileHolds(tiff.get(), layout, std::uint64_t(QFileInfo(path).size()), width, height);
        !status)
        return refuse(status.reason());
    Frame frame;
    frame.width = int(width);
    frame.height = int(height);
    if (Status status = readPixels(tiff.get(), layout, frame); !status)
        return refuse(status.reason());
    if (errors.seen)
        return refuse(QStringLiteral("its picture data are damaged or cut short"));
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
