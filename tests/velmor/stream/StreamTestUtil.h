#pragma once
// Helpers shared by the stream tests: synthetic frames, running the real
// players (ffprobe, ffmpeg) and reading what they print.
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace streamtest {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr std::size_t kFrameBytes = kWidth * kHeight * 3;

// A bottom-up 24-bit BGR frame of one colour.
inline std::vector<unsigned char> SolidFrame(unsigned char r, unsigned char g, unsigned char b)
{
    std::vector<unsigned char> f(kFrameBytes);
    for (std::size_t i = 0; i < f.size(); i += 3) {
        f[i] = b;
        f[i + 1] = g;
        f[i + 2] = r;
    }
    return f;
}

// Runs a shell command and returns what it printed on stdout (stderr is
// kept when merge is set).
inline std::string Capture(const std::string &command, bool mergeStderr = false)
{
    std::string cmd = command + (mergeStderr ? " 2>&1" : " 2>/dev/null");
    std::string out;
    if (FILE *p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// Runs a shell command; returns its exit status and what it printed (stdout
// and stderr merged).
inline int RunShell(const std::string &command, std::string *output = nullptr)
{
    std::string out;
    int status = -1;
    if (FILE *p = ::popen((command + " 2>&1").c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        status = ::pclose(p);
    }
    if (output)
        *output = out;
    return status == -1 ? -1 : WEXITSTATUS(status);
}

// Mean R, G, B of an RGB24 picture region.
struct Rgb {
    double r = 0, g = 0, b = 0;
};
inline Rgb MeanColour(const unsigned char *rgb, int width, int x0, int y0, int w, int h)
{
    Rgb m;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            const unsigned char *p = rgb + (static_cast<std::size_t>(y) * width + x) * 3;
            m.r += p[0];
            m.g += p[1];
            m.b += p[2];
        }
    const double n = static_cast<double>(w) * h;
    m.r /= n;
    m.g /= n;
    m.b /= n;
    return m;
}

} // namespace streamtest

// ---------------------------------------------------------------------------
// A raw HTTP client on loopback, for what the real players cannot show
// (counts, refusals, framing bytes, the moment data arrives).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace streamtest {

class RawClient {
public:
    RawClient() = default;
    ~RawClient() { Close(); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    // Connects; a small receive buffer makes a client that stops reading
    // fall behind quickly.
    bool Connect(int port, int receiveBuffer = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            return false;
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    bool Send(const std::string &text)
    {
        return ::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
    }
    bool Get(int port, const std::string &extraHeaders = "", int receiveBuffer = 0)
    {
        return Connect(port, receiveBuffer) &&
               Send("GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
    }
    // Reads until at least `bytes` are buffered, the peer closes, or the time
    // runs out. Returns whether `bytes` are there.
    bool ReadAtLeast(std::size_t bytes, int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (data.size() < bytes && !closed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                break;
            ReadSome(static_cast<int>(left));
        }
        return data.size() >= bytes;
    }
    // Reads until the peer closes or the time runs out; true when closed.
    bool ReadToEnd(int timeoutMs)
    {
        ReadAtLeast(static_cast<std::size_t>(-1), timeoutMs);
        return closed;
    }
    void ReadSome(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return;
        char buf[65536];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0)
            closed = true;
        else
            data.append(buf, static_cast<std::size_t>(n));
    }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // The body after the response head, or empty while the head is incomplete.
    std::string Body() const
    {
        const std::size_t at = data.find("\r\n\r\n");
        return at == std::string::npos ? std::string() : data.substr(at + 4);
    }
    std::string Head() const { return data.substr(0, data.find("\r\n\r\n")); }

    std::string data;
    bool closed = false;

private:
    int m_fd = -1;
};

} // namespace streamtest
