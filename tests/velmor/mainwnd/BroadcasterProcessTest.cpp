// Velmor.exe as its own process, the way the updater starts it: a
// broadcaster on test devices, read by ffprobe, ended by SIGTERM.
#include "RunProgram.h"
#include "ServiceSite.h"
#include "TestDir.h"

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <csignal>

TEST(BroadcasterProcess, ServesStreamAndEndsInOrderOnSigterm)
{
    TestDir dir("broadcaster");
    ServiceSite site(dir.path() / "site");
    ASSERT_GT(site.Port(), 0);
    const int lport = FreeLoopbackPort();
    const int elport = FreeLoopbackPort();
    const std::vector<std::string> env{
        "VELMOR_SERVICE_URL=" + site.BaseUrl(),
        "VELMOR_REGISTRY_DIR=" + (dir.path() / "registry").string(),
        "VELMOR_FAKE_DEVICES=camera:Test Camera;microphone:Test Mic",
    };
    // The program runs from its own folder (Skin/ beside it); its log goes
    // to the folder it is started in, so start it in a copy of that folder.
    std::filesystem::copy(ProgramPath("Skin"), dir.path() / "Skin", std::filesystem::copy_options::recursive);
    ChildProgram velmor(ProgramPath("Velmor.exe"),
                        {"/u", "-start", "1", "-lport", std::to_string(lport), "-elport", std::to_string(elport),
                         "-onairrul", site.BaseUrl() + "/OnAir.jsp", "-offairurl", site.BaseUrl() + "/OffAir.jsp"},
                        dir.path(), env);
    ASSERT_TRUE(velmor.Started());
    ASSERT_TRUE(site.WaitFor("/onair.jsp", 1, 30000)) << velmor.Stderr();

    ProgramResult probe = RunProgram("/usr/bin/ffprobe",
                                     {"-hide_banner", "-show_streams", "http://127.0.0.1:" + std::to_string(elport) + "/"},
                                     dir.path(), {}, 20000);
    EXPECT_NE(probe.out.find("codec_name=wmv2"), std::string::npos) << probe.err;
    EXPECT_NE(probe.out.find("sample_rate=32000"), std::string::npos);

    velmor.Signal(SIGTERM);
    EXPECT_EQ(velmor.Wait(10000), 0) << velmor.Stderr();
    EXPECT_EQ(site.RequestsFor("/offair.jsp").size(), 1u);
    const std::string log = platform::AnsiToUtf8(TestDir::Read(dir.path() / "velmor.log"));
    EXPECT_NE(log.find("종료 신호를 받아 프로그램을 종료합니다.\n"), std::string::npos);
    EXPECT_NE(log.find("프로그램을 종료합니다.\n", log.find("종료 신호를")+10), std::string::npos);
}
