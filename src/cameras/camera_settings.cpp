#include "cameras/camera_settings.h"

#include "cameras/driver_file.h"

#include <QStringList>

namespace {

// Finds `value` among `names` regardless of case and returns the spelling of the list.
bool canonicalName(const QString &value, const QStringList &names, QString &out)
{
    for (const QString &name : names) {
        if (value.compare(name, Qt::CaseInsensitive) == 0) {
            out = name;
            return true;
        }
    }
    return false;
}

Status readPixelFormat(const DriverFile &driver, const QStringList &names, QString &out)
{
    const auto it = driver.values.constFind(QStringLiteral("pixel-format"));
    if (it == driver.values.cend())
        return Status::success();
    if (canonicalName(it.value(), names, out))
        return Status::success();
    return Status::failure(
        QStringLiteral("pixel-format must be one of %1, not \"%2\"").arg(names.join(QStringLiteral(", ")), it.value()));
}

Status readOptionalDouble(const DriverFile &driver, const char *key, double min, double max, std::optional<double> &out)
{
    if (!driver.values.contains(QLatin1String(key)))
        return Status::success();
    double value = 0.0;
    if (Status s = driver.readDouble(key, min, max, value); !s)
        return s;
    out = value;
    return Status::success();
}

Status readSize(const DriverFile &driver, int &width, int &height)
{
    if (Status s = driver.readInt("width", 1, 65535, width); !s)
        return s;
    return driver.readInt("height", 1, 65535, height);
}

} // namespace

Status readGenicamSettings(const DriverFile &driver, GenicamSettings &out)
{
    GenicamSettings settings;
    if (Status s =
            driver.checkKeys({"camera", "pixel-format", "width", "height", "exposure-us", "gain-db", "frame-rate"});
        !s)
        return s;
    static const QStringList formats = {
        QStringLiteral("Mono8"),    QStringLiteral("Mono10"),   QStringLiteral("Mono12"),
        QStringLiteral("Mono16"),   QStringLiteral("RGB8"),     QStringLiteral("BayerRG8"),
        QStringLiteral("BayerGR8"), QStringLiteral("BayerGB8"), QStringLiteral("BayerBG8")};
    settings.camera = driver.values.value(QStringLiteral("camera"));
    for (const Status &s :
         {readPixelFormat(driver, formats, settings.pixelFormat), readSize(driver, settings.width, settings.height),
          readOptionalDouble(driver, "exposure-us", 1.0, 1.0e8, settings.exposureUs),
          readOptionalDouble(driver, "gain-db", -100.0, 100.0, settings.gainDb),
          readOptionalDouble(driver, "frame-rate", 0.01, 100000.0, settings.frameRate)}) {
        if (!s)
            return s;
    }
    out = settings;
    return Status::success();
}

Status readV4l2Settings(const DriverFile &driver, V4l2Settings &out)
{
    V4l2Settings settings;
    if (Status s = driver.checkKeys({"device", "pixel-format", "width", "height"}); !s)
        return s;
    static const QStringList formats = {QStringLiteral("GREY"), QStringLiteral("Y16"), QStringLiteral("YUYV"),
                                        QStringLiteral("RGB24"), QStringLiteral("MJPEG")};
    settings.device = driver.values.value(QStringLiteral("device"));
    if (driver.values.contains(QStringLiteral("device")) && !settings.device.startsWith(QLatin1Char('/')))
        return Status::failure(
            QStringLiteral("device must be a path such as /dev/video0, not \"%1\"").arg(settings.device));
    for (const Status &s :
         {readPixelFormat(driver, formats, settings.pixelFormat), readSize(driver, settings.width, settings.height)}) {
        if (!s)
            return s;
    }
    out = settings;
    return Status::success();
}
