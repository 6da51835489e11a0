#include "base/frame.h"

QString pixelFormatName(PixelFormat format)
{
    switch (format) {
    case PixelFormat::Mono8:
        return QStringLiteral("Mono8");
    case PixelFormat::Mono16:
        return QStringLiteral("Mono16");
    case PixelFormat::RGB8:
        return QStringLiteral("RGB8");
    }
    return QStringLiteral("unknown");
}

bool pixelFormatFromName(const QString &name, PixelFormat &format)
{
    for (const PixelFormat f : {PixelFormat::Mono8, PixelFormat::Mono16, PixelFormat::RGB8}) {
        if (name.compare(pixelFormatName(f), Qt::CaseInsensitive) == 0) {
            format = f;
            return true;
        }
    }
    return false;
}

int bytesPerPixel(PixelFormat format)
{
    switch (format) {
    case PixelFormat::Mono8:
        return 1;
    case PixelFormat::Mono16:
        return 2;
    case PixelFormat::RGB8:
        return 3;
    }
    return 1;
}

Frame Frame::allocate(int width, int height, PixelFormat format, int significantBits)
{
    Frame frame;
    frame.width = width;
    frame.height = height;
    frame.format = format;
    frame.significantBits = significantBits > 0 ? significantBits : (format == PixelFormat::Mono16 ? 16 : 8);
    frame.stride = width * bytesPerPixel(format);
    frame.data = QByteArray(qsizetype(frame.stride) * height, Qt::Uninitialized);
    frame.data.fill('\0');
    return frame;
}
