#pragma once
// The download speed shown in "Speed_Txt": bytes are counted in a window that
// is closed and restarted once more than 500 ms have passed, so the text
// changes at most twice a second however small the reads are.
#include <cstdint>
#include <string>

class CSpeedWindow {
public:
    static constexpr std::int64_t windowMs = 500;

    explicit CSpeedWindow(std::int64_t nowMs) : m_startMs(nowMs) {}

    // Counts `bytes` read at `nowMs`. When more than 500 ms have passed since
    // the window began, returns the speed in bytes per second (window bytes
    // over the elapsed seconds, cut to a whole number; it may be 0) and
    // starts a new window at `nowMs`; otherwise -1.
    std::int64_t Add(std::int64_t bytes, std::int64_t nowMs);

    // The text for a speed: "%.2fKB" up to 1024 bytes per second, "%dKB" up
    // to 1 MB, "%dMB" up to 1 GB, "%dGB" above. Empty for 0 or less: the
    // shown text is then left as it is.
    static std::string FormatSpeed(std::int64_t bytesPerSecond);

private:
    std::int64_t m_startMs;
    std::int64_t m_bytes = 0;
};
