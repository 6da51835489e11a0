#pragma once

#include <QStringList>

#include <cstdint>
#include <span>

// What the program makes of a camera's pixel layout.
enum class SourceLayout : std::uint8_t {
    Mono8, Mono10, Mono12, Mono16, Rgb8, Yuyv, Mjpeg, BayerRg8, BayerGr8, BayerGb8, BayerBg8
};

// A pixel format a driver file's `pixel-format` key takes, under the name the source's own
// documentation gives it, with the source's code for it: a V4L2 fourcc, or a GenICam pixel
// format number (PFNC, as Aravis's ARV_PIXEL_FORMAT_* values are).
struct NamedPixelFormat
{
    const char *name;
    std::uint32_t code;
    SourceLayout layout;
    int preference; // V4L2: the order in which one is chosen when the file names none
};

// Every format each source is read in; the one place these lists live.
std::span<const NamedPixelFormat> v4l2PixelFormats();
std::span<const NamedPixelFormat> genicamPixelFormats();

QStringList pixelFormatNames(std::span<const NamedPixelFormat> formats);
// The format with this code, or null when the program cannot read it.
const NamedPixelFormat *findPixelFormat(std::span<const NamedPixelFormat> formats, std::uint32_t code);
