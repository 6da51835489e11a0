// libFuzzer target, built once per format (PIR_FUZZ_SUFFIX: ".jpg", ".tif", ".bmp"): the reader
// given any bytes as a file must refuse them with a reason or return a frame whose data fit
// its size, never read or allocate beyond what the file holds.
#include "picture_files/image_files.h"

#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

char folder[] = "/tmp/pir-fuzz-XXXXXX";

// The file and the folder this run made, removed when it ends.
void removeInput()
{
    QFile::remove(QString::fromLatin1(folder) + QStringLiteral("/input") + QStringLiteral(PIR_FUZZ_SUFFIX));
    ::rmdir(folder);
}

// One file, rewritten for every input, in a folder of its own.
const QString &inputPath()
{
    static const QString path = [] {
        if (!::mkdtemp(folder))
            std::abort();
        std::atexit(removeInput);
        return QString::fromLatin1(folder) + QStringLiteral("/input") + QStringLiteral(PIR_FUZZ_SUFFIX);
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QFile file(inputPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();
    Frame frame;
    const Status status = loadImage(inputPath(), frame);
    if (status.ok() && (frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width ||
                        frame.data.size() < qint64(frame.stride) * frame.height))
        std::abort();
    return 0;
}
