// An installation brought up to date by Mirvane.exe from the build's own
// site (its scripts, the cabinets of the built Velmor.exe and ActSkn43.ocx),
// and Velmor.exe started without "/u" in an installed folder going through
// the updater and coming back with "/u".
#include "MirvaneTestEnv.h"

#include "platform/Profile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

std::string VelmorLog(const std::string &folder)
{
    return platform::AnsiToUtf8(TestDir::Read(folder + "/velmor.log"));
}

bool WaitForVelmorLog(const std::string &folder, const std::string &text, int timeoutMs = 90000)
{
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (VelmorLog(folder).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool IsRunnable(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
}

} // namespace

TEST(Installation, AnInstalledVersionIsUpdatedToTheNextAndTheProgramStarted)
{
    MirvaneTestEnv env("mirvane-full-update");
    env.RegisterSkinControl();
    env.StartSite();
    for (const char *file : {"update/VelmorUpdate.kus.in", "update/VelmorLaunch.kus.in",
                             "update/files/Velmor.cab", "update/files/ActSkn43.cab"})
        env.PutBuildFile(file);
    // The program's cabinet comes slowly enough for the progress lines to show it.
    env.site->AnswerWith("/update/files/Velmor.cab", R"({"rate": 250000})");
    env.WriteConfig({{"Version", "1.0.0.0"}, {"PublicKey", MirvaneTestEnv::SitePublicKey()}});
    const std::vector<std::string> childEnv = [&] {
        std::vector<std::string> all = env.ChildEnvironment();
        all.push_back("VELMOR_EXIT_AFTER_PARSE=1");
        return all;
    }();

    ProgramResult r =
        RunProgram(ProgramPath("Mirvane.exe"), {"-start", "1", "-lport", "7000", "-elport", "7002"},
                   env.Install(), childEnv, 180000);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    // Files, made runnable; the skin control registered where it now lies.
    EXPECT_TRUE(IsRunnable(env.Install() + "/Velmor.exe"));
    EXPECT_TRUE(std::filesystem::exists(env.Install() + "/ActSkn43.ocx"));
    platform::RegistryKey control;
    ASSERT_EQ(platform::RegistryKey::Open(platform::RegRoot::HKCR,
                                          "CLSID\\{BA8C584B-209C-4D54-8BB1-8AB5F1DCA18E}\\InprocServer32",
                                          control),
              S_OK);
    EXPECT_EQ(control.ReadString("").value_or(""), env.Install() + "/ActSkn43.ocx");
    // Registry, INI file, the link in the program group.
    platform::RegistryKey product;
    ASSERT_EQ(platform::RegistryKey::Open(platform::RegRoot::HKCU, "Software\\Quenta\\Velmor", product),
              S_OK);
    EXPECT_EQ(product.ReadString("Version").value_or(""), VELMOR_PRODUCT_VERSION);
    EXPECT_EQ(platform::GetPrivateProfileString("Velmor", "Version", "", 64, env.Install() + "/Velmor.ini"),
              VELMOR_PRODUCT_VERSION);
    bool link = false;
    if (std::filesystem::exists(env.Programs()))
        for (const auto &entry : std::filesystem::directory_iterator(env.Programs()))
            link =
                link || TestDir::Read(entry.path()).find(env.Install() + "/Velmor.exe") != std::string::npos;
    EXPECT_TRUE(link) << "no link in " << env.Programs();
    // The uninstall file of the product; nothing left for the next start.
    EXPECT_TRUE(std::filesystem::exists(env.Install() + "/VelmorUnInstall.INF"));
    EXPECT_FALSE(std::filesystem::exists(env.Temp() + "/VelmorInstall.INF"));
    // The version written back, nothing else changed.
    EXPECT_NE(env.ConfigText().find("Version=" VELMOR_PRODUCT_VERSION "\r\n"), std::string::npos)
        << env.ConfigText();
    // Progress without a display: the form's lines with file, percentage and speed.
    bool progress = false;
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);)
        progress = progress || (line.rfind("[벨모개인방송 업데이트] ", 0) == 0 &&
                                line.find("Velmor.cab") != std::string::npos &&
                                line.find("%") != std::string::npos && line.find("KB") != std::string::npos);
    EXPECT_TRUE(progress) << r.err;
    // The update list headless: its text, answered with the default Yes.
    EXPECT_NE(r.err.find("설치되었습니다"), std::string::npos) << r.err;

    // The program, the new Velmor.exe, started with "/u " and the command line.
    ASSERT_TRUE(WaitForVelmorLog(env.Install(), "프로그램 시작 인자: -start 1 -lport 7000 -elport 7002"))
        << VelmorLog(env.Install());
    EXPECT_NE(VelmorLog(env.Install()).find("/u옵션 확인"), std::string::npos);

    // Now current: the next start downloads nothing.
    std::filesystem::remove(env.Install() + "/velmor.log");
    ProgramResult again =
        RunProgram(ProgramPath("Mirvane.exe"), {"-start", "2"}, env.Install(), childEnv, 60000);
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(env.site->RequestsFor("/update/files/Velmor.cab").size(), 1u);
    EXPECT_TRUE(WaitForVelmorLog(env.Install(), "프로그램 시작 인자: -start 2"));
}

TEST(Installation, VelmorStartedWithoutTheMarkerComesBackThroughTheUpdater)
{
    MirvaneTestEnv env("mirvane-velmor-handover");
    env.StartSite();
    env.PutBuildFile("update/VelmorUpdate.kus.in");
    env.PutBuildFile("update/VelmorLaunch.kus.in");
    // An installed folder: the programs, the configuration, the skin, the
    // skin control registered from there.
    for (const char *name : {"Velmor.exe", "Mirvane.exe", "ActSkn43.ocx", "Mirvane.skin"})
        std::filesystem::copy_file(ProgramPath(name), env.Install() + "/" + name);
    std::filesystem::copy(ProgramPath("MirvaneSkin"), env.Install() + "/MirvaneSkin");
    env.RegisterSkinControl(env.Install() + "/ActSkn43.ocx");
    env.WriteConfig({{"Version", VELMOR_PRODUCT_VERSION},
                     {"Skin", env.Install() + "/Mirvane.skin"},
                     {"PublicKey", MirvaneTestEnv::SitePublicKey()}});
    std::vector<std::string> childEnv = env.ChildEnvironment();
    childEnv.push_back("VELMOR_EXIT_AFTER_PARSE=1");

    ProgramResult r = RunProgram(env.Install() + "/Velmor.exe", {"-start", "1", "-lport", "7000"},
                                 env.Install(), childEnv, 60000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(WaitForVelmorLog(env.Install(), "프로그램 시작 인자: -start 1 -lport 7000"))
        << VelmorLog(env.Install());
    EXPECT_NE(VelmorLog(env.Install()).find("/u옵션 확인"), std::string::npos);
    const std::string log = platform::AnsiToUtf8(TestDir::Read(env.Install() + "/mirvane.log"));
    EXPECT_NE(log.find("인자: -start 1 -lport 7000"), std::string::npos) << log;
    EXPECT_NE(log.find("업데이트 결과: launch"), std::string::npos) << log;
}
