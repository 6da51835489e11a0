// TIFF through libtiff: uncompressed, full bit depth.
#include "picture_files/image_formats.h"

#include <QFile>
#include <QHash>
#include <QLocale>
#include <QStringList>

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr char softwareName[] = "Pictures in a row";
constexpr std::uint32_t maxReadSide = 65535;

// What libtiff's callbacks share. The file is written through SafeFile, so that its pieces
// stay whole and aligned; libtiff's seeks move a position of our own, and its one write
// backwards (the header's pointer to the directory) patches bytes already appended.
struct TiffContext
{
    SafeFile *file = nullptr;
    std::uint64_t position = 0;
    Status error = Status::success(); // the first write failure, e.g. "no space left"
    QString message;
};

// libtiff's module is one of its functions or the file's name, neither of which a reason should
// show: only the text is kept.
int captureMessage(TIFF *, void *userData, const char *, const char *format, va_list args)
{
    auto *context = static_cast<TiffContext *>(userData);
    if (context->message.isEmpty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        context->message = QString::fromLocal8Bit(text);
    }
    return 1;
}

int ignoreMessage(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

tmsize_t readProc(thandle_t, void *, tmsize_t)
{
    return 0; // new files only: libtiff has nothing to read back
}

Status appendAt(TiffContext &context, const std::uint8_t *data, std::size_t size)
{
    SafeFile &file = *context.file;
    // libtiff starts its directory on an even offset, leaving a byte between.
    static const std::uint8_t zeros[16] = {};
    while (context.position > file.size()) {
        const std::size_t gap = std::size_t(std::min<std::uint64_t>(context.position - file.size(), sizeof zeros));
        if (Status status = file.write(zeros, gap); !status)
            return status;
    }
    const std::size_t overlap =
        context.position < file.size() ? std::size_t(std::min<std::uint64_t>(size, file.size() - context.position)) : 0;
    if (overlap > 0) {
        if (Status status = file.writeAt(context.position, data, overlap); !status)
            return status;
    }
    return size > overlap ? file.write(data + overlap, size - overlap) : Status::success();
}

tmsize_t writeProc(thandle_t handle, void *data, tmsize_t size)
{
    auto &context = *static_cast<TiffContext *>(handle);
    const Status status = appendAt(context, static_cast<const std::uint8_t *>(data), std::size_t(size));
    if (!status) {
        if (context.error)
            context.error = status;
        return -1;
    }
    context.position += std::uint64_t(size);
    return size;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence)
{
    auto &context = *static_cast<TiffContext *>(handle);
    if (whence == SEEK_CUR)
        offset += context.position;
    else if (whence == SEEK_END)
        offset += context.file->size();
    context.position = offset;
    return offset;
}

int closeProc(thandle_t)
{
    return 0; // the SafeFile owns the descriptor
}

toff_t sizeProc(thandle_t handle)
{
    return static_cast<TiffContext *>(handle)->file->size();
}

int mapProc(thandle_t, void **, toff_t *)
{
    return 0;
}

void unmapProc(thandle_t, void *, toff_t) {}

struct TiffCloser
{
    void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle openTiff(const QString &path, const char *mode, TiffContext &context)
{
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, captureMessage, &context);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreMessage, nullptr);
    const QByteArray name = QFile::encodeName(path);
    TIFF *tiff = context.file ? TIFFClientOpenExt(name.constData(), mode, &context, readProc, writeProc, seekProc,
                                                  closeProc, sizeProc, mapProc, unmapProc, options)
                              : TIFFOpenExt(name.constData(), mode, options);
    TIFFOpenOptionsFree(options);
    return TiffHandle(tiff);
}

QString milliseconds(double ms)
{
    return QString::number(ms, 'f', 3);
}

// Full precision without an exponent, as the series log writes a camera's settings.
QString shortest(double value)
{
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

void describeChannel(QStringList &lines, int channel, const char *unit, const std::optional<ChannelSample> &sample)
{
    if (!sample)
        return;
    const QString count = sample->ok ? QString::number(sample->count) : QStringLiteral("ERR");
    const QString value =
        sample->ok ? QString::number(sample->value, 'g', QLocale::FloatingPointShortest) : QStringLiteral("ERR");
    lines << QStringLiteral("channel%1_count=%2").arg(channel).arg(count)
          << QStringLiteral("channel%1_%2=%3").arg(channel).arg(QLatin1String(unit), value);
}

// The picture's row of the series log as `key=value` lines (docs/tif-metadata.md), with the
// log's names and number formats, so that a picture and its row can be matched by eye.
// QString::number writes a '.' whatever the locale.
QByteArray describe(const ImageMetadata &metadata, const QDateTime &time)
{
    QStringList lines;
    lines << QStringLiteral("capture_time=%1").arg(time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs));
    if (metadata.picture)
        lines << QStringLiteral("picture=%1").arg(*metadata.picture);
    if (metadata.scheduledMs)
        lines << QStringLiteral("scheduled_ms=%1").arg(milliseconds(*metadata.scheduledMs));
    if (metadata.stopwatchMs)
        lines << QStringLiteral("stopwatch_ms=%1").arg(milliseconds(*metadata.stopwatchMs));
    if (metadata.scheduledMs && metadata.stopwatchMs)
        lines << QStringLiteral("lateness_ms=%1").arg(milliseconds(*metadata.stopwatchMs - *metadata.scheduledMs));
    if (metadata.frameMs)
        lines << QStringLiteral("frame_ms=%1").arg(milliseconds(*metadata.frameMs));
    describeChannel(lines, 0, "mA", metadata.channel0);
    describeChannel(lines, 1, "V", metadata.channel1);
    if (metadata.exposureUs)
        lines << QStringLiteral("exposure_us=%1").arg(shortest(*metadata.exposureUs));
    if (metadata.gain)
        lines << QStringLiteral("gain=%1").arg(shortest(*metadata.gain))
              << QStringLiteral("gain_unit=%1").arg(metadata.gainUnit);
    return lines.join(QLatin1Char('\n')).toLatin1();
}

std::optional<ChannelSample> parseChannel(const QHash<QString, QString> &pairs, int channel, const char *unit)
{
    const QString count = pairs.value(QStringLiteral("channel%1_count").arg(channel));
    const QString value = pairs.value(QStringLiteral("channel%1_%2").arg(channel).arg(QLatin1String(unit)));
    if (count.isEmpty())
        return std::nullopt;
    ChannelSample sample;
    bool countOk = false, valueOk = false;
    sample.count = count.toInt(&countOk);
    sample.value = value.toDouble(&valueOk);
    sample.ok = countOk && valueOk;
    if (!sample.ok)
        sample = ChannelSample{};
    return sample;
}

// Reads what describe() wrote; keys of other programs' descriptions are passed over.
void parseDescription(const QString &text, ImageMetadata &metadata)
{
    QHash<QString, QString> pairs;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            pairs.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    bool ok = false;
    if (const qint64 picture = pairs.value(QStringLiteral("picture")).toLongLong(&ok); ok)
        metadata.picture = picture;
    if (const double ms = pairs.value(QStringLiteral("stopwatch_ms")).toDouble(&ok); ok)
        metadata.stopwatchMs = ms;
    if (const double ms = pairs.value(QStringLiteral("frame_ms")).toDouble(&ok); ok)
        metadata.frameMs = ms;
    if (const double ms = pairs.value(QStringLiteral("scheduled_ms")).toDouble(&ok); ok)
        metadata.scheduledMs = ms;
    if (const double us = pairs.value(QStringLiteral("exposure_us")).toDouble(&ok); ok)
        metadata.exposureUs = us;
    if (const double gain = pairs.value(QStringLiteral("gain")).toDouble(&ok); ok) {
        metadata.gain = gain;
        metadata.gainUnit = pairs.value(QStringLiteral("gain_unit"));
    }
    const QDateTime time = QDateTime::fromString(pairs.value(QStringLiteral("capture_time")), Qt::ISODateWithMs);
    if (time.isValid())
        metadata.captureTime = time;
    metadata.channel0 = parseChannel(pairs, 0, "mA");
    metadata.channel1 = parseChannel(pairs, 1, "V");
}

void setTags(TIFF *tiff, const Frame &frame, const ImageMetadata &metadata, std::uint32_t rowsPerStrip)
{
    const bool colour = frame.format == PixelFormat::RGB8;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(frame.width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(frame.height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, std::uint16_t(frame.format == PixelFormat::Mono16 ? 16 : 8));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(colour ? 3 : 1));
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, colour ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 72.0);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 72.0);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    // A 10- or 12-bit camera's samples keep their range in MaxSampleValue, so that a reader
    // can scale them.
    if (frame.format == PixelFormat::Mono16)
        TIFFSetField(tiff, TIFFTAG_MAXSAMPLEVALUE, std::uint16_t((1u << frame.significantBits) - 1));
    const QDateTime time = metadata.captureTime.isValid() ? metadata.captureTime : QDateTime::currentDateTime();
    TIFFSetField(tiff, TIFFTAG_DATETIME,
                 time.toLocalTime().toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")).toLatin1().constData());
    TIFFSetField(tiff, TIFFTAG_SOFTWARE, softwareName);
    TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, describe(metadata, time).constData());
}

Status writeStrips(TIFF *tiff, const Frame &frame, std::uint32_t rowsPerStrip)
{
    const std::size_t rowBytes = std::size_t(frame.width) * std::size_t(bytesPerPixel(frame.format));
    std::vector<std::uint8_t> packed;
    for (std::uint32_t first = 0, strip = 0; first < std::uint32_t(frame.height); first += rowsPerStrip, ++strip) {
        const std::uint32_t rows = std::min(rowsPerStrip, std::uint32_t(frame.height) - first);
        const std::uint8_t *data = frame.row(int(first));
        if (std::size_t(frame.stride) != rowBytes) {
            packed.resize(rowBytes * rows);
            for (std::uint32_t r = 0; r < rows; ++r)
                std::memcpy(packed.data() + r * rowBytes, frame.row(int(first + r)), rowBytes);
            data = packed.data();
        }
        // Uncompressed strips in the host's order need no encoding: writing them raw spares
        // libtiff's copy of every strip into its own buffer.
        if (TIFFWriteRawStrip(tiff, strip, const_cast<std::uint8_t *>(data), tmsize_t(rowBytes * rows)) < 0)
            return Status::failure(QStringLiteral("the TIFF encoder could not write the pixels"));
    }
    return Status::success();
}

} // namespace

Status writeTiff(const Frame &frame, const ImageMetadata &metadata, SafeFile &file)
{
    TiffContext context;
    context.file = &file;
    // Little-endian like the frames' Mono16 samples, which go into the file unchanged.
    TiffHandle tiff = openTiff(file.temporaryPath(), "wl", context);
    if (!tiff)
        return Status::failure(QStringLiteral("the TIFF encoder could not start the file (%1)").arg(context.message));
    const std::size_t rowBytes = std::size_t(frame.width) * std::size_t(bytesPerPixel(frame.format));
    // Strips of about 256 KiB let most of every strip go from the frame to the file without a
    // copy, while readers still take the picture in small parts.
    const auto rowsPerStrip = std::uint32_t(std::max<std::size_t>(1, 4 * SafeFile::pieceSize / rowBytes));
    setTags(tiff.get(), frame, metadata, rowsPerStrip);
    Status status = writeStrips(tiff.get(), frame, rowsPerStrip);
    // The directory is written at the end, after the pixels.
    if (status && !TIFFFlush(tiff.get()))
        status = Status::failure(QStringLiteral("the TIFF encoder could not finish the file"));
    tiff.reset();
    if (!context.error)
        return context.error;
    if (!status && !context.message.isEmpty())
        return Status::failure(QStringLiteral("%1 (%2)").arg(status.reason(), context.message));
    return status;
}

namespace {

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

Status readPixels(TIFF *tiff, Frame &frame)
{
    std::uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    const bool strips = !TIFFIsTiled(tiff) && planar == PLANARCONFIG_CONTIG;
    const bool grey = strips && samples == 1 && photometric == PHOTOMETRIC_MINISBLACK && (bits == 8 || bits == 16);
    const bool rgb = strips && samples == 3 && photometric == PHOTOMETRIC_RGB && bits == 8;
    frame = Frame::allocate(frame.width, frame.height,
                            grey ? (bits == 16 ? PixelFormat::Mono16 : PixelFormat::Mono8) : PixelFormat::RGB8);
    if (frame.format == PixelFormat::Mono16) {
        std::uint16_t maxValue = 0xffff;
        TIFFGetField(tiff, TIFFTAG_MAXSAMPLEVALUE, &maxValue);
        frame.significantBits = std::max(1, int(std::bit_width(maxValue)));
    }
    return grey || rgb ? readScanlines(tiff, frame) : readAsRgba(tiff, frame);
}

} // namespace

Status readTiff(const QString &path, Frame &out, ImageMetadata &metadata)
{
    TiffContext context;
    const auto refuse = [&path](const QString &why) {
        return Status::failure(QStringLiteral("Cannot read \"%1\": %2").arg(path, why));
    };
    TiffHandle tiff = openTiff(path, "r", context);
    // libtiff's findings are about its structures ("Can not read TIFF directory count"): the
    // reasons say in words what the user can make of them.
    if (!tiff)
        return refuse(QStringLiteral("it is not a TIFF picture, or it is damaged or cut short"));
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0 || width > maxReadSide || height > maxReadSide)
        return refuse(QStringLiteral("impossible size %1 x %2").arg(width).arg(height));
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
        parseDescription(QString::fromLatin1(description), record);
    out = frame;
    metadata = record;
    return Status::success();
}
