#pragma once

#include "cameras/camera_clock.h"
#include "cameras/genicam/genicam_camera.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// What a GenICam camera shares with the thread that refreshes its clock's latch. That thread
// holds a reference of its own to the camera, so that a lost camera's latch, held up in Aravis's
// retries, outlives the camera object without harm until the release joins it.
struct GenicamCamera::Timing
{
    // One exchange on the control channel at a time: Aravis's objects are not thread-safe, and
    // the software trigger, the latch and the settings read at Start come from different threads.
    std::mutex control;

    // Used on Aravis's stream thread and by the latch; reset before each stream.
    std::mutex clockMutex;
    CameraClock clock;

    // The latch's command and value, empty where the camera has none that answers.
    const char *latchCommand = nullptr;
    const char *latchValue = nullptr;
    bool latchFailed = false;   // the camera has one, but it read nothing useful
    std::int64_t tickHz = 0;    // of the latched counter; 0: nanoseconds
    std::atomic<bool> streaming{false};

    std::mutex wakeMutex;
    std::condition_variable wake;
    bool stop = false; // under wakeMutex

    std::int64_t ticksToNs(std::int64_t ticks) const;
    // One latch read between two readings of the host's clock.
    bool read(ArvCamera *camera, std::int64_t &ticks, std::int64_t &beforeNs, std::int64_t &afterNs);
    // Latches the clock, keeping the reading with the shortest round trip of a few.
    bool latch(ArvCamera *camera);
    // The refresh thread: latches every few seconds while the camera streams, until `stop`.
    void keep(ArvCamera *camera);
};
