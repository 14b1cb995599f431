// The self-update as processes: the installed updater (1.22) meets a script
// that names 1.23, copies itself into the temporary folder and starts the
// copy with "/patch"; the copy installs the patch (a cabinet, or a single
// file) into the install folder and starts the new updater there with
// "/patch", which carries on and starts the program.
#include "MirvaneTestEnv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class SelfUpdate : public testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        env.RegisterSkinControl();
        env.StartSite();
        env.PutStandInProgram();
        // The installed updater with its skin beside it; its configuration
        // names the skin relative to the folder it runs in.
        for (const char *name : {"Mirvane.exe", "Mirvane.skin"})
            std::filesystem::copy_file(ProgramPath(name), env.Install() + "/" + name);
        std::filesystem::copy(ProgramPath("MirvaneSkin"), env.Install() + "/MirvaneSkin");
        env.WriteConfig({{"Skin", "Mirvane.skin"}, {"PublicKey", MirvaneTestEnv::SitePublicKey()}});
    }

    std::string Log(const std::string &folder) const
    {
        return platform::AnsiToUtf8(TestDir::Read(folder + "/mirvane.log"));
    }
    bool WaitForLog(const std::string &folder, const std::string &text, int timeoutMs = 60000) const
    {
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            if (Log(folder).find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    MirvaneTestEnv env{"mirvane-self-update"};
};

} // namespace

TEST_P(SelfUpdate, TheStaleUpdaterEndsInTheNewOneWhichStartsTheProgram)
{
    const std::string patch = std::string("update/patch/") + GetParam();
    env.PutBuildFile(patch);
    std::string script = UpdateScript("", "", "1.23");
    script.replace(script.find("update/patch/MirvanePatch.cab"), 29, patch);
    env.PutTemplate("update/VelmorUpdate.kus", script);
    // What a second user left in the shared TMPDIR under the old name.
    const std::string planted = env.Path("tmp") + "/MirvanePatch";
    const std::string theirs = "#!/bin/sh\ntouch '" + env.Path("theirs-ran") + "'\n";
    std::filesystem::create_directories(planted);
    MirvaneTestEnv::WriteFile(planted + "/Mirvane.exe", theirs);
    ::chmod((planted + "/Mirvane.exe").c_str(), 0777);
    for (const std::string &p : {planted, planted + "/Mirvane.exe"}) {
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
        }
    }

    ProgramResult old = RunProgram(env.Install() + "/Mirvane.exe", {"-start", "1", "-lport", "7000"},
                                   env.Install(), env.ChildEnvironment(), 60000);
    EXPECT_EQ(old.exitCode, 0) << old.err;

    ASSERT_TRUE(MirvaneTestEnv::WaitForStart(env.Install(), 1, 90000)) << Log(env.Install());
    const std::vector<std::string> starts = env.Starts();
    EXPECT_EQ(starts[0], "ARGS /u -start 1 -lport 7000");
    EXPECT_EQ(starts[1], "CWD " + env.Install());

    // The installed updater is the new one now, and it was the one that
    // started the program.
    EXPECT_EQ(TestDir::Read(env.Install() + "/Mirvane.exe"),
              TestDir::Read(MirvaneTestEnv::BuildSite() + "/www/update/patch/Mirvane.exe"));
    EXPECT_TRUE(WaitForLog(env.Install(), "업데이트 결과: launch"));
    const std::string newLog = Log(env.Install());
    EXPECT_NE(newLog.find("Mirvane 1.23 시작, 인자: /patch -start 1 -lport 7000"), std::string::npos)
        << newLog;

    // The copy ran in the temporary folder with "/patch" and handed over.
    const std::string copy = env.Temp() + "/MirvanePatch";
    EXPECT_TRUE(WaitForLog(copy, "업데이트 결과: handover")) << Log(copy);
    EXPECT_NE(Log(copy).find("Mirvane 1.22 시작, 인자: /patch -start 1 -lport 7000"), std::string::npos)
        << Log(copy);
    for (const char *name : {"Mirvane.exe", "Mirvane.cfg", "Mirvane.skin", "MirvaneSkin/01_bar_f.png"})
        EXPECT_TRUE(std::filesystem::exists(copy + "/" + name)) << name;
    EXPECT_EQ(TestDir::Read(planted + "/Mirvane.exe"), theirs);
    EXPECT_FALSE(std::filesystem::exists(planted + "/Mirvane.cfg"));
    EXPECT_FALSE(std::filesystem::exists(env.Path("theirs-ran")));

    // Three updaters read the script; the patch came down once; the program
    // was started once.
    EXPECT_EQ(env.site->RequestsFor("/update/VelmorUpdate.kus").size(), 3u);
    EXPECT_EQ(env.site->RequestsFor("/" + patch).size(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(env.Starts().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Patches, SelfUpdate, testing::Values("MirvanePatch.cab", "Mirvane.exe"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return std::string(info.param).find(".cab") != std::string::npos ? "Cabinet"
                                                                                              : "SingleFile";
                         });

TEST(SelfUpdateFailure, APatchThatCannotBeFetchedEndsTheCopyWithOneMessage)
{
    MirvaneTestEnv env("mirvane-self-update-failure");
    env.RegisterSkinControl();
    env.StartSite();
    env.PutStandInProgram();
    std::filesystem::copy_file(ProgramPath("Mirvane.exe"), env.Install() + "/Mirvane.exe");
    env.WriteConfig();
    env.PutTemplate("update/VelmorUpdate.kus", UpdateScript("", "", "1.23"));
    const std::string before = TestDir::Read(env.Install() + "/Mirvane.exe");

    // The copy writes its message to the standard error it inherited; its
    // log says how it ended.
    ProgramResult old = RunProgram(env.Install() + "/Mirvane.exe", {"-start", "1"}, env.Install(),
                                   env.ChildEnvironment(), 60000);
    EXPECT_EQ(old.exitCode, 0) << old.err;
    const std::string copy = env.Temp() + "/MirvanePatch";
    bool stopped = false;
    for (int waited = 0; waited < 60000 && !stopped; waited += 50) {
        stopped = platform::AnsiToUtf8(TestDir::Read(copy + "/mirvane.log")).find("업데이트 결과: stop") !=
                  std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(stopped);
    // Nothing installed, nothing started.
    EXPECT_EQ(TestDir::Read(env.Install() + "/Mirvane.exe"), before);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(env.Starts().empty());
}
