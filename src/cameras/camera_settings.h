#pragma once

#include "base/status.h"

#include <QString>

#include <optional>

struct DriverFile;

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
};

// The keys of a `source = v4l2` driver file.
struct V4l2Settings
{
    QString device;      // e.g. /dev/video0; empty: the first capture device
    QString pixelFormat; // GREY, Y16, YUYV, RGB24 or MJPEG; empty: the first of these the device offers
    int width = 0;       // 0: keep the device's
    int height = 0;
};

// Check every key and value of the driver file; the reason names the first bad one.
Status readGenicamSettings(const DriverFile &driver, GenicamSettings &out);
Status readV4l2Settings(const DriverFile &driver, V4l2Settings &out);
