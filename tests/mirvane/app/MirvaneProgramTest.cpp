// Mirvane.exe as a process, without a display: every box prints its caption
// and text on standard error and takes its answer from
// $VELMOR_MESSAGEBOX_ANSWERS. The refused configurations and each outcome
// of the decision, with their one message each.
#include "MirvaneTestEnv.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <random>
#include <set>

namespace {

class MirvaneProgram : public testing::Test {
protected:
    void SetUp() override { env.RegisterSkinControl(); }

    ProgramResult Mirvane(const std::vector<std::string> &args = {"-start", "1", "-lport", "7000"},
                          const std::vector<std::string> &extraEnv = {}, const std::string &folder = "")
    {
        std::vector<std::string> all = env.ChildEnvironment();
        all.insert(all.end(), extraEnv.begin(), extraEnv.end());
        return RunProgram(ProgramPath("Mirvane.exe"), args, folder.empty() ? env.Install() : folder, all,
                          120000);
    }

    // The message boxes a run printed: "[caption] text" lines and the lines
    // of their text that follow. The status window's line and the download
    // form's lines ("[<name> 업데이트] ...") ask nothing and are left out, so
    // are Qt's own notes.
    static std::vector<std::string> Boxes(const std::string &err)
    {
        std::vector<std::string> boxes;
        bool inBox = false;
        std::istringstream in(err);
        for (std::string line; std::getline(in, line);) {
            const bool noise = line.rfind("Q", 0) == 0 || line.rfind("qt.", 0) == 0 ||
                               line.find("plugin") != std::string::npos;
            if (line.rfind("[", 0) == 0) {
                const std::size_t close = line.find("] ");
                const bool status = line == "[Mirvane] 업데이트 정보를 확인하는 중입니다...";
                const bool form = close != std::string::npos && line.substr(0, close).ends_with(" 업데이트");
                inBox = close != std::string::npos && !status && !form;
                if (inBox)
                    boxes.push_back(line);
            } else if (inBox && !noise) {
                boxes.back() += "\n" + line;
            } else {
                inBox = false;
            }
        }
        return boxes;
    }

    std::vector<std::string> Started() const
    {
        std::vector<std::string> args;
        for (const std::string &line : env.Starts())
            if (line.rfind("ARGS ", 0) == 0)
                args.push_back(line.substr(5));
        return args;
    }

    // Everything in a folder but the test's captured output files.
    static std::set<std::string> Listing(const std::string &folder)
    {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
            if (entry.path().filename().string().rfind(".child-", 0) != 0)
                names.insert(std::filesystem::relative(entry.path(), folder).string());
        return names;
    }

    MirvaneTestEnv env{"mirvane-program"};
};

const char kScriptBox[] = "[Mirvane] 업데이트 스크립트에 이상이 있어 업데이트를 실행하지 않습니다.\n\n";

} // namespace

TEST_F(MirvaneProgram, RefusedConfigurationsSayWhyOnceAndChangeNothing)
{
    env.StartSite();
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript());

    // No "Mirvane.cfg" where it was started (its own folder does not count).
    std::filesystem::create_directories(env.Path("elsewhere"));
    ProgramResult none = Mirvane({}, {}, env.Path("elsewhere"));
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_EQ(Boxes(none.err),
              std::vector<std::string>{"[Mirvane] 환경설정 파일이 없습니다. 다시설치해 주세요."});
    for (const std::string &name : Listing(env.Path("elsewhere")))
        ADD_FAILURE() << "left in the folder: " << name;

    struct Case {
        std::map<std::string, std::string> config;
        std::string box;
    };
    const std::string invalid = "[Mirvane] 환경설정 파일이 정상적이지 않습니다.";
    const std::vector<Case> cases = {
        {{{"Version", "0"}}, invalid},
        {{{"Execute", ""}}, invalid},
        {{{"Script", ""}}, invalid},
        // Without a skin the plain box says it; the skin's own failure note does not come first.
        {{{"Skin", ""}}, invalid},
        {{{"Version", ""}, {"Skin", env.Path("tmp") + "/none.skin"}}, invalid},
    };
    for (const Case &c : cases) {
        env.WriteConfig(c.config);
        const std::string before = env.ConfigText();
        ProgramResult r = Mirvane();
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(Boxes(r.err), std::vector<std::string>{c.box}) << r.err;
        EXPECT_EQ(env.ConfigText(), before);
    }

    // The skin control: not registered, registered but gone, too old.
    env.WriteConfig();
    platform::RegistryKey::DeleteKey(platform::RegRoot::HKCR,
                                     "CLSID\\{BA8C584B-209C-4D54-8BB1-8AB5F1DCA18E}");
    ProgramResult unregistered = Mirvane();
    EXPECT_EQ(unregistered.exitCode, 2);
    EXPECT_EQ(
        Boxes(unregistered.err),
        std::vector<std::string>{"[벨모개인방송] ActSkn43.ocx 파일의 레지스트리 정보가 올바르지 않습니다.\n\n"
                                 "'벨모개인방송'를 다시 설치해주세요."});

    // An older control installed over the product's (its registration is
    // the same key; this one only carries the older version).
    std::filesystem::copy_file(STALE_SKIN_CONTROL, env.Path("tmp") + "/ActSkn43.ocx");
    platform::RegistryKey control;
    ASSERT_EQ(platform::RegistryKey::Create(platform::RegRoot::HKCR,
                                            "CLSID\\{BA8C584B-209C-4D54-8BB1-8AB5F1DCA18E}\\InprocServer32",
                                            control),
              S_OK);
    ASSERT_EQ(control.WriteString("", env.Path("tmp") + "/ActSkn43.ocx"), S_OK);
    ProgramResult stale = Mirvane();
    EXPECT_EQ(stale.exitCode, 2);
    EXPECT_EQ(Boxes(stale.err), std::vector<std::string>{
                                    "[벨모개인방송] ActSkn43.ocx의 버젼이 낮아 '벨모개인방송'를 실행시킬 수 "
                                    "없습니다.\n\nActSkn43.ocx의 버젼이 외부요인에 의해 변경되었을 수도 "
                                    "있습니다.\n\n'벨모개인방송'를 다시 설치하세요."});

    std::filesystem::remove(env.Path("tmp") + "/ActSkn43.ocx");
    ProgramResult gone = Mirvane();
    EXPECT_EQ(gone.exitCode, 2);
    EXPECT_EQ(Boxes(gone.err),
              std::vector<std::string>{"[벨모개인방송] ActSkn43.ocx 파일이 존재하지 않습니다.\n\n"
                                       "'벨모개인방송'를 다시 설치하세요."});

    // Nothing reached the network, nothing was started.
    EXPECT_TRUE(env.site->Requests().empty());
    EXPECT_TRUE(Started().empty());
}

TEST_F(MirvaneProgram, AConfigurationOfAnyBytesEndsWithOneMessage)
{
    std::mt19937 random(1414);
    for (int round = 0; round < 4; ++round) {
        std::string bytes(2000, '\0');
        for (char &c : bytes)
            c = static_cast<char>(random());
        if (round % 2)
            bytes = "[config]\r\nVersion=" + bytes;
        std::ofstream(env.Install() + "/Mirvane.cfg", std::ios::binary) << bytes;
        ProgramResult r = Mirvane();
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(Boxes(r.err), std::vector<std::string>{"[Mirvane] 환경설정 파일이 정상적이지 않습니다."})
            << r.err;
        EXPECT_EQ(TestDir::Read(env.Install() + "/Mirvane.cfg"), bytes);
    }
}

TEST_F(MirvaneProgram, CurrentInstallationStartsTheProgramWithItsCommandLine)
{
    // The build's own scripts, signed with the build's key.
    env.StartSite();
    env.PutBuildFile("update/VelmorUpdate.kus.in");
    env.PutBuildFile("update/VelmorLaunch.kus.in");
    env.PutStandInProgram();
    env.WriteConfig({{"Version", VELMOR_PRODUCT_VERSION}, {"PublicKey", MirvaneTestEnv::SitePublicKey()}});
    ProgramResult r = Mirvane({"-start", "2", "-curl", "Host.Example", "-cport", "5000"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Boxes(r.err).empty()) << r.err;
    EXPECT_NE(r.err.find("업데이트 정보를 확인하는 중입니다..."), std::string::npos) << r.err;
    ASSERT_TRUE(MirvaneTestEnv::WaitForStart(env.Install()));
    EXPECT_EQ(Started(), std::vector<std::string>{"/u -start 2 -curl Host.Example -cport 5000"});
    EXPECT_EQ(env.site->RequestsFor("/update/VelmorUpdate.kus.sig").size(), 1u);
    EXPECT_EQ(env.site->RequestsFor("/update/VelmorLaunch.kus.sig").size(), 1u);
    // Its log, in CP949.
    const std::string log = platform::AnsiToUtf8(TestDir::Read(env.Install() + "/mirvane.log"));
    EXPECT_NE(log.find("Mirvane 1.22 시작"), std::string::npos) << log;
    EXPECT_NE(log.find("업데이트 결과: launch"), std::string::npos) << log;
}

TEST_F(MirvaneProgram, ScriptRegistryAndDownloadOutcomesStillStartTheProgram)
{
    env.StartSite();
    env.PutStandInProgram();
    env.WriteConfig({{"Version", "1.0.0.0"}});

    // No script.
    ProgramResult script = Mirvane();
    EXPECT_EQ(script.exitCode, 0) << script.err;
    EXPECT_EQ(Boxes(script.err), std::vector<std::string>{kScriptBox}) << script.err;
    ASSERT_TRUE(MirvaneTestEnv::WaitForStart(env.Install(), 1));

    // An unknown root for the launch records.
    std::string noRoot = UpdateScript();
    noRoot.replace(noRoot.find("RegKey=%HKCU%"), 13, "RegKey=%HKXX%");
    env.PutTemplate("update/VelmorUpdate.kus", noRoot);
    ProgramResult registry = Mirvane();
    EXPECT_EQ(registry.exitCode, 0) << registry.err;
    EXPECT_EQ(Boxes(registry.err),
              std::vector<std::string>{"[Mirvane] 다운로드/설치 과정에서 오류가 발생했지만\n\n"
                                       "현재 설치된 버젼이 실행가능한 버젼이므로 실행합니다."});
    ASSERT_TRUE(MirvaneTestEnv::WaitForStart(env.Install(), 2));

    // A file that is not there: the fetch's message, then the outcome's.
    env.PutTemplate(
        "update/VelmorUpdate.kus",
        UpdateScript("", "[Files]\r\nMain\r\n[Main]\r\nVersion=1.0.0.1\r\nSrc=@SITE_URL@/files/gone.cab\r\n"
                         "DestDir=%INSTALL_DIR%\r\nFilename=Velmor.exe\r\n"));
    env.site->Answer("/files/gone.cab", "", 404);
    ProgramResult download = Mirvane();
    EXPECT_EQ(download.exitCode, 0) << download.err;
    EXPECT_EQ(Boxes(download.err),
              (std::vector<std::string>{"[Mirvane] Error Code : 404, HttpQueryInfo Failed!",
                                        "[Mirvane] 다운로드/설치 과정에서 오류가 발생했지만\n\n"
                                        "현재 설치된 버젼이 실행가능한 버젼이므로 실행합니다."}))
        << download.err;
    ASSERT_TRUE(MirvaneTestEnv::WaitForStart(env.Install(), 3));
    EXPECT_NE(env.ConfigText().find("Version=1.0.0.0"), std::string::npos);
}

TEST_F(MirvaneProgram, CancellingTheDownloadStartsTheProgramUnlessBlocked)
{
    env.StartSite();
    env.PutStandInProgram();
    env.PutTemplate(
        "update/VelmorUpdate.kus",
        UpdateScript("", "[Files]\r\nMain\r\n[Main]\r\nVersion=1.0.0.1\r\nSrc=@SITE_URL@/files/slow.cab\r\n"
                         "DestDir=%INSTALL_DIR%\r\nFilename=slow.exe\r\n"));
    env.site->AnswerWith("/files/slow.cab", R"({"body": ")" + std::string(4000, 'x') + R"(", "rate": 1000})");
    for (const bool online : {false, true}) {
        env.WriteConfig({{"Version", "1.0.0.0"}, {"Online", online ? "yes" : "no"}});
        std::vector<std::string> all = env.ChildEnvironment();
        ChildProgram mirvane(ProgramPath("Mirvane.exe"), {"-start", "1"}, env.Install(), all);
        // Once the download form shows progress, the user closes it.
        std::string err;
        for (int i = 0; i < 600 && err.find("slow.cab") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            err = mirvane.Stderr();
        }
        ASSERT_NE(err.find("slow.cab"), std::string::npos) << err;
        mirvane.Signal(SIGTERM);
        const int status = mirvane.Wait(60000);
        err = mirvane.Stderr();
        mirvane.Forget();
        if (!online) {
            EXPECT_EQ(status, 0) << err;
            EXPECT_TRUE(Boxes(err).empty()) << err;
            EXPECT_TRUE(MirvaneTestEnv::WaitForStart(env.Install(), 1));
        } else {
            EXPECT_EQ(status, 1) << err;
            EXPECT_EQ(Boxes(err),
                      std::vector<std::string>{"[Mirvane] 사용자에의해 자동 업데이트가 취소되었습니다.\n\n"
                                               "실행가능한 최소버젼보다 버젼이 낮아 실행할 수 없습니다.\n\n"
                                               "실행을 하시려면 먼저 업데이트를 받으셔야 합니다."});
            EXPECT_EQ(Started().size(), 1u);
        }
        EXPECT_FALSE(std::filesystem::exists(env.Install() + "/slow.exe"));
        EXPECT_NE(env.ConfigText().find("Version=1.0.0.0"), std::string::npos);
    }
}

// The restart empties the shared TMPDIR, as Debian's boot empties /tmp; the
// next login still finishes the update.
TEST_F(MirvaneProgram, AFileInUseIsLeftForTheNextStartAndTheRestartIsOffered)
{
    env.Set("VELMOR_RESTART_COMMAND", "echo restart >> '" + env.Path("restart-requests") + "'; find '" +
                                          env.Path("tmp") + "' -mindepth 1 -delete");
    env.StartSite();
    env.PutStandInProgram();
    // A program of the installation that is running.
    std::filesystem::copy_file("/bin/sleep", env.Install() + "/busy.exe");
    ChildProgram busy(env.Install() + "/busy.exe", {"60"}, env.Path("tmp"));
    std::filesystem::create_directories(env.site->FilesDir() / "files");
    std::filesystem::copy_file(STARTED_PROGRAM, env.site->FilesDir() / "files/busy.exe");
    env.PutTemplate(
        "update/VelmorUpdate.kus",
        UpdateScript("", "[Files]\r\nBusy\r\n[Busy]\r\nVersion=1.0.0.1\r\nSrc=@SITE_URL@/files/busy.exe\r\n"
                         "DestDir=%INSTALL_DIR%\r\nFilename=busy.exe\r\n"));
    env.WriteConfig({{"Version", "1.0.0.0"}});
    ProgramResult r = Mirvane({"-start", "1"}, {"VELMOR_MESSAGEBOX_ANSWERS=IDYES"});
    busy.Kill();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(Boxes(r.err),
              std::vector<std::string>{"[Mirvane] 설치를 완료하려면 시스템을 재시작해야 합니다.\n\n"
                                       "지금 윈도우를 종료하고 시스템을 재시작하시겠습니까?"})
        << r.err;
    EXPECT_EQ(env.RestartRequests(), 1);
    // The running file stays; the next start copies the new one.
    EXPECT_EQ(TestDir::Read(env.Install() + "/busy.exe"), TestDir::Read("/bin/sleep"));
    EXPECT_TRUE(std::filesystem::exists(env.Temp() + "/VelmorInstall.INF"));
    platform::RegistryKey runOnce;
    ASSERT_EQ(platform::RegistryKey::Open(platform::RegRoot::HKLM,
                                          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", runOnce),
              S_OK);
    EXPECT_EQ(runOnce.ReadString("VelmorInstaller").value_or(""),
              "rundll32.exe advpack.dll,LaunchINFSection " + env.Temp() + "/VelmorInstall.INF");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(Started().empty());

    // The next login.
    const ProgramResult login =
        RunProgram(ProgramPath("runonce.exe"), {}, env.Path("home"), env.ChildEnvironment(), 60000);
    EXPECT_EQ(login.exitCode, 0) << login.err;
    EXPECT_EQ(TestDir::Read(env.Install() + "/busy.exe"), TestDir::Read(STARTED_PROGRAM)) << login.err;
    EXPECT_FALSE(std::filesystem::exists(env.Temp() + "/VelmorInstall.INF"));
    platform::RegistryKey after;
    if (SUCCEEDED(platform::RegistryKey::Open(
            platform::RegRoot::HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", after))) {
        EXPECT_FALSE(after.ReadString("VelmorInstaller").has_value());
    }
}

TEST_F(MirvaneProgram, AMessageWhoseOkOptionIsNoEndsTheRunBeforeAnyUpdate)
{
    env.StartSite();
    env.PutStandInProgram();
    // Installed 1.10; the message of 1.9 is newer as text.
    std::string script =
        UpdateScript("", "[Messages]\r\nMaintenance\r\n[Maintenance]\r\nVersion=1.9\r\n"
                         "MsgType=msgOK\r\nMsg=서버 점검 중입니다.\\n잠시 후에 다시 접속해 주세요.\r\n"
                         "OK_URL=http://127.0.0.1/notice\r\nOK_UpdateOption=no\r\n"
                         "[Registry]\r\nMark\r\n[Mark]\r\nVersion=1.9\r\nRootKey=%HKCU%\r\n"
                         "SubKey=Software\\Quenta\\Test\r\nValName=Mark\r\nValue=x\r\nType=%REG_SZ%\r\n");
    script.replace(script.find("version=1.0.0.1"), 15, "version=1.9");
    env.PutTemplate("update/VelmorUpdate.kus", script);
    env.WriteConfig({{"Version", "1.10"}});
    ProgramResult r = Mirvane();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(Boxes(r.err),
              std::vector<std::string>{"[Mirvane] 서버 점검 중입니다.\n잠시 후에 다시 접속해 주세요."});
    EXPECT_EQ(env.OpenedPages(1), std::vector<std::string>{"http://127.0.0.1/notice"});
    EXPECT_TRUE(Started().empty());
    EXPECT_NE(env.ConfigText().find("Version=1.10"), std::string::npos);
    platform::RegistryKey key;
    EXPECT_NE(platform::RegistryKey::Open(platform::RegRoot::HKCU, "Software\\Quenta\\Test", key), S_OK);

    // Without the message the newer 1.9 is installed and written back.
    script.replace(script.find("Maintenance\r\n["), 11, "");
    env.PutTemplate("update/VelmorUpdate.kus", script);
    ProgramResult update = Mirvane();
    EXPECT_EQ(update.exitCode, 0) << update.err;
    EXPECT_NE(env.ConfigText().find("Version=1.9\r\n"), std::string::npos);
    ASSERT_EQ(platform::RegistryKey::Open(platform::RegRoot::HKCU, "Software\\Quenta\\Test", key), S_OK);
    EXPECT_EQ(key.ReadString("Mark").value_or(""), "x");
    EXPECT_TRUE(MirvaneTestEnv::WaitForStart(env.Install()));
}
