// relay_bench: figures of publishing the broadcast to a relay.
//  1. Processor time of a broadcaster Velmor.exe (offscreen, a 640x480 test
//     camera at 15 pictures a second, the test microphone) over the same
//     stretch without and with -relay against the project's nginx
//     (tools/run-relay.sh); the difference is the relay branch's cost.
//  2. Glass to glass through the relay: a CRelayPublisher in this process is
//     fed 640x480 pictures that carry their number in black/white stripes;
//     a live ffmpeg reads the relay's HLS (from the newest fragment) and each
//     decoded number is compared with the moment that picture was captured:
//     median and p95. Meanwhile the processor time of this process less the
//     feeding and reading threads is the relay branch's own, with pictures
//     that move (the broadcaster above shows its pause picture).
//
//   relay_bench [--cpu-seconds N] [--latency-seconds N]
#include "CRelayPublisher.h"
#include "RelayServer.h"
#include "ServiceSite.h"
#include "TestDir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

#include "../BenchStats.h"

namespace {

using bench::Percentile;
using bench::Seconds;

using Clock = std::chrono::steady_clock;
constexpr int kW = 640, kH = 480, kFps = 15, kBits = 12;

// Processor seconds (user + system) of a process so far.
double ProcessCpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string f;
    double ticks = 0;
    for (int i = 3; fields >> f && i <= 15; ++i)
        if (i == 14 || i == 15)
            ticks += std::atof(f.c_str());
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ThreadCpuSeconds(pthread_t thread)
{
    clockid_t clock;
    timespec t{};
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &t) != 0)
        return 0;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Percent of one core the broadcaster takes over `seconds`, after it has
// settled (and, with a relay, once it publishes).
double BroadcasterCpu(bool withRelay, int seconds)
{
    TestDir dir(withRelay ? "relay-bench-on" : "relay-bench-off");
    ServiceSite site(dir.path() / "site");
    std::unique_ptr<RelayServer> relay;
    const std::string lport = std::to_string(FreeLoopbackPort()), elport = std::to_string(FreeLoopbackPort());
    std::vector<std::string> args{"/u", "-start", "1", "-lport", lport, "-elport", elport};
    if (withRelay) {
        relay = std::make_unique<RelayServer>(dir.path() / "relay");
        if (!relay->Ready()) {
            std::printf("relay did not start:\n%s\n", relay->Log().c_str());
            return NAN;
        }
        args.push_back("-relay");
        args.push_back(relay->PublishUrl("bench"));
    }
    const std::filesystem::path home = dir.path() / "velmor";
    std::filesystem::create_directories(home);
    std::filesystem::copy(ProgramPath("Skin"), home / "Skin", std::filesystem::copy_options::recursive);
    std::vector<std::string> env = PrivateProgramEnvironment(home / "env");
    env.push_back("VELMOR_SERVICE_URL=" + site.BaseUrl());
    env.push_back("VELMOR_FAKE_DEVICES=camera:Bench Camera:video/x-raw,format=BGR,width=640,height=480,"
                  "framerate=15/1;microphone:Bench Mic");
    env.push_back("VELMOR_FAKE_SELECT=Bench Camera");
    ChildProgram velmor(ProgramPath("Velmor.exe"), args, home, env);
    const auto deadline = Clock::now() + std::chrono::seconds(40);
    const std::string published = "송출을 시작합니다";
    std::this_thread::sleep_for(std::chrono::seconds(5));
    while (withRelay && Clock::now() < deadline &&
           TestDir::Read(home / "velmor.log").find(published) == std::string::npos)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double cpu0 = ProcessCpuSeconds(velmor.Pid());
    const auto wall0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = ProcessCpuSeconds(velmor.Pid()) - cpu0;
    const double wall = Seconds(Clock::now() - wall0);
    velmor.Signal(SIGTERM);
    velmor.Wait(15000);
    return 100.0 * cpu / wall;
}

// A bottom-up BGR picture: a moving gradient (work for the encoder) and the
// picture's number in kBits stripes, white for 1, across the middle.
void DrawPicture(std::vector<unsigned char> &f, int n)
{
    f.resize(static_cast<std::size_t>(kW) * kH * 3);
    for (int yTop = 0; yTop < kH; ++yTop) {
        unsigned char *row = f.data() + static_cast<std::size_t>(kH - 1 - yTop) * kW * 3;
        for (int x = 0; x < kW; ++x) {
            auto v = static_cast<unsigned char>((x + 2 * yTop + n * 6) & 0x7F);
            if (yTop >= 160 && yTop < 320 && x >= 20 && x < 20 + kBits * 50 && (x - 20) % 50 < 40)
                v = ((n >> ((x - 20) / 50)) & 1) ? 255 : 0;
            row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = v;
        }
    }
}

int ReadPictureNumber(const unsigned char *gray)
{
    int n = 0;
    for (int b = 0; b < kBits; ++b) {
        int sum = 0, count = 0;
        for (int y = 200; y < 280; y += 8)
            for (int x = 20 + b * 50 + 8; x < 20 + b * 50 + 32; x += 4, ++count)
                sum += gray[static_cast<std::size_t>(y) * kW + x];
        if (sum / count > 128)
            n |= 1 << b;
    }
    return n;
}

void GlassToGlass(int seconds)
{
    TestDir dir("relay-bench-latency");
    RelayServer relay(dir.path() / "relay");
    if (!relay.Ready()) {
        std::printf("relay did not start:\n%s\n", relay.Log().c_str());
        return;
    }
    CRelayPublisher publisher;
    if (FAILED(publisher.Start(relay.PublishUrl("bench")))) {
        std::printf("publisher did not start\n");
        return;
    }
    std::mutex lock;
    std::map<int, Clock::time_point> captured;
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        std::vector<unsigned char> picture;
        std::vector<unsigned char> tone(32000 * 4 / 25); // 40 ms
        for (std::size_t i = 0; i + 3 < tone.size(); i += 4) {
            const auto v = static_cast<std::int16_t>(6000 * std::sin(static_cast<double>(i / 4) * 0.086));
            tone[i] = tone[i + 2] = static_cast<unsigned char>(v & 0xFF);
            tone[i + 1] = tone[i + 3] = static_cast<unsigned char>((v >> 8) & 0xFF);
        }
        const auto start = Clock::now();
        auto nextSound = start;
        for (int n = 0; feeding; ++n) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(n * 1000000LL / kFps));
            while (Clock::now() >= nextSound + std::chrono::milliseconds(40)) {
                nextSound += std::chrono::milliseconds(40);
                publisher.PushAudio(tone.data(), static_cast<long>(tone.size()), true);
            }
            DrawPicture(picture, n % (1 << kBits));
            {
                std::lock_guard<std::mutex> l(lock);
                captured[n % (1 << kBits)] = Clock::now();
            }
            SourceFrame frame;
            frame.data = picture.data();
            frame.width = kW;
            frame.height = kH;
            frame.stride = kW * 3;
            frame.fpsNumerator = kFps;
            publisher.PushVideo(frame, true);
        }
    });
    const std::filesystem::path playlist = relay.HlsDir() / "bench.m3u8";
    const auto ready = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < ready && TestDir::Read(playlist).find("#EXTINF") == std::string::npos)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));

    std::vector<double> latencies;
    const double process0 = ProcessCpuSeconds(::getpid());
    const double feeder0 = ThreadCpuSeconds(feeder.native_handle());
    const double reader0 = ThreadCpuSeconds(pthread_self());
    const auto wall0 = Clock::now();
    const std::string command = "ffmpeg -nostdin -v error -live_start_index -1 -i " + relay.HlsUrl("bench") +
                                " -map 0:v -f rawvideo -pix_fmt gray - 2>/dev/null";
    FILE *decoded = ::popen(command.c_str(), "r");
    std::vector<unsigned char> gray(static_cast<std::size_t>(kW) * kH);
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (decoded && Clock::now() < end && std::fread(gray.data(), 1, gray.size(), decoded) == gray.size()) {
        const auto now = Clock::now();
        const int n = ReadPictureNumber(gray.data());
        std::lock_guard<std::mutex> l(lock);
        const auto it = captured.find(n);
        if (it != captured.end() && now >= it->second && now - it->second < std::chrono::seconds(30))
            latencies.push_back(Seconds(now - it->second));
    }
    const double relayCpu = (ProcessCpuSeconds(::getpid()) - process0) -
                            (ThreadCpuSeconds(feeder.native_handle()) - feeder0) -
                            (ThreadCpuSeconds(pthread_self()) - reader0);
    const double wall = Seconds(Clock::now() - wall0);
    feeding = false;
    feeder.join();
    publisher.Stop();
    if (decoded)
        ::pclose(decoded);
    std::printf("glass to glass through the relay's HLS (640x480@15, ffmpeg from the newest fragment): "
                "median %.2f s, p95 %.2f s, min %.2f s over %zu pictures; %llu pictures sent, %llu dropped\n",
                Percentile(latencies, 0.5), Percentile(latencies, 0.95), Percentile(latencies, 0.0),
                latencies.size(), static_cast<unsigned long long>(publisher.PicturesSent()),
                static_cast<unsigned long long>(publisher.PicturesDropped()));
    std::printf("relay branch with moving 640x480@15 pictures (this process less its feeding and reading "
                "threads): %.1f %% of one core\n",
                100.0 * relayCpu / wall);
}

} // namespace

int main(int argc, char **argv)
{
    int cpuSeconds = 30, latencySeconds = 40;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--cpu-seconds") == 0)
            cpuSeconds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--latency-seconds") == 0)
            latencySeconds = std::atoi(argv[i + 1]);
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (cpuSeconds > 0) {
        const double off = BroadcasterCpu(false, cpuSeconds);
        const double on = BroadcasterCpu(true, cpuSeconds);
        std::printf("broadcaster CPU (640x480@15 test camera, %d s): %.1f %% of one core without -relay, "
                    "%.1f %% with it: the relay branch takes %.1f %%\n",
                    cpuSeconds, off, on, on - off);
    }
    if (latencySeconds > 0)
        GlassToGlass(latencySeconds);
    return 0;
}
