#include "cameras/pattern_generator.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kPeriod = 256;  // ramp period in pixels
constexpr int kStepPerFrame = 4;

// 3x5 digit glyphs, one row per byte, the top three bits used.
constexpr std::uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

void setPixel(Frame &frame, int x, int y, bool on)
{
    std::uint8_t *p = frame.row(y) + std::size_t(x) * std::size_t(bytesPerPixel(frame.format));
    std::memset(p, on ? 0xFF : 0x00, std::size_t(bytesPerPixel(frame.format)));
}

} // namespace

PatternGenerator::PatternGenerator(int width, int height, PixelFormat format)
    : m_width(width), m_height(height), m_format(format)
{
    const int bpp = bytesPerPixel(format);
    m_ramp.resize(std::size_t(width + kPeriod) * std::size_t(bpp));
    for (int i = 0; i < width + kPeriod; ++i) {
        const std::uint8_t v = std::uint8_t(i % kPeriod);
        std::uint8_t *p = m_ramp.data() + std::size_t(i) * std::size_t(bpp);
        switch (format) {
        case PixelFormat::Mono8:
            p[0] = v;
            break;
        case PixelFormat::Mono16: // little-endian, full 16 bits
            p[0] = v;
            p[1] = v;
            break;
        case PixelFormat::RGB8:
            p[0] = v;
            p[1] = std::uint8_t(255 - v);
            p[2] = std::uint8_t((v * 2) % kPeriod);
            break;
        }
    }
    // The frames of a series' first ticks find their memory ready: the scheduler's, one queued,
    // one being saved and one shown.
    m_buffers.prepare(qsizetype(width) * bytesPerPixel(format) * height, 4);
}

Frame PatternGenerator::frame(std::uint64_t sequence)
{
    Frame frame;
    frame.width = m_width;
    frame.height = m_height;
    frame.format = m_format;
    frame.significantBits = m_format == PixelFormat::Mono16 ? 16 : 8;
    frame.stride = m_width * bytesPerPixel(m_format);
    frame.sequence = sequence;
    frame.data = m_buffers.take(qsizetype(frame.stride) * m_height);
    const int shift = int((sequence * kStepPerFrame) % kPeriod);
    for (int y = 0; y < m_height; ++y) {
        const int start = (y + shift) % kPeriod;
        std::memcpy(frame.row(y), m_ramp.data() + std::size_t(start) * std::size_t(bytesPerPixel(m_format)),
                    std::size_t(frame.stride));
    }
    drawNumber(frame, sequence);
    m_buffers.keep(frame.data);
    return frame;
}

void PatternGenerator::drawNumber(Frame &frame, std::uint64_t number) const
{
    const std::string digits = std::to_string(number);
    const int scale = std::max(1, std::min(m_width, m_height) / 64);
    const int glyphWidth = 4 * scale; // three columns and a gap
    const int boxWidth = std::min(m_width, int(digits.size()) * glyphWidth + 2 * scale);
    const int boxHeight = std::min(m_height, 7 * scale);
    for (int y = 0; y < boxHeight; ++y) {
        for (int x = 0; x < boxWidth; ++x) {
            const int gx = x - scale;
            const int gy = y / scale - 1;
            bool on = false;
            if (gx >= 0 && gy >= 0 && gy < 5) {
                const std::size_t index = std::size_t(gx / glyphWidth);
                const int column = (gx % glyphWidth) / scale;
                if (index < digits.size() && column < 3)
                    on = (kDigits[digits[index] - '0'][gy] >> (2 - column)) & 1;
            }
            setPixel(frame, x, y, on);
        }
    }
}
