#pragma once

#include "base/frame.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

// Where a camera's frames wait between its stream thread and whoever takes them: the newest
// few, so that a series can take the one captured nearest its tick, and why the camera was
// lost, which ends every wait at once. A frame is never handed out twice.
class FrameSlot
{
public:
    using Clock = std::chrono::steady_clock;
    enum class Result { Frame, None, Lost, Timeout, Interrupted };

    // Enough for a tick to choose between the frames on either side of it while the one
    // after it is still on its way.
    static constexpr std::size_t kKept = 8;

    // A new stream: frames of an earlier one are stale by now.
    void reset();
    // Called on the stream thread for every frame that arrived whole.
    void offer(const Frame &frame);

    // Records why the camera was lost and wakes every wait; true only the first time.
    bool markLost(const QString &reason);
    bool isLost() const;
    QString lostReason() const;

    // Ends the waits under way and every later one with Interrupted, until resume().
    void interrupt();
    void resume();
    bool isInterrupted() const;

    // Waits until a frame was offered since the stream began, until `deadline`; takes none.
    Result awaitFirst(Clock::time_point deadline);

    // The newest frame not handed out yet, waiting until `deadline` for one to arrive.
    Result takeNewest(Clock::time_point deadline, Frame &out);
    // The number of the newest frame offered so far; 0 before the first.
    std::uint64_t newestSequence() const;
    // The first frame offered after the one numbered `sequence`, waiting until `deadline` for it.
    Result takeFirstAfter(std::uint64_t sequence, Clock::time_point deadline, Frame &out);
    // The frame not handed out yet whose capture time lies nearest `instantNs`, and no farther
    // from it than `windowNs`: the frames beyond belong to other instants. Waits until a frame
    // captured at or after the instant has arrived, unless the newest one is already nearer the
    // instant than its successor can be. The successor is expected a frame period (`periodNs`,
    // or the spacing of the newest frames where that is 0) after the newest frame; when it
    // cannot fall within the window and no frame does, there is None for this instant.
    Result takeNearest(std::int64_t instantNs, std::int64_t periodNs, std::int64_t windowNs,
                       Clock::time_point deadline, Frame &out);

private:
    enum class Choice { Wait, Take, None };
    // Decides for takeNearest; `chosen` is the frame to take.
    Choice choose(std::int64_t instantNs, std::int64_t periodNs, std::int64_t windowNs, const Frame *&chosen) const;
    Result handOut(const Frame &frame, Frame &out);
    // Waits until `ready` holds (Result::Frame), the camera is lost or the waits are interrupted,
    // or `deadline` passes.
    template <typename Ready>
    Result waitUntil(std::unique_lock<std::mutex> &lock, Clock::time_point deadline, Ready ready);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Frame> m_frames;     // oldest first
    std::uint64_t m_lastTaken = 0;  // sequence of the frame handed out last
    bool m_lost = false;
    bool m_interrupted = false;
    QString m_reason;
};
