#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

// Puts a camera's own timestamps on the host's monotonic clock. Each frame arrives some time
// after the camera stamped it; the smallest difference between arrival and stamp over the last
// frames is the one with the least delay, so stamp + that difference is the best estimate of
// the capture instant that never lies after an arrival. A window rather than all frames keeps
// up with the slow drift between the two clocks.
class CameraClock
{
public:
    static constexpr std::size_t kWindow = 64;
    // A stamp further than this before its arrival means the camera's clock jumped (a reset).
    static constexpr std::int64_t kMaxDelayNs = 1'000'000'000;

    // The capture instant on the host's clock of a frame stamped `cameraNs` (0: the camera
    // gave no stamp) that arrived at `arrivalNs`.
    std::int64_t toHost(std::int64_t cameraNs, std::int64_t arrivalNs)
    {
        if (cameraNs == 0)
            return arrivalNs;
        const std::int64_t offset = arrivalNs - cameraNs;
        m_offsets[m_next % kWindow] = offset;
        m_count = std::min(m_count + 1, kWindow);
        ++m_next;
        const std::int64_t best = *std::min_element(m_offsets.begin(), m_offsets.begin() + std::ptrdiff_t(m_count));
        const std::int64_t host = cameraNs + best;
        if (arrivalNs - host > kMaxDelayNs) {
            reset();
            return toHost(cameraNs, arrivalNs);
        }
        return host;
    }

    void reset()
    {
        m_count = 0;
        m_next = 0;
    }

private:
    std::array<std::int64_t, kWindow> m_offsets{};
    std::size_t m_count = 0;
    std::size_t m_next = 0;
};
