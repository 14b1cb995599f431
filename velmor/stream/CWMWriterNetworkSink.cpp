#include "CWMWriterNetworkSink.h"

#include "AsfParser.h"
#include "MmsFraming.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxRequestBytes = 16 * 1024;
constexpr std::size_t kMaxQueuedBytes = 8 * 1024 * 1024;
constexpr int kSendBufferBytes = 64 * 1024;
// More simultaneous connections than this (players and unfinished requests)
// are closed at once, so a flood cannot exhaust descriptors.
constexpr std::size_t kMaxConnections = 256;
// A request whose last line lacks its line end (ffmpeg's MMS-over-HTTP client
// sends its last header so) counts as complete once the client has been quiet
// this long. A request that stops after a whole line is not complete: it
// waits for its blank line until kRequestTimeout, holding no player place.
constexpr auto kRequestQuiet = std::chrono::milliseconds(150);
// The packets since the last key frame are kept for players that join: a new
// player starts at once with that key frame instead of waiting up to a second
// for the next one. A bound in case key frames stop coming.
constexpr std::size_t kMaxKeptPackets = 512;

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool StartsWithNoCase(const std::string &text, const std::string &prefix)
{
    return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == Lower(prefix);
}

AsfBytes Share(std::vector<std::uint8_t> bytes)
{
    return std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
}
AsfBytes Share(const std::string &text)
{
    return Share(std::vector<std::uint8_t>(text.begin(), text.end()));
}

struct Request {
    bool valid = false;
    std::string method;
    bool framed = false;     // a Windows Media player: MMS-over-HTTP framing
    bool playStream = false; // "Pragma: xPlayStrm=1": the framed player wants the data
};

// Parses the request line and the headers we look at. Tolerant of bare "\n"
// line ends and a missing line end on the last line.
Request ParseRequest(const std::string &text)
{
    Request r;
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() && !lines.empty())
            break;
        if (!line.empty())
            lines.push_back(line);
        at = end + 1;
    }
    if (lines.empty())
        return r;
    const std::string &first = lines[0];
    const std::size_t sp = first.find(' ');
    if (sp == std::string::npos || first.find("HTTP/", sp) == std::string::npos)
        return r;
    r.method = first.substr(0, sp);
    r.valid = true;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string name = Lower(line.substr(0, colon));
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        if (name == "user-agent" && StartsWithNoCase(value, "NSPlayer"))
            r.framed = true;
        if (name == "pragma") {
            const std::string v = Lower(value);
            if (v.find("xclientguid") != std::string::npos)
                r.framed = true;
            if (v.find("xplaystrm=1") != std::string::npos)
                r.playStream = true;
        }
    }
    return r;
}

// A complete request ends with an empty line.
bool HasBlankLine(const std::string &text)
{
    return text.find("\r\n\r\n") != std::string::npos || text.find("\n\n") != std::string::npos;
}

} // namespace

struct CWMWriterNetworkSink::Shared {
    std::mutex lock;
    AsfBytes header;
    bool headerChanged = false;
    std::deque<AsfBytes> packets;
    bool ended = false;
    bool stop = false;
    platform::Event wake{false, false};
};

struct CWMWriterNetworkSink::Player {
    enum class State { Request, WaitHeader, Streaming };
    struct Out {
        AsfBytes data;
        std::size_t offset = 0;
        Clock::time_point queued;
    };

    int fd = -1;
    State state = State::Request;
    std::string request;
    Clock::time_point connected;
    Clock::time_point lastByte;
    bool framed = false;
    bool headerOnly = false; // the first request of a framed player
    bool counted = false;    // holds one of the player places
    bool waitingForKey = true;
    bool closeWhenFlushed = false;
    bool dead = false;
    bool lingering = false; // all sent and our side shut: waiting for the peer to close
    Clock::time_point lingerUntil;
    std::uint32_t sequence = 0;
    std::uint32_t clientId = 0;
    std::deque<Out> out;
    std::size_t queuedBytes = 0;

    void Queue(AsfBytes data, Clock::time_point now)
    {
        if (!data || data->empty())
            return;
        queuedBytes += data->size();
        out.push_back(Out{std::move(data), 0, now});
    }
};

CWMWriterNetworkSink::CWMWriterNetworkSink() : m_shared(std::make_unique<Shared>()) {}

CWMWriterNetworkSink::~CWMWriterNetworkSink()
{
    Close();
}

HRESULT CWMWriterNetworkSink::SetNetworkProtocol(WMT_NET_PROTOCOL protocol)
{
    return protocol == WMT_PROTOCOL_HTTP ? S_OK : E_INVALIDARG;
}

HRESULT CWMWriterNetworkSink::SetMaximumClients(DWORD maxClients)
{
    m_maxClients = maxClients;
    return S_OK;
}

HRESULT CWMWriterNetworkSink::GetMaximumClients(DWORD *maxClients) const
{
    if (!maxClients)
        return E_POINTER;
    *maxClients = m_maxClients;
    return S_OK;
}

HRESULT CWMWriterNetworkSink::Open(DWORD *port)
{
    if (!port)
        return E_POINTER;
    if (*port > 65535)
        return E_INVALIDARG;
    if (m_listenFd >= 0)
        return E_UNEXPECTED;
    if (!m_shared->wake.IsValid())
        return HRESULT_FROM_ERRNO(static_cast<int>(platform::GetLastError()));
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return HRESULT_FROM_ERRNO(errno);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<std::uint16_t>(*port));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0) {
        const int err = errno;
        ::close(fd);
        return HRESULT_FROM_ERRNO(err);
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    m_listenFd = fd;
    m_port = ntohs(addr.sin_port);
    *port = m_port;
    {
        std::lock_guard<std::mutex> lock(m_shared->lock);
        m_shared->stop = false;
        m_shared->ended = false;
    }
    try {
        m_thread = std::thread(&CWMWriterNetworkSink::Serve, this);
        m_serving.store(true, std::memory_order_release);
    } catch (const std::system_error &e) {
        ::close(m_listenFd);
        m_listenFd = -1;
        return HRESULT_FROM_ERRNO(e.code().value());
    }
    return S_OK;
}

HRESULT CWMWriterNetworkSink::Close()
{
    m_serving.store(false, std::memory_order_release);
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_shared->lock);
            m_shared->stop = true;
        }
        m_shared->wake.Set();
        m_thread.join();
    }
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
    }
    return S_OK;
}

void CWMWriterNetworkSink::OnHeader(AsfBytes header)
{
    {
        std::lock_guard<std::mutex> lock(m_shared->lock);
        m_shared->header = std::move(header);
        m_shared->headerChanged = true;
        m_shared->ended = false;
    }
    m_shared->wake.Set();
}

void CWMWriterNetworkSink::OnDataUnit(AsfBytes packet)
{
    {
        std::lock_guard<std::mutex> lock(m_shared->lock);
        if (!m_serving.load(std::memory_order_acquire)) // not serving: nobody to send to
            return;
        m_shared->packets.push_back(std::move(packet));
    }
    m_shared->wake.Set();
}

void CWMWriterNetworkSink::OnEndWriting()
{
    {
        std::lock_guard<std::mutex> lock(m_shared->lock);
        m_shared->ended = true;
    }
    m_shared->wake.Set();
}

void CWMWriterNetworkSink::Serve()
{
    ::pthread_setname_np(::pthread_self(), "velmor-netsink");
    std::list<Player> players;
    AsfBytes header;
    int videoStream = 0;
    // The packets from the last key frame on; the first one trimmed for a
    // joining player.
    std::deque<AsfBytes> sinceKey;
    bool ended = false;
    bool stopping = false;
    Clock::time_point flushDeadline{};
    std::uint32_t nextClientId = 1;
    std::vector<pollfd> fds;
    std::vector<Player *> polled;

    auto closePlayer = [&](Player &p) {
        if (p.fd >= 0)
            ::close(p.fd);
        p.fd = -1;
        if (p.counted) {
            p.counted = false;
            --m_playerCount;
        }
        p.dead = true;
    };

    auto responseHead = [&](Player &p, long contentLength) {
        std::string head =
            "HTTP/1.0 200 OK\r\nServer: Velmor/1.0\r\nCache-Control: no-cache\r\nPragma: no-cache\r\n";
        if (p.framed) {
            head += "Content-Type: application/x-mms-framed\r\n";
            head += "Pragma: client-id=" + std::to_string(p.clientId) + "\r\n";
            head += "Pragma: features=\"broadcast\"\r\n";
        } else {
            head += "Content-Type: video/x-ms-asf\r\n";
        }
        if (contentLength >= 0)
            head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
        head += "Connection: close\r\n\r\n";
        return head;
    };

    auto queuePacket = [&](Player &p, const AsfBytes &packet, Clock::time_point now) {
        if (p.framed)
            p.Queue(Share(mms::MakeChunk(mms::kDataChunk, p.sequence++, 0, packet->data(), packet->size())),
                    now);
        else
            p.Queue(packet, now);
    };

    // Sends the response head and the stream header to a player whose
    // request has been accepted, now that a header exists, and the stream
    // from the last key frame on.
    auto startPlayer = [&](Player &p, Clock::time_point now) {
        if (p.framed) {
            std::vector<std::uint8_t> chunk =
                mms::MakeChunk(mms::kHeaderChunk, p.sequence++, 0x0C00, header->data(), header->size());
            if (chunk.empty()) {
                closePlayer(p);
                return;
            }
            if (p.headerOnly) {
                p.Queue(Share(responseHead(p, static_cast<long>(chunk.size()))), now);
                p.Queue(Share(std::move(chunk)), now);
                p.closeWhenFlushed = true;
            } else {
                p.Queue(Share(responseHead(p, -1)), now);
                p.Queue(Share(std::move(chunk)), now);
            }
        } else {
            p.Queue(Share(responseHead(p, -1)), now);
            p.Queue(header, now);
        }
        p.state = Player::State::Streaming;
        p.waitingForKey = true;
        if (p.closeWhenFlushed || sinceKey.empty())
            return;
        for (const AsfBytes &packet : sinceKey)
            queuePacket(p, packet, now);
        p.waitingForKey = false;
    };

    auto refuse = [&](Player &p, const char *status, Clock::time_point now) {
        const std::string body = std::string(status) + "\r\n";
        p.Queue(Share(std::string("HTTP/1.0 ") + status +
                      "\r\nServer: Velmor/1.0\r\nContent-Type: text/plain\r\n" + "Content-Length: " +
                      std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body),
                now);
        p.closeWhenFlushed = true;
        p.state = Player::State::Streaming;
        p.waitingForKey = false;
    };

    auto handleRequest = [&](Player &p, Clock::time_point now) {
        const Request r = ParseRequest(p.request);
        p.request.clear();
        p.request.shrink_to_fit();
        if (!r.valid || (r.method != "GET" && r.method != "HEAD")) {
            refuse(p, "400 Bad Request", now);
            return;
        }
        if (ended || stopping) {
            refuse(p, "503 Service Unavailable", now);
            return;
        }
        if (r.method == "HEAD") { // what the stream is, without it
            p.framed = r.framed;
            p.Queue(Share(responseHead(p, -1)), now);
            p.closeWhenFlushed = true;
            p.state = Player::State::Streaming;
            p.waitingForKey = false;
            return;
        }
        if (static_cast<DWORD>(m_playerCount.load()) >= m_maxClients.load()) {
            ++m_playersRefused;
            refuse(p, "503 Service Unavailable", now);
            return;
        }
        p.counted = true;
        ++m_playerCount;
        p.framed = r.framed;
        p.headerOnly = r.framed && !r.playStream;
        p.clientId = nextClientId++;
        p.state = Player::State::WaitHeader;
        if (header)
            startPlayer(p, now);
    };

    auto endStreams = [&](Clock::time_point now) {
        for (Player &p : players) {
            if (p.dead)
                continue;
            if (p.state != Player::State::Streaming) {
                closePlayer(p);
                continue;
            }
            if (p.framed && !p.closeWhenFlushed)
                p.Queue(Share(mms::MakeEndOfBroadcastChunk()), now);
            p.closeWhenFlushed = true;
        }
        // Never past the moment the closing owner set.
        flushDeadline = std::min(now + kEndFlushTime, Clock::time_point(Clock::duration(m_endBy.load())));
    };

    for (;;) {
        fds.clear();
        polled.clear();
        fds.push_back(pollfd{platform::EventFd(m_shared->wake.Get()), POLLIN, 0});
        fds.push_back(pollfd{m_listenFd, POLLIN, 0});
        for (Player &p : players) {
            short events = POLLIN;
            if (!p.out.empty())
                events |= POLLOUT;
            fds.push_back(pollfd{p.fd, events, 0});
            polled.push_back(&p);
        }
        const int n = ::poll(fds.data(), fds.size(), 100);
        const Clock::time_point now = Clock::now();
        if (n < 0 && errno != EINTR)
            break;

        // Whatever the writer handed over.
        std::deque<AsfBytes> packets;
        bool newHeader = false;
        if (fds[0].revents & POLLIN) {
            m_shared->wake.Wait(0);
            std::lock_guard<std::mutex> lock(m_shared->lock);
            packets.swap(m_shared->packets);
            if (m_shared->headerChanged) {
                header = m_shared->header;
                m_shared->headerChanged = false;
                newHeader = true;
            }
            if (m_shared->stop)
                stopping = true;
            if (m_shared->ended && !ended) {
                ended = true;
            }
        }
        if (newHeader && header) {
            const auto info = asf::ParseHeader(header->data(), header->size());
            videoStream = info ? info->videoStream : 0;
            sinceKey.clear();
            for (Player &p : players)
                if (!p.dead && p.state == Player::State::WaitHeader)
                    startPlayer(p, now);
        }
        for (const AsfBytes &packet : packets) {
            const bool keyStart =
                videoStream == 0 || asf::StartsVideoKeyFrame(packet->data(), packet->size(), videoStream);
            // For players that start here: without earlier frames that would
            // need a picture they never got.
            AsfBytes joinPacket = packet;
            bool joinChecked = false;
            for (Player &p : players) {
                if (p.dead || p.state != Player::State::Streaming || p.closeWhenFlushed)
                    continue;
                if (p.waitingForKey && !keyStart)
                    continue;
                AsfBytes send = packet;
                if (p.waitingForKey) {
                    if (!joinChecked && videoStream) {
                        if (auto trimmed = asf::MakeJoinPacket(packet->data(), packet->size(), videoStream))
                            joinPacket = Share(std::move(*trimmed));
                        joinChecked = true;
                    }
                    send = joinPacket;
                    p.waitingForKey = false;
                }
                queuePacket(p, send, now);
            }
            if (keyStart && videoStream) {
                if (!joinChecked)
                    if (auto trimmed = asf::MakeJoinPacket(packet->data(), packet->size(), videoStream))
                        joinPacket = Share(std::move(*trimmed));
                sinceKey.clear();
                sinceKey.push_back(joinPacket);
            } else if (!sinceKey.empty()) {
                if (sinceKey.size() < kMaxKeptPackets)
                    sinceKey.push_back(packet);
                else
                    sinceKey.clear(); // too far from a key frame to start there
            }
        }
        if ((ended || stopping) && flushDeadline == Clock::time_point{})
            endStreams(now);

        // New connections.
        if (fds[1].revents & POLLIN) {
            for (;;) {
                const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0)
                    break;
                if (players.size() >= kMaxConnections || stopping) {
                    ::close(fd);
                    continue;
                }
                const int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                // A modest kernel buffer per player: a player that stops
                // reading shows up in our own queue (and is dropped) within
                // seconds instead of hiding megabytes in the kernel.
                const int sendBuffer = kSendBufferBytes;
                ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
                Player p;
                p.fd = fd;
                p.connected = p.lastByte = now;
                players.push_back(std::move(p));
            }
        }

        // Reads and writes of the polled players.
        for (std::size_t i = 0; i < polled.size(); ++i) {
            Player &p = *polled[i];
            const short rev = fds[i + 2].revents;
            if (p.dead)
                continue;
            if (rev & (POLLIN | POLLHUP | POLLERR)) {
                char buf[4096];
                const ssize_t got = ::recv(p.fd, buf, sizeof buf, 0);
                if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                    closePlayer(p);
                    continue;
                }
                if (got > 0 && p.state == Player::State::Request) {
                    p.request.append(buf, static_cast<std::size_t>(got));
                    p.lastByte = now;
                    if (p.request.size() > kMaxRequestBytes)
                        refuse(p, "400 Bad Request", now);
                    else if (HasBlankLine(p.request))
                        handleRequest(p, now);
                }
            }
            if ((rev & POLLOUT) && !p.out.empty()) {
                while (!p.out.empty()) {
                    Player::Out &o = p.out.front();
                    const ssize_t sent = ::send(p.fd, o.data->data() + o.offset, o.data->size() - o.offset,
                                                MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (sent < 0) {
                        if (errno != EAGAIN && errno != EINTR)
                            closePlayer(p);
                        break;
                    }
                    o.offset += static_cast<std::size_t>(sent);
                    if (o.offset < o.data->size())
                        break;
                    p.queuedBytes -= o.data->size();
                    p.out.pop_front();
                }
            }
        }

        // Time-outs, slow players and finished ones.
        const auto maxLag = std::chrono::milliseconds(m_maxLagMs.load());
        for (Player &p : players) {
            if (p.dead)
                continue;
            if (p.state == Player::State::Request) {
                const bool quietWithOpenLastLine = !p.request.empty() && p.request.back() != '\n' &&
                                                   p.request.find('\n') != std::string::npos &&
                                                   now - p.lastByte >= kRequestQuiet;
                if (quietWithOpenLastLine)
                    handleRequest(p, now);
                else if (now - p.connected > kRequestTimeout)
                    closePlayer(p);
                continue;
            }
            if (!p.out.empty() && (now - p.out.front().queued > maxLag || p.queuedBytes > kMaxQueuedBytes)) {
                ++m_playersDropped;
                closePlayer(p);
                continue;
            }
            // Done: shut our side and let the peer read everything before the
            // socket closes (closing with unread input would reset it).
            if (p.closeWhenFlushed && p.out.empty() && !p.lingering) {
                ::shutdown(p.fd, SHUT_WR);
                p.lingering = true;
                p.lingerUntil = now + std::chrono::milliseconds(1000);
                if (p.counted) {
                    p.counted = false;
                    --m_playerCount;
                }
            }
            if (p.lingering && now >= p.lingerUntil)
                closePlayer(p);
        }
        players.remove_if([](const Player &p) { return p.dead; });

        if (stopping && (players.empty() || now >= flushDeadline))
            break;
        if (ended && flushDeadline != Clock::time_point{} && now >= flushDeadline) {
            for (Player &p : players)
                if (p.closeWhenFlushed)
                    closePlayer(p);
            players.remove_if([](const Player &p) { return p.dead; });
        }
    }
    for (Player &p : players)
        closePlayer(p);
}
