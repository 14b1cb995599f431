#pragma once
// Sends whole packets on one non-blocking socket, in order, and owns that
// socket. What the socket does not take at once waits here and goes out on
// Flush() when the socket is writable again. What waits is bounded: past the
// bound the peer counts as stalled, nothing more is sent and the owner drops
// the connection.
//
// Threads: Send, Flush and Close may be called from any thread; one lock
// guards the socket's sends and its closing, so a send never reaches a
// socket number that was closed and handed to someone else.
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "ChatSocket.h"

class CPacketSender {
public:
    enum Result {
        SENT,     // everything is out
        QUEUED,   // some bytes wait for Flush()
        FAILED,   // the bound was passed or the socket failed; the peer must go
        CLOSED,   // the socket was closed here
    };

    CPacketSender(UniqueSocket socket, std::size_t limitBytes);
    CPacketSender(const CPacketSender &) = delete;
    CPacketSender &operator=(const CPacketSender &) = delete;

    // The socket descriptor (for reading and notifications), -1 once closed.
    int Socket() const;
    Result Send(std::string_view packet);
    Result Flush();
    std::size_t Pending() const;
    void Close();

private:
    Result WriteLocked();

    mutable std::mutex m_mutex;
    UniqueSocket m_socket;
    std::size_t m_limit;
    std::string m_pending;
    std::size_t m_pendingAt = 0; // bytes of m_pending already sent
    bool m_failed = false;
};
