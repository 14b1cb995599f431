#include "ChatSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

void UniqueSocket::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool ResolveAddress(const char *host, std::uint16_t port, sockaddr_in &out)
{
    std::memset(&out, 0, sizeof(out));
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (!host) {
        out.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    if (*host != '\0' && inet_pton(AF_INET, host, &out.sin_addr) == 1)
        return true;
    if (*host != '\0') {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &found) == 0 && found) {
            const auto *addr = reinterpret_cast<const sockaddr_in *>(found->ai_addr);
            out.sin_addr = addr->sin_addr;
            freeaddrinfo(found);
            return true;
        }
        if (found)
            freeaddrinfo(found);
    }
    errno = EINVAL;
    return false;
}

bool MakeNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    const int fdFlags = fcntl(fd, F_GETFD, 0);
    return fdFlags >= 0 && fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC) == 0;
}

void SetNoDelay(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}
