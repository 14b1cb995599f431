#pragma once
// Small POSIX socket helpers of the chat room: an owning socket handle and
// the address resolution of the room's host.
#include <netinet/in.h>

#include <cstdint>
#include <utility>

// Owns one socket descriptor; closes it on destruction.
class UniqueSocket {
public:
    UniqueSocket() = default;
    explicit UniqueSocket(int fd) : m_fd(fd) {}
    ~UniqueSocket() { Close(); }
    UniqueSocket(UniqueSocket &&o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    UniqueSocket &operator=(UniqueSocket &&o) noexcept
    {
        if (this != &o) {
            Close();
            m_fd = std::exchange(o.m_fd, -1);
        }
        return *this;
    }
    UniqueSocket(const UniqueSocket &) = delete;
    UniqueSocket &operator=(const UniqueSocket &) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    int Release() { return std::exchange(m_fd, -1); }
    void Close();

private:
    int m_fd = -1;
};

// Fills an IPv4 address: no host text (null) means any local address;
// otherwise a dotted address, else the first IPv4 address of the host name.
// False (errno EINVAL) when the text resolves to nothing. The port is stored
// in network order.
bool ResolveAddress(const char *host, std::uint16_t port, sockaddr_in &out);

// Sets O_NONBLOCK and FD_CLOEXEC on a socket.
bool MakeNonBlocking(int fd);

// Sends small packets at once instead of holding them back for the peer's
// acknowledgement (Nagle), so a chat line reaches everybody without a wait.
void SetNoDelay(int fd);
