#pragma once

#include "cameras/camera.h"

#include <memory>

struct DriverFile;

// Builds the camera that a driver file's `source` names, opened and ready; on failure
// returns null and the reason in `error`.
std::unique_ptr<Camera> createCamera(const DriverFile &driver, QString &error);
