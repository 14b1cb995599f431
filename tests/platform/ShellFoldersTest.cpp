#include "platform/ShellFolders.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Gives the test its own HOME and XDG folders and puts the old ones back.
class ShellFolders : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char *name : kVariables) {
            const char *value = std::getenv(name);
            m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
        setenv("HOME", m_home.path().c_str(), 1);
    }
    void TearDown() override
    {
        for (const auto &[name, value] : m_saved) {
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
        }
    }
    std::string Home() const { return m_home.path().string(); }

    static constexpr const char *kVariables[] = {"HOME",           "XDG_CONFIG_HOME",    "XDG_DATA_HOME",
                                                 "XDG_STATE_HOME", "VELMOR_WINDOWS_DIR", "TMPDIR"};
    std::vector<std::pair<const char *, std::optional<std::string>>> m_saved;
    TestDir m_home{"home"};
};

} // namespace

TEST_F(ShellFolders, UserFoldersComeFromTheXdgFoldersAndUserDirs)
{
    // Without user-dirs.dirs: the usual English folders under HOME.
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Desktop), Home() + "/Desktop");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Documents), Home() + "/Documents");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Fonts), Home() + "/.local/share/fonts");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::StartMenu), Home() + "/.local/share/applications");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Programs), Home() + "/.local/share/applications");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Startup), Home() + "/.config/autostart");

    // The user's own names, as xdg-user-dirs-update writes them.
    fs::create_directories(m_home.path() / "cfg");
    std::ofstream(m_home.path() / "cfg" / "user-dirs.dirs", std::ios::binary)
        << "# written by xdg-user-dirs-update\r\n"
           "XDG_DESKTOP_DIR=\"$HOME/바탕 화면\"\r\n"
           "XDG_DOWNLOAD_DIR=\"$HOME/다운로드\"\n"
           "  XDG_DOCUMENTS_DIR=\"/srv/문서/\"\n"
           "XDG_DOCUMENTS_DIRX=\"/wrong\"\n";
    setenv("XDG_CONFIG_HOME", (Home() + "/cfg/").c_str(), 1);
    setenv("XDG_DATA_HOME", (Home() + "/data").c_str(), 1);
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Desktop), Home() + "/바탕 화면");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Documents), "/srv/문서");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Fonts), Home() + "/data/fonts");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Programs), Home() + "/data/applications");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Startup), Home() + "/cfg/autostart");

    // A relative XDG folder is not a valid one and falls back to HOME's.
    setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Fonts), Home() + "/.local/share/fonts");
    // A desktop set to $HOME itself (the desktop switched off) is HOME.
    std::ofstream(m_home.path() / "cfg" / "user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/\"\n";
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::Desktop), Home());
}

TEST_F(ShellFolders, WindowsFolderIsPrivateAndMadeOnDemand)
{
    setenv("XDG_DATA_HOME", (Home() + "/data").c_str(), 1);
    EXPECT_EQ(GetWindowsDirectory(), Home() + "/data/velmor/windows");
    EXPECT_EQ(GetSystemDirectory(), Home() + "/data/velmor/windows/system32");
    EXPECT_TRUE(fs::is_directory(Home() + "/data/velmor/windows/system32"));

    setenv("VELMOR_WINDOWS_DIR", (Home() + "/win/").c_str(), 1);
    EXPECT_EQ(GetWindowsDirectory(), Home() + "/win");
    EXPECT_EQ(GetSystemDirectory(), Home() + "/win/system32");
    EXPECT_TRUE(fs::is_directory(Home() + "/win/system32"));
}

// The temporary folder is the user's own and lasting: "velmor/temp" under
// the XDG state folder, made private, whatever TMPDIR says. One that another
// user owns or may enter, or a link, is refused with a message naming it.
TEST_F(ShellFolders, TempFolderIsPrivateUnderTheStateFolder)
{
    setenv("TMPDIR", (Home() + "/shared").c_str(), 1);
    EXPECT_EQ(GetTempPath(), Home() + "/.local/state/velmor/temp/");
    struct stat st {};
    ASSERT_EQ(::stat((Home() + "/.local/state/velmor/temp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // The folder a case spoils (and the message names), and how.
    const std::vector<std::pair<std::string, std::function<int(const char *)>>> cases = {
        {"velmor/temp", [](const char *p) { return ::chmod(p, 0755); }},
        {"velmor", [](const char *p) { return ::chmod(p, 0770); }},
        {"velmor/temp",
         [](const char *p) {
             const std::string real = std::string(p) + "-real";
             return ::rename(p, real.c_str()) || ::symlink(real.c_str(), p);
         }},
        {"velmor/temp",
         [](const char *p) { return ::geteuid() == 0 ? ::chown(p, 65534, 65534) : ::chmod(p, 0701); }},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string state = Home() + "/case" + std::to_string(i);
        setenv("XDG_STATE_HOME", state.c_str(), 1);
        ASSERT_EQ(GetTempPath(), state + "/velmor/temp/");
        const std::string spoiled = state + "/" + cases[i].first;
        ASSERT_EQ(cases[i].second(spoiled.c_str()), 0) << spoiled;
        std::string refusal;
        EXPECT_EQ(GetTempPath(&refusal), "") << spoiled;
        std::string expected = kTempFolderRefused;
        EXPECT_EQ(refusal, expected.replace(expected.find("%s"), 2, spoiled));
    }
}

// The all-users folders and Program Files: the system's for root, the
// user's own for anybody else. As root the user's side runs in a child that
// has given up root.
TEST_F(ShellFolders, AllUsersFoldersDependOnRoot)
{
    auto expectUser = [&] {
        EXPECT_EQ(GetSpecialFolderPath(ShellFolder::CommonDesktop), Home() + "/Desktop");
        EXPECT_EQ(GetSpecialFolderPath(ShellFolder::CommonStartMenu), Home() + "/.local/share/applications");
        EXPECT_EQ(GetSpecialFolderPath(ShellFolder::CommonPrograms), Home() + "/.local/share/applications");
        EXPECT_EQ(GetSpecialFolderPath(ShellFolder::CommonStartup), Home() + "/.config/autostart");
        EXPECT_EQ(DefaultProgramFilesDirectory(), Home() + "/.local/opt");
    };
    if (::geteuid() != 0) {
        expectUser();
        return;
    }
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::CommonDesktop), "");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::CommonStartMenu), "/usr/local/share/applications");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::CommonPrograms), "/usr/local/share/applications");
    EXPECT_EQ(GetSpecialFolderPath(ShellFolder::CommonStartup), "/etc/xdg/autostart");
    EXPECT_EQ(DefaultProgramFilesDirectory(), "/opt");

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            _exit(2);
        expectUser();
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the user's folders, seen by a process without root";
}
