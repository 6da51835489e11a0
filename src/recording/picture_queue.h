#pragma once

#include "base/frame.h"
#include "picture_files/image_files.h"
#include "recording/series_log.h"

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

// One piece of work for the writer of a series, in the order the series made them.
struct PictureJob
{
    enum class Kind {
        Picture, // a picture taken: save it and log its row
        Failed,  // a picture that could not be taken: log its row with the reason
        End,     // the series is over: write the end of its log
        Note,    // a line of the log on what happened to the series, in its place among the rows
    };
    Kind kind = Kind::Picture;
    QString fileName;
    Frame frame;
    ImageMetadata record; // the picture's own record, as far as it is known before the save
    std::optional<std::uint64_t> frameId;
    std::optional<double> frameAgeMs;
    QString failure;  // Failed: why the picture could not be taken
    QString note;     // Note: the log's line, without its '#'
    SeriesLogEnd end; // End
    QString schedule; // how the schedule's thread runs, for the log's header
    std::int64_t tickNs = 0; // the tick's instant on the stopwatch's clock

    std::int64_t bytes() const { return frame.data.size(); }
};

// The pictures between a series' schedule and its writer. It is bounded in memory: a tick finds
// room for its picture or is missed, so a disk that stalls costs ticks, never unbounded memory.
// A picture keeps its room until it is written, not only until the writer takes it.
class PictureQueue
{
public:
    PictureQueue(std::int64_t maxPictures, std::int64_t maxBytes) : m_maxPictures(maxPictures), m_maxBytes(maxBytes) {}

    // Whether a picture of `bytes` would be taken in now. An empty queue takes any one picture.
    bool hasRoomFor(std::int64_t bytes) const
    {
        const std::lock_guard lock(m_mutex);
        return m_pictures == 0 || (m_pictures < m_maxPictures && m_bytes + bytes <= m_maxBytes);
    }

    // Never waits: the schedule has made sure of the room before it took the picture.
    void push(PictureJob job)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (job.kind == PictureJob::Kind::Picture) {
                ++m_pictures;
                m_bytes += job.bytes();
                m_held.push_back(job.record.picture.value_or(0));
            }
            m_jobs.push_back(std::move(job));
        }
        m_changed.notify_all();
    }

    // The next job, waiting for one.
    PictureJob pop()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_jobs.empty(); });
        PictureJob job = std::move(m_jobs.front());
        m_jobs.pop_front();
        return job;
    }

    // The writer is done with a picture: its room is free again.
    void release(const PictureJob &job)
    {
        if (job.kind != PictureJob::Kind::Picture)
            return;
        const std::lock_guard lock(m_mutex);
        --m_pictures;
        m_bytes -= job.bytes();
        m_held.pop_front(); // pictures are written in the order they were taken
    }

    // The numbers of the pictures taken in and not yet written.
    std::vector<qint64> heldPictures() const
    {
        const std::lock_guard lock(m_mutex);
        return {m_held.begin(), m_held.end()};
    }

    std::int64_t pictures() const
    {
        const std::lock_guard lock(m_mutex);
        return m_pictures;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<PictureJob> m_jobs;
    std::int64_t m_pictures = 0; // taken in and not yet written
    std::int64_t m_bytes = 0;
    std::deque<qint64> m_held;
    const std::int64_t m_maxPictures;
    const std::int64_t m_maxBytes;
};
