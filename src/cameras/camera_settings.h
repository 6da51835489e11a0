#pragma once

#include "base/status.h"
#include "cameras/driver_file.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// The keys of a `source = genicam` driver file, checked but not yet applied to a camera.
struct GenicamSettings
{
    QString camera;      // id, serial number or IP address; empty: the first camera found
    QString pixelFormat; // GenICam name (Mono8, Mono12, BayerRG8...); empty: keep the camera's
    int width = 0;       // 0: keep the camera's
    int height = 0;
    std::optional<double> exposureUs;
    std::optional<double> gainDb;
    std::optional<double> frameRate;
    QString trigger; // "software", "free-running", or empty: keep the camera's
    QList<NamedSetting> features; // `feature.<name>` lines, in the order written
};

// The keys of a `source = v4l2` driver file.
struct V4l2Settings
{
    QString device;      // e.g. /dev/video0; empty: the first capture device
    QString pixelFormat; // GREY, Y16, YUYV, RGB24 or MJPEG; empty: the first of these the device offers
    int width = 0;       // 0: keep the device's
    int height = 0;
    std::optional<double> exposureUs; // also switches automatic exposure off
    std::optional<double> gain;       // in the gain control's own units
    std::optional<double> frameRate;
    // Automatic white balance, or a fixed colour temperature in kelvin; empty: keep the camera's.
    std::optional<int> whiteBalanceKelvin; // with whiteBalanceAuto false
    bool whiteBalanceAuto = false;
    QList<NamedSetting> controls; // `control.<name>` lines, in the order written
};

// Reads the keys that every source takes and takes them out of `driver`, so that each back-end
// checks only its own.
Status takeCommonSettings(DriverFile &driver, CommonSettings &out);
// Check every key and value of the driver file; the reason names the first bad one.
Status readGenicamSettings(const DriverFile &driver, GenicamSettings &out);
Status readV4l2Settings(const DriverFile &driver, V4l2Settings &out);

// "exposure-us must be from 10 to 1000000 for this camera, not 5", with " in steps of N" where
// a camera takes only every N-th value: the refusal of a value outside what a camera offers.
QString outOfRangeMessage(const QString &key, double min, double max, double step, const QString &value);
// Whether `value` lies a whole number of steps (below 1: one) above `minimum`.
bool onStep(std::int64_t value, std::int64_t minimum, std::int64_t step);
// "feature.GainAuto must be one of Off, Continuous for this camera, not "Sometimes"".
QString notOneOfMessage(const QString &key, const QStringList &choices, const QString &value);
// A camera's boolean setting as a driver file writes it: true, false, 1 or 0, in any case.
// Refused with the message the reason gives otherwise.
Status readBooleanSetting(const QString &key, const QString &text, bool &value);
// A number as the messages and the listings write it: no exponent, no trailing zeros.
QString numberText(double value);
