// The viewer's player against real media served over HTTP by the stand-in
// service site: a short WMV/WMA clip made by the test with GStreamer.
#include "CMediaPlayer.h"
#include "ServiceSite.h"
#include "TestDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

struct Recorder : IWMPEvents {
    std::vector<long> states;
    std::vector<bool> buffering;
    std::vector<long> openStates;
    int endOfStream = 0;
    void PlayStateChange(long s) override { states.push_back(s); }
    void Buffering(bool start) override { buffering.push_back(start); }
    void OpenStateChange(long s) override { openStates.push_back(s); }
    void EndOfStream(long) override { ++endOfStream; }
    bool Saw(long s) const { return std::find(states.begin(), states.end(), s) != states.end(); }
};



class MediaPlayer : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        App<QCoreApplication>();
        s_clipDir = new TestDir("clip");
        const std::string clip = s_clipDir->file("clip.asf");
        // A two-second WMV2/WMA2 clip like an advertisement the service names.
        const std::string cmd =
            "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=15 "
            "-f lavfi -i sine=frequency=440:sample_rate=32000 -t 2 -c:v wmv2 -c:a wmav2 -ac 2 -b:a 32k " +
            clip + " > /dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    static void TearDownTestSuite()
    {
        delete s_clipDir;
        s_clipDir = nullptr;
    }
    void SetUp() override
    {
        ASSERT_GT(site.Port(), 0);
        std::filesystem::copy_file(s_clipDir->file("clip.asf"), site.FilesDir() / "clip.asf");
    }

    static TestDir *s_clipDir;
    TestDir dir{"player"};
    ServiceSite site{dir.path()};
};
TestDir *MediaPlayer::s_clipDir = nullptr;

} // namespace

TEST_F(MediaPlayer, ClipPlaysToTheEndAndStops)
{
    CMediaPlayer player;
    ASSERT_EQ(player.Create(), S_OK);
    Recorder events;
    unsigned long cookie = 0;
    ASSERT_EQ(player.Advise(&events, &cookie), S_OK);
    int frames = 0;
    player.SetVideoTarget([&](const QImage &img) {
        ++frames;
        EXPECT_EQ(img.width(), 320);
        EXPECT_EQ(img.height(), 240);
    });
    ASSERT_EQ(player.put_URL(site.BaseUrl() + "/clip.asf"), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events.Saw(wmppsStopped); }, 20000));
    EXPECT_TRUE(events.Saw(wmppsPlaying));
    EXPECT_EQ(events.endOfStream, 1);
    // Media ended comes right before stopped, as the advertisement flow expects.
    ASSERT_GE(events.states.size(), 2u);
    EXPECT_EQ(events.states[events.states.size() - 2], wmppsMediaEnded);
    EXPECT_EQ(events.states.back(), wmppsStopped);
    EXPECT_NE(std::find(events.openStates.begin(), events.openStates.end(), wmposMediaOpen), events.openStates.end());
    EXPECT_GE(player.FramesDecoded(), 20u);
    EXPECT_GT(frames, 0);
    EXPECT_EQ(player.Unadvise(cookie), S_OK);
    EXPECT_EQ(player.Unadvise(cookie), E_INVALIDARG);
}

TEST_F(MediaPlayer, UnreachableStreamEndsStoppedWithoutFrames)
{
    CMediaPlayer player;
    ASSERT_EQ(player.Create(), S_OK);
    Recorder events;
    unsigned long cookie = 0;
    player.Advise(&events, &cookie);
    ASSERT_EQ(player.put_URL("http://127.0.0.1:1/"), S_OK);
    EXPECT_TRUE(PumpUntil([&] { return events.Saw(wmppsStopped); }, 10000));
    EXPECT_EQ(player.FramesDecoded(), 0u);
}

TEST_F(MediaPlayer, VolumeAndMute)
{
    CMediaPlayer player;
    long volume = -1;
    ASSERT_EQ(player.Create(), S_OK);
    EXPECT_EQ(player.get_volume(&volume), S_OK);
    EXPECT_EQ(volume, 100);
    EXPECT_EQ(player.put_volume(35), S_OK);
    EXPECT_EQ(player.put_volume(101), E_INVALIDARG);
    EXPECT_EQ(player.put_volume(-1), E_INVALIDARG);
    player.get_volume(&volume);
    EXPECT_EQ(volume, 35);
    bool mute = true;
    player.get_mute(&mute);
    EXPECT_FALSE(mute);
    EXPECT_EQ(player.put_mute(true), S_OK);
    player.get_mute(&mute);
    EXPECT_TRUE(mute);
    EXPECT_EQ(player.get_volume(nullptr), E_POINTER);
}

TEST_F(MediaPlayer, CloseWhilePlayingDeliversNothingLater)
{
    CMediaPlayer player;
    ASSERT_EQ(player.Create(), S_OK);
    int frames = 0;
    player.SetVideoTarget([&](const QImage &) { ++frames; });
    player.put_URL(site.BaseUrl() + "/clip.asf");
    PumpUntil([&] { return player.FramesDecoded() > 2; }, 10000);
    player.close();
    const int seen = frames;
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(frames, seen);
    EXPECT_EQ(player.put_URL(site.BaseUrl() + "/clip.asf"), E_UNEXPECTED);
}
