#pragma once
// Win32-style event objects on Linux: each event is an eventfd, so a thread
// can wait on several of them at once and on sockets alongside them.
//
//  - Auto-reset: a successful wait clears the event, so exactly one waiter
//    wakes per signal and many SetEvent calls before a wait coalesce into one
//    wake-up.
//  - Manual-reset: stays signalled until ResetEvent; every waiter wakes.
//
// Failures return 0 / WAIT_FAILED / a null handle and leave the reason in
// GetLastError() (an errno value, per thread).
#include "platform/Win32Types.h"

namespace platform {

struct EventObject;
using HANDLE = EventObject *;

// The "no event yet" marker that fields holding an event start with.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~static_cast<unsigned long>(0));

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// CreateEvent(NULL, manualReset, initialState, NULL). Null on failure.
HANDLE CreateEvent(bool manualReset, bool initialState);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Closes the event. Nobody may wait on it any more.
BOOL CloseHandle(HANDLE event);

DWORD WaitForSingleObject(HANDLE event, DWORD timeoutMs);
// Waits for any of `count` events (waitAll must be 0; waiting for all is
// not offered). Returns WAIT_OBJECT_0 + index of the lowest signalled event,
// WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE *events, BOOL waitAll, DWORD timeoutMs);

// The error of this thread's last failed call of this layer (errno values).
DWORD GetLastError();
void SetLastError(DWORD error);

// The eventfd behind an event, for poll(); -1 for an invalid handle.
int EventFd(HANDLE event);

// Owns one event and closes it when it goes.
class Event {
public:
    Event(bool manualReset, bool initialState) : m_handle(CreateEvent(manualReset, initialState)) {}
    ~Event()
    {
        if (m_handle)
            CloseHandle(m_handle);
    }
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    bool IsValid() const { return m_handle != nullptr; }
    HANDLE Get() const { return m_handle; }
    bool Set() { return SetEvent(m_handle) != 0; }
    bool Reset() { return ResetEvent(m_handle) != 0; }
    DWORD Wait(DWORD timeoutMs = INFINITE) { return WaitForSingleObject(m_handle, timeoutMs); }

private:
    HANDLE m_handle;
};

} // namespace platform
