#include "picture_files/image_files.h"

#include "picture_files/image_formats.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <new>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// A picture is complete in the kernel when it gets its final name, so a crash of the program
// never leaves part of one, but it is not synced: fdatasync measured 5 to 60 times the save
// itself, 19 ms for 2048 x 2048 colour on a quiet machine and up to 35 ms (p99 46 ms) under
// load, most of the shortest interval. syncSavedPictures() syncs a whole series at its end.
constexpr Durability saveDurability = Durability::Cached;

enum class FileKind { Bmp, Tiff, Jpeg, Mio, Png, Unknown };

FileKind kindOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"bmp")
        return FileKind::Bmp;
    if (suffix == u"tif" || suffix == u"tiff")
        return FileKind::Tiff;
    if (suffix == u"jpg" || suffix == u"jpeg")
        return FileKind::Jpeg;
    if (suffix == u"mio")
        return FileKind::Mio;
    if (suffix == u"png")
        return FileKind::Png;
    return FileKind::Unknown;
}

// A frame whose fields disagree with its data would make a writer read past the buffer.
bool isConsistent(const Frame &frame)
{
    if (frame.format != PixelFormat::Mono8 && frame.format != PixelFormat::Mono16 && frame.format != PixelFormat::RGB8)
        return false;
    const qint64 rowBytes = qint64(frame.width) * bytesPerPixel(frame.format);
    const bool bitsFit = frame.format == PixelFormat::Mono16 ? frame.significantBits >= 1 && frame.significantBits <= 16
                                                             : frame.significantBits == 8;
    return bitsFit && frame.stride >= rowBytes &&
           frame.data.size() >= qint64(frame.stride) * (frame.height - 1) + rowBytes;
}

Status writeFormat(FileKind kind, const Frame &frame, const ImageMetadata &metadata, SafeFile &file)
{
    switch (kind) {
    case FileKind::Bmp:
        return writeBmp(frame, file);
    case FileKind::Tiff:
        return writeTiff(frame, metadata, file);
    case FileKind::Jpeg:
        return writeJpeg(frame, file);
    case FileKind::Mio:
        return writeMio(frame, metadata, file);
    case FileKind::Png:
    case FileKind::Unknown:
        break;
    }
    return Status::failure(QStringLiteral("no writer for this format"));
}

Status readByKind(const QString &path, Frame &out, ImageMetadata &metadata);

} // namespace

int significantBitsKept(int significantBits, const QString &path)
{
    const FileKind kind = kindOf(path);
    return kind == FileKind::Bmp || kind == FileKind::Jpeg ? std::min(significantBits, 8) : significantBits;
}

Status saveImage(const Frame &frame, const QString &path, const ImageMetadata &metadata, SaveMode mode)
{
    if (frame.isNull())
        return Status::failure(QStringLiteral("there is no current image"));
    const FileKind kind = kindOf(path);
    if (kind == FileKind::Png || kind == FileKind::Unknown) {
        const QString suffix = QFileInfo(path).suffix();
        return Status::failure(suffix.isEmpty()
                                     ? QStringLiteral("the name has no extension (.bmp, .tif, .jpg or .mio)")
                                     : QStringLiteral("the extension \".%1\" names no format pictures are saved in "
                                                      "(.bmp, .tif, .jpg or .mio)")
                                           .arg(suffix));
    }
    if (!isConsistent(frame))
        return Status::failure(QStringLiteral("the image's layout is damaged"));
    SafeFile file(path, mode);
    Status status = file.open();
    if (status)
        status = writeFormat(kind, frame, metadata, file);
    if (status)
        status = file.commit(saveDurability);
    return status;
}

Status syncSavedPictures(const QString &directory)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::syncfs(fd) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        return Status::failure(
            QStringLiteral("Cannot write the pictures in \"%1\" to the disk: %2.")
                .arg(QDir::toNativeSeparators(directory), QString::fromLocal8Bit(std::strerror(error))));
    return Status::success();
}

Status loadImage(const QString &path, Frame &out)
{
    ImageMetadata metadata;
    return loadImage(path, out, metadata);
}

Status loadImage(const QString &path, Frame &out, ImageMetadata &metadata)
{
    const QFileInfo info(path);
    if (!info.exists())
        return Status::failure(QStringLiteral("The file \"%1\" does not exist.").arg(QDir::toNativeSeparators(path)));
    // A pipe or a device would be read without end, a folder not at all.
    if (!info.isFile())
        return Status::failure(QStringLiteral("Cannot read \"%1\": it is not a file but a folder, a device or a pipe")
                                   .arg(path));
    // Every decoder would refuse an empty file in its own terms, some of them a library call's.
    if (info.size() == 0)
        return Status::failure(QStringLiteral("Cannot read \"%1\": the file is empty").arg(path));
    // Every reader checks the picture's size against the file before it allocates; a picture
    // that is real but larger than the memory left is refused all the same.
    try {
        return readByKind(path, out, metadata);
    } catch (const std::bad_alloc &) {
        return Status::failure(QStringLiteral("Cannot read \"%1\": there is not enough memory for the picture").arg(path));
    }
}

namespace {

Status readByKind(const QString &path, Frame &out, ImageMetadata &metadata)
{
    switch (kindOf(path)) {
    case FileKind::Bmp:
        return readBmp(path, out);
    case FileKind::Png:
        return readWithQt(path, out);
    case FileKind::Tiff:
        return readTiff(path, out, metadata);
    case FileKind::Jpeg:
        return readJpeg(path, out);
    case FileKind::Mio:
        return readMio(path, out, metadata);
    case FileKind::Unknown:
        break;
    }
    return Status::failure(
        QStringLiteral("\"%1\" is not a picture this program reads (.bmp, .tif, .jpg, .png or .mio).")
            .arg(QDir::toNativeSeparators(path)));
}

} // namespace

void reduceRowTo8Bits(const std::uint8_t *mono16Row, std::uint8_t *out, int width, int significantBits)
{
    int x = 0;
#if defined(__SSE2__)
    // Sixteen samples at a time. The saturating pack needs the shifted samples to stay
    // below 32768, which holds for every shift but none (8 significant bits in 16).
    if (significantBits > 8) {
        const __m128i shift = _mm_cvtsi32_si128(significantBits - 8);
        for (; x + 16 <= width; x += 16) {
            const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i *>(mono16Row + 2 * x));
            const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i *>(mono16Row + 2 * x + 16));
            const __m128i packed = _mm_packus_epi16(_mm_srl_epi16(low, shift), _mm_srl_epi16(high, shift));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), packed);
        }
    }
#endif
    const int right = significantBits >= 8 ? significantBits - 8 : 0;
    const int left = significantBits >= 8 ? 0 : 8 - significantBits;
    for (; x < width; ++x) {
        const unsigned value = (unsigned(qFromLittleEndian<std::uint16_t>(mono16Row + 2 * x)) >> right) << left;
        out[x] = std::uint8_t(value > 255 ? 255 : value);
    }
}

Status readWholeFile(const QString &path, QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Status::failure(QStringLiteral("Cannot open \"%1\": %2").arg(path, file.errorString()));
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Status::failure(QStringLiteral("Cannot read \"%1\": %2").arg(path, file.errorString()));
    return Status::success();
}

Frame frameFromImage(QImage image)
{
    PixelFormat format = PixelFormat::RGB8;
    if (image.format() == QImage::Format_Grayscale16) {
        format = PixelFormat::Mono16;
    } else if (image.isGrayscale()) {
        format = PixelFormat::Mono8;
        image.convertTo(QImage::Format_Grayscale8);
    } else {
        image.convertTo(QImage::Format_RGB888);
    }
    Frame frame = Frame::allocate(image.width(), image.height(), format);
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(frame.row(y), image.constScanLine(y), std::size_t(frame.stride));
    return frame;
}

Status readWithQt(const QString &path, Frame &out)
{
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull()) {
        // Qt calls a file it cannot decode an "Unsupported image format".
        const QString why = reader.error() == QImageReader::UnsupportedFormatError
                                ? QStringLiteral("it is not a PNG picture, or it is damaged")
                                : reader.errorString();
        return Status::failure(QStringLiteral("Cannot read \"%1\": %2").arg(path, why));
    }
    out = frameFromImage(image);
    return Status::success();
}
