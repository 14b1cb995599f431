// Figures of the broadcaster's stream:
//  1. encoder CPU as a multiple of real time (the writer fed as fast as it
//     takes samples);
//  2. glass-to-glass latency: every frame carries its number in stripes; a
//     live ffmpeg decodes the served stream and each decoded number is
//     compared with the moment that frame was captured (median, p95). The
//     same frames are followed through every stage on the way (queue, in
//     front of the encoder, encoder, muxer, network sink and socket, player)
//     and the time each stage takes is printed;
//  3. the network sink's CPU with 50 players on loopback;
//  4. audio/video skew: a white flash and a beep captured at the same moment,
//     found again in the served stream.
//
// The live figures are taken with sound in the buffers the broadcaster's audio
// graph hands over (measured first on the test microphone), and once more
// with one-second buffers, the size of the capture pin's suggested allocator
// that a DirectShow graph fills: the muxer interleaves by time, so every
// picture waits for the sound captured with it.
//
//   stream_bench [--encode-seconds N] [--live-seconds N] [--audio-buffer-ms N]
//                [--serve SECONDS]
// --audio-buffer-ms runs the live figures with that buffer size only.
// --serve only runs a live broadcast on a free port for manual checks.
#include "AsfParser.h"
#include "CAudio.h"
#include "CLogFile.h"
#include "CNetWrite.h"
#include "CSamplePath.h"
#include "CWMProfileManager.h"
#include "CWMWriter.h"
#include "TestDevices.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The frame number of a bottom-up BGR frame as the sample path queues it.
int ReadFrameNumberBgr(const unsigned char *bgr)
{
    std::vector<unsigned char> gray(static_cast<std::size_t>(kW) * kH);
    for (int yTop = 0; yTop < kH; ++yTop)
        for (int x = 0; x < kW; ++x)
            gray[static_cast<std::size_t>(yTop) * kW + x] =
                bgr[(static_cast<std::size_t>(kH - 1 - yTop) * kW + x) * 3];
    return ReadFrameNumber(gray.data());
}

// Follows the video's media objects through a stream of data packets: the
// moment the last fragment of each object went by.
class ObjectTracker {
public:
    void SetHeader(const std::uint8_t *data, std::size_t size)
    {
        if (const auto info = asf::ParseHeader(data, size)) {
            m_videoStream = info->videoStream;
            m_packetSize = info->packetSize;
        }
    }
    std::uint32_t PacketSize() const { return m_packetSize; }
    // Calls done(k, object) for every video object completed in this packet,
    // k counting the stream's objects from the first one seen, object being
    // its (8-bit) media object number.
    template <typename Done> void Packet(const std::uint8_t *data, std::size_t size, Done done)
    {
        const auto payloads = asf::ParsePacket(data, size);
        if (!payloads || !m_videoStream)
            return;
        for (const asf::Payload &p : *payloads) {
            if (p.stream != m_videoStream || !p.objectSize || p.offset + p.size != p.objectSize)
                continue;
            if (!m_started) {
                m_started = true;
                m_lastObject = p.mediaObject;
                m_count = 0;
            } else {
                m_count += (p.mediaObject - m_lastObject) & 0xFF;
                m_lastObject = p.mediaObject;
            }
            done(m_count, p.mediaObject & 0xFF);
        }
    }

private:
    int m_videoStream = 0;
    std::uint32_t m_packetSize = 0;
    bool m_started = false;
    std::uint32_t m_lastObject = 0;
    long long m_count = 0;
};

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

// When one frame passed each stage on its way to the player.
enum Stage { kCaptured, kWritten, kEncoderIn, kEncoderOut, kMuxed, kReceived, kDecoded, kStages };
const char *const kStageNames[kStages] = {"capture", "queue",       "to encoder", "encoder",
                                          "muxer",   "sink+socket", "player"};

struct Live : IWMWriterSink {
    CNetWrite net;
    CSamplePath path{net};
    std::atomic<bool> run{true};
    std::mutex lock;
    std::map<int, Clock::time_point> captured; // frame number -> capture moment
    Clock::time_point start;
    // Frame number -> when it passed each stage (guarded by lock).
    std::map<int, std::array<Clock::time_point, kStages>> stages;
    std::deque<int> inEncoder;          // frames inside the video encoder, oldest first
    long long encoded = 0;              // frames out of the encoder so far
    std::map<long long, int> encodedAs; // encoder output count -> frame number
    ObjectTracker muxed, received;

    void Mark(int n, Stage stage, Clock::time_point t)
    {
        if (n >= 0)
            stages[n][stage] = t;
    }
    // The write thread is about to write this block.
    static void OnWrite(void *self, const SampleBlock &b)
    {
        auto *live = static_cast<Live *>(self);
        if (b.input != live->net.VideoInput() || b.length != static_cast<DWORD>(kW * kH * 3))
            return;
        const int n = ReadFrameNumberBgr(b.Data());
        std::lock_guard<std::mutex> l(live->lock);
        live->Mark(n, kWritten, Clock::now());
    }
    static GstPadProbeReturn OnEncoderIn(GstPad *, GstPadProbeInfo *info, gpointer self)
    {
        auto *live = static_cast<Live *>(self);
        const auto now = Clock::now();
        platform::BufferMap map(GST_PAD_PROBE_INFO_BUFFER(info), GST_MAP_READ);
        if (!map.ok() || map.size() < static_cast<std::size_t>(kW) * kH)
            return GST_PAD_PROBE_OK;
        const int n = ReadFrameNumber(map.data()); // the luma plane comes first
        std::lock_guard<std::mutex> l(live->lock);
        live->Mark(n, kEncoderIn, now);
        live->inEncoder.push_back(n);
        return GST_PAD_PROBE_OK;
    }
    static GstPadProbeReturn OnEncoderOut(GstPad *, GstPadProbeInfo *, gpointer self)
    {
        auto *live = static_cast<Live *>(self);
        const auto now = Clock::now();
        std::lock_guard<std::mutex> l(live->lock);
        if (live->inEncoder.empty())
            return GST_PAD_PROBE_OK;
        const int n = live->inEncoder.front();
        live->inEncoder.pop_front();
        live->Mark(n, kEncoderOut, now);
        live->encodedAs[live->encoded++] = n;
        return GST_PAD_PROBE_OK;
    }
    void OnHeader(AsfBytes header) override
    {
        std::lock_guard<std::mutex> l(lock);
        muxed.SetHeader(header->data(), header->size());
    }
    void OnDataUnit(AsfBytes packet) override
    {
        const auto now = Clock::now();
        std::lock_guard<std::mutex> l(lock);
        muxed.Packet(packet->data(), packet->size(), [&](long long k, std::uint32_t object) {
            const auto it = encodedAs.find(k);
            if (it == encodedAs.end())
                return;
            Mark(it->second, kMuxed, now);
            frameOfObject[object] = it->second;
        });
    }
    void OnEndWriting() override {}
    // Bytes of the recorded player's stream as they arrive (after the HTTP head).
    void OnReceived(const std::uint8_t *body, std::size_t size, std::size_t &consumed)
    {
        const auto now = Clock::now();
        std::lock_guard<std::mutex> l(lock);
        if (!received.PacketSize()) {
            const auto info = asf::ParseHeader(body, size);
            if (!info || size < info->headerObjectSize + asf::kDataObjectHeaderSize)
                return;
            received.SetHeader(body, size);
            consumed = info->headerObjectSize + asf::kDataObjectHeaderSize;
        }
        const std::size_t packet = received.PacketSize();
        while (packet && size - consumed >= packet) {
            // Object numbers repeat every 256 frames (17 s); the frame muxed
            // last under this number is the one that just arrived.
            received.Packet(body + consumed, packet, [&](long long, std::uint32_t object) {
                const auto it = frameOfObject.find(object);
                if (it != frameOfObject.end())
                    Mark(it->second, kReceived, now);
            });
            consumed += packet;
        }
    }
    std::map<std::uint32_t, int> frameOfObject; // media object number -> frame last muxed under it

    void Feed()
    {
        start = Clock::now();
        std::thread sound([this] { FeedSound(); });
        std::vector<unsigned char> frame;
        for (int n = 0; run; ++n) {
            std::this_thread::sleep_until(
                start + std::chrono::microseconds(static_cast<long long>(n) * 1000000 / kFps));
            DrawFrame(frame, n);
            {
                std::lock_guard<std::mutex> l(lock);
                captured[n % (1 << kBits)] = Clock::now();
                Mark(n % (1 << kBits), kCaptured, captured[n % (1 << kBits)]);
            }
            VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
        }
        sound.join();
    }

    // Sound in buffers of audioBufferMs, each delivered when its last sample
    // is in, with a beep at every flash.
    int audioBufferMs = 1000;
    void FeedSound()
    {
        const long samples = 32L * audioBufferMs;
        std::vector<unsigned char> audio(static_cast<std::size_t>(samples) * 4);
        for (long k = 0; run; ++k) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds((k + 1) * audioBufferMs));
            if (!run)
                break;
            std::fill(audio.begin(), audio.end(), 0);
            const long first = k * samples; // sample number of the buffer's first sample
            for (long s = 0; s < samples; ++s) {
                const long at = first + s;
                // The beep starts with every flash frame and lasts 100 ms.
                const long flashSamples = 32000L * kFlashEvery / kFps;
                const long into = at % flashSamples;
                if (into >= 3200)
                    continue;
                const auto v = static_cast<std::int16_t>(
                    20000 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(into) / 32000));
                for (int c = 0; c < 2; ++c) {
                    audio[static_cast<std::size_t>(s) * 4 + c * 2] = static_cast<unsigned char>(v & 0xFF);
                    audio[static_cast<std::size_t>(s) * 4 + c * 2 + 1] =
                        static_cast<unsigned char>((v >> 8) & 0xFF);
                }
            }
            AudioSampleSink(0, audio.data(), static_cast<long>(audio.size()));
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

void BenchLive(int seconds, bool serveOnly, int audioBufferMs)
{
    g_nClosing = 0;
    g_nLive = 1;
    Live live;
    live.audioBufferMs = audioBufferMs;
    live.path.LoadPauseImage();
    live.net.InitWriter(&live.path);
    if (FAILED(live.net.StartNetworkStream(0))) {
        std::printf("live: could not start the stream\n");
        return;
    }
    const int port = static_cast<int>(live.net.ListenPort());
    if (!serveOnly) {
        // Follow the frames: the write thread, the video encoder's two
        // sides, and what the muxer hands to its sinks.
        live.path.SetWriteObserver(&Live::OnWrite, &live);
        live.net.Writer()->AddSink(&live);
        const std::string name = "enc" + std::to_string(live.net.VideoInput());
        platform::GstPtr<GstElement> encoder = live.net.Writer()->Element(name.c_str());
        platform::GstPtr<GstPad> in(encoder ? gst_element_get_static_pad(encoder.get(), "sink") : nullptr);
        platform::GstPtr<GstPad> out(encoder ? gst_element_get_static_pad(encoder.get(), "src") : nullptr);
        if (in && out) {
            gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_BUFFER, &Live::OnEncoderIn, &live, nullptr);
            gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, &Live::OnEncoderOut, &live, nullptr);
        }
    }
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
            if (it != live.captured.end() && now - live.start > std::chrono::seconds(4)) {
                latencies.push_back(Seconds(now - it->second) * 1000);
                live.Mark(n, kDecoded, now);
            }
        }
        ::pclose(p);
    });

    // The recorder (for the skew) and 48 more players: 50 in all.
    std::vector<int> fds;
    for (int i = 0; i < 49; ++i)
        fds.push_back(Connect(port));
    std::string recorded;
    std::size_t consumed = 0;
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
                if (i == 0) {
                    recorded.append(buf, static_cast<std::size_t>(n));
                    const std::size_t head = recorded.find("\r\n\r\n");
                    if (head != std::string::npos) {
                        // The body so far; `consumed` counts what was parsed.
                        live.OnReceived(reinterpret_cast<const std::uint8_t *>(recorded.data()) + head + 4,
                                        recorded.size() - head - 4, consumed);
                    }
                }
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
    // Where the time goes: the median time each stage adds, over the frames
    // seen at every stage.
    std::vector<std::vector<double>> perStage(kStages);
    {
        std::lock_guard<std::mutex> l(live.lock);
        for (const auto &[n, t] : live.stages) {
            bool complete = true;
            for (const auto &at : t)
                complete = complete && at != Clock::time_point{};
            if (!complete)
                continue;
            for (int stage = 1; stage < kStages; ++stage)
                perStage[static_cast<std::size_t>(stage)].push_back(
                    Seconds(t[static_cast<std::size_t>(stage)] - t[static_cast<std::size_t>(stage - 1)]) *
                    1000);
        }
    }
    std::printf("latency by stage over %zu frames, median (p95) ms:", perStage[1].size());
    for (int stage = 1; stage < kStages; ++stage)
        std::printf(" %s %.0f (%.0f)%s", kStageNames[stage],
                    Percentile(perStage[static_cast<std::size_t>(stage)], 0.5),
                    Percentile(perStage[static_cast<std::size_t>(stage)], 0.95),
                    stage + 1 < kStages ? "," : "\n");

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

// The length of the buffers the audio graph hands to the audio sink, in
// milliseconds, as the broadcaster captures the test microphone (the default
// test device; a PulseAudio or ALSA source gives 10 ms periods).
std::atomic<long> g_audioBuffers{0};
std::atomic<long> g_audioBytes{0};
void CountAudio(double, const unsigned char *, long bytes)
{
    ++g_audioBuffers;
    g_audioBytes += bytes;
}

int MeasureAudioGraphBufferMs()
{
    testdevices::SetFakeDevices({testdevices::Microphone(
        "Bench Mic", "audio/x-raw,format=S16LE,rate=32000,channels=2,layout=interleaved")});
    CAudio audio;
    audio.SetAudioSink(&CountAudio);
    if (FAILED(audio.InitAudioDevice("Bench Mic")))
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    audio.ReleaseGraph();
    testdevices::ClearFakeDevices();
    const long buffers = g_audioBuffers.load();
    return buffers ? static_cast<int>(g_audioBytes.load() / buffers / (CSamplePath::kAudioBytesPerMs)) : 0;
}

} // namespace

int main(int argc, char **argv)
{
    int encodeSeconds = 60, liveSeconds = 20, serve = 0, audioBufferMs = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--encode-seconds")
            encodeSeconds = std::atoi(argv[i + 1]);
        else if (a == "--live-seconds")
            liveSeconds = std::atoi(argv[i + 1]);
        else if (a == "--serve")
            serve = std::atoi(argv[i + 1]);
        else if (a == "--audio-buffer-ms")
            audioBufferMs = std::clamp(std::atoi(argv[i + 1]), 10, 1000);
    }
    if (serve > 0) {
        BenchLive(serve, true, audioBufferMs ? audioBufferMs : 32);
        return 0;
    }
    std::printf("stream_bench: targets: encoding >= 6x real time on one core; latency median <= 500 ms, "
                "p95 <= 800 ms; sink < 10%% of one core with 50 players; skew <= 100 ms\n");
    BenchEncoder(encodeSeconds);
    if (audioBufferMs) {
        std::printf("-- live, sound in %d ms buffers\n", audioBufferMs);
        BenchLive(liveSeconds, false, audioBufferMs);
        return 0;
    }
    const int graphMs = MeasureAudioGraphBufferMs();
    std::printf(
        "-- live, sound in %d ms buffers (what the audio graph hands over from the test microphone)\n",
        graphMs);
    BenchLive(liveSeconds, false, std::clamp(graphMs, 10, 1000));
    std::printf(
        "-- live, sound in 1000 ms buffers (a graph that fills the suggested 128000-byte allocator)\n");
    BenchLive(liveSeconds, false, 1000);
    return 0;
}
