// Setting a V4L2 camera up from the driver file's camera keys, and telling how it is set up.

#include "cameras/v4l2/v4l2_camera.h"

#include "cameras/camera_settings.h"
#include "cameras/v4l2/v4l2_controls.h"
#include "cameras/v4l2/v4l2_device_io.h"

#include <linux/videodev2.h>

#include <cmath>

namespace {

// A key of the driver file that sets one control in a unit of its own, after switching off
// the automatic mode that would otherwise overwrite the value at once.
struct FixedControl
{
    const char *key;
    std::optional<double> value;
    std::uint32_t automatic; // the control of the automatic mode; none where the camera has none
    std::uint32_t id;
    double unit; // the key's units per unit of the control
};

// The value of an automatic control that leaves the value to the driver file: off, or for the
// exposure modes manual, else shutter priority, which fixes the exposure time as well.
std::optional<std::int64_t> manualMode(const V4l2Control &automatic)
{
    if (automatic.type == V4L2_CTRL_TYPE_BOOLEAN)
        return 0;
    for (const std::int64_t mode : {V4L2_EXPOSURE_MANUAL, V4L2_EXPOSURE_SHUTTER_PRIORITY})
        for (const auto &entry : automatic.menu)
            if (entry.first == mode)
                return mode;
    return std::nullopt;
}

Status applyFixed(int fd, const QList<V4l2Control> &controls, const FixedControl &fixed)
{
    const QString key = QLatin1String(fixed.key);
    const V4l2Control *target = findControl(controls, fixed.id);
    if (!target)
        return Status::failure(QStringLiteral("the camera does not let %1 be set").arg(key));
    const double units = *fixed.value / fixed.unit;
    // 2^63 compares equal to the largest 64-bit maximum but does not convert to it.
    if (units != std::round(units) || units < double(target->minimum) || units > double(target->maximum) ||
        units >= 0x1p63 || !onStep(std::int64_t(units), target->minimum, target->step))
        return Status::failure(outOfRangeMessage(key, double(target->minimum) * fixed.unit,
                                                 double(target->maximum) * fixed.unit,
                                                 double(target->step) * fixed.unit, numberText(*fixed.value)));
    if (const V4l2Control *automatic = findControl(controls, fixed.automatic)) {
        const std::optional<std::int64_t> manual = manualMode(*automatic);
        if (!manual)
            return Status::failure(QStringLiteral("the camera cannot switch its automatic %1 off").arg(automatic->name));
        if (Status s = writeControl(fd, *automatic, *manual, key); !s)
            return s;
    }
    return writeControl(fd, *target, std::int64_t(units), key);
}

// Whether an automatic mode sets the control now; false where the camera has none.
bool isAutomatic(int fd, const V4l2Control *automatic)
{
    std::int64_t mode = 0;
    if (!automatic || !readControl(fd, *automatic, mode))
        return false;
    return automatic->type == V4L2_CTRL_TYPE_BOOLEAN
               ? mode != 0
               : mode != V4L2_EXPOSURE_MANUAL && mode != V4L2_EXPOSURE_SHUTTER_PRIORITY;
}

} // namespace

Status V4l2Camera::applyControls(const V4l2Settings &settings)
{
    if (settings.frameRate)
        if (Status s = setFrameRate(*settings.frameRate); !s)
            return s;
    const QList<V4l2Control> controls = queryControls(m_fd);
    // The V4L2 documentation gives the absolute exposure time in units of 100 us.
    const FixedControl fixed[] = {
        {"exposure-us", settings.exposureUs, V4L2_CID_EXPOSURE_AUTO, V4L2_CID_EXPOSURE_ABSOLUTE, 100.0},
        {"gain", settings.gain, V4L2_CID_AUTOGAIN, V4L2_CID_GAIN, 1.0},
        {"white-balance", settings.whiteBalanceKelvin, V4L2_CID_AUTO_WHITE_BALANCE,
         V4L2_CID_WHITE_BALANCE_TEMPERATURE, 1.0}};
    for (const FixedControl &f : fixed)
        if (f.value)
            if (Status s = applyFixed(m_fd, controls, f); !s)
                return s;
    if (settings.whiteBalanceAuto) {
        const V4l2Control *automatic = findControl(controls, V4L2_CID_AUTO_WHITE_BALANCE);
        if (!automatic)
            return Status::failure(QStringLiteral("the camera has no automatic white-balance"));
        if (Status s = writeControl(m_fd, *automatic, 1, QStringLiteral("white-balance")); !s)
            return s;
    }
    return applyNamedControls(m_fd, settings.controls);
}

Status V4l2Camera::setFrameRate(double rate)
{
    v4l2_streamparm parm;
    if (!readStreamParameters(m_fd, parm))
        return Status::failure(QStringLiteral("%1 does not let frame-rate be set").arg(m_device));
    // The time per frame in thousandths of a second, exact for every rate a driver file can hold.
    parm.parm.capture.timeperframe = {1000, std::uint32_t(std::llround(rate * 1000.0))};
    if (v4l2Ioctl(m_fd, VIDIOC_S_PARM, &parm) < 0)
        return Status::failure(QStringLiteral("cannot set the frame rate of %1: %2").arg(m_device, v4l2ErrorText()));
    // Drivers answer a rate they lack with the nearest they have, as they do with sizes.
    const v4l2_fract &interval = parm.parm.capture.timeperframe;
    const double set = interval.numerator ? double(interval.denominator) / interval.numerator : 0.0;
    if (std::abs(set - rate) <= rate * 1e-4)
        return Status::success();
    const QString offered = offeredFrameRates(m_fd, m_fourcc, m_width, m_height);
    if (offered.isEmpty())
        return Status::failure(QStringLiteral("%1 does not offer frame-rate %2; the nearest is %3")
                                   .arg(m_device, numberText(rate), frameRateText(set)));
    return Status::failure(QStringLiteral("frame-rate must be %1 for this camera in %2 %3x%4, not %5")
                               .arg(offered, fourccName(m_fourcc))
                               .arg(m_width)
                               .arg(m_height)
                               .arg(numberText(rate)));
}

CameraSettingsInForce V4l2Camera::settingsInForce() const
{
    CameraSettingsInForce settings;
    settings.pixelFormat = fourccName(m_fourcc);
    settings.significantBits = m_fourcc == V4L2_PIX_FMT_Y16 ? 16 : 8;
    settings.trigger = QStringLiteral("free-running");
    if (m_fd < 0)
        return settings;
    if (const double rate = currentFrameRate(m_fd); rate > 0.0)
        settings.frameRate = rate;
    const QList<V4l2Control> controls = queryControls(m_fd);
    std::int64_t value = 0;
    if (const V4l2Control *exposure = findControl(controls, V4L2_CID_EXPOSURE_ABSOLUTE);
        exposure && readControl(m_fd, *exposure, value)) {
        settings.exposureUs = double(value) * 100.0;
        settings.exposureAuto = isAutomatic(m_fd, findControl(controls, V4L2_CID_EXPOSURE_AUTO));
    }
    if (const V4l2Control *gain = findControl(controls, V4L2_CID_GAIN); gain && readControl(m_fd, *gain, value)) {
        settings.gain = double(value);
        settings.gainUnit = QStringLiteral("raw");
        settings.gainAuto = isAutomatic(m_fd, findControl(controls, V4L2_CID_AUTOGAIN));
    }
    return settings;
}
