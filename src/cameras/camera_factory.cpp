#include "cameras/camera_factory.h"

#include "cameras/camera_settings.h"
#include "cameras/driver_file.h"
#include "cameras/test_pattern_camera.h"
#include "cameras/v4l2/v4l2_camera.h"
#if HAVE_ARAVIS
#include "cameras/genicam/genicam_camera.h"
#endif

namespace {

enum class Source { Auto, TestPattern, V4l2, Genicam, Unknown };

Source sourceOf(const QString &name)
{
    if (name == QLatin1String("auto"))
        return Source::Auto;
    if (name == QLatin1String("test-pattern"))
        return Source::TestPattern;
    if (name == QLatin1String("v4l2"))
        return Source::V4l2;
    if (name == QLatin1String("genicam"))
        return Source::Genicam;
    return Source::Unknown;
}

} // namespace

std::unique_ptr<Camera> createCamera(const DriverFile &driver, QString &error)
{
    std::unique_ptr<Camera> camera;
    DriverFile settings = driver;
    CommonSettings common;
    if (Status s = takeCommonSettings(settings, common); !s) {
        error = s.reason();
        return nullptr;
    }
    switch (sourceOf(driver.source)) {
    case Source::Auto: {
        if (Status s = settings.checkKeys({}); !s) {
            error = s.reason();
            return nullptr;
        }
        // Auto never looks for GenICam cameras: their discovery broadcasts on every network.
        const QString device = V4l2Camera::findFirstDevice();
        if (device.isEmpty()) {
            camera = std::make_unique<TestPatternCamera>();
            break;
        }
        settings.source = QStringLiteral("v4l2");
        settings.values.insert(QStringLiteral("device"), device);
        camera = std::make_unique<V4l2Camera>();
        break;
    }
    case Source::TestPattern:
        camera = std::make_unique<TestPatternCamera>();
        break;
    case Source::V4l2:
        camera = std::make_unique<V4l2Camera>();
        break;
    case Source::Genicam:
#if HAVE_ARAVIS
        camera = std::make_unique<GenicamCamera>();
        break;
#else
        error = QStringLiteral("this build cannot use GenICam cameras (it was built without Aravis)");
        return nullptr;
#endif
    case Source::Unknown:
        error = QStringLiteral("unknown source \"%1\" (known: auto, test-pattern, v4l2, genicam)").arg(driver.source);
        return nullptr;
    }
    const Status opened = camera->open(settings);
    if (!opened) {
        error = opened.reason();
        return nullptr;
    }
    camera->setCommonSettings(common);
    return camera;
}

CameraReopening reopeningOf(const DriverFile &driver, const Camera &camera)
{
    CameraReopening reopening{driver, camera.identity()};
    // An `auto` file chose the camera it found; it is that camera that is opened again.
    reopening.driver.source = reopening.identity.source;
    camera.pinTo(reopening.driver);
    return reopening;
}

std::unique_ptr<Camera> reopenCamera(const CameraReopening &reopening, QString &error)
{
    DriverFile driver = reopening.driver;
    if (sourceOf(driver.source) == Source::V4l2) {
        const QString device = V4l2Camera::findDevice(reopening.identity);
        if (device.isEmpty()) {
            error = QStringLiteral("%1 is not plugged in").arg(reopening.identity.model);
            return nullptr;
        }
        driver.values.insert(QStringLiteral("device"), device);
    }
    return createCamera(driver, error);
}
