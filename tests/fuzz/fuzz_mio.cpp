// libFuzzer target: the .mio reader given any bytes must refuse them with a reason or
// return a frame that its own header describes, never read or allocate beyond the input.
#include "picture_files/image_formats.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    Frame frame;
    ImageMetadata metadata;
    // A refusal always carries its reason (Status cannot be a failure without one).
    const Status status = readMio(QStringLiteral("fuzz.mio"), device, frame, metadata);
    if (status.ok()) {
        // An accepted picture holds exactly the rows its header promises.
        const qint64 expected = qint64(frame.stride) * frame.height;
        if (frame.width <= 0 || frame.height <= 0 || frame.data.size() != expected || expected > qint64(size))
            std::abort();
    }
    return 0;
}
