#pragma once
// Helpers of the chat tests: an event loop to spin, recorders for the three
// room interfaces, a raw TCP peer that speaks the wire format byte by byte,
// and packets built by hand from the protocol tables.
#include "IChatDisplay.h"
#include "IChatMainWindow.h"
#include "IChatMemberView.h"

#include "platform/CodePage.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <mutex>
#include <string>
#include <vector>

namespace chattest {

inline void EnsureApp()
{
    static int argc = 1;
    static char name[] = "chat_tests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

// Runs the event loop until `done` holds or `timeoutMs` passes.
inline bool SpinUntil(const std::function<bool()> &done, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ::usleep(500);
    }
    return true;
}

// Runs the event loop for `ms` milliseconds.
inline void SpinFor(int ms)
{
    SpinUntil([] { return false; }, ms);
}

inline std::string A(const char *utf8) { return platform::Utf8ToAnsi(utf8); }

// --- Packets by hand ---------------------------------------------------------
inline std::string Le32(std::uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}
inline std::string Byte(unsigned v) { return std::string(1, static_cast<char>(v)); }
// A 15-byte name field: the CP949 bytes, then zeros.
inline std::string Field(const std::string &ansi)
{
    std::string f = ansi;
    f.resize(15, '\0');
    return f;
}
// Frame of a packet with a payload: total, kind, payload length, payload.
inline std::string Frame(unsigned kind, const std::string &payload)
{
    return Le32(static_cast<std::uint32_t>(9 + payload.size())) + Byte(kind) +
           Le32(static_cast<std::uint32_t>(payload.size())) + payload;
}
inline std::string Member(const std::string &ansi, unsigned flag) { return Field(ansi) + Byte(flag); }
inline std::string Message(const std::string &ansiName, unsigned flag, const std::string &ansiText)
{
    return Frame(13, Member(ansiName, flag) + ansiText + std::string(1, '\0'));
}
inline std::string Rename(const std::string &oldAnsi, const std::string &newAnsi)
{
    return Frame(14, Field(oldAnsi) + Field(newAnsi));
}
inline const std::string kRequest = std::string("\x05\x00\x00\x00\x0a", 5);
inline const std::string kRoomFull = std::string("\x05\x00\x00\x00\x0f", 5);

// --- Recorders ---------------------------------------------------------------
struct Line {
    std::string text;
    unsigned rgb;
    int twips;
    bool indent;
    bool operator==(const Line &) const = default;
};

inline void PrintTo(const Line &l, std::ostream *os)
{
    *os << "{\"" << l.text << "\", 0x" << std::hex << l.rgb << std::dec << ", " << l.twips << ", " << l.indent << "}";
}

class RecordingDisplay : public IChatDisplay {
public:
    void AddText(const std::string &text, unsigned rgb, int twips, bool indent) override
    {
        if (onAdd)
            onAdd(text);
        std::lock_guard lock(m_mutex);
        m_lines.push_back(Line{text, rgb, twips, indent});
    }
    std::vector<Line> Lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    std::size_t Count() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines.size();
    }
    bool Has(const std::string &text) const
    {
        std::lock_guard lock(m_mutex);
        for (const Line &l : m_lines)
            if (l.text == text)
                return true;
        return false;
    }
    std::size_t CountOf(const std::string &text) const
    {
        std::lock_guard lock(m_mutex);
        std::size_t n = 0;
        for (const Line &l : m_lines)
            n += l.text == text;
        return n;
    }
    std::function<void(const std::string &)> onAdd; // set before the room starts

private:
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
};

// Mirrors the member table row for row from its change reports.
class MirrorMembers : public IChatMemberView {
public:
    struct Row {
        std::string name;
        int flag;
        bool operator==(const Row &) const = default;
    };
    void OnMemberAdded(int row, const std::string &name, int flag) override
    {
        std::lock_guard lock(m_mutex);
        if (row != static_cast<int>(m_rows.size()))
            m_badReports++;
        m_rows.push_back(Row{name, flag});
    }
    void OnMemberRemoved(int row) override
    {
        std::lock_guard lock(m_mutex);
        if (row < 0 || row >= static_cast<int>(m_rows.size())) {
            m_badReports++;
            return;
        }
        m_rows.erase(m_rows.begin() + row);
    }
    void OnMemberRenamed(int row, const std::string &name) override
    {
        std::lock_guard lock(m_mutex);
        if (row < 0 || row >= static_cast<int>(m_rows.size())) {
            m_badReports++;
            return;
        }
        m_rows[static_cast<std::size_t>(row)].name = name;
    }
    friend void PrintTo(const Row &r, std::ostream *os) { *os << "{\"" << r.name << "\", " << r.flag << "}"; }
    std::vector<Row> Rows() const
    {
        std::lock_guard lock(m_mutex);
        return m_rows;
    }
    int BadReports() const
    {
        std::lock_guard lock(m_mutex);
        return m_badReports;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Row> m_rows;
    int m_badReports = 0;
};

class RecordingMainWindow : public IChatMainWindow {
public:
    void OnChatConnectResult(int ok) override { (ok ? connected : failed)++; }
    void OnChatRoomClosed() override { closed++; }
    void OnChatRoomFull() override { full++; }
    int connected = 0, failed = 0, closed = 0, full = 0;
};

// --- A raw peer ----------------------------------------------------------------
// A TCP client on 127.0.0.1 that sends bytes as given and reads whole frames.
// Every wait spins the event loop, because the room under test lives on this
// thread too.
class RawPeer {
public:
    explicit RawPeer(std::uint16_t port, int rcvbuf = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (rcvbuf > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof(rcvbuf));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_ok = ::connect(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
    }
    explicit RawPeer(int acceptedFd) : m_fd(acceptedFd), m_ok(acceptedFd >= 0) {}
    ~RawPeer() { Close(); }
    RawPeer(const RawPeer &) = delete;
    RawPeer &operator=(const RawPeer &) = delete;

    bool Ok() const { return m_ok; }
    int Fd() const { return m_fd; }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool Send(const std::string &bytes)
    {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            at += static_cast<std::size_t>(n);
        }
        return true;
    }
    // Reads what has arrived into the buffer; false at end of stream.
    bool Pump()
    {
        char buf[8192];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buf, sizeof(buf), MSG_DONTWAIT);
            if (n > 0) {
                m_in.append(buf, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0) {
                m_eof = true;
                return false;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            m_eof = true;
            return false;
        }
    }
    // The next whole frame (by its first four bytes), or "" after timeout.
    std::string ReadPacket(int timeoutMs = 5000)
    {
        std::string out;
        SpinUntil(
            [&] {
                Pump();
                if (m_in.size() >= 4) {
                    std::uint32_t len = 0;
                    std::memcpy(&len, m_in.data(), 4);
                    if (len >= 4 && m_in.size() >= len) {
                        out = m_in.substr(0, len);
                        m_in.erase(0, len);
                        return true;
                    }
                }
                return m_eof;
            },
            timeoutMs);
        return out;
    }
    // Waits for the end of the stream; true when it came.
    bool WaitClosed(int timeoutMs = 5000)
    {
        return SpinUntil(
            [&] {
                Pump();
                return m_eof;
            },
            timeoutMs);
    }
    // Nothing more arrives within `ms`.
    bool Quiet(int ms = 150)
    {
        SpinFor(ms);
        Pump();
        return m_in.empty();
    }
    const std::string &Buffered() const { return m_in; }
    void Discard() { m_in.clear(); }

private:
    int m_fd = -1;
    bool m_ok = false;
    bool m_eof = false;
    std::string m_in;
};

} // namespace chattest
