#pragma once
// Calls that must run on the window thread (the thread of the application
// object), made from any thread: a worker that asks the user something waits
// there for the answer, as a modal box would block it.
#include <functional>
#include <optional>

namespace platform {

// Runs `call` on the window thread and returns its answer; on the window
// thread itself it simply calls it. Empty when there is no application
// object or the call was dropped unrun (the application went first).
//
// The waiting thread meets the window thread through a promise, not Qt's
// blocking connection, so the thread sanitizer sees the answer handed over.
std::optional<int> CallOnWindowThread(const std::function<int()> &call);

} // namespace platform
