// The tool's own lossless format: a fixed little-endian header and the raw rows.
// docs/mio-format.md describes it for readers outside this program.
#include "picture_files/image_formats.h"

#include <QFile>
#include <QtEndian>

#include <array>
#include <cmath>
#include <cstring>

namespace {

constexpr std::array<std::uint8_t, 8> mioMagic = {0x89, 'M', 'I', 'O', '\r', '\n', 0x1a, '\n'};
// Version 2 added the capture record (stopwatch time, analog channels) in bytes 40..74,
// version 3 the frame's capture time in bytes 80..87, version 4 its exposure and gain in
// bytes 88..103, version 5 the pixel size in bytes 104..111.
constexpr int mioVersion = 5;
constexpr int mioPixelSizeVersion = 5;
constexpr int mioExposureVersion = 4;
constexpr int mioFrameTimeVersion = 3;
constexpr int mioRecordVersion = 2;
constexpr int mioFirstVersion = 1;
constexpr int mioHeaderSize = 128;
constexpr int mioMaxHeaderSize = 4096;
constexpr std::uint32_t mioMaxSide = 65535;
// The row stride is kept in an int, so the pixels stay below 2 GiB.
constexpr std::uint64_t mioMaxPixelBytes = (std::uint64_t(1) << 31) - 1;

// Field offsets. Reserved bytes are zero; a later version puts further capture data there,
// so that a reader of this version refuses nothing it could read.
enum MioOffset : int {
    offMagic = 0,
    offVersion = 8,
    offHeaderSize = 10,
    offWidth = 12,
    offHeight = 16,
    offPixelFormat = 20,
    offBitsPerPixel = 21,
    offSignificantBits = 22,
    offReserved1 = 23,
    offStride = 24,
    offReserved2 = 28,
    offCaptureTime = 32,
    offRecord = 40, // version 1 keeps bytes 40..123 reserved
    offStopwatch = 40,
    offChannelValue0 = 48,
    offChannelValue1 = 56,
    offChannelCount0 = 64,
    offChannelCount1 = 68,
    offRecordFlags = 72,
    offChannelState0 = 73,
    offChannelState1 = 74,
    offReserved3 = 75,   // to 123 in version 2, to 79 from version 3
    offFrameTime = 80,   // from version 3
    offExposure = 88,    // from version 4; reserved to 123 in version 3
    offGain = 96,        // from version 4
    offReserved4 = 104,  // in version 4
    offPixelSize = 104,  // from version 5
    offReserved5 = 112,  // from version 5
    offChecksum = 124,
};

// Bit 0 of the record flags: the stopwatch time is there. The channels say it in their state,
// so that "not ticked" and "failed" stay apart from a count of zero.
constexpr std::uint8_t flagStopwatch = 0x01;
// Bit 1: the frame's capture time is there (version 3).
constexpr std::uint8_t flagFrameTime = 0x02;
// Bits 2 and 3: the exposure and the gain are there; bit 4: the gain is in dB, not in the
// camera's own units (version 4).
constexpr std::uint8_t flagExposure = 0x04;
constexpr std::uint8_t flagGain = 0x08;
constexpr std::uint8_t flagGainInDb = 0x10;
// Bit 5: the pixel size is there (version 5).
constexpr std::uint8_t flagPixelSize = 0x20;
enum ChannelState : std::uint8_t { channelAbsent = 0, channelRead = 1, channelFailed = 2 };

// CRC-32 as in zlib and PNG, so that `zlib.crc32` checks a header without our code.
std::uint32_t crc32(const std::uint8_t *data, std::size_t size)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xffffffffu;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
    return crc ^ 0xffffffffu;
}

// The checksum covers the whole header with its own field read as zero.
std::uint32_t headerChecksum(QByteArray header)
{
    std::memset(header.data() + offChecksum, 0, 4);
    return crc32(reinterpret_cast<const std::uint8_t *>(header.constData()), std::size_t(header.size()));
}

bool allZero(const char *bytes, int size)
{
    for (int i = 0; i < size; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

Status damaged(const QString &path, const QString &what)
{
    return Status::failure(QStringLiteral("\"%1\" is not a readable .mio picture: %2").arg(path, what));
}

// Checks the fields that describe the pixels; fills `frame` without its data.
Status checkLayout(const QString &path, const QByteArray &header, Frame &frame)
{
    const char *h = header.constData();
    const auto width = qFromLittleEndian<std::uint32_t>(h + offWidth);
    const auto height = qFromLittleEndian<std::uint32_t>(h + offHeight);
    const auto format = std::uint8_t(h[offPixelFormat]);
    const int bitsPerPixel = std::uint8_t(h[offBitsPerPixel]);
    const int significant = std::uint8_t(h[offSignificantBits]);
    const auto stride = qFromLittleEndian<std::uint32_t>(h + offStride);
    if (width == 0 || height == 0 || width > mioMaxSide || height > mioMaxSide)
        return damaged(path, QStringLiteral("impossible size %1 x %2").arg(width).arg(height));
    if (format < std::uint8_t(PixelFormat::Mono8) || format > std::uint8_t(PixelFormat::RGB8))
        return damaged(path, QStringLiteral("unknown pixel format %1").arg(format));
    const auto pixelFormat = PixelFormat(format);
    const QString formatName = pixelFormatName(pixelFormat);
    const int bytes = bytesPerPixel(pixelFormat);
    if (bitsPerPixel != 8 * bytes)
        return damaged(path, QStringLiteral("%1 bits per pixel do not fit %2").arg(bitsPerPixel).arg(formatName));
    const int maxSignificant = pixelFormat == PixelFormat::Mono16 ? 16 : 8;
    const int minSignificant = pixelFormat == PixelFormat::Mono16 ? 1 : 8;
    if (significant < minSignificant || significant > maxSignificant)
        return damaged(path, QStringLiteral("%1 significant bits do not fit %2").arg(significant).arg(formatName));
    if (stride < std::uint64_t(width) * std::uint64_t(bytes) || std::uint64_t(stride) * height > mioMaxPixelBytes)
        return damaged(path, QStringLiteral("impossible row stride %1").arg(stride));
    frame.width = int(width);
    frame.height = int(height);
    frame.format = pixelFormat;
    frame.significantBits = significant;
    frame.stride = int(stride);
    return Status::success();
}

void writeChannel(char *h, int valueOffset, int countOffset, int stateOffset, const std::optional<ChannelSample> &channel)
{
    if (!channel)
        return;
    h[stateOffset] = char(channel->ok ? channelRead : channelFailed);
    if (channel->ok) {
        qToLittleEndian<double>(channel->value, h + valueOffset);
        qToLittleEndian<std::int32_t>(channel->count, h + countOffset);
    }
}

void writeRecord(char *h, const ImageMetadata &metadata)
{
    std::uint8_t flags = 0;
    if (metadata.stopwatchMs) {
        flags |= flagStopwatch;
        qToLittleEndian<double>(*metadata.stopwatchMs, h + offStopwatch);
    }
    if (metadata.frameMs) {
        flags |= flagFrameTime;
        qToLittleEndian<double>(*metadata.frameMs, h + offFrameTime);
    }
    if (metadata.exposureUs) {
        flags |= flagExposure;
        qToLittleEndian<double>(*metadata.exposureUs, h + offExposure);
    }
    if (metadata.gain) {
        flags |= flagGain | (metadata.gainUnit == u"dB" ? flagGainInDb : 0);
        qToLittleEndian<double>(*metadata.gain, h + offGain);
    }
    if (metadata.origin.pixelSizeUm) {
        flags |= flagPixelSize;
        qToLittleEndian<double>(*metadata.origin.pixelSizeUm, h + offPixelSize);
    }
    h[offRecordFlags] = char(flags);
    writeChannel(h, offChannelValue0, offChannelCount0, offChannelState0, metadata.channel0);
    writeChannel(h, offChannelValue1, offChannelCount1, offChannelState1, metadata.channel1);
}

Status readChannel(const QString &path, const char *h, int channel, std::optional<ChannelSample> &out)
{
    const int valueOffset = channel == 0 ? offChannelValue0 : offChannelValue1;
    const int countOffset = channel == 0 ? offChannelCount0 : offChannelCount1;
    const auto state = std::uint8_t(h[channel == 0 ? offChannelState0 : offChannelState1]);
    if (state > channelFailed)
        return damaged(path, QStringLiteral("unknown state %1 of channel %2").arg(state).arg(channel));
    const double value = qFromLittleEndian<double>(h + valueOffset);
    if (state != channelRead && (value != 0 || qFromLittleEndian<std::int32_t>(h + countOffset) != 0))
        return damaged(path, QStringLiteral("channel %1 has a reading but is marked as not read").arg(channel));
    if (!std::isfinite(value))
        return damaged(path, QStringLiteral("channel %1 has no valid value").arg(channel));
    if (state != channelAbsent)
        out = ChannelSample{state == channelRead, qFromLittleEndian<std::int32_t>(h + countOffset), value};
    return Status::success();
}

// A number of the record, present when its flag is set and 0 otherwise.
Status readTime(const QString &path, const char *h, int offset, bool present, const char *what,
                std::optional<double> &out)
{
    const double time = qFromLittleEndian<double>(h + offset);
    if (!std::isfinite(time) || (!present && time != 0))
        return damaged(path, QStringLiteral("impossible %1").arg(QLatin1String(what)));
    if (present)
        out = time;
    return Status::success();
}

// The record flags each version knows.
std::uint8_t knownFlags(int version)
{
    if (version >= mioPixelSizeVersion)
        return flagStopwatch | flagFrameTime | flagExposure | flagGain | flagGainInDb | flagPixelSize;
    if (version >= mioExposureVersion)
        return flagStopwatch | flagFrameTime | flagExposure | flagGain | flagGainInDb;
    return version >= mioFrameTimeVersion ? flagStopwatch | flagFrameTime : flagStopwatch;
}

Status readRecord(const QString &path, const char *h, int version, ImageMetadata &metadata)
{
    const auto flags = std::uint8_t(h[offRecordFlags]);
    if ((flags & ~knownFlags(version)) != 0 || ((flags & flagGainInDb) && !(flags & flagGain)))
        return damaged(path, QStringLiteral("unknown record flags %1").arg(flags));
    if (Status status = readTime(path, h, offStopwatch, flags & flagStopwatch, "stopwatch time", metadata.stopwatchMs);
        !status)
        return status;
    if (version >= mioFrameTimeVersion) {
        if (Status status = readTime(path, h, offFrameTime, flags & flagFrameTime, "frame time", metadata.frameMs);
            !status)
            return status;
    }
    if (version >= mioExposureVersion) {
        for (const Status &status : {readTime(path, h, offExposure, flags & flagExposure, "exposure", metadata.exposureUs),
                                     readTime(path, h, offGain, flags & flagGain, "gain", metadata.gain)}) {
            if (!status)
                return status;
        }
        if (metadata.gain)
            metadata.gainUnit = flags & flagGainInDb ? QStringLiteral("dB") : QStringLiteral("raw");
    }
    if (version >= mioPixelSizeVersion) {
        if (Status status = readTime(path, h, offPixelSize, flags & flagPixelSize, "pixel size", metadata.origin.pixelSizeUm);
            !status)
            return status;
        if (metadata.origin.pixelSizeUm && !(*metadata.origin.pixelSizeUm > 0))
            return damaged(path, QStringLiteral("impossible pixel size"));
    }
    if (Status status = readChannel(path, h, 0, metadata.channel0); !status)
        return status;
    return readChannel(path, h, 1, metadata.channel1);
}

Status checkHeader(const QString &path, const QByteArray &header, Frame &frame, ImageMetadata &metadata)
{
    const char *h = header.constData();
    const int version = qFromLittleEndian<std::uint16_t>(h + offVersion);
    // The bytes reserved in this version: those before the frame time and those after the record.
    const int reservedFrom = version == mioFirstVersion ? offRecord : offReserved3;
    const int reservedTo = version >= mioFrameTimeVersion ? offFrameTime : offChecksum;
    const int tailFrom = version >= mioPixelSizeVersion ? offReserved5
                         : version >= mioExposureVersion ? offReserved4
                         : version >= mioFrameTimeVersion ? offExposure
                                                          : offChecksum;
    // A fuzzer could hardly get past the checksum to the checks behind it.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    if (qFromLittleEndian<std::uint32_t>(h + offChecksum) != headerChecksum(header))
        return damaged(path, QStringLiteral("the header checksum does not match"));
#endif
    if (!allZero(h + offReserved1, 1) || !allZero(h + offReserved2, 4) ||
        !allZero(h + reservedFrom, reservedTo - reservedFrom) || !allZero(h + tailFrom, offChecksum - tailFrom))
        return damaged(path, QStringLiteral("reserved header bytes are not zero"));
    if (Status status = checkLayout(path, header, frame); !status)
        return status;
    if (version != mioFirstVersion) {
        if (Status status = readRecord(path, h, version, metadata); !status)
            return status;
    }
    metadata.captureTime = QDateTime::fromMSecsSinceEpoch(qFromLittleEndian<qint64>(h + offCaptureTime), Qt::UTC);
    return Status::success();
}

Status readHeader(const QString &path, QIODevice &file, QByteArray &header)
{
    header = file.read(mioHeaderSize);
    if (header.size() < qsizetype(mioMagic.size()) ||
        std::memcmp(header.constData(), mioMagic.data(), mioMagic.size()) != 0)
        return damaged(path, QStringLiteral("it does not start with a .mio header"));
    if (header.size() < mioHeaderSize)
        return damaged(path, QStringLiteral("the file ends inside the header"));
    const int version = qFromLittleEndian<std::uint16_t>(header.constData() + offVersion);
    if (version < mioFirstVersion || version > mioVersion)
        return damaged(path, QStringLiteral("format version %1, this program reads versions %2 to %3")
                                 .arg(version)
                                 .arg(mioFirstVersion)
                                 .arg(mioVersion));
    const int headerSize = qFromLittleEndian<std::uint16_t>(header.constData() + offHeaderSize);
    if (headerSize < mioHeaderSize || headerSize > mioMaxHeaderSize)
        return damaged(path, QStringLiteral("impossible header size %1").arg(headerSize));
    header += file.read(headerSize - header.size());
    if (header.size() != headerSize)
        return damaged(path, QStringLiteral("the file ends inside the header"));
    return Status::success();
}

} // namespace

Status writeMio(const Frame &frame, const ImageMetadata &metadata, SafeFile &file)
{
    const int rowBytes = frame.width * bytesPerPixel(frame.format);
    // What the reader would refuse is not written.
    if (std::uint32_t(frame.width) > mioMaxSide || std::uint32_t(frame.height) > mioMaxSide ||
        std::uint64_t(rowBytes) * std::uint64_t(frame.height) > mioMaxPixelBytes)
        return Status::failure(QStringLiteral("the picture is too large for a .mio file"));
    const QDateTime time = metadata.captureTime.isValid() ? metadata.captureTime : QDateTime::currentDateTimeUtc();
    QByteArray header(mioHeaderSize, '\0');
    char *h = header.data();
    std::memcpy(h + offMagic, mioMagic.data(), mioMagic.size());
    qToLittleEndian<std::uint16_t>(mioVersion, h + offVersion);
    qToLittleEndian<std::uint16_t>(mioHeaderSize, h + offHeaderSize);
    qToLittleEndian<std::uint32_t>(std::uint32_t(frame.width), h + offWidth);
    qToLittleEndian<std::uint32_t>(std::uint32_t(frame.height), h + offHeight);
    h[offPixelFormat] = char(frame.format);
    h[offBitsPerPixel] = char(8 * bytesPerPixel(frame.format));
    h[offSignificantBits] = char(frame.significantBits);
    qToLittleEndian<std::uint32_t>(std::uint32_t(rowBytes), h + offStride);
    qToLittleEndian<qint64>(time.toMSecsSinceEpoch(), h + offCaptureTime);
    writeRecord(h, metadata);
    qToLittleEndian<std::uint32_t>(headerChecksum(header), h + offChecksum);
    if (Status status = file.write(header); !status)
        return status;
    // Rows are stored without padding; a tightly packed frame goes out in one piece.
    if (frame.stride == rowBytes)
        return file.write(frame.row(0), std::size_t(rowBytes) * std::size_t(frame.height));
    for (int y = 0; y < frame.height; ++y) {
        if (Status status = file.write(frame.row(y), std::size_t(rowBytes)); !status)
            return status;
    }
    return Status::success();
}

Status readMio(const QString &path, Frame &out, ImageMetadata &metadata)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Status::failure(QStringLiteral("Cannot open \"%1\": %2").arg(path, file.errorString()));
    return readMio(path, file, out, metadata);
}

Status readMio(const QString &path, QIODevice &file, Frame &out, ImageMetadata &metadata)
{
    QByteArray header;
    if (Status status = readHeader(path, file, header); !status)
        return status;
    Frame frame;
    ImageMetadata record;
    if (Status status = checkHeader(path, header, frame, record); !status)
        return status;
    // The size is checked before the pixels are allocated, so a damaged header cannot ask
    // for more memory than the file could fill.
    const qint64 pixelBytes = qint64(frame.stride) * frame.height;
    const qint64 expected = header.size() + pixelBytes;
    if (file.size() < expected)
        return damaged(path, QStringLiteral("it is truncated (%1 of %2 bytes)").arg(file.size()).arg(expected));
    if (file.size() > expected)
        return damaged(path, QStringLiteral("%1 bytes follow the last row").arg(file.size() - expected));
    frame.data = QByteArray(pixelBytes, Qt::Uninitialized);
    if (file.read(frame.data.data(), pixelBytes) != pixelBytes)
        return Status::failure(QStringLiteral("Cannot read \"%1\": %2").arg(path, file.errorString()));
    out = frame;
    metadata = record;
    return Status::success();
}
