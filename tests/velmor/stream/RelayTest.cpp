// The broadcaster (Velmor.exe, on test devices) publishing to the project's
// relay (tools/run-relay.sh: nginx with its RTMP module) on loopback, read
// back as HLS by ffprobe; the relay going away and coming back; addresses
// that lead nowhere; an edge cache in front of the origin.
#include "RelayAddress.h"
#include "RelayServer.h"
#include "RunProgram.h"
#include "ServiceSite.h"
#include "StreamTestUtil.h"
#include "TestDir.h"

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>

using namespace streamtest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char kMic[] = "microphone:Test Mic";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Sanitizer builds of Velmor.exe run several times slower than real time (and
// the address sanitizer keeps freed memory aside): the rates, times and
// memory of a real build do not apply there, only the outcomes.
constexpr bool kRealTime = false;
constexpr int kSlowFactor = 4;
#else
constexpr bool kRealTime = true;
constexpr int kSlowFactor = 1;
#endif

int CountOf(const std::string &text, const std::string &what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A broadcaster Velmor.exe in its own installation-like folder, with its own
// registry, home and XDG folders, on free loopback ports.
class Broadcaster {
public:
    Broadcaster(const std::filesystem::path &dir, const ServiceSite &site, const std::string &camera,
                const std::vector<std::string> &extraArgs)
        : m_dir(dir), elport(FreeLoopbackPort())
    {
        std::filesystem::create_directories(dir);
        std::filesystem::copy(ProgramPath("Skin"), dir / "Skin", std::filesystem::copy_options::recursive);
        std::vector<std::string> env = PrivateProgramEnvironment(dir / "env");
        env.push_back("VELMOR_SERVICE_URL=" + site.BaseUrl());
        env.push_back("VELMOR_FAKE_DEVICES=" + camera + ";" + kMic);
        env.push_back("VELMOR_FAKE_SELECT=Test Camera");
        const std::string lport = std::to_string(FreeLoopbackPort());
        std::vector<std::string> args{
            "/u", "-start", "1", "-lport", lport, "-elport", std::to_string(elport)};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        m_program = std::make_unique<ChildProgram>(ProgramPath("Velmor.exe"), args, dir, env);
    }
    ~Broadcaster() { Stop(); }

    bool Running() { return m_program->Running(); }
    int Stop()
    {
        m_program->Signal(SIGTERM);
        return m_program->Wait(15000);
    }
    std::string Log() const { return platform::AnsiToUtf8(TestDir::Read(m_dir / "velmor.log")); }
    // Waits until the log holds `what`; false after `timeoutMs`.
    bool WaitForLog(const std::string &what, int timeoutMs) const
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Log().find(what) == std::string::npos) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }
    long RssKb() const
    {
        std::ifstream status("/proc/" + std::to_string(m_program->Pid()) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0)
                return std::stol(line.substr(6));
        return 0;
    }
    std::string Stderr() const { return m_program->Stderr(); }
    std::string LocalUrl() const { return "http://127.0.0.1:" + std::to_string(elport) + "/"; }

private:
    std::filesystem::path m_dir;
    std::unique_ptr<ChildProgram> m_program;

public:
    const int elport;
};

// Waits until the relay's playlist names at least `fragments` fragments.
bool WaitForPlaylist(const RelayServer &relay, const std::string &key, int fragments, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (CountOf(TestDir::Read(relay.HlsDir() / (key + ".m3u8")), "#EXTINF") >= fragments)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace

TEST(Relay, BroadcastReachesTheRelayAsHlsAtTheCamerasSizeAndRate)
{
    TestDir dir("relay-hls");
    ServiceSite site(dir.path() / "site");
    RelayServer relay(dir.path() / "relay");
    ASSERT_TRUE(relay.Ready()) << relay.Log();
    // The key keeps its case on the way from the command line to the relay.
    Broadcaster velmor(dir.path() / "velmor", site,
                       "camera:Test Camera:video/x-raw,format=BGR,width=1280,height=720,framerate=25/1",
                       {"-relay", relay.PublishUrl("Room7")});
    ASSERT_TRUE(WaitForPlaylist(relay, "Room7", 2, 40000 * kSlowFactor)) << velmor.Log() << relay.Log();

    ProgramResult probe =
        RunProgram("/usr/bin/ffprobe",
                   {"-v", "error", "-show_entries", "stream=codec_name,width,height,r_frame_rate,sample_rate",
                    "-of", "compact", relay.HlsUrl("Room7")},
                   dir.path(), {}, 30000);
    EXPECT_NE(probe.out.find("codec_name=h264|width=1280|height=720|r_frame_rate=25/1"), std::string::npos)
        << probe.out << probe.err;
    EXPECT_NE(probe.out.find("codec_name=aac"), std::string::npos) << probe.out;
    EXPECT_EQ(velmor.Stop(), 0) << velmor.Stderr();
    const std::string log = velmor.Log();
    EXPECT_EQ(CountOf(log, "릴레이 서버로 송출을 시작합니다: rtmp://127.0.0.1:" +
                               std::to_string(relay.RtmpPort()) + "/live/**** (1280x720, 초당 25장)"),
              1)
        << log;
    EXPECT_EQ(CountOf(log, "릴레이 송출을 마쳤습니다."), 1) << log;
    EXPECT_EQ(log.find("Room7"), std::string::npos) << "the key must not reach the log\n" << log;
}

TEST(Relay, RelayGoneForTenSecondsIsPublishedToWithinFiveSecondsOfItsReturnWhileTheLocalStreamRuns)
{
    TestDir dir("relay-outage");
    ServiceSite site(dir.path() / "site");
    RelayServer relay(dir.path() / "relay");
    ASSERT_TRUE(relay.Ready()) << relay.Log();
    Broadcaster velmor(dir.path() / "velmor", site,
                       "camera:Test Camera:video/x-raw,format=BGR,width=640,height=480,framerate=15/1",
                       {"-relay", relay.PublishUrl("room")});
    ASSERT_TRUE(WaitForPlaylist(relay, "room", 1, 40000 * kSlowFactor)) << velmor.Log() << relay.Log();

    // Every picture of the local stream, as it arrives (no decoding).
    const std::filesystem::path arrivals = dir.path() / "local.framemd5";
    ChildProgram counter("/usr/bin/ffmpeg",
                         {"-nostdin", "-v", "error", "-i", velmor.LocalUrl(), "-map", "0:v", "-c", "copy",
                          "-flush_packets", "1", "-f", "framemd5", "-y", arrivals.string()},
                         dir.path());
    auto pictures = [&] { return CountOf(TestDir::Read(arrivals), "\n0,"); };
    for (int i = 0; i < 300 && pictures() < 30; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<int> picturesSoFar; // every half second
    std::atomic<bool> sampling{true};
    std::thread sampler([&] {
        for (auto at = Clock::now(); sampling; picturesSoFar.push_back(pictures())) {
            at += std::chrono::milliseconds(500);
            std::this_thread::sleep_until(at);
        }
    });

    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long rssBefore = velmor.RssKb();
    relay.StopOrigin();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const bool back = relay.StartOrigin();
    const auto backAt = Clock::now();
    const bool published =
        velmor.WaitForLog("릴레이 서버에 다시 연결하여 송출을 이어갑니다.", 5000 * kSlowFactor);
    const auto publishedAfter = Clock::now() - backAt;
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const long rssAfter = velmor.RssKb();
    sampling = false;
    sampler.join();
    ASSERT_TRUE(back) << relay.Log();
    EXPECT_TRUE(published && publishedAfter < std::chrono::seconds(5 * kSlowFactor)) << velmor.Log();
    EXPECT_TRUE(WaitForPlaylist(relay, "room", 2, 10000 * kSlowFactor)) << relay.Log();

    // At least 14 pictures a second throughout, counted over four seconds:
    // the stream's packets come in bursts.
    for (std::size_t i = 8; kRealTime && i < picturesSoFar.size(); ++i)
        EXPECT_GE(picturesSoFar[i] - picturesSoFar[i - 8], 56) << "at " << i / 2.0 << " s";
    if (kRealTime) {
        EXPECT_LT(rssAfter - rssBefore, 30 * 1024) << rssBefore << " kB before, " << rssAfter << " kB after";
    }
    counter.Kill();
    EXPECT_EQ(velmor.Stop(), 0) << velmor.Stderr();
    const std::string log = velmor.Log();
    EXPECT_EQ(CountOf(log, "릴레이 서버와의 연결이 끊어졌습니다"), 1) << log;
    EXPECT_EQ(CountOf(log, "릴레이 서버에 다시 연결하여"), 1) << log;
}

TEST(Relay, AddressesThatLeadNowhereLogOneLinePerStateAndTheBroadcastGoesOn)
{
    TestDir dir("relay-nowhere");
    ServiceSite site(dir.path() / "site");
    struct Case {
        const char *what;
        std::string url;
        std::vector<std::string> lines; // each exactly once
    };
    // A name with a label over 63 characters cannot be resolved, and the
    // resolver refuses it without asking the network.
    const std::string unknownHost = std::string(70, 'x') + ".invalid";
    const std::vector<Case> cases{
        {"unknown host",
         "rtmp://" + unknownHost + "/live/key",
         {"릴레이 서버에 연결합니다", "릴레이 서버에 연결하지 못했습니다"}},
        {"refused",
         "rtmp://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/live/key",
         {"릴레이 서버에 연결합니다", "릴레이 서버에 연결하지 못했습니다"}},
        {"not RTMP (an HTTP server)",
         "rtmp://127.0.0.1:" + std::to_string(site.Port()) + "/live/key",
         {"릴레이 서버에 연결합니다", "릴레이 서버에 연결하지 못했습니다"}},
        {"not an RTMP address",
         "http://127.0.0.1/live/key",
         {"릴레이 주소가 올바르지 않아 릴레이로 송출하지 않습니다: http://127.0.0.1/live/****"}},
    };
    std::vector<std::unique_ptr<Broadcaster>> broadcasters;
    for (std::size_t i = 0; i < cases.size(); ++i)
        broadcasters.push_back(std::make_unique<Broadcaster>(
            dir.path() / ("velmor" + std::to_string(i)), site,
            "camera:Test Camera:video/x-raw,format=BGR,width=320,height=240,framerate=15/1",
            std::vector<std::string>{"-relay", cases[i].url}));
    // Long enough for three attempts (after 1 s, 2 s and 4 s).
    std::this_thread::sleep_for(std::chrono::seconds(9));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Broadcaster &velmor = *broadcasters[i];
        ProgramResult probe = RunProgram(
            "/usr/bin/ffprobe",
            {"-v", "error", "-show_entries", "stream=codec_name", "-of", "compact", velmor.LocalUrl()},
            dir.path(), {}, 20000);
        EXPECT_NE(probe.out.find("codec_name=wmv2"), std::string::npos) << cases[i].what << "\n" << probe.err;
        EXPECT_EQ(velmor.Stop(), 0) << cases[i].what << "\n" << velmor.Stderr();
        const std::string log = velmor.Log();
        for (const std::string &line : cases[i].lines)
            EXPECT_EQ(CountOf(log, line), 1) << cases[i].what << ": " << line << "\n" << log;
        EXPECT_EQ(CountOf(log, "Relay"), static_cast<int>(cases[i].lines.size()) + (i < 3 ? 1 : 0))
            << cases[i].what << ": one line per change of state, the end included\n"
            << log;
    }
}

TEST(Relay, AnEdgeServesTheOriginsHls)
{
    TestDir dir("relay-edge");
    RelayServer relay(dir.path() / "relay", {.edge = true});
    ASSERT_TRUE(relay.Ready()) << relay.Log();
    ChildProgram publisher("/usr/bin/gst-launch-1.0",
                           {"-q", "videotestsrc", "is-live=true", "pattern=ball", "!",
                            "video/x-raw,width=320,height=240,framerate=15/1", "!", "x264enc",
                            "tune=zerolatency", "key-int-max=15", "!", "h264parse", "!", "flvmux",
                            "streamable=true", "!", "rtmp2sink", "location=" + relay.PublishUrl("edge")},
                           dir.path());
    ASSERT_TRUE(WaitForPlaylist(relay, "edge", 3, 30000)) << publisher.Stderr() << relay.Log();

    // The same playlist (a second old at most) and byte for byte the same
    // fragments; the second viewer of a fragment is served from the cache.
    const std::string viaEdge = Capture("curl -sf " + relay.EdgeHlsUrl("edge"));
    const std::smatch name = [&] {
        std::smatch m;
        std::regex_search(viaEdge, m, std::regex("edge-[0-9]+\\.ts"));
        return m;
    }();
    ASSERT_FALSE(name.empty()) << viaEdge;
    const std::string fragmentUrl =
        "http://127.0.0.1:" + std::to_string(relay.EdgePort()) + "/hls/" + name.str();
    const std::string fromEdge = Capture("curl -sf " + fragmentUrl);
    EXPECT_EQ(fromEdge, TestDir::Read(relay.HlsDir() / name.str()));
    EXPECT_FALSE(fromEdge.empty());
    EXPECT_NE(Capture("curl -sfD - -o /dev/null " + fragmentUrl).find("X-Cache-Status: HIT"),
              std::string::npos);
    ProgramResult probe = RunProgram("/usr/bin/ffprobe",
                                     {"-v", "error", "-show_entries", "stream=codec_name,width,height", "-of",
                                      "compact", relay.EdgeHlsUrl("edge")},
                                     dir.path(), {}, 30000);
    EXPECT_NE(probe.out.find("codec_name=h264|width=320|height=240"), std::string::npos) << probe.err;
}

TEST(Relay, OnlyPublishAddressesAreTaken)
{
    struct Case {
        const char *url;
        bool ok;
        const char *host;
        int port;
        const char *app;
        const char *key;
    };
    const Case cases[] = {
        {"rtmp://relay.example/live/Room7", true, "relay.example", 1935, "live", "Room7"},
        {"RTMP://127.0.0.1:19350/live/a?token=X", true, "127.0.0.1", 19350, "live", "a?token=X"},
        {"rtmp://[::1]:1936/app/k", true, "::1", 1936, "app", "k"},
        {"rtmp://host/live/", false},
        {"rtmp://host/live", false},
        {"rtmp://host:0/live/k", false},
        {"rtmp://host:65536/live/k", false},
        {"rtmp://ho st/live/k", false},
        {"rtmp:///live/k", false},
        {"http://host/live/k", false},
        {"rtmp://host/live/a/b", false},
        {"", false},
    };
    for (const Case &c : cases) {
        RelayAddress a;
        ASSERT_EQ(RelayAddress::Parse(c.url, a), c.ok) << c.url;
        if (!c.ok)
            continue;
        EXPECT_EQ(a.host, c.host) << c.url;
        EXPECT_EQ(a.port, c.port) << c.url;
        EXPECT_EQ(a.app, c.app) << c.url;
        EXPECT_EQ(a.key, c.key) << c.url;
        EXPECT_EQ(a.Display().find(c.key), std::string::npos) << c.url;
    }
}
