// The pieces under the worker: item selection and step count, the folders
// a script may use, desktop entries, file moves and modes, folder
// registration, the DWORD values of registry items.
#include "CDesktopEntry.h"
#include "CInstallPlaces.h"
#include "InstallActions.h"
#include "ItemSelection.h"

#include "platform/Profile.h"

#include "../EngineTestEnv.h"
#include "RunProgram.h"
#include "WorkerFixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class ActionsTest : public testing::Test {
protected:
    std::string Home() const { return m_env.Path("home"); }
    std::string InstallDir() const { return Home() + "/.local/opt/Velmor"; }
    CInstallNames Names() const { return {"벨모어", "Velmor", "1.10", "", InstallDir()}; }

    EngineTestEnv m_env{"actions"};
};

mode_t Mode(const std::string &path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST_F(ActionsTest, TheLaunchersSelectionFollowsInstallOSOnly)
{
    ScriptFile script(m_env.Path("tmp") + "/web.kus");
    script.Item("Install_File", "All", {{"Version", "0"}})
        .Item("Install_File", "XPOnly", {{"InstallOS", "%WIN_XP%"}})
        .Item("Install_File", "Twice", {{"InstallOS", "%WIN_2000%, %win_all%,%WIN_N9X%"}})
        .Item("Install_File", "Nothing", {{"InstallOS", "%WIN_95%,%WIN_ME%"}})
        .Item("Install_Reg", "Reg", {});
    const CInstallLists lists = SelectFirstInstallItems(script.Path());
    EXPECT_EQ(lists.files, (std::vector<std::string>{"All", "Twice"}));
    EXPECT_EQ(lists.registries, std::vector<std::string>{"Reg"});
    EXPECT_TRUE(lists.codecs.empty());
    EXPECT_FALSE(lists.Empty());
    EXPECT_TRUE(SelectFirstInstallItems(m_env.Path("tmp") + "/missing.kus").Empty());
}

TEST_F(ActionsTest, TheUpdatersSelectionComparesVersionsAsTexts)
{
    std::filesystem::create_directories(InstallDir());
    std::ofstream(InstallDir() + "/same.dll") << "12345";
    ScriptFile script(m_env.Path("tmp") + "/update.kus");
    script.Item("Install_File", "Older", {{"Version", "1.0"}})
        .Item("Install_File", "TextNewer", {{"Version", "1.9"}}) // "1.10" < "1.9" as texts
        .Item("Install_File", "NewerXP", {{"Version", "2.0"}, {"InstallOS", "%WIN_XP%"}})
        .Item(
            "Install_File", "SameSize",
            {{"Version", "1.10"}, {"FileSize", "5"}, {"DestDir", "%INSTALL_DIR%"}, {"Filename", "same.dll"}})
        .Item(
            "Install_File", "OtherSize",
            {{"Version", "1.10"}, {"FileSize", "6"}, {"DestDir", "%INSTALL_DIR%"}, {"Filename", "same.dll"}})
        .Item(
            "Install_File", "Missing",
            {{"Version", "1.10"}, {"FileSize", "6"}, {"DestDir", "%INSTALL_DIR%"}, {"Filename", "gone.dll"}})
        .Item("Install_File", "NoSize",
              {{"Version", "1.10"}, {"DestDir", "%INSTALL_DIR%"}, {"Filename", "gone.dll"}})
        .Item("Install_File", "CaseOnly", {{"Version", "1.10A"}})
        .Item("Install_Codec", "Filter", {{"Version", "9"}, {"Type", "%dshow_filter%"}})
        .Item("Install_Codec", "Audio", {{"Version", "9"}, {"Type", "%AUDIO_CODEC%"}});
    const CInstallLists lists = SelectUpdateItems(script.Path(), "1.10", Names());
    EXPECT_EQ(lists.files, (std::vector<std::string>{"TextNewer", "OtherSize", "Missing", "CaseOnly"}));
    // "1.10A" is the same version written in another case.
    EXPECT_EQ(SelectUpdateItems(script.Path(), "Install_File", "1.10a", Names()),
              std::vector<std::string>{"TextNewer"});

    EXPECT_LT(CompareVersionText("1.10", "1.9"), 0);
    EXPECT_EQ(CompareVersionText("1.0A", "1.0a"), 0);
    EXPECT_GT(CompareVersionText("1.0.1", "1.0"), 0);

    // 2 per file, 1 more for RegisterServer, 2 per codec and 1 more for a
    // filter, 1 per other item, 2 per launch item.
    script.Set("OtherSize", "RegisterServer", "Yes");
    CInstallLists counted = lists;
    counted.registries = {"a", "b"};
    counted.uninstalls = {"c"};
    EXPECT_EQ(CountInstallSteps(script.Path(), counted, 3), 4 * 2 + 1 + 2 * 2 + 1 + 3 + 6);
}

TEST_F(ActionsTest, ScriptsReachOnlyTheInstallationsFolders)
{
    const CInstallPlaces places(Names());
    EXPECT_EQ(places.Folder(InstallDir()), InstallDir());
    EXPECT_EQ(places.Folder(InstallDir() + "\\Skin\\"), InstallDir() + "/Skin");
    EXPECT_EQ(places.Folder(InstallDir() + "/./a//b"), InstallDir() + "/a/b");
    EXPECT_EQ(places.Folder(m_env.Path("windows") + "\\system32"), m_env.Path("windows") + "/system32");
    EXPECT_EQ(places.Folder(Home() + "/Desktop"), Home() + "/Desktop");
    for (const std::string &refused :
         {InstallDir() + "/../../.bashrc-dir", InstallDir() + "/a/../b", std::string("/etc"),
          std::string("/"), std::string("C:\\Program Files\\Velmor"), std::string("Velmor"), std::string(),
          Home(), InstallDir() + "-evil"})
        EXPECT_FALSE(places.Folder(refused)) << refused;

    // An empty install folder admits nothing, and never the root.
    const CInstallPlaces noInstall(CInstallNames{"k", "e", "1", "", ""});
    for (const std::string &root : noInstall.Roots())
        EXPECT_NE(root, "/");
    EXPECT_FALSE(noInstall.Folder("/Velmor.exe"));

    for (const char *name : {"Velmor.exe", "벨모어.ini", ".hidden", "a b"})
        EXPECT_TRUE(CInstallPlaces::IsPlainName(name)) << name;
    for (const char *name : {"", ".", "..", "a/b", "a\\b", "/etc"})
        EXPECT_FALSE(CInstallPlaces::IsPlainName(name)) << name;
}

TEST_F(ActionsTest, DesktopEntriesQuoteAndEscapeAsTheFormatWants)
{
    EXPECT_EQ(CDesktopEntry::QuoteExecArgument("/opt/x/run"), "/opt/x/run");
    EXPECT_EQ(CDesktopEntry::QuoteExecArgument("/opt/a b/run"), "\"/opt/a b/run\"");
    EXPECT_EQ(CDesktopEntry::QuoteExecArgument("a\"b`c$d\\e"), "\"a\\\"b\\`c\\$d\\\\e\"");
    EXPECT_EQ(CDesktopEntry::QuoteExecArgument("50%"), "50%%");
    EXPECT_EQ(CDesktopEntry::QuoteExecArgument(""), "\"\"");
    EXPECT_EQ(CDesktopEntry::ExecLine("/opt/a b/run", "-x \"one two\" ''"),
              "\"/opt/a b/run\" -x \"one two\" \"''\"");
    EXPECT_EQ(CDesktopEntry::EscapeValue(" lead\nline\ttab\\"), "\\slead\\nline\\ttab\\\\");

    CDesktopEntry entry;
    entry.Set("Type", "Application");
    entry.Set("Exec", CDesktopEntry::ExecLine("/opt/x\\y", ""));
    EXPECT_EQ(entry.Text(), "[Desktop Entry]\nType=Application\nExec=\"/opt/x\\\\\\\\y\"\n");
    const std::string path = m_env.Path("entry.desktop");
    ASSERT_TRUE(entry.Save(path));
    EXPECT_EQ(TestDir::Read(path), entry.Text());
    EXPECT_EQ(Mode(path), 0755u);
    EXPECT_FALSE(entry.Save(m_env.Path("no/such/folder/x.desktop")));
}

TEST_F(ActionsTest, DwordValuesAreReadAsTheScriptsMeanThem)
{
    EXPECT_EQ(ParseDwordValue("0x10"), 16u);
    EXPECT_EQ(ParseDwordValue("0xFFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseDwordValue("10"), 10u);
    EXPECT_EQ(ParseDwordValue("0x"), 0u);
    EXPECT_EQ(ParseDwordValue("0X10"), 0u); // only "0x" makes it hexadecimal
    EXPECT_EQ(ParseDwordValue("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseDwordValue("12abc"), 12u);
    EXPECT_EQ(ParseDwordValue("abc"), 0u);
    EXPECT_EQ(ParseDwordValue(""), 0u);
}

TEST_F(ActionsTest, FoldersRecordWhatTheInstallationCreated)
{
    CSetupFileOptions options;
    options.korName = "벨모어";
    options.engName = "Velmor";
    options.tempDir = m_env.Path("tmp");
    options.installDir = InstallDir();
    CSetupFile setup(options);
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    ASSERT_EQ(setup.CreateUninstallFile(), S_OK);
    const auto delDirs = [&] {
        return platform::GetPrivateProfileSection("DelDirsSection", 1 << 20, setup.UninstallFilePath());
    };
    const std::size_t before = delDirs().size();

    ASSERT_TRUE(CreateInstallFolder(InstallDir() + "/a/b", setup));
    EXPECT_EQ(delDirs().size(), before + 2) << "one line per created level";
    ASSERT_TRUE(CreateInstallFolder(m_env.Path("windows"), setup));
    EXPECT_EQ(delDirs().size(), before + 2) << "an existing folder is kept";
    EXPECT_EQ(setup.DestinationNumber(SetupTarget::UninstallFile, m_env.Path("windows")),
              setup.DestinationNumber(SetupTarget::UninstallFile, m_env.Path("windows") + "/"));

    std::ofstream(m_env.Path("file")) << "x";
    EXPECT_FALSE(CreateInstallFolder(m_env.Path("file") + "/sub", setup));
}

// Moving into place never rewrites a file: a running program keeps its own
// file and the new one takes its name; across file systems too.
TEST_F(ActionsTest, FilesMoveIntoPlaceAndProgramsBecomeRunnable)
{
    const std::string target = m_env.Path("prog.exe");
    std::filesystem::copy_file(WORKER_PROBE_1, target);
    std::filesystem::permissions(target, std::filesystem::perms::owner_all);
    ChildProgram running(target, {"--sleep", "30"}, m_env.Root());
    ASSERT_TRUE(running.Started());
    EXPECT_TRUE(IsFileInUse(target));
    EXPECT_FALSE(IsFileInUse(m_env.Path("none")));

    const std::string download = m_env.Path("tmp/download");
    std::ofstream(download) << "#!/bin/sh\nexit 0\n";
    ::chmod(download.c_str(), 0640);
    ASSERT_TRUE(MoveIntoPlace(download, target));
    EXPECT_FALSE(std::filesystem::exists(download));
    EXPECT_TRUE(running.Running());
    EXPECT_FALSE(IsFileInUse(target));
    MakeRunnableIfProgram(target);
    EXPECT_EQ(Mode(target), 0750u);

    std::ofstream(m_env.Path("text")) << "#";
    ::chmod(m_env.Path("text").c_str(), 0644);
    MakeRunnableIfProgram(m_env.Path("text"));
    EXPECT_EQ(Mode(m_env.Path("text")), 0644u);
    EXPECT_FALSE(MoveIntoPlace(m_env.Path("none"), m_env.Path("none2")));

    // Another file system, when the machine has one at hand.
    struct stat here {
    }, shm{};
    if (::stat(m_env.Root().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 ||
        here.st_dev == shm.st_dev)
        GTEST_SKIP() << "no second file system";
    char pattern[] = "/dev/shm/velmor-actions-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string away = std::string(pattern) + "/elf";
    std::filesystem::copy_file(WORKER_PROBE_2, away);
    ::chmod(away.c_str(), 0600);
    EXPECT_TRUE(MoveIntoPlace(away, target));
    std::filesystem::remove_all(pattern);
    EXPECT_EQ(TestDir::Read(target), TestDir::Read(WORKER_PROBE_2));
    EXPECT_EQ(Mode(target), 0600u);
    for (const auto &entry : std::filesystem::directory_iterator(m_env.Root()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}
