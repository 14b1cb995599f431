// The stream served on loopback to real players (ffprobe, ffmpeg over http://
// and mmsh://, GStreamer's playbin) and to raw clients that count and time
// what they receive.
#include "AsfParser.h"
#include "BroadcastFixture.h"
#include "MmsFraming.h"

#include <fstream>
#include <future>
#include <sstream>

using namespace streamtest;
using Clock = std::chrono::steady_clock;

namespace {

std::string Url(const char *scheme, int port)
{
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + "/";
}

long long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Splits an MMS-framed body into chunks; stops at an incomplete one.
struct Chunk {
    char type;
    std::uint32_t sequence;
    std::string payload;
};
std::vector<Chunk> Chunks(const std::string &body, bool *wellFormed)
{
    std::vector<Chunk> out;
    *wellFormed = true;
    std::size_t at = 0;
    while (body.size() - at >= mms::kChunkOverhead) {
        const auto *p = reinterpret_cast<const unsigned char *>(body.data() + at);
        const std::size_t length = p[2] | (p[3] << 8);
        if (p[0] != '$' || length < 8 || p[10] != p[2] || p[11] != p[3]) {
            *wellFormed = false;
            break;
        }
        if (body.size() - at < 4 + length)
            break;
        const std::uint32_t seq =
            p[4] | (p[5] << 8) | (p[6] << 16) | (static_cast<std::uint32_t>(p[7]) << 24);
        out.push_back(Chunk{static_cast<char>(p[1]), seq, body.substr(at + 12, length - 8)});
        at += 4 + length;
    }
    return out;
}

} // namespace

using StreamServing = Broadcast;

TEST_F(StreamServing, RealPlayersPlayTheStreamAndLateJoinersStartAtAKeyFrame)
{
    ASSERT_EQ(StartBroadcast(), S_OK);
    ASSERT_GT(m_port, 0);
    g_nLive = 1;
    StartFeeding();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    auto probe = std::async(std::launch::async, [&] {
        std::string out;
        RunShell("timeout 20 ffprobe -v error -show_entries "
                 "stream=codec_name,width,height,sample_rate,channels -of compact " +
                     Url("http", m_port),
                 &out);
        return out;
    });
    auto mmsh = std::async(std::launch::async, [&] {
        std::string out;
        const int rc = RunShell(
            "timeout 25 ffmpeg -nostdin -v error -i " + Url("mmsh", m_port) + " -t 3 -f framecrc -", &out);
        return std::make_pair(rc, out);
    });
    auto playbin = std::async(std::launch::async, [&] {
        std::string out;
        RunShell("timeout -s INT 7 gst-launch-1.0 playbin uri=" + Url("http", m_port) +
                     " video-sink=fakesink audio-sink=fakesink",
                 &out);
        return out;
    });

    // A player that joins ten seconds in.
    std::this_thread::sleep_until(Clock::now() + std::chrono::milliseconds(9700));
    RawClient late;
    const auto joined = Clock::now();
    ASSERT_TRUE(late.Get(m_port));
    ASSERT_TRUE(late.ReadAtLeast(1, 3000));
    std::size_t headerEnd = 0;
    const auto info = [&]() -> std::optional<asf::HeaderInfo> {
        late.ReadAtLeast(late.Head().size() + 4 + 1000, 3000);
        const std::string body = late.Body();
        auto h = asf::ParseHeader(reinterpret_cast<const std::uint8_t *>(body.data()), body.size());
        if (h)
            headerEnd = h->headerObjectSize + asf::kDataObjectHeaderSize;
        return h;
    }();
    ASSERT_TRUE(info);
    EXPECT_NE(late.Head().find("Content-Type: video/x-ms-asf"), std::string::npos);
    const std::size_t firstPacketEnd = late.Head().size() + 4 + headerEnd + info->packetSize;
    ASSERT_TRUE(late.ReadAtLeast(firstPacketEnd, 3000));
    const long long firstPacketMs = MsSince(joined);
    const std::string body = late.Body();
    EXPECT_TRUE(asf::StartsVideoKeyFrame(reinterpret_cast<const std::uint8_t *>(body.data()) + headerEnd,
                                         info->packetSize, info->videoStream));
    // The sink keeps the stream since the last key frame: a new player starts
    // there at once instead of waiting up to a second for the next one.
    EXPECT_LT(firstPacketMs, 400);

    // ffmpeg joining late decodes its first picture soon (its own start-up
    // and probing included).
    const auto ffStart = Clock::now();
    const std::string rawFile = m_dir.file("late.rgb");
    std::string lateLog;
    RunShell("timeout 10 ffmpeg -nostdin -v warning -probesize 2048 -analyzeduration 0 -i " +
                 Url("http", m_port) + " -frames:v 1 -f rawvideo -pix_fmt rgb24 -y " + rawFile,
             &lateLog);
    const long long ffMs = MsSince(ffStart);
    EXPECT_EQ(TestDir::Read(rawFile).size(), kFrameBytes) << lateLog;
    EXPECT_EQ(lateLog.find("keyframe"), std::string::npos) << lateLog;
    EXPECT_LT(ffMs, 3000);

    const std::string probed = probe.get();
    EXPECT_NE(probed.find("codec_name=wmv2|width=320|height=240"), std::string::npos) << probed;
    EXPECT_NE(probed.find("codec_name=wmav2|sample_rate=32000|channels=2"), std::string::npos) << probed;

    const auto [mmshRc, mmshOut] = mmsh.get();
    EXPECT_EQ(mmshRc, 0) << mmshOut;
    int videoFrames = 0, audioFrames = 0, errors = 0;
    std::istringstream lines(mmshOut);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("1,", 0) == 0)
            ++videoFrames;
        else if (line.rfind("0,", 0) == 0)
            ++audioFrames;
        else if (!line.empty() && line[0] != '#')
            ++errors;
    }
    EXPECT_GE(videoFrames, 40) << mmshOut; // three seconds at 15 frames per second
    EXPECT_GT(audioFrames, 0) << mmshOut;
    EXPECT_EQ(errors, 0) << mmshOut;

    const std::string played = playbin.get();
    EXPECT_NE(played.find("Setting pipeline to PLAYING"), std::string::npos) << played;
    EXPECT_EQ(played.find("ERROR"), std::string::npos) << played;
}

TEST_F(StreamServing, FiftyPlayersAreServedTheFiftyFirstRefusedAndSlowOnesDropped)
{
    ASSERT_EQ(StartBroadcast(), S_OK);
    m_net.NetworkSink()->SetMaxLag(std::chrono::milliseconds(1000));
    g_nLive = 1;
    StartFeeding();

    std::vector<std::unique_ptr<RawClient>> players;
    for (int i = 0; i < 49; ++i) {
        players.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(players.back()->Get(m_port)) << i;
    }
    // One player that stops reading at once.
    RawClient stalled;
    ASSERT_TRUE(stalled.Get(m_port, "", 4096));
    // Everyone gets the header and packets.
    for (auto &p : players)
        EXPECT_TRUE(p->ReadAtLeast(4000, 8000));
    ASSERT_EQ(m_net.NetworkSink()->PlayerCount(), 50);

    RawClient refused;
    ASSERT_TRUE(refused.Get(m_port));
    EXPECT_TRUE(refused.ReadToEnd(3000));
    EXPECT_EQ(refused.data.rfind("HTTP/1.0 503", 0), 0u) << refused.data;
    EXPECT_EQ(m_net.NetworkSink()->PlayersRefused(), 1u);

    // The stalled player falls behind and is dropped; the others play on.
    const auto until = Clock::now() + std::chrono::seconds(15);
    while (m_net.NetworkSink()->PlayersDropped() == 0 && Clock::now() < until)
        for (auto &p : players)
            p->ReadSome(5);
    EXPECT_EQ(m_net.NetworkSink()->PlayersDropped(), 1u);
    std::vector<std::size_t> before;
    for (auto &p : players)
        before.push_back(p->data.size());
    const auto more = Clock::now() + std::chrono::milliseconds(1500);
    while (Clock::now() < more)
        for (auto &p : players)
            p->ReadSome(5);
    for (std::size_t i = 0; i < players.size(); ++i)
        EXPECT_GT(players[i]->data.size(), before[i] + 1000) << i;

    // Closing the writer ends every player's stream.
    StopBroadcast();
    for (auto &p : players)
        EXPECT_TRUE(p->ReadToEnd(4000));
}

TEST_F(StreamServing, WindowsMediaPlayersGetFramedChunks)
{
    ASSERT_EQ(StartBroadcast(), S_OK);
    g_nLive = 1;
    StartFeeding();
    const std::string nsplayer = "User-Agent: NSPlayer/9.0.0.2980\r\n";

    // First request: the header alone, with its length.
    RawClient describe;
    ASSERT_TRUE(
        describe.Get(m_port, nsplayer + "Pragma: xClientGUID={3300AD50-2C39-46c0-AE0A-60CB1C1E2A4B}\r\n"));
    ASSERT_TRUE(describe.ReadToEnd(5000));
    EXPECT_NE(describe.Head().find("Content-Type: application/x-mms-framed"), std::string::npos);
    const std::size_t lengthAt = describe.Head().find("Content-Length: ");
    ASSERT_NE(lengthAt, std::string::npos);
    EXPECT_EQ(std::stoul(describe.Head().substr(lengthAt + 16)), describe.Body().size());
    bool ok = false;
    auto chunks = Chunks(describe.Body(), &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].type, 'H');
    const auto info = asf::ParseHeader(reinterpret_cast<const std::uint8_t *>(chunks[0].payload.data()),
                                       chunks[0].payload.size());
    ASSERT_TRUE(info);

    // Second request: header then one packet per data chunk, from a key frame.
    RawClient play;
    ASSERT_TRUE(play.Get(m_port, nsplayer + "Pragma: xPlayStrm=1\r\n"));
    ASSERT_TRUE(play.ReadAtLeast(20000, 8000));
    chunks = Chunks(play.Body(), &ok);
    ASSERT_TRUE(ok);
    ASSERT_GE(chunks.size(), 5u);
    EXPECT_EQ(chunks[0].type, 'H');
    EXPECT_EQ(chunks[0].payload, describe.Body().substr(12));
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].type, 'D');
        EXPECT_EQ(chunks[i].payload.size(), info->packetSize);
        EXPECT_EQ(chunks[i].sequence, chunks[i - 1].sequence + 1);
    }
    EXPECT_TRUE(asf::StartsVideoKeyFrame(reinterpret_cast<const std::uint8_t *>(chunks[1].payload.data()),
                                         info->packetSize, info->videoStream));

    // A request whose last header line has no line end is still answered.
    RawClient unterminated;
    ASSERT_TRUE(unterminated.Connect(m_port));
    ASSERT_TRUE(unterminated.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nPragma: xPlayStrm=1"));
    EXPECT_TRUE(unterminated.ReadAtLeast(2000, 5000));
    EXPECT_EQ(unterminated.data.rfind("HTTP/1.0 200 OK", 0), 0u);
    // HEAD describes the stream without sending it.
    RawClient head;
    ASSERT_TRUE(head.Connect(m_port));
    ASSERT_TRUE(head.Send("HEAD / HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(head.ReadToEnd(3000));
    EXPECT_EQ(head.data.rfind("HTTP/1.0 200 OK", 0), 0u);
    EXPECT_NE(head.data.find("video/x-ms-asf"), std::string::npos);
    EXPECT_TRUE(head.Body().empty());
    // Garbage is refused.
    RawClient garbage;
    ASSERT_TRUE(garbage.Connect(m_port));
    ASSERT_TRUE(garbage.Send("HELLO\r\n\r\n"));
    EXPECT_TRUE(garbage.ReadToEnd(3000));
    EXPECT_EQ(garbage.data.rfind("HTTP/1.0 400", 0), 0u) << garbage.data;

    // The end: an end chunk for the framed player, then the close. Its
    // reason field is 0 (nothing follows), so players end instead of
    // reconnecting for another stream.
    StopBroadcast();
    EXPECT_TRUE(play.ReadToEnd(4000));
    chunks = Chunks(play.Body(), &ok);
    ASSERT_TRUE(ok);
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(chunks.back().type, 'E');
    EXPECT_EQ(chunks.back().sequence, 0u);
    EXPECT_TRUE(chunks.back().payload.empty());
    EXPECT_TRUE(unterminated.ReadToEnd(4000));
}

TEST_F(StreamServing, UnfinishedRequestsHoldNoPlayerPlace)
{
    ASSERT_EQ(StartBroadcast(), S_OK);
    g_nLive = 1;
    StartFeeding();
    // Strangers that send a request line and then nothing.
    const auto connected = Clock::now();
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < 60; ++i) {
        silent.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(silent.back()->Connect(m_port)) << i;
        ASSERT_TRUE(silent.back()->Send("GET / HTTP/1.0\r\n")) << i;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(m_net.NetworkSink()->PlayerCount(), 0);

    // A real player still gets the stream.
    std::string probed;
    RunShell("timeout 20 ffprobe -v error -show_entries stream=codec_name,width,height -of compact " +
                 Url("http", m_port),
             &probed);
    EXPECT_NE(probed.find("codec_name=wmv2|width=320|height=240"), std::string::npos) << probed;
    EXPECT_EQ(m_net.NetworkSink()->PlayersRefused(), 0u);

    // One of them finishes its request late: it is served then.
    ASSERT_TRUE(silent[0]->Send("Host: 127.0.0.1\r\n\r\n"));
    EXPECT_TRUE(silent[0]->ReadAtLeast(2000, 5000));
    EXPECT_EQ(silent[0]->data.rfind("HTTP/1.0 200 OK", 0), 0u) << silent[0]->data;
    // Nothing was sent to the others, and they are closed at the request's
    // time limit.
    std::this_thread::sleep_until(connected + CWMWriterNetworkSink::kRequestTimeout +
                                  std::chrono::milliseconds(1500));
    for (std::size_t i = 1; i < silent.size(); ++i) {
        EXPECT_TRUE(silent[i]->ReadToEnd(1000)) << i;
        EXPECT_TRUE(silent[i]->data.empty()) << i;
    }
    EXPECT_EQ(m_net.NetworkSink()->PlayerCount(), 1);
}

TEST_F(StreamServing, PausePictureUntilLiveThenTheCameraWithinTwoFrames)
{
    struct LiveSeen {
        std::mutex lock;
        DWORD firstVideo = 0, firstLive = 0;
        bool anyVideo = false, anyLive = false;
        DWORD videoInput = 0;
        static void Observe(void *self, const SampleBlock &b)
        {
            auto *s = static_cast<LiveSeen *>(self);
            std::lock_guard<std::mutex> l(s->lock);
            if (b.input != s->videoInput)
                return;
            if (!s->anyVideo) {
                s->anyVideo = true;
                s->firstVideo = b.time;
            }
            // Live frames are solid red (B=0, G=0, R=255).
            if (!s->anyLive && b.Data()[0] == 0 && b.Data()[2] == 255) {
                s->anyLive = true;
                s->firstLive = b.time;
            }
        }
    } seen;
    const StopsBroadcast stopFirst(*this); // the write thread calls into `seen`
    SetFrame(SolidFrame(255, 0, 0));
    m_path.SetWriteObserver(&LiveSeen::Observe, &seen);
    ASSERT_EQ(StartBroadcast(), S_OK);
    seen.videoInput = m_net.VideoInput();
    RawClient viewer;
    ASSERT_TRUE(viewer.Get(m_port));
    StartFeeding();
    const auto until = Clock::now() + std::chrono::milliseconds(2500);
    while (Clock::now() < until)
        viewer.ReadSome(10);
    g_nLive = 1;
    const auto until2 = Clock::now() + std::chrono::milliseconds(2000);
    while (Clock::now() < until2)
        viewer.ReadSome(10);
    StopBroadcast();
    ASSERT_TRUE(viewer.ReadToEnd(5000));
    ASSERT_TRUE(seen.anyLive);

    const std::string file = m_dir.file("viewer.asf");
    const std::string body = viewer.Body();
    std::ofstream(file, std::ios::binary).write(body.data(), static_cast<std::streamsize>(body.size()));
    const std::string pts =
        Capture("ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 " + file);
    const std::string rgb = Capture("ffmpeg -v error -i " + file +
                                    " -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt rgb24 -");
    std::vector<double> times;
    std::istringstream in(pts);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            times.push_back(std::atof(line.c_str()));
    ASSERT_EQ(times.size() * kFrameBytes, rgb.size());
    ASSERT_GT(times.size(), 50u);

    // A picture's decoded time is its capture time (since the start tick).
    // When the first picture comes late (a slow start of the encoders), the
    // frame-rate fitting fills the stream's start with copies of it.
    const double switchAt = seen.firstLive / 1000.0;
    // Two frames is what the writer takes; two more allow for the frame-rate
    // fitting repeating a late pause frame on a busy machine (a CI runner
    // shares its two cores with the encoder). Sanitizer builds encode slower
    // than real time, so the repeats last longer there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr int kSwitchFrames = 12;
#else
    constexpr int kSwitchFrames = 4;
#endif
    const double frame = 1.0 / 15;
    int pauseFrames = 0, liveFrames = 0;
    for (std::size_t i = 0; i < times.size(); ++i) {
        const auto *pic = reinterpret_cast<const unsigned char *>(rgb.data()) + i * kFrameBytes;
        const double t = times[i];
        const Rgb bar = MeanColour(pic, kWidth, 132, 90, 16, 60);   // left pause bar
        const Rgb top = MeanColour(pic, kWidth, 5, 5, 30, 20);      // top-left corner
        const Rgb bottom = MeanColour(pic, kWidth, 5, 215, 30, 20); // bottom-left corner
        const Rgb whole = MeanColour(pic, kWidth, 0, 0, kWidth, kHeight);
        const bool isPause = bar.r > 200 && bar.g > 200 && bar.b > 200 && top.b > top.r + 30 &&
                             bottom.b > top.b + 30; // lighter towards the bottom: not upside down
        const bool isLive = whole.r > 200 && whole.g < 60 && whole.b < 60;
        if (t < switchAt - frame) {
            EXPECT_TRUE(isPause) << "frame " << i << " at " << t << " bar " << bar.r << "," << bar.g << ","
                                 << bar.b << " top " << top.r << "," << top.g << "," << top.b << " bottom "
                                 << bottom.r << "," << bottom.g << "," << bottom.b;
            pauseFrames += isPause;
        } else if (t >= switchAt + kSwitchFrames * frame) {
            EXPECT_TRUE(isLive) << "frame " << i << " at " << t << " switch " << switchAt;
            liveFrames += isLive;
        }
    }
    EXPECT_GT(pauseFrames, 20);
    EXPECT_GT(liveFrames, 15);
}

TEST_F(StreamServing, ACameraThatStopsLeavesAMovingStreamAndFlowingSound)
{
    ASSERT_EQ(StartBroadcast(), S_OK);
    g_nLive = 1;
    StartFeeding();
    RawClient viewer;
    ASSERT_TRUE(viewer.Get(m_port));
    // Reads for `ms`; returns the longest time without any data arriving.
    auto readFor = [&](int ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        auto last = Clock::now();
        long long longestQuietMs = 0;
        while (Clock::now() < until) {
            const std::size_t before = viewer.data.size();
            viewer.ReadSome(20);
            if (viewer.data.size() > before) {
                longestQuietMs = std::max(longestQuietMs, MsSince(last));
                last = Clock::now();
            }
        }
        return std::max(longestQuietMs, MsSince(last));
    };
    readFor(2000);
    StopCamera(true); // for five seconds no picture comes
    const long long quietWhileStopped = readFor(5000);
    StopCamera(false);
    readFor(2000);
    StopBroadcast();
    ASSERT_TRUE(viewer.ReadToEnd(5000));

    // The viewer kept receiving: never more than the one second before the
    // repeats start without data.
    EXPECT_LT(quietWhileStopped, 1600);
    const std::string file = m_dir.file("stalled.asf");
    const std::string body = viewer.Body();
    std::ofstream(file, std::ios::binary).write(body.data(), static_cast<std::streamsize>(body.size()));
    auto times = [&](const char *stream) {
        std::vector<double> t;
        std::istringstream in(Capture(std::string("ffprobe -v error -select_streams ") + stream +
                                      " -show_entries frame=pts_time -of csv=p=0 " + file));
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line != "N/A") // the decoder's last flush has no time
                t.push_back(std::atof(line.c_str()));
        return t;
    };
    const std::vector<double> video = times("v"), audio = times("a");
    ASSERT_GT(video.size(), 2u);
    ASSERT_GT(audio.size(), 2u);
    auto largestGap = [](const std::vector<double> &t) {
        double gap = 0;
        for (std::size_t i = 1; i < t.size(); ++i)
            gap = std::max(gap, t[i] - t[i - 1]);
        return gap;
    };
    // Pictures throughout (the last one repeated while the camera was
    // stopped, after at most a second), and sound without a hole.
    EXPECT_LT(largestGap(video), 1.2);
    EXPECT_GT(static_cast<double>(video.size()), (video.back() - video.front()) * 15 * 0.8);
    EXPECT_GT(video.back() - video.front(), 7.5);
    EXPECT_LT(largestGap(audio), 0.2);
    EXPECT_GT(audio.back() - audio.front(), 7.0);
    // Said once in the log, and once when pictures come again.
    const std::string log = Log();
    EXPECT_EQ(Count(log, "No picture for more than 1000 ms"), 1) << log;
    EXPECT_EQ(Count(log, "Pictures arrive again"), 1) << log;
    EXPECT_GT(m_path.PicturesRepeated(), 45u);
}
