// libFuzzer target: a driver file of any content is parsed, and its keys checked as each
// camera back-end checks them when it opens, without touching a device.
#include "cameras/camera_settings.h"
#include "cameras/driver_file.h"
#include "cameras/test_pattern_camera.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Frames larger than this are skipped: the fuzzer would spend its time filling memory.
constexpr qint64 kMaxPixels = 1000000;

void openTestPattern(const DriverFile &driver)
{
    int width = 1280;
    int height = 1024;
    if (!driver.readInt("width", 16, 8192, width).ok() || !driver.readInt("height", 16, 8192, height).ok())
        width = height = 16; // open() refuses the file before it allocates anything
    if (qint64(width) * height > kMaxPixels)
        return;
    TestPatternCamera camera;
    if (!camera.open(driver))
        return;
    Frame frame;
    if (!camera.snap(frame).ok() || frame.width != camera.width() || frame.height != camera.height())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    DriverFile driver;
    QString error;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (!DriverFile::parse(text, driver, error)) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    if (driver.source.isEmpty())
        std::abort();
    // As the camera factory does: the keys of every source first, then the back-end's own.
    CommonSettings common;
    if (takeCommonSettings(driver, common).ok() && common.pixelSizeUm && !(*common.pixelSizeUm > 0))
        std::abort();
    GenicamSettings genicam;
    V4l2Settings v4l2;
    (void)readGenicamSettings(driver, genicam);
    (void)readV4l2Settings(driver, v4l2);
    openTestPattern(driver);
    return 0;
}
