#include "recording/camera_reconnect.h"

#include "base/thread_name.h"

#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr std::chrono::milliseconds kFirstPause{500};
constexpr std::chrono::milliseconds kLongestPause{10000};

} // namespace

// Shared with the thread, which may outlive the object while an attempt hangs on a device.
struct CameraReconnect::State
{
    std::mutex mutex;
    std::condition_variable calledOff;
    bool off = false;

    // Sleeps `pause`; false when called off first.
    bool pauseFor(std::chrono::milliseconds pause)
    {
        std::unique_lock lock(mutex);
        return !calledOff.wait_for(lock, pause, [this] { return off; });
    }
    bool isOff()
    {
        const std::lock_guard lock(mutex);
        return off;
    }
};

std::chrono::milliseconds CameraReconnect::pauseBefore(int attempt)
{
    if (attempt <= 0)
        return std::chrono::milliseconds(0);
    // Doubled from the first pause, without letting the shift run past the longest one.
    return std::min<std::chrono::milliseconds>(kLongestPause, kFirstPause * (1LL << std::min(attempt - 1, 5)));
}

CameraReconnect::CameraReconnect(CameraReopening reopening, QThread *home, Opened opened)
    : m_state(std::make_shared<State>())
{
    std::thread([state = m_state, reopening = std::move(reopening), home, opened = std::move(opened)] {
        nameThisThread("pir-reconnect");
        for (int attempt = 0; state->pauseFor(pauseBefore(attempt)); ++attempt) {
            QString error;
            std::unique_ptr<Camera> camera = reopenCamera(reopening, error);
            if (!camera)
                continue;
            if (state->isOff())
                return; // let go here, on the thread it was made on
            camera->moveToThread(home);
            opened(std::move(camera));
            return;
        }
    }).detach();
}

CameraReconnect::~CameraReconnect()
{
    callOff();
}

void CameraReconnect::callOff()
{
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->off = true;
    }
    m_state->calledOff.notify_all();
}
