#pragma once

#include "base/frame.h"
#include "cameras/frame_buffers.h"

#include <vector>

// Draws the test camera's synthetic pictures: a diagonal grey or colour ramp that moves
// with every frame, with the frame number written large in the top-left corner, so that
// live pictures visibly move and saved pictures can be told apart by eye.
class PatternGenerator
{
public:
    PatternGenerator(int width, int height, PixelFormat format);

    // The picture with the given sequence number (from 1). Safe to call from several threads.
    Frame frame(std::uint64_t sequence);

private:
    void drawNumber(Frame &frame, std::uint64_t number) const;

    int m_width;
    int m_height;
    PixelFormat m_format;
    // One ramp row longer than the picture by a full period, so that each picture row is a
    // single copy from a shifted start: drawing costs about as much as a memcpy.
    std::vector<std::uint8_t> m_ramp;
    FrameBuffers m_buffers;
};
