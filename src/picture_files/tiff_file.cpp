// TIFF through libtiff, writing: uncompressed, full bit depth, the picture's OME-XML in its
// description (tiff_reader.cpp reads).
#include "picture_files/image_formats.h"
#include "picture_files/ome_xml.h"

#include <QFile>
#include <QFileInfo>

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

TiffHandle openTiff(const QString &path, TiffContext &context)
{
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, captureMessage, &context);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreMessage, nullptr);
    // The name only names the file in libtiff's messages: the callbacks write into the SafeFile.
    // Little-endian ("wl") like the frames' Mono16 samples, which go into the file unchanged.
    TIFF *tiff = TIFFClientOpenExt(QFile::encodeName(path).constData(), "wl", &context, readProc, writeProc, seekProc,
                                   closeProc, sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    return TiffHandle(tiff);
}

void setTags(TIFF *tiff, const Frame &frame, const ImageMetadata &metadata, const QByteArray &description,
             std::uint32_t rowsPerStrip)
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
    // The pixel size also for readers that take only TIFF tags. Without one none is claimed: a
    // resolution made up for the purpose would read as a calibration.
    if (const std::optional<double> um = metadata.origin.pixelSizeUm) {
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 1e4 / *um);
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 1e4 / *um);
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
    }
    // A 10- or 12-bit camera's samples keep their range in MaxSampleValue, so that a reader
    // can scale them.
    if (frame.format == PixelFormat::Mono16)
        TIFFSetField(tiff, TIFFTAG_MAXSAMPLEVALUE, std::uint16_t((1u << frame.significantBits) - 1));
    const QDateTime time = metadata.captureTime.isValid() ? metadata.captureTime : QDateTime::currentDateTime();
    TIFFSetField(tiff, TIFFTAG_DATETIME,
                 time.toLocalTime().toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")).toLatin1().constData());
    TIFFSetField(tiff, TIFFTAG_SOFTWARE, softwareName);
    TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.constData());
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
    ImageMetadata described = metadata;
    if (described.uuid.isNull())
        described.uuid = QUuid::createUuid();
    return writeTiff(frame, metadata, pictureOmeXml(frame, described, QFileInfo(file.path()).fileName()), file);
}

Status writeTiff(const Frame &frame, const ImageMetadata &metadata, const QByteArray &description, SafeFile &file)
{
    TiffContext context;
    context.file = &file;
    TiffHandle tiff = openTiff(file.path(), context);
    if (!tiff)
        return Status::failure(QStringLiteral("the TIFF encoder could not start the file (%1)").arg(context.message));
    const std::size_t rowBytes = std::size_t(frame.width) * std::size_t(bytesPerPixel(frame.format));
    // Strips of about 256 KiB let most of every strip go from the frame to the file without a
    // copy, while readers still take the picture in small parts.
    const auto rowsPerStrip = std::uint32_t(std::max<std::size_t>(1, 4 * SafeFile::pieceSize / rowBytes));
    setTags(tiff.get(), frame, metadata, description, rowsPerStrip);
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
