// Win32 events on eventfd. The eventfd counter is the signalled state: it is
// non-zero while the event is set. An auto-reset wait consumes the counter
// with a non-blocking read; if another waiter got there first the read fails
// with EAGAIN and the wait goes on.
//
// A manual-reset event also keeps its state in an atomic flag, so that a test
// without waiting (WaitForSingleObject with time-out 0), which loops such as
// the downloader's make between every 1024-byte read, costs no system call.
#include "platform/Win32Event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <new>

namespace platform {

struct EventObject {
    int fd = -1;
    bool manualReset = false;
    std::atomic<bool> signalled{false}; // manual-reset events only
};

namespace {

thread_local DWORD t_lastError = 0;

bool Valid(HANDLE h)
{
    return h != nullptr && h != INVALID_HANDLE_VALUE && h->fd >= 0;
}

BOOL Fail(int err)
{
    t_lastError = static_cast<DWORD>(err);
    return 0;
}

// Takes the signal of an auto-reset event; false when it was already taken.
bool Consume(HANDLE h)
{
    std::uint64_t value = 0;
    for (;;) {
        if (::read(h->fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value))
            return true;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

HANDLE CreateEvent(bool manualReset, bool initialState)
{
    const int fd = ::eventfd(initialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        Fail(errno);
        return nullptr;
    }
    auto *event = new (std::nothrow) EventObject;
    if (!event) {
        ::close(fd);
        Fail(ENOMEM);
        return nullptr;
    }
    event->fd = fd;
    event->manualReset = manualReset;
    event->signalled.store(manualReset && initialState);
    return event;
}

BOOL SetEvent(HANDLE event)
{
    if (!Valid(event))
        return Fail(EBADF);
    const std::uint64_t one = 1;
    for (;;) {
        if (::write(event->fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one) ||
            errno == EAGAIN) { // EAGAIN: counter at its maximum, already signalled
            if (event->manualReset)
                event->signalled.store(true);
            return 1;
        }
        if (errno != EINTR)
            return Fail(errno);
    }
}

BOOL ResetEvent(HANDLE event)
{
    if (!Valid(event))
        return Fail(EBADF);
    if (event->manualReset)
        event->signalled.store(false);
    Consume(event);
    return 1;
}

BOOL CloseHandle(HANDLE event)
{
    if (!Valid(event))
        return Fail(EBADF);
    ::close(event->fd);
    delete event;
    return 1;
}

DWORD WaitForSingleObject(HANDLE event, DWORD timeoutMs)
{
    if (timeoutMs == 0 && Valid(event) && event->manualReset)
        return event->signalled.load() ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    return WaitForMultipleObjects(1, &event, 0, timeoutMs);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE *events, BOOL waitAll, DWORD timeoutMs)
{
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !events || waitAll) {
        Fail(EINVAL);
        return WAIT_FAILED;
    }
    pollfd fds[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i) {
        if (!Valid(events[i])) {
            Fail(EBADF);
            return WAIT_FAILED;
        }
        fds[i] = pollfd{events[i]->fd, POLLIN, 0};
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int waitMs = -1;
        if (timeoutMs != INFINITE) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            waitMs = left > 0 ? static_cast<int>(left) : 0;
        }
        const int n = ::poll(fds, count, waitMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
            return WAIT_FAILED;
        }
        for (DWORD i = 0; i < count && n > 0; ++i) {
            if (fds[i].revents & (POLLERR | POLLNVAL)) {
                Fail(EBADF);
                return WAIT_FAILED;
            }
            if (!(fds[i].revents & POLLIN))
                continue;
            if (events[i]->manualReset || Consume(events[i]))
                return WAIT_OBJECT_0 + i;
        }
        if (n == 0 && waitMs == 0)
            return WAIT_TIMEOUT;
    }
}

DWORD GetLastError()
{
    return t_lastError;
}
void SetLastError(DWORD error)
{
    t_lastError = error;
}

int EventFd(HANDLE event)
{
    return Valid(event) ? event->fd : -1;
}

} // namespace platform
