#include "CSpeedWindow.h"

#include <cstdio>

std::int64_t CSpeedWindow::Add(std::int64_t bytes, std::int64_t nowMs)
{
    m_bytes += bytes;
    const std::int64_t elapsedMs = nowMs - m_startMs;
    if (elapsedMs <= windowMs)
        return -1;
    const auto speed =
        static_cast<std::int64_t>(static_cast<double>(m_bytes) / (static_cast<double>(elapsedMs) / 1000.0));
    m_startMs = nowMs;
    m_bytes = 0;
    return speed;
}

std::string CSpeedWindow::FormatSpeed(std::int64_t bytesPerSecond)
{
    char text[64];
    if (bytesPerSecond <= 0)
        return std::string();
    if (bytesPerSecond <= 1024)
        std::snprintf(text, sizeof text, "%.2fKB", static_cast<double>(bytesPerSecond) / 1024.0);
    else if (bytesPerSecond <= 1048576)
        std::snprintf(text, sizeof text, "%dKB", static_cast<int>(bytesPerSecond >> 10));
    else if (bytesPerSecond <= 1073741824)
        std::snprintf(text, sizeof text, "%dMB", static_cast<int>(bytesPerSecond >> 20));
    else
        std::snprintf(text, sizeof text, "%dGB", static_cast<int>(bytesPerSecond >> 30));
    return text;
}
