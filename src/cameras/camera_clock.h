#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

// Puts a camera's own timestamps on the host's monotonic clock.
//
// Where the camera can latch its clock on request, one latch read between two readings of the
// host's clock gives the offset between the clocks, to within half that round trip; every stamp
// is then put on the host's clock by that offset, and the latch is refreshed now and then for
// the drift between the clocks.
//
// Otherwise each frame arrives some time after the camera stamped it; the smallest difference
// between arrival and stamp over the last frames is the one with the least delay, so stamp + that
// difference estimates the capture instant late by the least transfer seen, and never after an
// arrival. A window rather than all frames keeps up with the drift.
class CameraClock
{
public:
    static constexpr std::size_t kWindow = 64;
    // A stamp further than this from its arrival means the camera's clock jumped (a reset).
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
        const std::int64_t host = cameraNs + (m_latched ? m_latchOffset : best);
        if (arrivalNs - host > kMaxDelayNs || host - arrivalNs > kMaxDelayNs) {
            reset();
            return toHost(cameraNs, arrivalNs);
        }
        return host;
    }

    // The camera's clock read `cameraNs` at some instant between the host's readings `beforeNs`
    // and `afterNs`.
    void latch(std::int64_t cameraNs, std::int64_t beforeNs, std::int64_t afterNs)
    {
        m_latchOffset = beforeNs + (afterNs - beforeNs) / 2 - cameraNs;
        m_uncertaintyNs = (afterNs - beforeNs + 1) / 2;
        m_latched = true;
    }

    // How far a stamp put on the host's clock may be off: half the latch's round trip; empty
    // while the stamps are placed by the smallest delay instead.
    std::optional<std::int64_t> latchUncertaintyNs() const
    {
        return m_latched ? std::optional<std::int64_t>(m_uncertaintyNs) : std::nullopt;
    }

    // A new stream: the camera's clock may have been reset meanwhile, so neither the delays seen
    // nor the latch hold any longer.
    void reset()
    {
        m_count = 0;
        m_next = 0;
        m_latched = false;
    }

private:
    std::array<std::int64_t, kWindow> m_offsets{};
    std::size_t m_count = 0;
    std::size_t m_next = 0;
    bool m_latched = false;
    std::int64_t m_latchOffset = 0;
    std::int64_t m_uncertaintyNs = 0;
};
