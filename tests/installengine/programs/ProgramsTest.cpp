// The install engine's files carried out by the real programs, each started
// as its own process on the test's private machine: runonce.exe at the "next
// login", rundll32.exe on the install and uninstall files.
#include "CRunOnce.h"
#include "CSetupFile.h"

#include "platform/CodePage.h"
#include "platform/Module.h"
#include "platform/Profile.h"
#include "platform/Registry.h"

#include "../EngineTestEnv.h"
#include "RunProgram.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <tuple>

using namespace installengine;
using platform::RegRoot;

namespace {

class ProgramsTest : public testing::Test {
protected:
    ProgramsTest() { m_env.Set("PATH", std::string(VELMOR_PROGRAM_DIR) + ":/usr/bin:/bin"); }

    ProgramResult Run(const std::string &program, const std::vector<std::string> &args)
    {
        return RunProgram(ProgramPath(program), args, m_env.Root(), {}, 60000);
    }
    static std::optional<std::string> ReadValue(RegRoot root, const char *key, const char *name)
    {
        platform::RegistryKey k;
        if (FAILED(platform::RegistryKey::Open(root, key, k)))
            return std::nullopt;
        return k.ReadString(name);
    }
    static void WriteValue(RegRoot root, const char *key, const char *name, const char *value)
    {
        platform::RegistryKey k;
        ASSERT_EQ(platform::RegistryKey::Create(root, key, k), S_OK);
        ASSERT_EQ(k.WriteString(name, value), S_OK);
    }
    static std::size_t RunOnceValues()
    {
        platform::RegistryKey k;
        if (FAILED(platform::RegistryKey::Open(RegRoot::HKLM, CRunOnce::kKey, k)))
            return 0;
        return k.EnumValues().size();
    }
    static void Put(const std::string &path, const std::string &bytes)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static bool Exists(const std::string &path) { return std::filesystem::exists(path); }

    EngineTestEnv m_env{"programs"};
};

int Count(const std::string &text, const std::string &word)
{
    int n = 0;
    for (std::size_t at = 0; (at = text.find(word, at)) != std::string::npos; at += word.size())
        ++n;
    return n;
}

} // namespace

TEST_F(ProgramsTest, RunOnceCarriesOutEachValueExactlyOnce)
{
    const std::string log = m_env.Path("ran.log");
    for (const char *name : {"First", "Second", "Third"})
        ASSERT_EQ(CRunOnce::Write(name, std::string("sh -c \"echo ") + name + " >> '" + log + "'\""), S_OK);
    ASSERT_TRUE(Exists(CRunOnce::AutostartEntryPath()));

    // Two logins at once: every command still runs once.
    ChildProgram a(ProgramPath("runonce.exe"), {}, m_env.Root());
    ChildProgram b(ProgramPath("runonce.exe"), {}, m_env.Root());
    EXPECT_EQ(a.Wait(60000), 0) << a.Stderr();
    EXPECT_EQ(b.Wait(60000), 0) << b.Stderr();
    EXPECT_EQ(Run("runonce.exe", {}).exitCode, 0);

    const std::string ran = TestDir::Read(log);
    EXPECT_EQ(Count(ran, "First"), 1) << ran;
    EXPECT_EQ(Count(ran, "Second"), 1) << ran;
    EXPECT_EQ(Count(ran, "Third"), 1) << ran;
    // In the order they were written.
    EXPECT_LT(ran.find("First"), ran.find("Third"));
    EXPECT_EQ(RunOnceValues(), 0u);
    EXPECT_FALSE(Exists(CRunOnce::AutostartEntryPath()));
}

TEST_F(ProgramsTest, TheAutostartEntryStartsRunOnceOnThisMachine)
{
    const std::string log = m_env.Path("ran.log");
    ASSERT_EQ(CRunOnce::Write("Entry", "sh -c \"echo entry >> '" + log + "'\""), S_OK);
    const std::string entry = TestDir::Read(CRunOnce::AutostartEntryPath());
    const std::size_t exec = entry.find("\nExec=");
    ASSERT_NE(exec, std::string::npos) << entry;
    std::string command = entry.substr(exec + 6, entry.find('\n', exec + 1) - exec - 6);
    // The desktop's launcher reads the value's escapes before it splits the
    // command as a shell would.
    for (std::size_t at; (at = command.find("\\\\")) != std::string::npos;)
        command.replace(at, 2, "\\");
    EXPECT_NE(command.find(ProgramPath("runonce.exe")), std::string::npos) << command;
    EXPECT_NE(command.find("VELMOR_REGISTRY_DIR=" + m_env.Path("registry")), std::string::npos) << command;

    // Started by the login without this test's environment.
    const ProgramResult result =
        RunProgram("/usr/bin/env",
                   {"-i", "PATH=/usr/bin:/bin", "HOME=" + m_env.Path("home"),
                    "XDG_CONFIG_HOME=" + m_env.Path("config"), "/bin/sh", "-c", command},
                   m_env.Root());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(TestDir::Read(log), "entry\n");
    EXPECT_EQ(RunOnceValues(), 0u);
    EXPECT_FALSE(Exists(CRunOnce::AutostartEntryPath()));
}

// A file in use waits for the next start: the hand-over leaves the RunOnce
// value, runonce.exe runs rundll32.exe on the install file, the new file
// replaces the old one, its component is registered and the file is gone.
TEST_F(ProgramsTest, TheNextStartFinishesTheInstallation)
{
    const std::string app = m_env.Path("opt/Velmor");
    Put(app + "/Velmor.exe", "old program");
    Put(app + "/leftover.dll", "to delete");
    CSetupFileOptions options;
    options.korName = "미르반";
    options.engName = "Mirvane";
    options.tempDir = m_env.Path("tmp");
    options.installDir = app;
    CSetupFile setup(options);
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    ASSERT_EQ(setup.CreateUninstallFile(), S_OK);
    setup.RegisterDestination(app, true);
    // The downloads wait in the temporary folder, the install file's source disk.
    Put(m_env.Path("tmp/Velmor.exe"), "new program");
    std::filesystem::copy_file(ENGINE_TEST_COMPONENT, m_env.Path("tmp/Engine.ocx"));
    setup.RecordFile(app, "Velmor.exe", false, RECORD_COPY_AT_RESTART, SetupTarget::UninstallFile);
    setup.RecordFile(app, "Engine.ocx", false, RECORD_COPY_AT_RESTART, SetupTarget::UninstallFile);
    setup.RecordFile(app, "leftover.dll", false, RECORD_INSTALLED, SetupTarget::InstallFile);
    CSetupFile::AddSectionLine("RegisterOCXSection", "%49000%\\Engine.ocx", setup.InstallFilePath());

    m_env.Answer({platform::IDNO});
    ASSERT_EQ(setup.HandOver(), HandOverResult::RestartNeeded);
    EXPECT_EQ(TestDir::Read(app + "/Velmor.exe"), "old program");

    const ProgramResult login = Run("runonce.exe", {});
    EXPECT_EQ(login.exitCode, 0) << login.err;
    EXPECT_EQ(TestDir::Read(app + "/Velmor.exe"), "new program") << login.err;
    EXPECT_TRUE(Exists(app + "/Engine.ocx"));
    EXPECT_FALSE(Exists(app + "/leftover.dll"));
    EXPECT_EQ(ReadValue(RegRoot::HKLM, "Software\\Quenta\\EngineTestComponent", "Registered"),
              app + "/Engine.ocx");
    EXPECT_FALSE(Exists(setup.InstallFilePath()));
    EXPECT_EQ(RunOnceValues(), 0u);
    EXPECT_FALSE(Exists(CRunOnce::AutostartEntryPath()));
}

// Install a small product through the engine's records, then remove it with
// the uninstall file as the uninstall entry would: everything recorded as
// installed goes, what existed before stays.
TEST_F(ProgramsTest, TheUninstallFileRemovesWhatWasInstalled)
{
    const std::string opt = m_env.Path("opt");
    const std::string app = opt + "/Quenta Velmor"; // new, with a blank in its name
    const std::string skin = app + "/Skin";         // new
    const std::string fonts = m_env.Path("fonts");  // existed
    std::filesystem::create_directories(opt);
    Put(fonts + "/gulim.ttc", "the user's font");
    Put(fonts + "/other.ttf", "not ours");
    WriteValue(RegRoot::HKLM, "Software\\Quenta\\Velmor", "Foreign", "not ours");
    platform::WriteProfileString("Desktop", "Wallpaper", "not ours");

    CSetupFileOptions options;
    options.korName = "미르반";
    options.engName = "Mirvane";
    options.tempDir = m_env.Path("tmp");
    options.installDir = app;
    CSetupFile setup(options);
    ASSERT_EQ(setup.CreateInstallFile(), S_OK);
    // The install folder is made with the uninstall file and registered for removal.
    ASSERT_EQ(setup.CreateUninstallFile(), S_OK);
    std::filesystem::create_directories(skin);
    setup.RegisterDestination(skin, false);
    setup.RegisterDestination(fonts, true);

    Put(app + "/Velmor.exe", "program");
    setup.RecordFile(app, "Velmor.exe", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    Put(skin + "/Main.skn", "skin");
    setup.RecordFile(skin, "Main.skn", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    Put(fonts + "/velmor.ttf", "our font");
    setup.RecordFile(fonts, "velmor.ttf", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    setup.RecordFile(fonts, "gulim.ttc", false, RECORD_EXISTING, SetupTarget::UninstallFile);

    // A component that registers itself.
    std::filesystem::copy_file(ENGINE_TEST_COMPONENT, app + "/Engine.ocx");
    setup.RecordFile(app, "Engine.ocx", true, RECORD_INSTALLED, SetupTarget::UninstallFile);
    {
        platform::CModule component;
        ASSERT_TRUE(component.Load(app + "/Engine.ocx")) << component.LastError();
        ASSERT_EQ(component.Function<HRESULT (*)()>("DllRegisterServer")(), S_OK);
    }
    ASSERT_TRUE(ReadValue(RegRoot::HKLM, "Software\\Quenta\\EngineTestComponent", "Registered"));

    // Registry values, a private INI entry (in a file the product made) and a win.ini entry.
    WriteValue(RegRoot::HKLM, "Software\\Quenta\\Velmor", "Path", app.c_str());
    setup.AddUninstallLine("DelRegSection",
                           CSetupFile::RegistryLine("HKLM", "Software\\Quenta\\Velmor", "Path"));
    WriteValue(RegRoot::HKU, "Software\\Quenta\\Velmor", "PGroup", "Quenta");
    setup.AddUninstallLine("DelRegSection",
                           CSetupFile::RegistryLine("HKUS", "Software\\Quenta\\Velmor", "PGroup"));
    ASSERT_TRUE(platform::WritePrivateProfileString("config", "Skin", "Skin\\Main.skn", app + "/Velmor.ini"));
    setup.AddUninstallLine("UpdateInisSection",
                           CSetupFile::PrivateIniLine(app + "/Velmor.ini", "config", "Skin"));
    setup.RecordFile(app, "Velmor.ini", false, RECORD_INSTALLED, SetupTarget::UninstallFile);
    ASSERT_TRUE(platform::WriteProfileString("Velmor", "Path", app.c_str()));
    setup.AddUninstallLine("UpdateInisSection", CSetupFile::WinIniLine("Velmor", "Path"));
    // Nothing waits for the next start.
    ASSERT_EQ(setup.HandOver(), HandOverResult::Complete);
    // The logs the programs write beside themselves go with the folder.
    for (const char *log : {"/velmor.log", "/mirvane.log"})
        Put(app + log, "log");

    // The uninstall entry's command text, as the desktop starts it.
    m_env.Set("VELMOR_MESSAGEBOX_ANSWERS", "6");
    const std::string command = std::string(CSetupFile::kCommandPrefix) + " " + setup.UninstallFilePath();
    const ProgramResult result = RunProgram("/bin/sh", {"-c", "exec " + command}, m_env.Root(), {}, 60000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    // The headless prompt shows the product's Korean name.
    EXPECT_NE(result.err.find("미르반(을)를 제거하시겠습니까?"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("미르반(이)가 제거되었습니다."), std::string::npos) << result.err;

    EXPECT_FALSE(Exists(app)) << result.err;
    EXPECT_TRUE(Exists(opt));
    EXPECT_FALSE(Exists(fonts + "/velmor.ttf"));
    EXPECT_EQ(TestDir::Read(fonts + "/gulim.ttc"), "the user's font");
    EXPECT_TRUE(Exists(fonts + "/other.ttf"));
    EXPECT_FALSE(ReadValue(RegRoot::HKLM, "Software\\Quenta\\Velmor", "Path"));
    EXPECT_FALSE(ReadValue(RegRoot::HKU, "Software\\Quenta\\Velmor", "PGroup"));
    EXPECT_EQ(ReadValue(RegRoot::HKLM, "Software\\Quenta\\Velmor", "Foreign"), "not ours");
    EXPECT_FALSE(ReadValue(RegRoot::HKLM, "Software\\Quenta\\EngineTestComponent", "Registered"));
    EXPECT_EQ(platform::GetProfileString("Velmor", "Path", "-", 1024), "-");
    EXPECT_EQ(platform::GetProfileString("Desktop", "Wallpaper", "-", 1024), "not ours");

    // A second run has nothing left to do and says so.
    EXPECT_EQ(RunProgram("/bin/sh", {"-c", "exec " + command}, m_env.Root()).exitCode, 2);
}

// An INF another user could have planted or changed is not run at the next
// login: in a folder others may write (the shared TMPDIR, as /tmp), one
// they may write, another user's (as root), a link. runonce.exe drops the
// value; rundll32.exe says why.
TEST_F(ProgramsTest, AnInfOthersCouldChangeIsNotRun)
{
    WriteValue(RegRoot::HKLM, "Software\\Quenta\\Victim", "Keep", "mine");
    const uid_t other = ::geteuid() == 0 ? 65534 : ::geteuid();
    // Folder, its mode, the INF's mode and owner, whether the INF is a link.
    const std::vector<std::tuple<std::string, mode_t, mode_t, uid_t, bool>> cases = {
        {m_env.Path("tmp"), 01777, 0644, ::geteuid(), false},
        {m_env.Path("inf/a"), 0755, 0666, ::geteuid(), false},
        {m_env.Path("inf/b"), 0755, other == ::geteuid() ? 0646 : 0644, other, false},
        {m_env.Path("inf/c"), 0755, 0644, ::geteuid(), true},
    };
    for (const auto &[folder, folderMode, fileMode, owner, link] : cases) {
        const std::string path = folder + "/VelmorInstall.INF";
        Put(path + (link ? ".real" : ""),
            "[DefaultInstall]\nDelReg=R\n[R]\nHKLM,\"Software\\Quenta\\Victim\",\"Keep\"\n");
        if (link)
            std::filesystem::create_symlink(path + ".real", path);
        ASSERT_EQ(::chmod(folder.c_str(), folderMode) || ::fchmodat(AT_FDCWD, path.c_str(), fileMode, 0) ||
                      ::lchown(path.c_str(), owner, static_cast<gid_t>(-1)),
                  0);
        ASSERT_EQ(CRunOnce::Write("VelmorInstaller", std::string(CSetupFile::kCommandPrefix) + " " + path),
                  S_OK);
        const ProgramResult login = Run("runonce.exe", {});
        EXPECT_NE(login.err.find("실행하지 않습니다"), std::string::npos) << path << "\n" << login.err;
        EXPECT_EQ(ReadValue(RegRoot::HKLM, "Software\\Quenta\\Victim", "Keep"), "mine") << path;
        EXPECT_EQ(RunOnceValues(), 0u) << path;
    }
    ::chmod(m_env.Path("tmp").c_str(), 0755);
}
