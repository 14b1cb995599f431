#pragma once
// CreateProcess with a process to wait on, and a stand-in for
// WaitForInputIdle, for programs that start another one and wait until it
// has come up (the web launcher's waiting start).
#include <string>

namespace platform {

// CreateProcessA(application, commandLine, ..., directory): starts the file
// `application` (a path; nothing is searched) with the words of
// `commandLine` split as SplitCommandLine splits them, the first word being
// the program's own name (its argv[0]). `directory` empty: the current one.
// The process id, or -1 when it could not be started. The caller does not
// have to wait for it.
long CreateProcess(const std::string &application, const std::string &commandLine,
                   const std::string &directory);

enum class InputIdleResult {
    Idle,     // the program runs and waits for something to do
    Ended,    // it ended before it came to rest
    TimedOut, // it was still busy when the time was up
    Failed,   // no such process of ours
};

// WaitForInputIdle: waits until the process has come to rest after its
// start. There is no input queue to watch here; a program counts as idle
// once it sleeps and uses no processor time over a whole sampling interval
// (50 ms), which is what a program waiting in its event loop does. Bounded
// by `timeoutMs`. A process that ended is reaped.
InputIdleResult WaitForInputIdle(long pid, int timeoutMs);

} // namespace platform
