#pragma once

#include "base/status.h"
#include "base/frame.h"

#include <cstddef>
#include <cstdint>

// Conversions from the pixel layouts cameras deliver into frames. Each reads `height`
// rows of the source, `stride` bytes apart, and returns a new, tightly packed frame:
// nothing keeps pointing into the camera's buffer, which is reused for the next picture.

// 8-bit grey (V4L2 GREY, GenICam Mono8).
Frame convertMono8(const std::uint8_t *src, int width, int height, int stride);

// Little-endian 16-bit words holding `significantBits` bits in their low bits (V4L2 Y16,
// GenICam Mono10/12/16 unpacked). A sample above the largest value that many bits can
// hold is clipped to it, so the frame never claims fewer bits than its data use.
Frame convertMono16(const std::uint8_t *src, int width, int height, int stride, int significantBits);

// Three bytes per pixel in R, G, B order (V4L2 RGB24, GenICam RGB8).
Frame convertRgb24(const std::uint8_t *src, int width, int height, int stride);

// YUV 4:2:2 as Y0 U Y1 V (V4L2 YUYV), studio range, BT.601 colours. An odd width reads
// the last pixel's chroma from its whole macropixel, which V4L2 always delivers.
Frame convertYuyv(const std::uint8_t *src, int width, int height, int stride);

// The colour of the top-left pixel of a Bayer mosaic and its right neighbour.
enum class BayerPattern : std::uint8_t { RGGB, GRBG, GBRG, BGGR };

// An 8-bit Bayer mosaic demosaiced bilinearly to RGB8. The borders mirror the mosaic,
// which keeps every colour at its place, so a flat field stays flat up to the edges.
Frame convertBayer8(const std::uint8_t *src, int width, int height, int stride, BayerPattern pattern);

// Decodes one Motion-JPEG frame (V4L2 MJPEG) of the size agreed with the device to RGB8. A frame
// whose header claims another size is refused before anything is allocated for it: on a damaged
// frame that size is arbitrary. A frame the decoder warns about, typically one cut short on the
// bus, is refused rather than shown half grey.
Status decodeMjpeg(const std::uint8_t *data, std::size_t size, int width, int height, Frame &out);
