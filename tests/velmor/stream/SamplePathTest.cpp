// The sample path and CNetWrite without players: what is queued, how it is
// stamped, what reaches the writer, and how set-up failures are reported.
#include "BroadcastFixture.h"

#include <sys/socket.h>
#include <unistd.h>

#include <functional>

using namespace streamtest;

namespace {

struct Seen {
    std::mutex lock;
    std::vector<SampleBlock> blocks; // headers only
    std::vector<std::vector<unsigned char>> firstBytes;
    static void Observe(void *self, const SampleBlock &b)
    {
        auto *s = static_cast<Seen *>(self);
        std::lock_guard<std::mutex> l(s->lock);
        s->blocks.push_back(SampleBlock{b.input, b.time, b.length});
        s->firstBytes.emplace_back(b.Data(), b.Data() + std::min<DWORD>(b.length, 16));
    }
    std::vector<SampleBlock> Blocks()
    {
        std::lock_guard<std::mutex> l(lock);
        return blocks;
    }
};

long ResidentKb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

bool WaitFor(const std::function<bool()> &condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A CNetWrite whose write thread or events cannot be created.
class FailingNetWrite : public CNetWrite {
public:
    enum class Fail { Thread, WriteEvent, ExitEvent, NoThreadButReady };
    explicit FailingNetWrite(Fail f) : m_fail(f) {}
    ~FailingNetWrite() override { ReleaseWriter(); }

protected:
    platform::HANDLE NewEvent(bool manualReset, bool initialState) override
    {
        if ((m_fail == Fail::WriteEvent && !manualReset) || (m_fail == Fail::ExitEvent && manualReset)) {
            platform::SetLastError(EMFILE);
            return nullptr;
        }
        return CNetWrite::NewEvent(manualReset, initialState);
    }
    bool LaunchWriteThread() override
    {
        if (m_fail == Fail::NoThreadButReady)
            return true; // a writer that never drains: the queue only grows
        if (m_fail == Fail::Thread) {
            platform::SetLastError(EAGAIN);
            return false;
        }
        return CNetWrite::LaunchWriteThread();
    }

private:
    Fail m_fail;
};

} // namespace

using SamplePath = Broadcast;

TEST_F(SamplePath, FramesBeforeTheWriterStartsAreDroppedAndTimesStartAtZero)
{
    const auto frame = SolidFrame(1, 2, 3);
    VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
    AudioSampleSink(0, m_tone.data(), 6400);
    EXPECT_EQ(m_path.BlocksQueued(), 0u);

    Seen seen;
    const StopsBroadcast stopFirst(*this); // the write thread calls into `seen`
    m_path.SetWriteObserver(&Seen::Observe, &seen);
    ASSERT_EQ(StartBroadcast(), S_OK);
    // An audio buffer arriving at once would reach back before the start.
    // (Starting the encoders takes a while on a busy machine: `at` is how
    // long after the start tick the buffer came.)
    const DWORD at = CNetWrite::GetTickCount() - m_net.StartTick();
    AudioSampleSink(0, m_tone.data(), static_cast<long>(m_tone.size()));
    VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
    ASSERT_TRUE(WaitFor([&] { return m_path.BlocksWritten() >= 2; }, 3000));
    const auto blocks = seen.Blocks();
    ASSERT_GE(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].input, m_net.AudioInput());
    if (at < 950)
        EXPECT_EQ(blocks[0].time, 0u);
    else
        EXPECT_NEAR(static_cast<double>(blocks[0].time), at - 1000.0, 50.0);
    EXPECT_EQ(blocks[1].input, m_net.VideoInput());
    EXPECT_LT(blocks[1].time, at + 1000u);
    EXPECT_NE(m_net.AudioInput(), m_net.VideoInput());
}

TEST_F(SamplePath, PausedBlocksCarryThePausePictureAndSilenceOfTheCapturedLength)
{
    ASSERT_TRUE(m_path.LoadPauseImage());
    ASSERT_EQ(m_path.PauseImageSize(), 320u * 240u * 3u);
    Seen seen;
    const StopsBroadcast stopFirst(*this); // the write thread calls into `seen`
    m_path.SetWriteObserver(&Seen::Observe, &seen);
    ASSERT_EQ(StartBroadcast(), S_OK);

    const auto frame = SolidFrame(255, 0, 0);
    VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
    AudioSampleSink(0, m_tone.data(), 64000);
    g_nLive = 1;
    VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
    AudioSampleSink(0, m_tone.data(), 64000);
    // A camera frame of another size is queued with its own length while live.
    const std::vector<unsigned char> odd(1000, 7);
    VideoSampleSink(0, odd.data(), static_cast<long>(odd.size()));
    ASSERT_TRUE(WaitFor([&] { return seen.Blocks().size() == 5; }, 3000));

    const auto blocks = seen.Blocks();
    std::unique_lock<std::mutex> l(seen.lock);
    // Paused: the pause picture and silence as long as the captured buffer.
    EXPECT_EQ(blocks[0].length, m_path.PauseImageSize());
    EXPECT_TRUE(std::equal(seen.firstBytes[0].begin(), seen.firstBytes[0].end(), m_path.PauseImage()));
    EXPECT_EQ(blocks[1].length, 64000u);
    EXPECT_EQ(seen.firstBytes[1], std::vector<unsigned char>(16, 0));
    // Live: the captured bytes.
    EXPECT_EQ(blocks[2].length, frame.size());
    EXPECT_EQ(seen.firstBytes[2], std::vector<unsigned char>(frame.begin(), frame.begin() + 16));
    EXPECT_EQ(seen.firstBytes[3], std::vector<unsigned char>(m_tone.begin(), m_tone.begin() + 16));
    EXPECT_EQ(blocks[4].length, 1000u);
    l.unlock();
    // The writer cannot take the odd frame: logged once, nothing else fails.
    ASSERT_TRUE(WaitFor([&] { return Count(Log(), "[ hr=0x80070057 ] Failed to WriteSample") == 1; }, 3000))
        << Log();
    // (Repeated pictures, should the machine be slow enough for them, are
    // not counted.)
    EXPECT_EQ(m_path.BlocksWritten() - m_path.PicturesRepeated(), 4u);
    VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
    EXPECT_TRUE(WaitFor([&] { return m_path.BlocksWritten() - m_path.PicturesRepeated() == 5; }, 3000))
        << Log();
}

TEST_F(SamplePath, AudioIsStampedWithTheCaptureTimeOfItsFirstSample)
{
    Seen seen;
    const StopsBroadcast stopFirst(*this); // the write thread calls into `seen`
    m_path.SetWriteObserver(&Seen::Observe, &seen);
    ASSERT_EQ(StartBroadcast(), S_OK);
    g_nLive = 1;
    const auto frame = SolidFrame(9, 9, 9);
    // A second of sound arrives more than a second after the start tick
    // (starting the encoders may already have taken that long).
    while (CNetWrite::GetTickCount() - m_net.StartTick() < 1100)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const DWORD now = CNetWrite::GetTickCount() - m_net.StartTick();
    AudioSampleSink(0, m_tone.data(), static_cast<long>(m_tone.size())); // one second of sound
    VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
    // (Until this frame the pause picture was repeated: no camera yet.)
    auto captured = [&] {
        std::vector<SampleBlock> found;
        std::lock_guard<std::mutex> l(seen.lock);
        for (std::size_t i = 0; i < seen.blocks.size(); ++i)
            if (seen.blocks[i].input == m_net.AudioInput() || seen.firstBytes[i][0] == 9)
                found.push_back(seen.blocks[i]);
        return found;
    };
    ASSERT_TRUE(WaitFor([&] { return captured().size() == 2; }, 3000));
    const auto blocks = captured();
    // Captured from about 1000 ms before it arrived; the frame is "now".
    EXPECT_EQ(blocks[0].input, m_net.AudioInput());
    EXPECT_NEAR(static_cast<double>(blocks[0].time), static_cast<double>(now) - 1000.0, 30.0);
    EXPECT_NEAR(static_cast<double>(blocks[1].time), static_cast<double>(now), 30.0);
}

TEST_F(SamplePath, WithoutAnAudioGraphSilenceFollowsTheVideoClock)
{
    Seen seen;
    const StopsBroadcast stopFirst(*this); // the write thread calls into `seen`
    m_path.SetWriteObserver(&Seen::Observe, &seen);
    ASSERT_EQ(StartBroadcast(), S_OK);
    StartFeeding(/*withAudio=*/false);
    std::this_thread::sleep_for(std::chrono::milliseconds(2600));
    StopFeeding();
    ASSERT_TRUE(WaitFor([&] { return m_path.QueuedBlocks() == 0; }, 3000));
    EXPECT_GT(m_path.SilenceBlocksFed(), 0u);
    // The silence covers the stream without gaps from time 0 up to the
    // last frames.
    DWORD audioEnd = 0, lastVideo = 0;
    for (const SampleBlock &b : seen.Blocks()) {
        if (b.input == m_net.AudioInput()) {
            EXPECT_EQ(b.time, audioEnd);
            audioEnd = b.time + b.length / CSamplePath::kAudioBytesPerMs;
        } else {
            lastVideo = b.time;
        }
    }
    EXPECT_GT(audioEnd, 1500u);
    EXPECT_LE(lastVideo - audioEnd, 200u);
}

TEST_F(SamplePath, EveryBlockQueuedBeforeTheExitReachesTheWriter)
{
    ASSERT_EQ(StartBroadcast(), S_OK);
    g_nLive = 1;
    const auto frame = SolidFrame(0, 0, 255);
    for (int i = 0; i < 40; ++i) {
        VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
        if (i % 10 == 0)
            AudioSampleSink(0, m_tone.data(), 32000);
    }
    const std::uint64_t queued = m_path.BlocksQueued();
    EXPECT_EQ(queued, 44u);
    // Closing: sinks stop, then the writer drains and ends.
    g_nClosing = 1;
    VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
    m_net.ReleaseWriter();
    EXPECT_EQ(m_path.BlocksQueued(), queued);
    EXPECT_EQ(m_path.BlocksWritten(), queued);
    EXPECT_EQ(m_path.QueuedBlocks(), 0u);
    EXPECT_EQ(m_net.Writer(), nullptr);
    // After release nothing is queued any more.
    g_nClosing = 0;
    VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
    EXPECT_EQ(m_path.BlocksQueued(), queued);
}

TEST_F(SamplePath, ClosingAfterAMinuteWithAStalledEncoderEndsWithinThreeSeconds)
{
    ASSERT_EQ(StartBroadcast(), S_OK);
    g_nLive = 1;
    StartFeeding();
    RawClient viewer;
    ASSERT_TRUE(viewer.Get(m_port));
    ASSERT_TRUE(viewer.ReadAtLeast(20000, 8000));

    // The video encoder stops taking pictures, as an encoder stuck in its
    // work would: its input blocks. The muxer then waits for video, so the
    // sound stops too and everything piles up in front of the writer.
    const std::string name = "enc" + std::to_string(m_net.VideoInput());
    platform::GstPtr<GstElement> encoder = m_net.Writer()->Element(name.c_str());
    ASSERT_TRUE(encoder);
    platform::GstPtr<GstPad> input(gst_element_get_static_pad(encoder.get(), "sink"));
    gst_pad_add_probe(
        input.get(), GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM,
        [](GstPad *, GstPadProbeInfo *, gpointer) { return GST_PAD_PROBE_OK; }, nullptr, nullptr);

    // A minute of capture: the queue stays bounded.
    std::size_t mostQueued = 0;
    const long residentAtStart = ResidentKb();
    for (int second = 0; second < 60; ++second) {
        viewer.ReadSome(1000);
        mostQueued = std::max(mostQueued, m_path.QueuedBlocks());
    }
    EXPECT_GT(m_path.VideoBlocksDropped(), 0u);
    EXPECT_LE(mostQueued, CSamplePath::kMaxQueuedVideoBlocks + 4);
    // Sanitizer builds run several times slower and keep freed memory
    // aside for a while (the address sanitizer's quarantine holds up to
    // 256 MB); the bounds are the product's in normal builds. An unbounded
    // queue grows by gigabytes in this minute, far beyond either bound.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr long kGrowthKb = (256 + 128) * 1024;
    constexpr long long kCloseMs = 10000;
#else
    constexpr long kGrowthKb = 64 * 1024;
    constexpr long long kCloseMs = 3000;
#endif
    EXPECT_LT(ResidentKb() - residentAtStart, kGrowthKb);

    // Closing comes just as the writer has begun another wait for room in
    // front of the encoder: it must not sit that wait out.
    const std::uint64_t dropped = m_net.Writer()->SamplesDropped();
    ASSERT_TRUE(WaitFor([&] { return m_net.Writer()->SamplesDropped() > dropped; }, 5000));
    const auto closing = std::chrono::steady_clock::now();
    StopBroadcast();
    const auto closeMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - closing)
            .count();
    EXPECT_LT(closeMs, kCloseMs);
    EXPECT_EQ(m_net.Writer(), nullptr);
    EXPECT_TRUE(viewer.ReadToEnd(1000)) << "the player is let go";
    EXPECT_NE(Log().find("queued blocks were not written; the encoder is behind."), std::string::npos)
        << Log();
}

TEST_F(SamplePath, WritingWithoutAWriterLogsAndFails)
{
    const unsigned char bytes[4] = {};
    EXPECT_EQ(m_path.WriteSampleToWriter(0, bytes, 4, 0), 0);
    EXPECT_NE(Log().find("(VelmorDlg, "), std::string::npos);
    EXPECT_NE(Log().find("m_pWMWriter = 0x00000000\n"), std::string::npos);
}

TEST(SamplePathQueue, AStalledEncoderDropsTheOldestBlocksOfEachKind)
{
    TestDir dir("queue");
    CLogFile log;
    log.Open(dir.file("velmor.log").c_str());
    SetAppLog(&log);
    g_nLive = 1;
    long long feedingSeconds = 0;
    {
        FailingNetWrite net(FailingNetWrite::Fail::NoThreadButReady);
        CSamplePath path(net);
        ASSERT_EQ(net.InitWriter(&path), S_OK);
        ASSERT_EQ(net.StartNetworkStream(0), S_OK);
        const std::vector<unsigned char> audio(6400); // 50 ms
        const auto feeding = std::chrono::steady_clock::now();
        for (int i = 0; i < 100; ++i) {
            auto frame = SolidFrame(static_cast<unsigned char>(i), 0, 0);
            VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
            if (i % 10 == 0)
                AudioSampleSink(0, audio.data(), static_cast<long>(audio.size()));
        }
        EXPECT_EQ(path.QueuedBlocks(), CSamplePath::kMaxQueuedVideoBlocks + 10);
        EXPECT_EQ(path.VideoBlocksDropped(), 100u - CSamplePath::kMaxQueuedVideoBlocks);
        EXPECT_EQ(path.AudioBlocksDropped(), 0u);
        // Sound is bounded too: a minute of one-second buffers leaves the
        // last three seconds queued.
        const std::vector<unsigned char> second(CSamplePath::kAudioBytesPerSecond);
        for (int i = 0; i < 60; ++i)
            AudioSampleSink(0, second.data(), static_cast<long>(second.size()));
        EXPECT_EQ(path.QueuedBlocks(), CSamplePath::kMaxQueuedVideoBlocks + 3);
        EXPECT_EQ(path.AudioBlocksDropped(), 10u + 57u);
        // (A sanitizer build on a busy machine takes seconds for this.)
        feedingSeconds =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - feeding)
                .count();
        // A failed wait discards the queue without writing it.
        path.OnAsfWrite(-1);
        EXPECT_EQ(path.QueuedBlocks(), 0u);
        EXPECT_EQ(path.BlocksWritten(), 0u);
        g_nClosing = 1;
        net.ReleaseWriter();
        g_nClosing = 0;
    }
    g_nLive = 0;
    SetAppLog(nullptr);
    const std::string text = TestDir::Read(dir.file("velmor.log"));
    // Logged at most once a second, not once per block.
    const int videoLines = Count(text, "video frames dropped");
    const int audioLines = Count(text, "audio blocks dropped");
    EXPECT_GE(videoLines, 1) << text;
    EXPECT_LE(videoLines, feedingSeconds + 1) << text;
    EXPECT_GE(audioLines, 1) << text;
    EXPECT_LE(audioLines, feedingSeconds + 1) << text;
    EXPECT_EQ(Count(platform::AnsiToUtf8(text), "(VelmorDlg, "), videoLines + audioLines + 1) << text;
    EXPECT_NE(platform::AnsiToUtf8(text).find("[ WAIT_FAILED ] ASF 파일 쓰기 이상 종료\n"),
              std::string::npos);
}

TEST(NetWriteSetup, EventOrThreadFailureFailsTheSetupAndLeavesSinksIdle)
{
    struct Case {
        FailingNetWrite::Fail fail;
        const char *logText;
    };
    const Case cases[] = {
        {FailingNetWrite::Fail::Thread, "Error Code => 11, ASFFileWriteThread 생성 실패\n"},
        {FailingNetWrite::Fail::WriteEvent, "Error Code => 24, ASFFileWriteEvent 생성 실패\n"},
        {FailingNetWrite::Fail::ExitEvent, "Error Code => 24, ASFFileExitEvent 생성 실패\n"},
    };
    for (const Case &c : cases) {
        TestDir dir("setup");
        CLogFile log;
        log.Open(dir.file("velmor.log").c_str());
        SetAppLog(&log);
        {
            FailingNetWrite net(c.fail);
            CSamplePath path(net);
            ASSERT_EQ(net.InitWriter(&path), S_OK);
            EXPECT_TRUE(FAILED(net.StartNetworkStream(0)));
            EXPECT_EQ(net.WriteEvent(), platform::INVALID_HANDLE_VALUE);
            const auto frame = SolidFrame(1, 1, 1);
            VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
            EXPECT_EQ(path.BlocksQueued(), 0u);
        }
        SetAppLog(nullptr);
        EXPECT_NE(platform::AnsiToUtf8(TestDir::Read(dir.file("velmor.log"))).find(c.logText),
                  std::string::npos)
            << c.logText;
    }
}

TEST(NetWriteSetup, PortInUseFailsWithTheOpenLogLine)
{
    const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    socklen_t len = sizeof a;
    ::getsockname(blocker, reinterpret_cast<sockaddr *>(&a), &len);
    const DWORD port = ntohs(a.sin_port);

    TestDir dir("port");
    CLogFile log;
    log.Open(dir.file("velmor.log").c_str());
    SetAppLog(&log);
    {
        CNetWrite net;
        CSamplePath path(net);
        ASSERT_EQ(net.InitWriter(&path), S_OK);
        EXPECT_EQ(net.StartNetworkStream(port), HRESULT_FROM_ERRNO(EADDRINUSE));
        EXPECT_EQ(net.WriteEvent(), platform::INVALID_HANDLE_VALUE);
    }
    SetAppLog(nullptr);
    ::close(blocker);
    EXPECT_NE(
        TestDir::Read(dir.file("velmor.log")).find("IWMWriterNetworkSink::Open error (hr=0x80070062).\n"),
        std::string::npos);
}

TEST(NetWriteSetup, ASamplePathDestroyedFirstStopsTheWriteThread)
{
    // A window whose members go in reverse order without an explicit
    // release: the write thread must not call into a dead sample path.
    CNetWrite net;
    {
        CSamplePath path(net);
        ASSERT_EQ(net.InitWriter(&path), S_OK);
        ASSERT_EQ(net.StartNetworkStream(0), S_OK);
        g_nLive = 1;
        const auto frame = SolidFrame(5, 5, 5);
        for (int i = 0; i < 10; ++i)
            VideoSampleSink(0, frame.data(), static_cast<long>(frame.size()));
        g_nLive = 0;
    }
    EXPECT_EQ(net.Writer(), nullptr);
    EXPECT_EQ(net.WriteEvent(), platform::INVALID_HANDLE_VALUE);
    const auto frame = SolidFrame(5, 5, 5);
    VideoSampleSink(0, frame.data(), static_cast<long>(frame.size())); // nobody to queue for: dropped
}
