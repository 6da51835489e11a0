#include "cameras/frame_buffers.h"

#include <algorithm>
#include <atomic>
#include <cstring>

QByteArray FrameBuffers::take(qsizetype size)
{
    {
        const std::lock_guard lock(m_mutex);
        // Buffers of another size belong to a format that is no longer delivered.
        std::erase_if(m_buffers, [size, this](const QByteArray &b) {
            if (b.size() == size)
                return false;
            m_keptBytes -= b.size();
            return true;
        });
        // The buffer let go last is the one most likely still in the caches and the page tables.
        const auto free =
            std::find_if(m_buffers.rbegin(), m_buffers.rend(), [](const QByteArray &b) { return b.isDetached(); });
        if (free != m_buffers.rend()) {
            // The last other share was let go on another thread, after it was done reading.
            std::atomic_thread_fence(std::memory_order_acquire);
            QByteArray buffer = std::move(*free);
            m_buffers.erase(std::next(free).base());
            m_keptBytes -= buffer.size();
            return buffer;
        }
    }
    return QByteArray(size, Qt::Uninitialized);
}

void FrameBuffers::keep(const QByteArray &buffer)
{
    const std::lock_guard lock(m_mutex);
    if (m_keptBytes + buffer.size() > m_mostBytes && !m_buffers.empty())
        return;
    m_buffers.push_back(buffer);
    m_keptBytes += buffer.size();
}

void FrameBuffers::prepare(qsizetype size, int count)
{
    std::vector<QByteArray> buffers;
    for (int i = 0; i < count; ++i) {
        buffers.push_back(take(size));
        std::memset(buffers.back().data(), 0, std::size_t(size));
    }
    for (const QByteArray &buffer : buffers)
        keep(buffer);
}
