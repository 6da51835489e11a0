#include "cameras/camera_settings.h"

#include "cameras/driver_file.h"
#include "cameras/pixel_formats.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

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

// Any finite number: its range is the camera's, checked when it is opened.
Status readNumber(const DriverFile &driver, const char *key, std::optional<double> &out)
{
    const auto it = driver.values.constFind(QLatin1String(key));
    if (it == driver.values.cend())
        return Status::success();
    bool ok = false;
    const double value = it.value().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return Status::failure(QStringLiteral("%1 must be a number, not \"%2\"").arg(QLatin1String(key), it.value()));
    out = value;
    return Status::success();
}

Status readWhiteBalance(const DriverFile &driver, V4l2Settings &settings)
{
    const auto it = driver.values.constFind(QStringLiteral("white-balance"));
    if (it == driver.values.cend())
        return Status::success();
    if (it.value().compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0) {
        settings.whiteBalanceAuto = true;
        return Status::success();
    }
    int kelvin = 0;
    if (!driver.readInt("white-balance", 1000, 20000, kelvin))
        return Status::failure(
            QStringLiteral("white-balance must be auto or a colour temperature from 1000 to 20000 kelvin, not \"%1\"")
                .arg(it.value()));
    settings.whiteBalanceKelvin = kelvin;
    return Status::success();
}

Status readSize(const DriverFile &driver, int &width, int &height)
{
    if (Status s = driver.readInt("width", 1, 65535, width); !s)
        return s;
    return driver.readInt("height", 1, 65535, height);
}

} // namespace

Status takeCommonSettings(DriverFile &driver, CommonSettings &out)
{
    CommonSettings settings;
    // From a tenth of a nanometre (an electron microscope's) to 10 cm (a photographed field).
    if (Status s = readOptionalDouble(driver, "pixel-size-um", 0.0001, 100000.0, settings.pixelSizeUm); !s)
        return s;
    settings.channelName = driver.values.take(QStringLiteral("channel-name"));
    driver.values.remove(QStringLiteral("pixel-size-um"));
    out = settings;
    return Status::success();
}

Status readGenicamSettings(const DriverFile &driver, GenicamSettings &out)
{
    GenicamSettings settings;
    if (Status s = driver.checkKeys(
            {"camera", "pixel-format", "width", "height", "exposure-us", "gain-db", "frame-rate", "trigger"},
                                    QLatin1String("feature"));
        !s)
        return s;
    settings.features = driver.named;
    static const QStringList formats = pixelFormatNames(genicamPixelFormats());
    settings.camera = driver.values.value(QStringLiteral("camera"));
    const auto trigger = driver.values.constFind(QStringLiteral("trigger"));
    if (trigger != driver.values.cend() &&
        !canonicalName(trigger.value(), {QStringLiteral("software"), QStringLiteral("free-running")}, settings.trigger))
        return Status::failure(
            QStringLiteral("trigger must be software or free-running, not \"%1\"").arg(trigger.value()));
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
    if (Status s = driver.checkKeys(
            {"device", "pixel-format", "width", "height", "exposure-us", "gain", "frame-rate", "white-balance"},
            QLatin1String("control"));
        !s)
        return s;
    settings.controls = driver.named;
    static const QStringList formats = pixelFormatNames(v4l2PixelFormats());
    settings.device = driver.values.value(QStringLiteral("device"));
    if (driver.values.contains(QStringLiteral("device")) && !settings.device.startsWith(QLatin1Char('/')))
        return Status::failure(
            QStringLiteral("device must be a path such as /dev/video0, not \"%1\"").arg(settings.device));
    for (const Status &s :
         {readPixelFormat(driver, formats, settings.pixelFormat), readSize(driver, settings.width, settings.height),
          readOptionalDouble(driver, "exposure-us", 1.0, 1.0e8, settings.exposureUs),
          readNumber(driver, "gain", settings.gain),
          readOptionalDouble(driver, "frame-rate", 0.01, 100000.0, settings.frameRate), readWhiteBalance(driver, settings)}) {
        if (!s)
            return s;
    }
    out = settings;
    return Status::success();
}

QString outOfRangeMessage(const QString &key, double min, double max, double step, const QString &value)
{
    const QString steps = step > 1.0 ? QStringLiteral(" in steps of %1").arg(numberText(step)) : QString();
    return QStringLiteral("%1 must be from %2 to %3%4 for this camera, not %5")
        .arg(key, numberText(min), numberText(max), steps, value);
}

bool onStep(std::int64_t value, std::int64_t minimum, std::int64_t step)
{
    // The distance is taken unsigned: a camera may offer the whole 64-bit range, where
    // value - minimum overflows a signed integer.
    const std::uint64_t distance = std::uint64_t(value) - std::uint64_t(minimum);
    return value >= minimum && distance % std::uint64_t(std::max<std::int64_t>(step, 1)) == 0;
}

QString notOneOfMessage(const QString &key, const QStringList &choices, const QString &value)
{
    return QStringLiteral("%1 must be one of %2 for this camera, not \"%3\"")
        .arg(key, choices.join(QStringLiteral(", ")), value);
}

Status readBooleanSetting(const QString &key, const QString &text, bool &value)
{
    const QString word = text.toLower();
    if (word != u"true" && word != u"false" && word != u"1" && word != u"0")
        return Status::failure(QStringLiteral("%1 must be true or false, not \"%2\"").arg(key, text));
    value = word == u"true" || word == u"1";
    return Status::success();
}

QString numberText(double value)
{
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}
