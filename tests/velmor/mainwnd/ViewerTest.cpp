// The viewer role end to end: a broadcaster Velmor.exe in its own process,
// viewers in this process and in another, the stand-in service site, all on
// loopback.
#include "CAnimatedPicture.h"
#include "CChatRichEd.h"
#include "CControlDlg.h"
#include "CLogFile.h"
#include "CMediaPlayer.h"
#include "CSkinObject.h"
#include "CVelmorDlg.h"
#include "CVideoWindow.h"
#include "RunProgram.h"
#include "ServiceSite.h"
#include "TestDir.h"
#include "ViewerStatus.h"

#include "platform/CodePage.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>

#include "WindowTest.h"

#include <gtest/gtest.h>

#include <csignal>
#include <map>

namespace {

class Viewer : public WindowTest {
protected:
    Viewer() : WindowTest("viewer") {}

    void TearDown() override
    {
        WindowTest::TearDown();
        if (host) {
            host->Signal(SIGTERM);
            host->Wait(10000);
        }
    }

    void StartBroadcaster()
    {
        std::filesystem::create_directories(dir.path() / "host");
        std::filesystem::copy(ProgramPath("Skin"), dir.path() / "host" / "Skin", std::filesystem::copy_options::recursive);
        host = std::make_unique<ChildProgram>(
            ProgramPath("Velmor.exe"),
            std::vector<std::string>{"/u", "-start", "1", "-lport", std::to_string(lport), "-elport", std::to_string(elport),
                                     "-onairrul", site.BaseUrl() + "/onair.jsp"},
            dir.path() / "host",
            std::vector<std::string>{"VELMOR_SERVICE_URL=" + site.BaseUrl(),
                                     "VELMOR_REGISTRY_DIR=" + (dir.path() / "host-registry").string(),
                                     "VELMOR_FAKE_DEVICES=camera:Test Camera;microphone:Test Mic"});
        ASSERT_TRUE(site.WaitFor("/onair.jsp", 1, 30000)) << host->Stderr();
    }

    std::vector<std::string> ViewerArgs() const
    {
        return {"/u", "-start", "2", "-curl", "127.0.0.1", "-cport", std::to_string(lport), "-ceurl", "127.0.0.1",
                "-ceport", std::to_string(elport)};
    }

    std::string StreamUrl() const { return "http://127.0.0.1:" + std::to_string(elport); }

    void OpenViewer()
    {
        std::string line;
        for (std::size_t i = 1; i < ViewerArgs().size(); ++i)
            line += (i > 1 ? " " : "") + ViewerArgs()[i];
        Open(line);
    }

    std::unique_ptr<ChildProgram> host;
    std::unique_ptr<CVelmorDlg> &viewer = dlg;
};

} // namespace

TEST_F(Viewer, TwoViewersWatchChatAndEndWhenTheHostCloses)
{
    StartBroadcaster();

    // A second viewer as its own program, reporting its player's state; its
    // sound goes to a sink that does not keep time by itself.
    std::filesystem::create_directories(dir.path() / "viewer2");
    std::filesystem::copy(ProgramPath("Skin"), dir.path() / "viewer2" / "Skin", std::filesystem::copy_options::recursive);
    const std::filesystem::path status = dir.path() / "viewer2" / "status.txt";
    ChildProgram second(ProgramPath("Velmor.exe"), ViewerArgs(), dir.path() / "viewer2",
                        {"VELMOR_SERVICE_URL=" + site.BaseUrl(), "VELMOR_STATUS_FILE=" + status.string(),
                         "VELMOR_REGISTRY_DIR=" + (dir.path() / "viewer2-registry").string(),
                         "VELMOR_AUDIO_SINK=fakesink"});

    OpenViewer();
    ASSERT_TRUE(opened);
    ASSERT_NE(viewer->Player(), nullptr);
    EXPECT_EQ(viewer->Player()->OpenedURLs(), std::vector<std::string>{StreamUrl()});
    EXPECT_TRUE(PumpUntil([&] { return viewer->Player()->FramesDecoded() >= 10; }, 30000));
    EXPECT_EQ(viewer->Player()->playState(), wmppsPlaying);
    EXPECT_GT(viewer->VideoWindow()->FramesShown(), 0u);
    // Joined the chat: the user list names the host and this guest.
    ASSERT_NE(viewer->ControlDlg(), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return viewer->ControlDlg()->ChatDisplay()->toPlainText().contains(QStringLiteral("손님")); }, 10000))
        << viewer->ControlDlg()->ChatDisplay()->toPlainText().toStdString();

    // It plays in time all the same: steadily, without rebuffering.
    SteadyPlayWatch steady(status);
    EXPECT_TRUE(PumpUntil([&] { return steady.Steady(); }, 60000)) << steady.Last() << second.Stderr();

    // The host ends: both viewers end with the room-closed message.
    host->Signal(SIGTERM);
    EXPECT_EQ(host->Wait(15000), 0);
    EXPECT_TRUE(PumpUntil([&] { return !messages.empty(); }, 10000));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], "방장이 방을 종료 하였습니다.\n안전하게 프로그램을 종료합니다.");
    EXPECT_FALSE(viewer->isVisible());
    EXPECT_EQ(second.Wait(15000), 0);
    EXPECT_NE(second.Stderr().find("방장이 방을 종료 하였습니다."), std::string::npos) << second.Stderr();
}

TEST_F(Viewer, FullRoomEndsTheViewer)
{
    StartBroadcaster();
    // 51 guests fill the room; plain sockets are guests enough.
    std::vector<int> guests;
    for (int i = 0; i < 51; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(lport));
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        guests.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    OpenViewer();
    EXPECT_TRUE(PumpUntil([&] { return !messages.empty(); }, 15000));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], "접속인원이 초과되었습니다.\n안전하게 프로그램을 종료합니다.");
    for (int fd : guests)
        ::close(fd);
}

TEST_F(Viewer, UnreachableHostEndsTheViewer)
{
    OpenViewer(); // nobody listens on the chat port
    EXPECT_TRUE(PumpUntil([&] { return !messages.empty(); }, 15000));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], "서버 연결에 실패하였습니다.\n안전하게 프로그램을 종료합니다.");
}

TEST_F(Viewer, AdvertisementPlaysFirstThenTheStreamOpensOnce)
{
    // A two-second clip named by the service.
    const std::string clip = (site.FilesDir() / "ad.asf").string();
    const std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=15 -f lavfi "
                            "-i sine=sample_rate=32000 -t 2 -c:v wmv2 -c:a wmav2 -ac 2 -b:a 32k " + clip;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    site.Answer("/ad/callad.jsp", "<start>" + site.BaseUrl() + "/ad.asf<end>\r\n");
    StartBroadcaster();
    OpenViewer();
    ASSERT_TRUE(opened);
    EXPECT_EQ(g_nAdvertisement.load(), 1);
    EXPECT_EQ(viewer->Player()->OpenedURLs(), std::vector<std::string>{site.BaseUrl() + "/ad.asf"});
    ASSERT_TRUE(PumpUntil([&] { return viewer->Player()->OpenedURLs().size() >= 2; }, 20000));
    EXPECT_EQ(viewer->Player()->OpenedURLs()[1], StreamUrl());
    EXPECT_EQ(g_nAdvertisement.load(), 0);
    EXPECT_TRUE(PumpUntil([&] { return viewer->Player()->FramesDecoded() > 40; }, 20000));
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(viewer->Player()->OpenedURLs().size(), 2u);
}

TEST_F(Viewer, NoAdvertisementOpensTheStreamAtOnce)
{
    site.Answer("/ad/callad.jsp", "<start>none<end>\r\n");
    OpenViewer();
    ASSERT_NE(viewer->Player(), nullptr);
    EXPECT_EQ(viewer->Player()->OpenedURLs(), std::vector<std::string>{StreamUrl()});
    EXPECT_NE(LogText().find("광고가 없다면 바로 시청하러 들어간다.\n"), std::string::npos);
}

TEST_F(Viewer, BufferingShowsTheAnimationInsteadOfThePicture)
{
    site.Answer("/ad/callad.jsp", "<start>none<end>\r\n");
    OpenViewer();
    viewer->OnBuffering(true);
    EXPECT_FALSE(viewer->VideoWindow()->isVisible());
    EXPECT_TRUE(viewer->Preview()->IsPlaying());
    EXPECT_GT(viewer->Preview()->FrameCount(), 1);
    viewer->OnBuffering(false);
    EXPECT_TRUE(viewer->VideoWindow()->isVisible());
    EXPECT_FALSE(viewer->Preview()->IsPlaying());
}

TEST_F(Viewer, VolumeSliderAndMute)
{
    site.Answer("/ad/callad.jsp", "<start>none<end>\r\n");
    OpenViewer();
    CSkinObject *slider = viewer->FindSkinObject(viewer->SkinLayout(), QStringLiteral("SliderSound"));
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->GetValue(), 100);
    viewer->OnSkinSliderChanged(slider, 40);
    long volume = 0;
    viewer->Player()->get_volume(&volume);
    EXPECT_EQ(volume, 40);
    viewer->OnSkinSliderHover(slider, 40);
    EXPECT_EQ(slider->GetTooltip(), QStringLiteral("볼륨 : 40"));
    bool mute = false;
    viewer->OnMute(); // not checked yet: mute
    viewer->Player()->get_mute(&mute);
    EXPECT_TRUE(mute);
    viewer->FindSkinObject(viewer->SkinLayout(), QStringLiteral("mute"))->SetChecked(true);
    viewer->OnMute();
    viewer->Player()->get_mute(&mute);
    EXPECT_FALSE(mute);
}

TEST_F(Viewer, MissingSliderLeavesVolumeAndLogsOnce)
{
    // A skin without the slider object.
    std::string skin = TestDir::Read(ProgramDir() / "Skin" / "Main.skn");
    const std::size_t at = skin.find("slider SliderSound");
    ASSERT_NE(at, std::string::npos);
    skin.replace(at, std::string("slider SliderSound").size(), "slider OtherSlider");
    std::ofstream(ProgramDir() / "Skin" / "Main.skn") << skin;
    site.Answer("/ad/callad.jsp", "<start>none<end>\r\n");
    OpenViewer();
    ASSERT_NE(viewer->Player(), nullptr);
    long volume = 0;
    viewer->Player()->get_volume(&volume);
    EXPECT_EQ(volume, 100);
    const std::string log = LogText();
    const std::size_t first = log.find("pSlider 객체 찾기 실패\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("pSlider 객체 찾기 실패\n", first + 1), std::string::npos);
}
