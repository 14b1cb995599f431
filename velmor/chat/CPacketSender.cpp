#include "CPacketSender.h"

#include <sys/socket.h>

#include <cerrno>

CPacketSender::CPacketSender(UniqueSocket socket, std::size_t limitBytes)
    : m_socket(std::move(socket)), m_limit(limitBytes)
{
}

int CPacketSender::Socket() const
{
    std::lock_guard lock(m_mutex);
    return m_socket.Get();
}

CPacketSender::Result CPacketSender::Send(std::string_view packet)
{
    std::lock_guard lock(m_mutex);
    if (!m_socket.IsValid())
        return CLOSED;
    if (m_failed)
        return FAILED;
    m_pending.append(packet);
    const Result r = WriteLocked();
    if (r == QUEUED && m_pending.size() - m_pendingAt > m_limit) {
        // The peer has stopped reading: give up on it rather than let
        // its backlog grow without end.
        m_failed = true;
        m_pending.clear();
        m_pendingAt = 0;
        return FAILED;
    }
    return r;
}

CPacketSender::Result CPacketSender::Flush()
{
    std::lock_guard lock(m_mutex);
    if (!m_socket.IsValid())
        return CLOSED;
    if (m_failed)
        return FAILED;
    return WriteLocked();
}

std::size_t CPacketSender::Pending() const
{
    std::lock_guard lock(m_mutex);
    return m_pending.size() - m_pendingAt;
}

void CPacketSender::Close()
{
    std::lock_guard lock(m_mutex);
    m_socket.Close();
    m_pending.clear();
    m_pendingAt = 0;
}

CPacketSender::Result CPacketSender::WriteLocked()
{
    while (m_pendingAt < m_pending.size()) {
        const ssize_t n = ::send(m_socket.Get(), m_pending.data() + m_pendingAt, m_pending.size() - m_pendingAt,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_pendingAt += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Keep the waiting bytes compact so a long-lived queue does not grow.
            if (m_pendingAt > 0 && m_pendingAt >= m_pending.size() / 2) {
                m_pending.erase(0, m_pendingAt);
                m_pendingAt = 0;
            }
            return QUEUED;
        }
        m_failed = true;
        m_pending.clear();
        m_pendingAt = 0;
        return FAILED;
    }
    m_pending.clear();
    m_pendingAt = 0;
    return SENT;
}
