#include "cameras/pixel_formats.h"

#include <linux/videodev2.h>

namespace {

constexpr NamedPixelFormat kV4l2[] = {{"GREY", V4L2_PIX_FMT_GREY, SourceLayout::Mono8, 3},
                                      {"Y16", V4L2_PIX_FMT_Y16, SourceLayout::Mono16, 4},
                                      {"YUYV", V4L2_PIX_FMT_YUYV, SourceLayout::Yuyv, 1},
                                      {"RGB24", V4L2_PIX_FMT_RGB24, SourceLayout::Rgb8, 5},
                                      {"MJPEG", V4L2_PIX_FMT_MJPEG, SourceLayout::Mjpeg, 2}};

// The GenICam Pixel Format Naming Convention's numbers; Aravis's ARV_PIXEL_FORMAT_* are the same.
constexpr NamedPixelFormat kGenicam[] = {{"Mono8", 0x01080001, SourceLayout::Mono8, 0},
                                         {"Mono10", 0x01100003, SourceLayout::Mono10, 0},
                                         {"Mono12", 0x01100005, SourceLayout::Mono12, 0},
                                         {"Mono16", 0x01100007, SourceLayout::Mono16, 0},
                                         {"RGB8", 0x02180014, SourceLayout::Rgb8, 0},
                                         {"BayerRG8", 0x01080009, SourceLayout::BayerRg8, 0},
                                         {"BayerGR8", 0x01080008, SourceLayout::BayerGr8, 0},
                                         {"BayerGB8", 0x0108000A, SourceLayout::BayerGb8, 0},
                                         {"BayerBG8", 0x0108000B, SourceLayout::BayerBg8, 0}};

} // namespace

std::span<const NamedPixelFormat> v4l2PixelFormats()
{
    return kV4l2;
}

std::span<const NamedPixelFormat> genicamPixelFormats()
{
    return kGenicam;
}

QStringList pixelFormatNames(std::span<const NamedPixelFormat> formats)
{
    QStringList names;
    for (const NamedPixelFormat &f : formats)
        names << QLatin1String(f.name);
    return names;
}

const NamedPixelFormat *findPixelFormat(std::span<const NamedPixelFormat> formats, std::uint32_t code)
{
    for (const NamedPixelFormat &f : formats)
        if (f.code == code)
            return &f;
    return nullptr;
}
