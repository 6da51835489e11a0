#include "image_file_support.h"

#include "picture_files/image_files.h"
#include "picture_files/image_formats.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <algorithm>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

Frame testFrame(PixelFormat format, int width, int height, int significantBits)
{
    Frame frame = Frame::allocate(width, height, format, significantBits);
    const int maxValue = (1 << frame.significantBits) - 1;
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = frame.row(y);
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            const double level = 0.5 + 0.3 * u - 0.2 * v + 0.15 * std::sin(6.0 * u) * std::cos(4.0 * v);
            const int value = int(std::lround(level * maxValue));
            if (format == PixelFormat::Mono8)
                row[x] = std::uint8_t(value);
            else if (format == PixelFormat::Mono16)
                qToLittleEndian<std::uint16_t>(std::uint16_t(value), row + 2 * x);
            else {
                row[3 * x] = std::uint8_t(value);
                row[3 * x + 1] = std::uint8_t(255 * u);
                row[3 * x + 2] = std::uint8_t(255 * v);
            }
        }
    }
    return frame;
}

Frame withPadding(const Frame &tight, int padding)
{
    Frame frame = tight;
    frame.stride = tight.stride + padding;
    frame.data = QByteArray(qsizetype(frame.stride) * frame.height, '\x7f');
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(frame.row(y), tight.row(y), std::size_t(tight.stride));
    return frame;
}

Frame as8Bit(const Frame &frame)
{
    if (frame.format != PixelFormat::Mono16)
        return frame;
    Frame reduced = Frame::allocate(frame.width, frame.height, PixelFormat::Mono8);
    for (int y = 0; y < frame.height; ++y)
        reduceRowTo8Bits(frame.row(y), reduced.row(y), frame.width, frame.significantBits);
    return reduced;
}

Frame fromQImage(QImage image, PixelFormat format)
{
    image.convertTo(format == PixelFormat::RGB8 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    Frame frame = Frame::allocate(image.width(), image.height(), format);
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(frame.row(y), image.constScanLine(y), std::size_t(frame.stride));
    return frame;
}

bool samePixels(const Frame &a, const Frame &b)
{
    if (a.width != b.width || a.height != b.height || a.format != b.format)
        return false;
    const std::size_t rowBytes = std::size_t(a.width) * std::size_t(bytesPerPixel(a.format));
    for (int y = 0; y < a.height; ++y)
        if (std::memcmp(a.row(y), b.row(y), rowBytes) != 0)
            return false;
    return true;
}

double psnr(const Frame &a, const Frame &b)
{
    if (a.width != b.width || a.height != b.height || a.format != b.format)
        return 0.0;
    const std::size_t rowBytes = std::size_t(a.width) * std::size_t(bytesPerPixel(a.format));
    double sum = 0.0;
    for (int y = 0; y < a.height; ++y)
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const double d = double(a.row(y)[i]) - double(b.row(y)[i]);
            sum += d * d;
        }
    const double mse = sum / double(rowBytes * std::size_t(a.height));
    return mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

Frame readWithLibtiff(const QString &path, QString &software, QString &dateTime)
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tiff)
        return {};
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, samples = 0, photometric = 0;
    char *text = nullptr;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    if (TIFFGetField(tiff, TIFFTAG_SOFTWARE, &text))
        software = QString::fromLatin1(text);
    if (TIFFGetField(tiff, TIFFTAG_DATETIME, &text))
        dateTime = QString::fromLatin1(text);
    const PixelFormat format = samples == 3 && photometric == PHOTOMETRIC_RGB ? PixelFormat::RGB8
                               : bits == 16                                   ? PixelFormat::Mono16
                                                                              : PixelFormat::Mono8;
    Frame frame = Frame::allocate(int(width), int(height), format);
    for (std::uint32_t y = 0; y < height; ++y)
        TIFFReadScanline(tiff, frame.row(int(y)), y);
    TIFFClose(tiff);
    return frame;
}

Frame readMioByHand(const QString &path, qint64 &captureMsecs)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const char *h = bytes.constData();
    const int headerSize = qFromLittleEndian<std::uint16_t>(h + 10);
    Frame frame = Frame::allocate(int(qFromLittleEndian<std::uint32_t>(h + 12)),
                                  int(qFromLittleEndian<std::uint32_t>(h + 16)), PixelFormat(h[20]), h[22]);
    captureMsecs = qFromLittleEndian<qint64>(h + 32);
    if (bytes.size() != headerSize + frame.data.size())
        return {};
    std::memcpy(frame.data.data(), h + headerSize, std::size_t(frame.data.size()));
    return frame;
}

std::uint32_t zlibCrc32(const QByteArray &bytes)
{
    std::uint32_t crc = 0xffffffffu;
    for (char c : bytes) {
        crc ^= std::uint8_t(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

Status inChildProcess(const std::function<Status()> &work, std::uint64_t addressSpace)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return Status::failure(QStringLiteral("pipe failed"));
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        const rlimit limit{addressSpace, addressSpace};
        const Status status = addressSpace == 0 || ::setrlimit(RLIMIT_AS, &limit) == 0
                                  ? work()
                                  : Status::failure(QStringLiteral("could not limit the address space"));
        const QByteArray reason = status.reason().toUtf8();
        [[maybe_unused]] const ssize_t written = ::write(channel[1], reason.constData(), std::size_t(reason.size()));
        ::_exit(0); // no destructors: the parent owns the temporary directory
    }
    ::close(channel[1]);
    QByteArray reason;
    char buffer[512];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        reason.append(buffer, n);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        return Status::failure(QStringLiteral("died of signal %1").arg(WTERMSIG(status)));
    return reason.isEmpty() ? Status::success() : Status::failure(QString::fromUtf8(reason));
}

Status saveAsNobody(const Frame &frame, const QString &path)
{
    constexpr uid_t nobody = 65534;
    return inChildProcess([&] {
        if (::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            return Status::failure(QStringLiteral("could not become nobody"));
        return saveImage(frame, path);
    });
}

QList<QByteArray> rawEntries(const QString &dir)
{
    QList<QByteArray> names;
    DIR *listing = ::opendir(QFile::encodeName(dir).constData());
    if (!listing)
        return names;
    while (const dirent *entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}
