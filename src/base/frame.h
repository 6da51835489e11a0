#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <cstdint>
#include <optional>

// Pixel layouts the cameras deliver and the image files hold.
// Mono16 carries 10-, 12- or 16-bit samples in the low bits of a little-endian 16-bit word;
// `Frame::significantBits` tells how many of them are used.
enum class PixelFormat : std::uint8_t { Mono8 = 1, Mono16 = 2, RGB8 = 3 };

QString pixelFormatName(PixelFormat format);
// The format whose name is `name`, in any case; false when there is none.
bool pixelFormatFromName(const QString &name, PixelFormat &format);
int bytesPerPixel(PixelFormat format);

// One picture: pixel rows, top row first, each `stride` bytes apart.
// The data is implicitly shared, so a frame is cheap to copy and safe to hand from a
// camera's stream thread to the UI thread.
struct Frame
{
    int width = 0;
    int height = 0;
    PixelFormat format = PixelFormat::Mono8;
    int significantBits = 8;
    int stride = 0;
    QByteArray data;
    std::uint64_t sequence = 0; // counts the frames of one camera, from 1
    // The camera's own number of the frame (GenICam frame id, V4L2 sequence number, the test
    // pattern's counter); meaningful only where captureNs is.
    std::uint64_t cameraFrameId = 0;
    // When the frame was captured, in nanoseconds of the monotonic clock the stopwatch runs on:
    // the camera's or driver's timestamp where it has one, else the time it arrived; 0 unknown.
    std::int64_t captureNs = 0;
    // The exposure and gain the camera reports for this frame itself (GenICam chunk data);
    // empty where it sends none. The gain is in dB.
    std::optional<double> exposureUs;
    std::optional<double> gain;

    bool isNull() const { return width <= 0 || height <= 0 || data.isEmpty(); }
    const std::uint8_t *row(int y) const
    {
        return reinterpret_cast<const std::uint8_t *>(data.constData()) + std::size_t(y) * std::size_t(stride);
    }
    std::uint8_t *row(int y) { return reinterpret_cast<std::uint8_t *>(data.data()) + std::size_t(y) * std::size_t(stride); }

    // A frame of the given size with tightly packed rows, filled with zeros.
    static Frame allocate(int width, int height, PixelFormat format, int significantBits = 0);
};

Q_DECLARE_METATYPE(Frame)
