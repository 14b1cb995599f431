// Chat room benchmark: one host room on its own thread (as the window thread
// of the broadcaster) and 51 guests, all on loopback.
//
// Guests are either full guest rooms (each with its receive thread, showing
// lines through the room's display path, all on the main thread's event
// loop) or, with --light, plain sockets read by the main thread with poll,
// which leaves the two cores to the host alone, as when every viewer sits at
// a machine of their own.
//
// Phase 1 speaks 1000 lines per second in total, round robin over the
// guests, and measures for every line the time from the guest's send to the
// moment the last of the guests has it. Phase 2 speaks as fast as the room
// relays (at most 200 lines in flight) and counts lines relayed per second.
//
//   chat_bench [--light] [seconds-per-phase] [guests]
#include "CChatRoom.h"
#include "ChatProtocol.h"
#include "IChatDisplay.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Tracker {
    struct Pending {
        Clock::time_point sent;
        int seen = 0;
    };
    std::unordered_map<long, Pending> pending;
    std::vector<double> latenciesMs;
    long completed = 0;
    int guests = 0;

    void Sent(long id) { pending[id] = Pending{Clock::now(), 0}; }
    void Seen(long id)
    {
        auto it = pending.find(id);
        if (it == pending.end())
            return;
        if (++it->second.seen == guests) {
            latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - it->second.sent).count());
            ++completed;
            pending.erase(it);
        }
    }
};

// Takes the line number out of each chat text ("#<id> ...").
void SeenText(Tracker &t, const std::string &text)
{
    if (text.rfind("#", 0) == 0)
        t.Seen(std::strtol(text.c_str() + 1, nullptr, 10));
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t at = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())));
    return v[at];
}

bool Spin(const std::function<bool()> &done, int timeoutMs, const std::function<void()> &pump)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        pump();
    }
    return true;
}

// The guests of one run.
class Guests {
public:
    virtual ~Guests() = default;
    virtual bool Join(std::uint16_t port) = 0;
    virtual void Speak(std::size_t guest, const std::string &text) = 0;
    virtual void Pump() = 0; // lets arrivals be counted
    virtual std::size_t Count() const = 0;
};

// Full guest rooms on the main thread.
class RoomGuests final : public Guests, private IChatDisplay {
public:
    RoomGuests(Tracker &t, int count) : m_tracker(t), m_count(count) {}
    bool Join(std::uint16_t port) override
    {
        for (int i = 0; i < m_count; ++i) {
            m_rooms.push_back(std::make_unique<CChatRoom>(static_cast<IChatDisplay *>(this), nullptr, nullptr));
            m_rooms.back()->StartConnecting("127.0.0.1", port);
        }
        return Spin(
            [&] {
                for (const auto &g : m_rooms)
                    if (g->OwnFlag() != MEMBER_SELF)
                        return false;
                return true;
            },
            20000, [this] { Pump(); });
    }
    void Speak(std::size_t guest, const std::string &text) override { m_rooms[guest]->SpeakLine(text); }
    void Pump() override { QCoreApplication::processEvents(QEventLoop::AllEvents, 1); }
    std::size_t Count() const override { return m_rooms.size(); }

private:
    void AddText(const std::string &text, unsigned, int, bool indent) override
    {
        if (indent)
            SeenText(m_tracker, text);
    }
    Tracker &m_tracker;
    int m_count;
    std::vector<std::unique_ptr<CChatRoom>> m_rooms;
};

// Plain sockets that speak the wire format, read with poll on this thread.
class LightGuests final : public Guests {
public:
    LightGuests(Tracker &t, int count) : m_tracker(t), m_count(count) {}
    ~LightGuests() override
    {
        for (const Peer &p : m_peers)
            ::close(p.fd);
    }
    bool Join(std::uint16_t port) override
    {
        for (int i = 0; i < m_count; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(port);
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0)
                return false;
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
            const ChatPacket request = chat::BuildUserListRequest();
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            m_peers.push_back(Peer{fd, {}, false});
        }
        return Spin(
            [&] {
                for (const Peer &p : m_peers)
                    if (!p.listed)
                        return false;
                return true;
            },
            20000, [this] { Pump(); });
    }
    void Speak(std::size_t guest, const std::string &text) override
    {
        const ChatPacket p = chat::BuildMessage("guest", MEMBER_SELF, text);
        ::send(m_peers[guest].fd, p.data(), p.size(), MSG_NOSIGNAL);
    }
    void Pump() override
    {
        std::vector<pollfd> fds(m_peers.size());
        for (std::size_t i = 0; i < m_peers.size(); ++i)
            fds[i] = pollfd{m_peers[i].fd, POLLIN, 0};
        if (::poll(fds.data(), fds.size(), 1) <= 0)
            return;
        char buf[16384];
        for (std::size_t i = 0; i < m_peers.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            Peer &p = m_peers[i];
            const ssize_t n = ::recv(p.fd, buf, sizeof(buf), MSG_DONTWAIT);
            if (n <= 0)
                continue;
            p.in.append(buf, static_cast<std::size_t>(n));
            std::size_t at = 0;
            while (p.in.size() - at >= 5) {
                const std::uint32_t len = chat::ReadU32(p.in.data() + at);
                if (len < 5 || p.in.size() - at < len)
                    break;
                const std::string_view packet(p.in.data() + at, len);
                if (chat::PacketKind(packet) == CHAT_USERLIST)
                    p.listed = true;
                chat::LineInfo line;
                if (chat::PacketKind(packet) == CHAT_MESSAGE && chat::ParseMessage(packet, line))
                    SeenText(m_tracker, line.text);
                at += len;
            }
            p.in.erase(0, at);
        }
    }
    std::size_t Count() const override { return m_peers.size(); }

private:
    struct Peer {
        int fd;
        std::string in;
        bool listed;
    };
    Tracker &m_tracker;
    int m_count;
    std::vector<Peer> m_peers;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    bool light = false;
    std::vector<int> numbers;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--light") == 0)
            light = true;
        else
            numbers.push_back(std::atoi(argv[i]));
    }
    const int seconds = numbers.size() > 0 ? std::max(1, numbers[0]) : 5;
    const int guestCount = numbers.size() > 1 ? std::clamp(numbers[1], 1, 51) : 51;

    // The host room on its own thread with its own event loop.
    std::atomic<std::uint16_t> port{0};
    std::atomic<QEventLoop *> hostLoop{nullptr};
    std::atomic<long> hostLines{0};
    struct HostCount : IChatDisplay {
        std::atomic<long> *lines;
        void AddText(const std::string &, unsigned, int, bool indent) override
        {
            if (indent)
                ++*lines;
        }
    } hostDisplay;
    hostDisplay.lines = &hostLines;
    QThread *hostThread = QThread::create([&] {
        CChatRoom host(&hostDisplay, nullptr, nullptr);
        host.StartHosting(0);
        QEventLoop loop;
        hostLoop = &loop;
        port = host.ListeningPort();
        loop.exec();
        host.CloseChatSockets();
    });
    hostThread->start();
    while (port.load() == 0)
        QThread::msleep(1);

    Tracker tracker;
    tracker.guests = guestCount;
    std::unique_ptr<Guests> guests;
    if (light)
        guests = std::make_unique<LightGuests>(tracker, guestCount);
    else
        guests = std::make_unique<RoomGuests>(tracker, guestCount);
    if (!guests->Join(port)) {
        std::fprintf(stderr, "guests were not all listed\n");
        return 1;
    }
    Spin([] { return false; }, 300, [&] { guests->Pump(); }); // let the joins settle
    std::printf("%s guests: %d; host on its own thread\n", light ? "light (plain socket)" : "full room",
                guestCount);

    long nextId = 1;
    auto speak = [&](std::size_t guest) {
        const long id = nextId++;
        tracker.Sent(id);
        guests->Speak(guest, "#" + std::to_string(id) + " a line of chat text of a usual length");
    };

    // Phase 1: 1000 lines per second in total.
    {
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        long spoken = 0;
        while (Clock::now() < end) {
            const long due = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
            while (spoken < due) {
                speak(static_cast<std::size_t>(spoken % guestCount));
                ++spoken;
            }
            guests->Pump();
        }
        Spin([&] { return tracker.pending.empty(); }, 5000, [&] { guests->Pump(); });
        std::printf("paced 1000 lines/s: %ld lines sent, %ld received by all %d guests\n", spoken, tracker.completed,
                    guestCount);
        std::printf("  send-to-all-received latency: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
                    Percentile(tracker.latenciesMs, 0.50), Percentile(tracker.latenciesMs, 0.99),
                    Percentile(tracker.latenciesMs, 1.0));
    }

    // Phase 2: as fast as it goes, with at most 200 lines in flight.
    {
        tracker.latenciesMs.clear();
        const long before = tracker.completed;
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        std::size_t who = 0;
        while (Clock::now() < end) {
            while (tracker.pending.size() < 200) {
                speak(who);
                who = (who + 1) % guests->Count();
            }
            guests->Pump();
        }
        Spin([&] { return tracker.pending.empty(); }, 10000, [&] { guests->Pump(); });
        const double secs = std::chrono::duration<double>(Clock::now() - start).count();
        const long lines = tracker.completed - before;
        std::printf("unpaced: %.0f lines relayed per second (%.0f packets per second to %d guests)\n",
                    static_cast<double>(lines) / secs, static_cast<double>(lines * guestCount) / secs, guestCount);
        std::printf("  send-to-all-received latency under load: p50 %.3f ms, p99 %.3f ms\n",
                    Percentile(tracker.latenciesMs, 0.50), Percentile(tracker.latenciesMs, 0.99));
    }

    guests.reset();
    QMetaObject::invokeMethod(hostLoop.load(), "quit", Qt::QueuedConnection);
    hostThread->wait();
    delete hostThread;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("host displayed %ld lines; peak memory (max RSS) %ld KiB; CPU time (all threads) %.2f s\n",
                hostLines.load(), usage.ru_maxrss, cpu);
    return 0;
}
