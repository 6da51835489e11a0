#pragma once

#include "cameras/camera_factory.h"

#include <chrono>
#include <functional>
#include <memory>

class QThread;

// Opens a lost camera again, from its driver file with the same settings, on a thread of its
// own: at once, then after pauses that double from half a second to ten seconds, until the
// camera answers or the attempts are called off. Neither the schedule nor the window waits for
// it: calling off never waits for an attempt under way, which ends on its own and lets go of
// what it opened.
class CameraReconnect
{
public:
    // Called on the reconnect thread with the camera opened again, which by then lives on the
    // thread `home` names.
    using Opened = std::function<void(std::unique_ptr<Camera>)>;

    CameraReconnect(CameraReopening reopening, QThread *home, Opened opened);
    ~CameraReconnect();
    CameraReconnect(const CameraReconnect &) = delete;
    CameraReconnect &operator=(const CameraReconnect &) = delete;

    void callOff();

    // The pause before attempt `attempt` (0 is the first, made at once).
    static std::chrono::milliseconds pauseBefore(int attempt);

private:
    struct State;
    std::shared_ptr<State> m_state;
};
