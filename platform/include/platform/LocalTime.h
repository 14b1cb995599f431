#pragma once
// Local time of day, as the program stamps its log with it.
#include <ctime>

namespace platform {

// The current local time, broken down.
std::tm LocalNow();

// Milliseconds on a monotonic clock (GetTickCount).
unsigned long long GetTickCount64();

} // namespace platform
