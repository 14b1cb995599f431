// Chat room benchmark: one host room on its own thread (as the window thread
// of the broadcaster), 51 guest rooms on the main thread, all on loopback.
// Phase 1 speaks 1000 lines per second in total, round robin over the
// guests, and measures for every line the time from the guest's SpeakLine to
// the moment the last of the 51 guests shows it. Phase 2 speaks as fast as
// the room relays and counts lines relayed per second.
//
//   chat_bench [seconds-per-phase] [guests]
#include "CChatRoom.h"
#include "IChatDisplay.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

// Shows nothing; takes the line number out of each chat text.
class CountingDisplay : public IChatDisplay {
public:
    explicit CountingDisplay(Tracker *t) : m_tracker(t) {}
    void AddText(const std::string &text, unsigned, int, bool indent) override
    {
        if (indent && text.rfind("#", 0) == 0)
            m_tracker->Seen(std::strtol(text.c_str() + 1, nullptr, 10));
    }

private:
    Tracker *m_tracker;
};

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t at = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())));
    return v[at];
}

bool Spin(const std::function<bool()> &done, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int guestCount = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 51) : 51;

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
    if (!Spin([&] { return port.load() != 0; }, 5000)) {
        std::fprintf(stderr, "host did not start\n");
        return 1;
    }

    Tracker tracker;
    tracker.guests = guestCount;
    CountingDisplay display(&tracker);
    std::vector<std::unique_ptr<CChatRoom>> guests;
    for (int i = 0; i < guestCount; ++i) {
        guests.push_back(std::make_unique<CChatRoom>(&display, nullptr, nullptr));
        guests.back()->StartConnecting("127.0.0.1", port);
    }
    if (!Spin(
            [&] {
                for (const auto &g : guests)
                    if (g->OwnFlag() != MEMBER_SELF)
                        return false;
                return true;
            },
            20000)) {
        std::fprintf(stderr, "guests were not all listed\n");
        return 1;
    }
    Spin([] { return false; }, 300); // let the joins settle

    long nextId = 1;
    auto speak = [&](std::size_t guest) {
        const long id = nextId++;
        tracker.Sent(id);
        guests[guest]->SpeakLine("#" + std::to_string(id) + " a line of chat text of a usual length");
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
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        Spin([&] { return tracker.pending.empty(); }, 5000);
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
                who = (who + 1) % guests.size();
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        Spin([&] { return tracker.pending.empty(); }, 10000);
        const double secs = std::chrono::duration<double>(Clock::now() - start).count();
        const long lines = tracker.completed - before;
        std::printf("unpaced: %.0f lines relayed per second (%.0f packets per second to %d guests)\n",
                    static_cast<double>(lines) / secs, static_cast<double>(lines * guestCount) / secs, guestCount);
        std::printf("  send-to-all-received latency under load: p50 %.3f ms, p99 %.3f ms\n",
                    Percentile(tracker.latenciesMs, 0.50), Percentile(tracker.latenciesMs, 0.99));
    }

    guests.clear();
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
