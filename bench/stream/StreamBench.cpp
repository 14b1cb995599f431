// Figures of the broadcaster's stream:
//  1. encoder CPU as a multiple of real time (the writer fed as fast as it
//     takes samples);
//  2. glass-to-glass latency: every frame carries its number in stripes; a
//     live ffmpeg decodes the served stream and each decoded number is
//     compared with the moment that frame was captured (median, p95);
//  3. the network sink's CPU with 50 players on loopback;
//  4. audio/video skew: a white flash and a beep captured at the same moment,
//     found again in the served stream.
//
//   stream_bench [--encode-seconds N] [--live-seconds N] [--serve SECONDS]
// --serve only runs a live broadcast on a free port for manual checks.
#include "CLogFile.h"
#include "CNetWrite.h"
#include "CSamplePath.h"
#include "CWMProfileManager.h"
#include "CWMWriter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kW = 320, kH = 240, kFps = 15;
constexpr int kBits = 12;
constexpr int kFlashEvery = 30; // frames: every two seconds

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double ProcessCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of this process's thread named `name` (from /proc).
double ThreadCpuSeconds(const char *name)
{
    double total = 0;
    DIR *dir = opendir("/proc/self/task");
    if (!dir)
        return 0;
    const long ticks = sysconf(_SC_CLK_TCK);
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(base + "/comm");
        std::string n;
        std::getline(comm, n);
        if (n != name)
            continue;
        std::ifstream stat(base + "/stat");
        std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream rest(all.substr(all.rfind(')') + 2));
        std::vector<std::string> f;
        for (std::string x; rest >> x;)
            f.push_back(x);
        if (f.size() > 13)
            total += static_cast<double>(std::atoll(f[11].c_str()) + std::atoll(f[12].c_str())) /
                     static_cast<double>(ticks);
    }
    closedir(dir);
    return total;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const std::size_t i =
        std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

// A bottom-up BGR frame: a moving gradient (work for the encoder), the
// frame number in kBits black/white stripes, and a white top band on flash
// frames.
void DrawFrame(std::vector<unsigned char> &f, int n)
{
    f.resize(static_cast<std::size_t>(kW) * kH * 3);
    const bool flash = n % kFlashEvery == 0;
    for (int yTop = 0; yTop < kH; ++yTop) {
        unsigned char *row = f.data() + static_cast<std::size_t>(kH - 1 - yTop) * kW * 3;
        for (int x = 0; x < kW; ++x) {
            unsigned char v = static_cast<unsigned char>((x + yTop + n * 4) & 0x7F);
            if (yTop < 40)
                v = flash ? 255 : 0;
            else if (yTop >= 80 && yTop < 200 && x >= 10 && x < 10 + kBits * 25 && (x - 10) % 25 < 20)
                v = ((n >> ((x - 10) / 25)) & 1) ? 255 : 0;
            row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = v;
        }
    }
}

int ReadFrameNumber(const unsigned char *gray)
{
    int n = 0;
    for (int b = 0; b < kBits; ++b) {
        int sum = 0;
        for (int y = 100; y < 180; y += 8)
            for (int x = 10 + b * 25 + 4; x < 10 + b * 25 + 16; x += 2)
                sum += gray[y * kW + x];
        if (sum / (10 * 6) > 128)
            n |= 1 << b;
    }
    return n;
}

class CountingSink : public IWMWriterSink {
public:
    void OnHeader(AsfBytes) override {}
    void OnDataUnit(AsfBytes p) override { bytes += p->size(); }
    void OnEndWriting() override {}
    std::atomic<std::uint64_t> bytes{0};
};

void BenchEncoder(int seconds)
{
    CWMProfileManager manager;
    std::unique_ptr<CWMProfile> profile;
    manager.SetSystemProfileVersion(WMT_VER_7_0);
    manager.LoadSystemProfile(kBroadcastSystemProfile, profile);
    CWMWriter writer;
    CountingSink sink;
    writer.SetProfile(*profile);
    writer.AddSink(&sink);
    if (FAILED(writer.BeginWriting())) {
        std::printf("encoder: could not start\n");
        return;
    }
    std::vector<unsigned char> frame;
    std::vector<unsigned char> audio(128000);
    for (std::size_t i = 0; i < audio.size(); i += 2) {
        const auto v = static_cast<std::int16_t>(6000 * std::sin(static_cast<double>(i / 4) * 0.07));
        audio[i] = static_cast<unsigned char>(v & 0xFF);
        audio[i + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
    }
    auto write = [&](DWORD input, const std::vector<unsigned char> &data, std::uint64_t ms) {
        std::unique_ptr<CWMSample> s;
        writer.AllocateSample(static_cast<DWORD>(data.size()), s);
        unsigned char *buf = nullptr;
        DWORD len = 0;
        s->GetBufferAndLength(&buf, &len);
        std::memcpy(buf, data.data(), data.size());
        s->SetLength(static_cast<DWORD>(data.size()));
        writer.WriteSample(input, ms * 10000, 0, s.get());
    };
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = Clock::now();
    for (int n = 0; n < seconds * kFps; ++n) {
        const std::uint64_t ms = static_cast<std::uint64_t>(n) * 1000 / kFps;
        if (n % kFps == 0)
            write(0, audio, ms);
        DrawFrame(frame, n);
        write(1, frame, ms);
    }
    writer.EndWriting();
    const double cpu = ProcessCpuSeconds() - cpu0;
    const double wall = Seconds(Clock::now() - wall0);
    std::printf("encoder: %d s of 320x240@15 + 32 kHz stereo in %.2f s CPU (%.1fx real time per core), "
                "wall %.2f s (%.1fx), %.0f kbit/s out\n",
                seconds, cpu, seconds / cpu, wall, seconds / wall,
                static_cast<double>(sink.bytes.load()) * 8 / 1000 / seconds);
}

int Connect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const char req[] = "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, req, sizeof req - 1, MSG_NOSIGNAL);
    return fd;
}

struct Live {
    CNetWrite net;
    CSamplePath path{net};
    std::atomic<bool> run{true};
    std::mutex lock;
    std::map<int, Clock::time_point> captured; // frame number -> capture moment
    Clock::time_point start;

    void Feed()
    {
        start = Clock::now();
        std::vector<unsigned char> frame;
        std::vector<unsigned char> audio(128000);
        int audioSecond = 0;
        for (int n = 0; run; ++n) {
            std::this_thread::sleep_until(
                start + std::chrono::microseconds(static_cast<long long>(n) * 1000000 / kFps));
            DrawFrame(frame, n);
            {
                std::lock_guard<std::mutex> l(lock);
                captured[n % (1 << kBits)] = Clock::now();
            }
            VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
            // One-second audio buffers, delivered when their last sample is in,
            // with a beep at every flash.
            if (Clock::now() - start >= std::chrono::seconds(audioSecond + 1)) {
                std::fill(audio.begin(), audio.end(), 0);
                for (int f = 0; f <= (audioSecond + 1) * kFps; f += kFlashEvery) {
                    const double at = static_cast<double>(f) / kFps - audioSecond; // seconds into this buffer
                    if (at < 0 || at >= 1)
                        continue;
                    const int first = static_cast<int>(at * 32000);
                    for (int s = first; s < std::min(32000, first + 3200); ++s) {
                        const auto v = static_cast<std::int16_t>(
                            20000 * std::sin(2 * M_PI * 1000.0 * (s - first) / 32000));
                        for (int c = 0; c < 2; ++c) {
                            audio[static_cast<std::size_t>(s) * 4 + c * 2] =
                                static_cast<unsigned char>(v & 0xFF);
                            audio[static_cast<std::size_t>(s) * 4 + c * 2 + 1] =
                                static_cast<unsigned char>((v >> 8) & 0xFF);
                        }
                    }
                }
                AudioSampleSink(0, audio.data(), static_cast<long>(audio.size()));
                ++audioSecond;
            }
        }
    }
};

std::vector<double> ReadNumbers(const std::string &command)
{
    std::vector<double> v;
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, p))
            v.push_back(std::atof(line));
        ::pclose(p);
    }
    return v;
}

std::string ReadAll(const std::string &command)
{
    std::string out;
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

void Skew(const std::string &file)
{
    const std::vector<double> vts =
        ReadNumbers("ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 " + file);
    const std::string gray =
        ReadAll("ffmpeg -v error -i " + file + " -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt gray -");
    const std::vector<double> ats =
        ReadNumbers("ffprobe -v error -select_streams a -show_entries frame=pts_time -of csv=p=0 " + file);
    const std::string pcm = ReadAll("ffmpeg -v error -i " + file + " -map 0:a -f s16le -ac 1 -ar 32000 -");
    const std::size_t frameBytes = static_cast<std::size_t>(kW) * kH;
    std::vector<double> flashes, beeps;
    bool prevFlash = true;
    for (std::size_t i = 0; i < vts.size() && (i + 1) * frameBytes <= gray.size(); ++i) {
        const auto *g = reinterpret_cast<const unsigned char *>(gray.data()) + i * frameBytes;
        long sum = 0;
        for (int x = 0; x < kW; x += 4)
            sum += g[20 * kW + x];
        const bool flash = sum / (kW / 4) > 128;
        if (flash && !prevFlash)
            flashes.push_back(vts[i]);
        prevFlash = flash;
    }
    if (!ats.empty()) {
        const auto *s = reinterpret_cast<const std::int16_t *>(pcm.data());
        const std::size_t n = pcm.size() / 2;
        std::size_t quiet = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (std::abs(s[i]) > 8000) {
                if (quiet > 1600)
                    beeps.push_back(ats[0] + static_cast<double>(i) / 32000);
                quiet = 0;
            } else {
                ++quiet;
            }
        }
    }
    std::vector<double> skews;
    for (double f : flashes) {
        double best = 1e9;
        for (double b : beeps)
            if (std::fabs(b - f) < std::fabs(best))
                best = b - f;
        if (std::fabs(best) < 1.0)
            skews.push_back(best * 1000);
    }
    double worst = 0;
    for (double s : skews)
        worst = std::max(worst, std::fabs(s));
    std::printf("a/v skew: %zu flash/beep pairs, median %+.0f ms (audio after video when positive), worst "
                "|%.0f| ms\n",
                skews.size(), Percentile(skews, 0.5), worst);
}

void BenchLive(int seconds, bool serveOnly)
{
    g_nClosing = 0;
    g_nLive = 1;
    Live live;
    live.path.LoadPauseImage();
    live.net.InitWriter(&live.path);
    if (FAILED(live.net.StartNetworkStream(0))) {
        std::printf("live: could not start the stream\n");
        return;
    }
    const int port = static_cast<int>(live.net.ListenPort());
    std::thread feeder([&] { live.Feed(); });
    if (serveOnly) {
        std::printf("serving on http://127.0.0.1:%d/ for %d s\n", port, seconds);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        g_nClosing = 1;
        live.run = false;
        feeder.join();
        live.net.ReleaseWriter();
        return;
    }

    // The latency player: ffmpeg decoding live, frame by frame.
    std::vector<double> latencies;
    std::thread player([&] {
        const std::string cmd =
            "ffmpeg -nostdin -v error -probesize 2048 -analyzeduration 0 -i http://127.0.0.1:" +
            std::to_string(port) + "/ -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt gray - 2>/dev/null";
        FILE *p = ::popen(cmd.c_str(), "r");
        if (!p)
            return;
        std::vector<unsigned char> frame(static_cast<std::size_t>(kW) * kH);
        while (std::fread(frame.data(), 1, frame.size(), p) == frame.size()) {
            const auto now = Clock::now();
            const int n = ReadFrameNumber(frame.data());
            std::lock_guard<std::mutex> l(live.lock);
            const auto it = live.captured.find(n);
            if (it != live.captured.end() && now - live.start > std::chrono::seconds(4))
                latencies.push_back(Seconds(now - it->second) * 1000);
        }
        ::pclose(p);
    });

    // The recorder (for the skew) and 48 more players: 50 in all.
    std::vector<int> fds;
    for (int i = 0; i < 49; ++i)
        fds.push_back(Connect(port));
    std::string recorded;
    std::atomic<bool> reading{true};
    std::thread readers([&] {
        std::vector<pollfd> pfds;
        for (int fd : fds)
            pfds.push_back(pollfd{fd, POLLIN, 0});
        char buf[65536];
        while (reading) {
            if (::poll(pfds.data(), pfds.size(), 50) <= 0)
                continue;
            for (std::size_t i = 0; i < pfds.size(); ++i) {
                if (!(pfds[i].revents & (POLLIN | POLLHUP)))
                    continue;
                const ssize_t n = ::recv(pfds[i].fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    pfds[i].fd = -1;
                    continue;
                }
                if (i == 0)
                    recorded.append(buf, static_cast<std::size_t>(n));
            }
        }
    });

    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double sink0 = ThreadCpuSeconds("velmor-netsink");
    const double write0 = ThreadCpuSeconds("ASFFileWrite");
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(std::max(5, seconds - 3)));
    const double window = Seconds(Clock::now() - t0);
    const double sinkCpu = ThreadCpuSeconds("velmor-netsink") - sink0;
    const double writeCpu = ThreadCpuSeconds("ASFFileWrite") - write0;
    const double cpu = ProcessCpuSeconds() - cpu0;
    const int players = live.net.NetworkSink()->PlayerCount();
    const auto dropped = live.net.NetworkSink()->PlayersDropped();

    g_nClosing = 1;
    live.run = false;
    feeder.join();
    live.net.ReleaseWriter();
    player.join();
    reading = false;
    readers.join();
    for (int fd : fds)
        ::close(fd);

    std::printf("sink: %d players on loopback, network-sink thread %.2f%% of one core "
                "(write thread %.1f%%, whole process %.1f%% incl. the 49 reading clients), %llu dropped\n",
                players, 100 * sinkCpu / window, 100 * writeCpu / window, 100 * cpu / window,
                static_cast<unsigned long long>(dropped));
    std::printf("latency: capture to ffmpeg-decoded frame over %zu frames: median %.0f ms, p95 %.0f ms\n",
                latencies.size(), Percentile(latencies, 0.5), Percentile(latencies, 0.95));

    const std::size_t body = recorded.find("\r\n\r\n");
    if (body != std::string::npos) {
        char tmpl[] = "/tmp/stream_bench_XXXXXX";
        const int fd = mkstemp(tmpl);
        if (fd >= 0) {
            const std::string data = recorded.substr(body + 4);
            if (::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()))
                Skew(tmpl);
            ::close(fd);
            ::unlink(tmpl);
        }
    }
    g_nClosing = 0;
    g_nLive = 0;
}

} // namespace

int main(int argc, char **argv)
{
    int encodeSeconds = 60, liveSeconds = 20, serve = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--encode-seconds")
            encodeSeconds = std::atoi(argv[i + 1]);
        else if (a == "--live-seconds")
            liveSeconds = std::atoi(argv[i + 1]);
        else if (a == "--serve")
            serve = std::atoi(argv[i + 1]);
    }
    if (serve > 0) {
        BenchLive(serve, true);
        return 0;
    }
    std::printf("stream_bench: targets: encoding >= 6x real time on one core; latency median <= 1500 ms; "
                "sink < 10%% of one core with 50 players; skew <= 100 ms\n");
    BenchEncoder(encodeSeconds);
    BenchLive(liveSeconds, false);
    return 0;
}
