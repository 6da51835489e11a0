// JPEG through libjpeg-turbo's TurboJPEG API: quality 90, 8 bits per sample.
#include "picture_files/image_formats.h"

#include <QList>

#include <turbojpeg.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr int maxReadSide = 65535;

struct TjDeleter
{
    void operator()(void *handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

struct TjBufferDeleter
{
    void operator()(unsigned char *buffer) const { tjFree(buffer); }
};

// The compressor and its output buffer live as long as the thread that saves, so a series does
// not pay for setting them up, and for fresh pages of a multi-megabyte buffer, at every picture.
struct Compressor
{
    TjHandle handle{tjInitCompress()};
    std::unique_ptr<unsigned char, TjBufferDeleter> buffer;
    unsigned long capacity = 0;
    std::vector<std::uint8_t> grey; // Mono16 reduced to 8 bits

    unsigned char *reserve(unsigned long size)
    {
        if (size > capacity) {
            buffer.reset(tjAlloc(int(size)));
            capacity = buffer ? size : 0;
        }
        return buffer.get();
    }
};

Compressor &compressor()
{
    thread_local Compressor instance;
    return instance;
}

// What the markers of a JPEG file tell before anything is decoded.
struct JpegLayout
{
    int frameMarker = 0; // start of frame: 0xc0 to 0xcf but for the table markers; 0 when none
    QList<int> components;
    QList<int> dcCoded; // components a scan codes the DC coefficients of
    std::uint64_t codedBytes = 0; // of all scans
};

bool isFrameMarker(int marker)
{
    return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
}

// The coded data of a scan run to the next marker: 0xff followed by neither a stuffed zero nor
// a restart marker.
qsizetype scanEnd(const QByteArray &bytes, qsizetype at)
{
    for (; at + 1 < bytes.size(); ++at) {
        const int next = std::uint8_t(bytes[at + 1]);
        if (std::uint8_t(bytes[at]) == 0xff && next != 0 && (next < 0xd0 || next > 0xd7))
            return at;
    }
    return bytes.size();
}

JpegLayout jpegLayout(const QByteArray &bytes)
{
    JpegLayout l;
    const auto at8 = [&bytes](qsizetype i) { return i < bytes.size() ? int(std::uint8_t(bytes[i])) : 0; };
    qsizetype at = 2; // after the start-of-image marker
    while (at + 4 <= bytes.size() && at8(at) == 0xff) {
        const int marker = at8(at + 1);
        if (marker == 0xff) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xd9) // end of image
            break;
        const qsizetype segment = at + 4;
        const qsizetype end = at + 2 + ((at8(at + 2) << 8) | at8(at + 3));
        if (isFrameMarker(marker) && l.frameMarker == 0) {
            l.frameMarker = marker;
            for (int i = 0; i < at8(segment + 5); ++i)
                l.components << at8(segment + 6 + 3 * i);
        } else if (marker == 0xda) {
            const int count = at8(segment);
            if (at8(segment + 1 + 2 * count) == 0) // spectral selection starts at the DC coefficient
                for (int i = 0; i < count; ++i)
                    l.dcCoded << at8(segment + 1 + 2 * i);
            at = scanEnd(bytes, end);
            l.codedBytes += std::uint64_t(std::max<qsizetype>(0, at - end));
            continue;
        }
        at = end;
    }
    return l;
}

// Whether the file can hold the picture its header claims. Huffman coding spends at least one
// bit on every 8 x 8 block of every component, so the scans of a picture of n pixels hold at
// least n / 512 bytes, if every component has its scan: libjpeg shows the components a file
// leaves out as grey, without a warning, so those files are refused. Arithmetic coding (which no
// camera or common program writes) has no such floor: a few hundred bytes can describe any
// size, so those files are not read at all.
QString sizeProblem(const QByteArray &bytes, int width, int height)
{
    const JpegLayout layout = jpegLayout(bytes);
    if (layout.frameMarker >= 0xc9)
        return QStringLiteral("it is an arithmetic-coded JPEG, which this program does not read");
    for (const int component : layout.components)
        if (!layout.dcCoded.contains(component))
            return QStringLiteral("its picture data are cut short (a colour component has no data)");
    if (std::uint64_t(width) * std::uint64_t(height) > 512 * layout.codedBytes)
        return QStringLiteral("its header claims %1 x %2 pixels, more than the file can hold").arg(width).arg(height);
    return QString();
}

} // namespace

Status writeJpeg(const Frame &frame, SafeFile &file)
{
    Compressor &c = compressor();
    if (!c.handle)
        return Status::failure(QStringLiteral("the JPEG encoder could not start"));
    const bool colour = frame.format == PixelFormat::RGB8;
    const int subsampling = colour ? TJSAMP_420 : TJSAMP_GRAY;
    const unsigned char *pixels = frame.row(0);
    int pitch = frame.stride;
    if (frame.format == PixelFormat::Mono16) {
        c.grey.resize(std::size_t(frame.width) * std::size_t(frame.height));
        for (int y = 0; y < frame.height; ++y)
            reduceRowTo8Bits(frame.row(y), c.grey.data() + std::size_t(y) * std::size_t(frame.width), frame.width,
                             frame.significantBits);
        pixels = c.grey.data();
        pitch = frame.width;
    }
    const unsigned long bound = tjBufSize(frame.width, frame.height, subsampling);
    unsigned char *output = bound > unsigned(std::numeric_limits<int>::max()) ? nullptr : c.reserve(bound);
    if (!output)
        return Status::failure(QStringLiteral("the picture is too large for a .jpg file"));
    unsigned long size = c.capacity;
    if (tjCompress2(c.handle.get(), pixels, frame.width, pitch, frame.height, colour ? TJPF_RGB : TJPF_GRAY, &output,
                    &size, subsampling, jpegQuality, TJFLAG_NOREALLOC) != 0)
        return Status::failure(QStringLiteral("the JPEG encoder could not compress the picture"));
    return file.write(output, size);
}

Status readJpeg(const QString &path, Frame &out)
{
    QByteArray bytes;
    if (Status status = readWholeFile(path, bytes); !status)
        return status;
    const TjHandle decoder(tjInitDecompress());
    if (!decoder)
        return Status::failure(QStringLiteral("the JPEG decoder could not start"));
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    const auto refuse = [&path](const QString &why) {
        return Status::failure(QStringLiteral("Cannot read \"%1\": %2").arg(path, why));
    };
    // TurboJPEG's own messages name its functions ("tjDecompressHeader3(): Invalid argument"),
    // so the reasons say in words which part of the file is at fault.
    if (tjDecompressHeader3(decoder.get(), data, static_cast<unsigned long>(bytes.size()), &width, &height,
                            &subsampling, &colourspace) != 0 ||
        width <= 0 || height <= 0)
        return refuse(QStringLiteral("it is not a JPEG picture, or its header is damaged"));
    if (width > maxReadSide || height > maxReadSide)
        return refuse(QStringLiteral("impossible size %1 x %2").arg(width).arg(height));
    const bool grey = colourspace == TJCS_GRAY;
    if (const QString problem = sizeProblem(bytes, width, height); !problem.isEmpty())
        return refuse(problem);
    Frame frame = Frame::allocate(width, height, grey ? PixelFormat::Mono8 : PixelFormat::RGB8);
    // A warning means damaged data (typically a file cut short): refuse rather than show grey rows.
    if (tjDecompress2(decoder.get(), data, static_cast<unsigned long>(bytes.size()), frame.row(0), width, frame.stride,
                      height, grey ? TJPF_GRAY : TJPF_RGB, TJFLAG_STOPONWARNING) != 0)
        return refuse(QStringLiteral("its picture data are damaged or cut short"));
    out = frame;
    return Status::success();
}
