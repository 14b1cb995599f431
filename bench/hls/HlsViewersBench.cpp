// Figures of the broadcast relay: many simulated HLS viewers against one
// nginx origin (tools/run-relay.sh, through tests/support/RelayServer.h) on
// loopback, fed over RTMP by ffmpeg the way the broadcaster publishes
// (H.264 with a key frame every 2 s, AAC, in FLV).
//
// Each viewer asks for the playlist once a second and fetches every fragment
// it has not had yet, one at a time, as a player does. Printed:
//  - deliveries and misses: a miss is a fragment a viewer had complete only
//    after the next fragment was due (its appearance at the origin plus its
//    length), and failed requests;
//  - how long a fragment took from being listed to a viewer to being
//    complete there, and from its appearance at the origin;
//  - nginx's processor time (master and worker, user + system) per viewer,
//    beside the local stream's network sink per player (stream_bench, 50
//    players on loopback), and this client's own processor time.
//
// All clients run on one thread over libcurl's multi interface, so the client
// is not what limits the figures.
//
//   hls_viewers_bench [--viewers N] [--seconds N] [--size WxH] [--kbits N] [--no-sink]
#include "RelayServer.h"
#include "TestDir.h"

#include "platform/CurlHolders.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../BenchStats.h"

namespace {

using bench::Percentile;
using bench::Seconds;

using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Processor seconds (user, system) of the relay's nginx: the master process
// whose command line names `prefix`, and its workers.
std::pair<double, double> NginxCpuSeconds(const std::string &prefix)
{
    struct Process {
        long pid, parent;
        bool master;
        double user, system;
    };
    std::vector<Process> all;
    DIR *proc = opendir("/proc");
    if (!proc)
        return {0, 0};
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    while (dirent *e = readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        const std::string base = std::string("/proc/") + e->d_name;
        std::ifstream cmd(base + "/cmdline");
        const std::string line((std::istreambuf_iterator<char>(cmd)), std::istreambuf_iterator<char>());
        if (line.rfind("nginx", 0) != 0)
            continue;
        std::ifstream stat(base + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream rest(text.substr(text.rfind(')') + 2));
        std::vector<std::string> f;
        for (std::string x; rest >> x;)
            f.push_back(x);
        if (f.size() > 13)
            all.push_back({std::atol(e->d_name), std::atol(f[1].c_str()),
                           line.find(prefix) != std::string::npos, std::atof(f[11].c_str()) / ticks,
                           std::atof(f[12].c_str()) / ticks});
    }
    closedir(proc);
    double user = 0, system = 0;
    for (const Process &p : all) {
        bool ours = p.master;
        for (const Process &m : all)
            ours = ours || (m.master && m.pid == p.parent);
        if (ours) {
            user += p.user;
            system += p.system;
        }
    }
    return {user, system};
}

struct Entry {
    long long number = -1; // from the fragment's name "KEY-N.ts"
    std::string name;
    double seconds = 0;
};

// The fragments of an HLS media playlist, oldest first.
std::vector<Entry> ParsePlaylist(const std::string &text)
{
    std::vector<Entry> out;
    std::istringstream in(text);
    double duration = 0;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("#EXTINF:", 0) == 0) {
            duration = std::atof(line.c_str() + 8);
        } else if (!line.empty() && line[0] != '#') {
            const std::size_t dash = line.rfind('-');
            Entry e;
            e.name = line;
            e.seconds = duration;
            e.number = dash == std::string::npos ? -1 : std::atoll(line.c_str() + dash + 1);
            out.push_back(e);
        }
    }
    return out;
}

size_t Append(char *data, size_t size, size_t n, void *out)
{
    static_cast<std::string *>(out)->append(data, size * n);
    return size * n;
}

size_t Count(char *, size_t size, size_t n, void *bytes)
{
    *static_cast<std::uint64_t *>(bytes) += size * n;
    return size * n;
}

std::string Get(const std::string &url)
{
    platform::CurlHandle curl(curl_easy_init());
    std::string body;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 5L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    long status = 0;
    if (curl_easy_perform(curl.get()) != CURLE_OK ||
        curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
        return std::string();
    return body;
}

// When each fragment appeared at the origin: the playlist asked for every
// 100 ms on a thread of its own.
class Appearances {
public:
    explicit Appearances(std::string url) : m_url(std::move(url)), m_thread([this] { Run(); }) {}
    ~Appearances()
    {
        m_run = false;
        m_thread.join();
    }
    bool Find(long long number, Clock::time_point &at)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto it = m_seen.find(number);
        if (it == m_seen.end())
            return false;
        at = it->second;
        return true;
    }
    std::size_t Count()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_seen.size();
    }

private:
    void Run()
    {
        while (m_run) {
            const std::vector<Entry> list = ParsePlaylist(Get(m_url));
            const auto now = Clock::now();
            {
                std::lock_guard<std::mutex> lock(m_lock);
                for (const Entry &e : list)
                    m_seen.emplace(e.number, now);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    std::string m_url;
    std::atomic<bool> m_run{true};
    std::mutex m_lock;
    std::map<long long, Clock::time_point> m_seen;
    std::thread m_thread;
};

struct Viewer {
    platform::CurlHandle list{curl_easy_init()};
    platform::CurlHandle fragment{curl_easy_init()};
    std::string listBody;
    std::uint64_t fragmentBytes = 0;
    Clock::time_point nextPoll;
    bool listBusy = false;
    bool fragmentBusy = false;
    long long newest = -1; // the newest fragment taken into `queue`
    struct Pending {
        Entry entry;
        Clock::time_point listedAt;
    };
    std::deque<Pending> queue;
    Pending current;
};

struct Figures {
    long long deliveries = 0;
    long long misses = 0;
    long long failed = 0;
    long long playlists = 0;
    std::uint64_t bytes = 0;
    std::vector<double> fromListedMs;
    std::vector<double> fromAppearedMs;
    double worstLateMs = 0;
};

class Viewers {
public:
    Viewers(int count, std::string base, std::string playlist, Appearances &appearances)
        : m_base(std::move(base)), m_playlist(std::move(playlist)), m_appearances(appearances),
          m_viewers(count)
    {
        curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, static_cast<long>(count) * 2 + 16);
        const auto start = Clock::now();
        for (int i = 0; i < count; ++i) {
            Viewer &v = m_viewers[static_cast<std::size_t>(i)];
            // Viewers join spread over the first second, as people do.
            v.nextPoll = start + std::chrono::microseconds(1000000LL * i / count);
            for (CURL *h : {v.list.get(), v.fragment.get()}) {
                curl_easy_setopt(h, CURLOPT_PRIVATE, &v);
                curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
                curl_easy_setopt(h, CURLOPT_TIMEOUT, 30L);
                curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024);
            }
            curl_easy_setopt(v.list.get(), CURLOPT_URL, m_playlist.c_str());
            curl_easy_setopt(v.list.get(), CURLOPT_WRITEFUNCTION, &Append);
            curl_easy_setopt(v.list.get(), CURLOPT_WRITEDATA, &v.listBody);
            curl_easy_setopt(v.fragment.get(), CURLOPT_WRITEFUNCTION, &Count);
            curl_easy_setopt(v.fragment.get(), CURLOPT_WRITEDATA, &v.fragmentBytes);
        }
    }
    ~Viewers()
    {
        for (Viewer &v : m_viewers) {
            curl_multi_remove_handle(m_multi, v.list.get());
            curl_multi_remove_handle(m_multi, v.fragment.get());
        }
        m_viewers.clear();
        curl_multi_cleanup(m_multi);
    }
    Viewers(const Viewers &) = delete;
    Viewers &operator=(const Viewers &) = delete;

    // Runs every viewer until `until`; what completes after `countFrom`
    // goes into the figures.
    void Run(Clock::time_point countFrom, Clock::time_point until)
    {
        m_countFrom = countFrom;
        while (Clock::now() < until) {
            const auto now = Clock::now();
            for (Viewer &v : m_viewers) {
                if (!v.listBusy && now >= v.nextPoll) {
                    v.listBody.clear();
                    v.listBusy = true;
                    v.nextPoll += std::chrono::seconds(1);
                    curl_multi_add_handle(m_multi, v.list.get());
                }
                StartFragment(v);
            }
            int running = 0;
            curl_multi_perform(m_multi, &running);
            int left = 0;
            while (CURLMsg *msg = curl_multi_info_read(m_multi, &left)) {
                if (msg->msg == CURLMSG_DONE)
                    Done(msg->easy_handle, msg->data.result);
            }
            curl_multi_poll(m_multi, nullptr, 0, 5, nullptr);
        }
    }

    Figures &Result() { return m_figures; }

private:
    void StartFragment(Viewer &v)
    {
        if (v.fragmentBusy || v.queue.empty())
            return;
        v.current = v.queue.front();
        v.queue.pop_front();
        v.fragmentBytes = 0;
        const std::string url = m_base + v.current.entry.name;
        curl_easy_setopt(v.fragment.get(), CURLOPT_URL, url.c_str());
        v.fragmentBusy = true;
        curl_multi_add_handle(m_multi, v.fragment.get());
    }

    void Done(CURL *handle, CURLcode result)
    {
        const auto now = Clock::now();
        Viewer *v = nullptr;
        curl_easy_getinfo(handle, CURLINFO_PRIVATE, reinterpret_cast<char **>(&v));
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        curl_multi_remove_handle(m_multi, handle);
        const bool ok = result == CURLE_OK && status == 200;
        const bool counting = now >= m_countFrom;
        if (handle == v->list.get()) {
            v->listBusy = false;
            if (counting)
                ++m_figures.playlists;
            if (!ok) {
                m_figures.failed += counting;
                return;
            }
            const std::vector<Entry> list = ParsePlaylist(v->listBody);
            // A viewer who joins starts with the newest fragment.
            for (std::size_t i = v->newest < 0 && !list.empty() ? list.size() - 1 : 0; i < list.size(); ++i) {
                if (list[i].number > v->newest) {
                    v->queue.push_back({list[i], now});
                    v->newest = list[i].number;
                }
            }
            return;
        }
        v->fragmentBusy = false;
        if (!counting || v->current.listedAt < m_countFrom)
            return;
        if (!ok) {
            ++m_figures.failed;
            return;
        }
        ++m_figures.deliveries;
        m_figures.bytes += v->fragmentBytes;
        m_figures.fromListedMs.push_back(Seconds(now - v->current.listedAt) * 1000);
        Clock::time_point appeared;
        if (m_appearances.Find(v->current.entry.number, appeared)) {
            const double ms = Seconds(now - appeared) * 1000;
            m_figures.fromAppearedMs.push_back(ms);
            const double lateMs = ms - v->current.entry.seconds * 1000;
            if (lateMs > 0) {
                ++m_figures.misses;
                m_figures.worstLateMs = std::max(m_figures.worstLateMs, lateMs);
            }
        }
    }

    std::string m_base;
    std::string m_playlist;
    Appearances &m_appearances;
    CURLM *m_multi = curl_multi_init();
    std::vector<Viewer> m_viewers;
    Clock::time_point m_countFrom;
    Figures m_figures;
};

// The local stream's network sink with 50 players, as stream_bench measures
// it: its "sink:" line, or an empty text.
std::string LocalSinkLine()
{
    const std::string command =
        std::string(STREAM_BENCH) + " --encode-seconds 1 --live-seconds 15 --audio-buffer-ms 32 2>/dev/null";
    std::string line;
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char buf[1024];
        while (std::fgets(buf, sizeof buf, p))
            if (std::string(buf).rfind("sink:", 0) == 0)
                line = buf;
        ::pclose(p);
    }
    return line;
}

} // namespace

int main(int argc, char **argv)
{
    int viewers = 1000, seconds = 30, kbits = 2500;
    std::string size = "1280x720";
    bool sink = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "--viewers" && value)
            viewers = std::clamp(std::atoi(argv[++i]), 1, 5000);
        else if (a == "--seconds" && value)
            seconds = std::clamp(std::atoi(argv[++i]), 5, 600);
        else if (a == "--kbits" && value)
            kbits = std::clamp(std::atoi(argv[++i]), 50, 20000);
        else if (a == "--size" && value)
            size = argv[++i];
        else if (a == "--no-sink")
            sink = false;
        else {
            std::fprintf(stderr, "usage: hls_viewers_bench [--viewers N] [--seconds N] [--size WxH] [--kbits "
                                 "N] [--no-sink]\n");
            return 2;
        }
    }
    // The size goes into ffmpeg's command line: digits, "x", digits only.
    const std::size_t x = size.find('x');
    if (x == 0 || x == std::string::npos || x + 1 == size.size() ||
        size.find_first_not_of("0123456789x") != std::string::npos ||
        size.find('x', x + 1) != std::string::npos) {
        std::fprintf(stderr, "hls_viewers_bench: --size wants WIDTHxHEIGHT, e.g. 1280x720\n");
        return 2;
    }
    // Two connections per viewer: raise the descriptor limit for this
    // process and the nginx it starts.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    platform::CurlGlobalInit();

    std::printf("hls_viewers_bench: target: every fragment at every viewer before the next fragment is due, "
                "%d viewers\n",
                viewers);
    TestDir dir("relay-bench");
    // A clip encoded once, published in a loop without encoding again: the
    // publisher takes next to no processor time from the measurement.
    const std::string clip = (dir.path() / "clip.flv").string();
    const std::string encode =
        "ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=" + size +
        ":rate=15 -f lavfi -i sine=frequency=440:sample_rate=44100 -t 20 -c:v libx264 -preset veryfast -tune "
        "zerolatency -g 30 -pix_fmt yuv420p -b:v " +
        std::to_string(kbits) + "k -maxrate " + std::to_string(kbits) + "k -bufsize " +
        std::to_string(kbits) + "k -c:a aac -b:a 128k -f flv " + clip;
    if (std::system(encode.c_str()) != 0) {
        std::printf("could not encode the test clip\n");
        return 1;
    }
    RelayServer relay(dir.path() / "relay");
    if (!relay.Ready()) {
        std::printf("the relay did not start:\n%s\n", relay.Log().c_str());
        return 1;
    }
    const std::string key = "bench";
    ChildProgram publisher("/usr/bin/setpriv",
                           {"--pdeathsig", "TERM", "--", "ffmpeg", "-nostdin", "-v", "error", "-re",
                            "-stream_loop", "-1", "-i", clip, "-c", "copy", "-f", "flv",
                            relay.PublishUrl(key)},
                           dir.path());
    const std::string playlist = relay.HlsUrl(key);
    const std::string base = playlist.substr(0, playlist.rfind('/') + 1);
    // Three fragments in the playlist before the viewers come.
    for (int i = 0; i < 300 && ParsePlaylist(Get(playlist)).size() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<Entry> first = ParsePlaylist(Get(playlist));
    if (first.size() < 3) {
        std::printf("no HLS from the relay:\n%s\n%s\n", publisher.Stderr().c_str(), relay.Log().c_str());
        return 1;
    }

    Appearances appearances(playlist);
    Viewers all(viewers, base, playlist, appearances);
    const auto start = Clock::now();
    const auto countFrom = start + std::chrono::seconds(5);
    const auto until = countFrom + std::chrono::seconds(seconds);
    // Measured from countFrom on; the first seconds bring every viewer in.
    std::pair<double, double> nginx0{}, nginx1{};
    double client0 = 0, client1 = 0;
    std::thread meter([&] {
        std::this_thread::sleep_until(countFrom);
        nginx0 = NginxCpuSeconds(dir.path().string());
        client0 = ProcessCpuSeconds();
        std::this_thread::sleep_until(until);
        nginx1 = NginxCpuSeconds(dir.path().string());
        client1 = ProcessCpuSeconds();
    });
    all.Run(countFrom, until);
    meter.join();
    const std::size_t appeared = appearances.Count();
    publisher.Signal(SIGTERM);
    publisher.Wait(5000);

    const Figures &f = all.Result();
    const double user = nginx1.first - nginx0.first, system = nginx1.second - nginx0.second;
    const double nginxPercent = 100 * (user + system) / seconds;
    double fragmentSeconds = 0;
    for (const Entry &e : first)
        fragmentSeconds += e.seconds / static_cast<double>(first.size());
    std::printf(
        "stream: %s at %d kbit/s video + 128 kbit/s sound, fragments of %.1f s, %zu fragments seen at the "
        "origin\n",
        size.c_str(), kbits, fragmentSeconds, appeared);
    std::printf(
        "viewers: %d for %d s: %lld fragments delivered, %lld misses (complete after the next fragment "
        "was due; worst %.0f ms late), %lld failed requests, %lld playlists (%.0f/s), %.0f Mbit/s out\n",
        viewers, seconds, f.deliveries, f.misses, f.worstLateMs, f.failed, f.playlists,
        static_cast<double>(f.playlists) / seconds, static_cast<double>(f.bytes) * 8 / 1e6 / seconds);
    std::printf(
        "fragment listed -> complete at the viewer: median %.0f ms, p99 %.0f ms; appeared at the origin -> "
        "complete: median %.0f ms, p99 %.0f ms\n",
        Percentile(f.fromListedMs, 0.5), Percentile(f.fromListedMs, 0.99), Percentile(f.fromAppearedMs, 0.5),
        Percentile(f.fromAppearedMs, 0.99));
    std::printf("nginx: %.1f%% of one core (user %.1f%%, system %.1f%%) = %.4f%% of one core per viewer\n",
                nginxPercent, 100 * user / seconds, 100 * system / seconds, nginxPercent / viewers);
    std::printf("client (this program, all viewers): %.1f%% of one core\n",
                100 * (client1 - client0) / seconds);
    if (sink) {
        const std::string line = LocalSinkLine();
        double sinkPercent = NAN;
        const std::size_t at = line.find("network-sink thread ");
        if (at != std::string::npos)
            sinkPercent = std::atof(line.c_str() + at + 20);
        std::printf(
            "local sink (stream_bench, 320x240 WMV about 140 kbit/s): 50 players, %.2f%% of one core = "
            "%.4f%% per player; relay: %.4f%% per viewer at %d kbit/s\n",
            sinkPercent, sinkPercent / 50, nginxPercent / viewers, kbits + 128);
    }
    return f.misses == 0 && f.failed == 0 ? 0 : 1;
}
