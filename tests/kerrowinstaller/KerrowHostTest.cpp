// KerrowHost.exe as a process: the URL's parameters reach the control
// registered on this private machine in its property map's order, and every
// bad URL ends with a message and a result text, never a crash.
#include "CKerrowUrl.h"

#include "KerrowTestEnv.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

const char kProgram[] = "#!/bin/sh\n"
                        "d=$(dirname \"$0\")\n"
                        "printf '%s\\n' \"$@\" > \"$d/args.tmp\" && mv \"$d/args.tmp\" \"$d/args.txt\"\n";

const char kScript[] =
    "[script]\nSignature=$WEB_UPDATER$\nVersion=1.1\n"
    "[application]\nPGroup=\nVersion=1.0\nSubFolder=Quenta\\Velmor\nSubKey=Software\\Quenta\\Velmor\n"
    "RegKey=%HKCU%\nInstall_File=Files\n"
    "[Files]\nProgram\n"
    "[Program]\nSrc=@SITE@/files/Velmor.exe\nDestDir=%INSTALL_DIR%\nFilename=Velmor.exe\n";

class KerrowHost : public testing::Test {
protected:
    KerrowHost() : env("kerrow-host") {}

    void Register()
    {
        std::vector<std::string> childEnv = env.ChildEnvironment();
        childEnv.push_back("VELMOR_SERVICE_URL=" + env.Site().BaseUrl());
        const ProgramResult r =
            RunProgram(ProgramPath("regsvr32.exe"), {"/s", ProgramPath("KerrowInstaller.dll")},
                       env.Path("home"), childEnv);
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }

    ProgramResult Host(const std::string &url)
    {
        return RunProgram(ProgramPath("KerrowHost.exe"), {url}, env.Path("home"), env.ChildEnvironment(),
                          60000);
    }

    std::string InstallDir() const { return env.ProgramFiles() + "/Quenta/Velmor"; }

    KerrowTestEnv env;
};

} // namespace

TEST(KerrowUrl, ParsesThePagesParameters)
{
    std::string error;
    auto url = CKerrowUrl::Parse("KERROW://launch/?launcher=1&EncodeURL=10.0.0.6&start=2&ConnectURL=%ED%95%9C"
                                 "&ConnectEncodeURL=x&ProgName=Velmor&Script=http%3A%2F%2Fa%2Fb#frag",
                                 error);
    ASSERT_TRUE(url) << error;
    ASSERT_EQ(url->Parameters().size(), 6u);
    EXPECT_EQ(url->Find("Launcher")->name, "Launcher");
    EXPECT_EQ(url->Find("encodeurl")->value, "10.0.0.6");
    EXPECT_EQ(url->Find("ConnectURL")->value, "한");
    EXPECT_TRUE(url->Find("Start")->persisted);
    EXPECT_FALSE(url->Find("ProgName")->persisted);
    EXPECT_EQ(url->Find("Script")->value, "http://a/b");
    EXPECT_EQ(url->Ignored(), std::vector<std::string>{"ConnectEncodeURL"});
    ASSERT_TRUE(CKerrowUrl::Parse("kerrow:launch", error));
    EXPECT_TRUE(CKerrowUrl::Parse("kerrow:launch?&&Start=1&", error));

    const struct {
        std::string url;
        const char *reason;
    } bad[] = {{"http://launch?Start=1", "kerrow: 주소가 아닙니다."},
               {"kerrow:install?Start=1", "알 수 없는 명령"},
               {"kerrow:launch?Colour=blue", "알 수 없는 매개변수"},
               {"kerrow:launch?Start=1&start=2", "두 번"},
               {"kerrow:launch?Start", "값이 없습니다"},
               {"kerrow:launch?ConnectURL=%G1", "퍼센트"},
               {"kerrow:launch?ConnectURL=abc%4", "퍼센트"},
               {"kerrow:launch?ConnectURL=%C0%AF", "UTF-8"},
               {"kerrow:launch?ConnectURL=%ED%A0%80", "UTF-8"},
               {"kerrow:launch?ConnectURL=\xff", "UTF-8"},
               {"kerrow:launch?ConnectURL=a%00b", "NUL"},
               {"kerrow:launch?ConnectURL=" + std::string(100000, 'a'), "너무 깁니다"},
               {"kerrow:launch?x=" + std::string(70000, 'a'), "주소가 너무 깁니다."}};
    for (const auto &b : bad) {
        error.clear();
        EXPECT_FALSE(CKerrowUrl::Parse(b.url, error)) << b.url.substr(0, 60);
        EXPECT_NE(error.find(b.reason), std::string::npos) << b.url.substr(0, 60) << ": " << error;
    }
}

TEST_F(KerrowHost, BadRequestsEndWithAMessageAndAResultText)
{
    ProgramResult r = Host("kerrow:launch?Start=1&Launcher=1");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.out.find("result: Fail"), std::string::npos);
    EXPECT_NE(r.err.find("펠룬"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("등록되어 있지 않습니다"), std::string::npos) << r.err;

    Register();
    for (const std::string &url : {std::string("kerrow:launch?Nonsense=1&Launcher=1"),
                                   std::string("kerrow:launch?Start=1&Start=2&Launcher=1"),
                                   "kerrow:launch?GlobalTag=" + std::string(100000, 'x') + "&Launcher=1",
                                   std::string("kerrow:launch?ConnectURL=%zz&Launcher=1"),
                                   std::string("kerrow:launch?ConnectURL=%FF%FE&Launcher=1"),
                                   std::string("kerrow:launch?ListenPort=seven&Launcher=1"),
                                   std::string("kerrow:launch?Waiting=1x&Launcher=1"),
                                   std::string("kerrow:launch?Start=99999&Launcher=1")}) {
        r = Host(url);
        EXPECT_EQ(r.exitCode, 2) << url.substr(0, 60) << "\n" << r.err;
        EXPECT_NE(r.out.find("result: Fail"), std::string::npos) << url.substr(0, 60);
        EXPECT_NE(r.err.find("펠룬"), std::string::npos) << url.substr(0, 60) << "\n" << r.err;
    }
    EXPECT_TRUE(env.Site().Requests().empty()) << "nothing was asked of the site";
    r = RunProgram(ProgramPath("KerrowHost.exe"), {}, env.Path("home"), env.ChildEnvironment());
    EXPECT_EQ(r.exitCode, 2);
}

TEST_F(KerrowHost, ParametersReachTheControlInItsOrderWithLauncherLast)
{
    Register();
    env.Serve("/files/Velmor.exe", kProgram);
    env.ServeScript("/down/velmor/script/VelmorWebScript.kus", kScript);
    // Launcher first in the URL, ConnectEncodeURL ignored, a script
    // property in the middle.
    const ProgramResult r =
        Host("kerrow:launch?Launcher=1&ConnectEncoderPort=7002&ConnectEncodeURL=ignored"
             "&EncodeURL=127.0.0.2&ViewProgress=0&Start=2&ConnectPort=7000&ConnectURL=127.0.0.1");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("result: Success=Execute"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.err.find("ConnectEncodeURL"), std::string::npos) << "the ignored name is noted";
    for (int i = 0; i < 500 && !fs::exists(InstallDir() + "/args.txt"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(TestDir::Read(InstallDir() + "/args.txt"),
              "-start\n2\n-curl\n127.0.0.1\n-cport\n7000\n-ceurl\n127.0.0.2\n"
              "-ceport\n7002\n");

    // A page that names another script is refused by the control.
    const ProgramResult other = Host("kerrow:launch?Script=http%3A%2F%2F127.0.0.1%3A9%2Fx.kus&Launcher=1");
    EXPECT_EQ(other.exitCode, 1);
    EXPECT_NE(other.out.find("result: Fail"), std::string::npos) << other.out;
    EXPECT_NE(other.err.find("설치 정보를 받을 수 없습니다"), std::string::npos) << other.err;
}

TEST_F(KerrowHost, AFailedInstallationIsRolledBackWithItsOwnEndMessage)
{
    Register();
    env.Serve("/files/Velmor.exe", kProgram);
    std::string script = kScript;
    script.replace(script.find("Install_File=Files\n"), 19, "Install_File=Files\nUpdate_Ini=Inis\n");
    env.ServeScript("/down/velmor/script/VelmorWebScript.kus",
                    script + "[Inis]\nBroken\n[Broken]\nType=%INI_NOSUCHTYPE%\nDestDir=%INSTALL_DIR%\n"
                             "Filename=x.ini\n");
    // The roll-back's runner writes to the host's output, as it inherits it.
    ChildProgram host(ProgramPath("KerrowHost.exe"), {"kerrow:launch?ViewProgress=0&Launcher=1"},
                      env.Path("home"));
    EXPECT_EQ(host.Wait(60000), 1);
    for (int i = 0; i < 1500 && host.Stderr().find("설치이전의 상태로 복구되었습니다.") == std::string::npos;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(host.Stderr().find("설치이전의 상태로 복구되었습니다."), std::string::npos) << host.Stderr();
    EXPECT_FALSE(fs::exists(InstallDir() + "/Velmor.exe"));
    host.Forget();
}
