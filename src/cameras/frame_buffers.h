#pragma once

#include <QByteArray>

#include <mutex>
#include <vector>

// The pixel memory of a camera's frames, used again once every frame made in it is gone. A
// 12-megapixel 16-bit frame is 24 MB: memory fresh from the system costs a page fault for every
// 4 KiB of it on first touch, some 17 ms of CPU for the frame here, a third of the fastest
// interval, and more where the machine is busy. Buffers kept here have been touched already.
// The store keeps as many as were ever in flight at once, up to `mostBytes`: enough for a full
// writer's queue, so that a disk that falls behind for a while does not make every tick pay for
// fresh memory.
//
// A buffer is taken, filled, and kept: the store holds a share of it from then on and hands it
// out again only when it holds the last share, so that a frame still queued, shown or being
// saved is never written into.
class FrameBuffers
{
public:
    // Keeps buffers up to `mostBytes` in all; more frames than that in flight get memory of their own.
    explicit FrameBuffers(qint64 mostBytes = qint64(768) << 20) : m_mostBytes(mostBytes) {}

    // A buffer of `size` bytes that nothing else shares, its contents undefined.
    QByteArray take(qsizetype size);
    // Keeps a share of a buffer once filled, for a later take.
    void keep(const QByteArray &buffer);
    // Makes `count` buffers of `size` bytes and touches their pages, before the frames need them.
    void prepare(qsizetype size, int count);

private:
    std::mutex m_mutex;
    std::vector<QByteArray> m_buffers;
    qint64 m_keptBytes = 0;
    const qint64 m_mostBytes;
};
