#include "cameras/pixel_conversion.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

std::uint8_t clampByte(int v)
{
    return std::uint8_t(std::clamp(v, 0, 255));
}

// Copies rows of equal length from a strided source into a packed frame.
Frame copyRows(const std::uint8_t *src, int height, int stride, Frame frame)
{
    for (int y = 0; y < height; ++y)
        std::memcpy(frame.row(y), src + std::size_t(y) * std::size_t(stride), std::size_t(frame.stride));
    return frame;
}

// Where red sits in the 2x2 cell of a pattern; blue is on the other diagonal.
struct RedSite
{
    int x;
    int y;
};

RedSite redSite(BayerPattern pattern)
{
    switch (pattern) {
    case BayerPattern::RGGB:
        return {0, 0};
    case BayerPattern::GRBG:
        return {1, 0};
    case BayerPattern::GBRG:
        return {0, 1};
    case BayerPattern::BGGR:
        return {1, 1};
    }
    return {0, 0};
}

// Index of `i` mirrored into [0, n): -1 becomes 1 and n becomes n - 2, which keeps the
// parity and so the colour of the site.
int mirror(int i, int n)
{
    if (i < 0)
        i = -i;
    if (i >= n)
        i = 2 * (n - 1) - i;
    return std::clamp(i, 0, n - 1);
}

// The mosaic with a one-pixel mirrored border, so the demosaic loop needs no edge cases.
std::vector<std::uint8_t> padMosaic(const std::uint8_t *src, int width, int height, int stride)
{
    const int pw = width + 2;
    std::vector<std::uint8_t> padded(std::size_t(pw) * std::size_t(height + 2));
    for (int y = -1; y <= height; ++y) {
        const std::uint8_t *in = src + std::size_t(mirror(y, height)) * std::size_t(stride);
        std::uint8_t *out = padded.data() + std::size_t(y + 1) * std::size_t(pw);
        out[0] = in[mirror(-1, width)];
        std::memcpy(out + 1, in, std::size_t(width));
        out[width + 1] = in[mirror(width, width)];
    }
    return padded;
}

} // namespace

Frame convertMono8(const std::uint8_t *src, int width, int height, int stride)
{
    return copyRows(src, height, stride, Frame::allocate(width, height, PixelFormat::Mono8));
}

Frame convertMono16(const std::uint8_t *src, int width, int height, int stride, int significantBits)
{
    significantBits = std::clamp(significantBits, 1, 16);
    Frame frame = copyRows(src, height, stride, Frame::allocate(width, height, PixelFormat::Mono16, significantBits));
    if (significantBits == 16)
        return frame;
    const std::uint16_t maxValue = std::uint16_t((1u << significantBits) - 1u);
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = frame.row(y);
        for (int x = 0; x < width; ++x) {
            const std::uint16_t v = std::uint16_t(row[2 * x] | (row[2 * x + 1] << 8));
            if (v > maxValue) {
                row[2 * x] = std::uint8_t(maxValue & 0xff);
                row[2 * x + 1] = std::uint8_t(maxValue >> 8);
            }
        }
    }
    return frame;
}

Frame convertRgb24(const std::uint8_t *src, int width, int height, int stride)
{
    return copyRows(src, height, stride, Frame::allocate(width, height, PixelFormat::RGB8));
}

Frame convertYuyv(const std::uint8_t *src, int width, int height, int stride)
{
    Frame frame = Frame::allocate(width, height, PixelFormat::RGB8);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *in = src + std::size_t(y) * std::size_t(stride);
        std::uint8_t *out = frame.row(y);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t *macro = in + 4 * (x / 2);
            // Integer BT.601 studio-range coefficients, scaled by 256.
            const int c = 298 * (int(in[2 * x]) - 16);
            const int d = int(macro[1]) - 128;
            const int e = int(macro[3]) - 128;
            out[3 * x] = clampByte((c + 409 * e + 128) >> 8);
            out[3 * x + 1] = clampByte((c - 100 * d - 208 * e + 128) >> 8);
            out[3 * x + 2] = clampByte((c + 516 * d + 128) >> 8);
        }
    }
    return frame;
}

Frame convertBayer8(const std::uint8_t *src, int width, int height, int stride, BayerPattern pattern)
{
    Frame frame = Frame::allocate(width, height, PixelFormat::RGB8);
    const std::vector<std::uint8_t> padded = padMosaic(src, width, height, stride);
    const int pw = width + 2;
    const RedSite red = redSite(pattern);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *up = padded.data() + std::size_t(y) * std::size_t(pw) + 1;
        const std::uint8_t *mid = up + pw;
        const std::uint8_t *down = mid + pw;
        std::uint8_t *out = frame.row(y);
        const bool redRow = (y & 1) == red.y;
        for (int x = 0; x < width; ++x) {
            const int self = mid[x];
            const int cross = (up[x] + down[x] + mid[x - 1] + mid[x + 1] + 2) / 4;
            const int diagonal = (up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1] + 2) / 4;
            const int across = (mid[x - 1] + mid[x + 1] + 1) / 2;
            const int vertical = (up[x] + down[x] + 1) / 2;
            const bool redColumn = (x & 1) == red.x;
            int r, g, b;
            if (redRow && redColumn) {
                r = self, g = cross, b = diagonal;
            } else if (!redRow && !redColumn) {
                r = diagonal, g = cross, b = self;
            } else if (redRow) {
                r = across, g = self, b = vertical;
            } else {
                r = vertical, g = self, b = across;
            }
            out[3 * x] = std::uint8_t(r);
            out[3 * x + 1] = std::uint8_t(g);
            out[3 * x + 2] = std::uint8_t(b);
        }
    }
    return frame;
}

Status decodeMjpeg(const std::uint8_t *data, std::size_t size, int width, int height, Frame &out)
{
    const std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
    if (!decoder)
        return Status::failure(QStringLiteral("cannot start the JPEG decoder"));
    auto *jpeg = const_cast<unsigned char *>(data);
    int frameWidth = 0, frameHeight = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(decoder.get(), jpeg, static_cast<unsigned long>(size), &frameWidth, &frameHeight,
                            &subsampling, &colorspace) != 0)
        return Status::failure(
            QStringLiteral("bad JPEG frame: %1").arg(QString::fromUtf8(tjGetErrorStr2(decoder.get()))));
    if (frameWidth != width || frameHeight != height)
        return Status::failure(QStringLiteral("bad JPEG frame: %1 x %2 instead of %3 x %4")
                                   .arg(frameWidth)
                                   .arg(frameHeight)
                                   .arg(width)
                                   .arg(height));
    Frame frame = Frame::allocate(width, height, PixelFormat::RGB8);
    if (tjDecompress2(decoder.get(), jpeg, static_cast<unsigned long>(size), frame.row(0), width, frame.stride, height,
                      TJPF_RGB, TJFLAG_STOPONWARNING) != 0)
        return Status::failure(
            QStringLiteral("bad JPEG frame: %1").arg(QString::fromUtf8(tjGetErrorStr2(decoder.get()))));
    out = frame;
    return Status::success();
}
