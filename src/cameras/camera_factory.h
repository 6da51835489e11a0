#pragma once

#include "cameras/camera.h"
#include "cameras/driver_file.h"

#include <memory>

// Builds the camera that a driver file's `source` names, opened and ready; on failure
// returns null and the reason in `error`.
std::unique_ptr<Camera> createCamera(const DriverFile &driver, QString &error);

// What opens a lost camera again: its driver file, with the camera pinned as it was opened
// (Camera::pinTo), and who it was. A V4L2 device is found again by its identity, also when it
// comes back as another /dev/video node.
struct CameraReopening
{
    DriverFile driver;
    CameraIdentity identity;
};
// Called on the camera's own thread, while the lost camera still exists.
CameraReopening reopeningOf(const DriverFile &driver, const Camera &camera);
// Opens the camera again; callable on any thread. On failure returns null and the reason.
std::unique_ptr<Camera> reopenCamera(const CameraReopening &reopening, QString &error);
