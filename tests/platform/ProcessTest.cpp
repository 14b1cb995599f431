#include "platform/Process.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace platform;
namespace fs = std::filesystem;

TEST(Process, SplitAndJoinAreInverse)
{
    const char *argv[] = {"prog", "-start", "1", "-curl", "a-b"};
    const std::string line = JoinArguments(5, argv);
    EXPECT_EQ(line, "-start 1 -curl a-b");
    EXPECT_EQ(SplitArguments(line), (std::vector<std::string>{"-start", "1", "-curl", "a-b"}));
    EXPECT_TRUE(SplitArguments("   ").empty());
    EXPECT_EQ(JoinArguments(1, argv), "");
}

TEST(Process, ShellExecuteStartsProgramInDirectoryWithArguments)
{
    fs::path dir = fs::temp_directory_path() / ("velmor-proc-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    {
        std::ofstream script(dir / "Recorder.exe");
        script << "#!/bin/sh\nprintf '%s\\n' \"$@\" > args.txt.tmp && mv args.txt.tmp args.txt\n";
    }
    fs::permissions(dir / "Recorder.exe", fs::perms::owner_all);

    ASSERT_TRUE(ShellExecuteOpen("Recorder.exe", "-start 1  -lport 7", dir.string(), ShowState::Hidden));
    for (int i = 0; i < 200 && !fs::exists(dir / "args.txt"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream in(dir / "args.txt");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "-start\n1\n-lport\n7\n");

    EXPECT_FALSE(ShellExecuteOpen("NoSuchProgram.exe", "", dir.string(), ShowState::Hidden));
    EXPECT_TRUE(FileExists((dir / "Recorder.exe").string()));
    EXPECT_FALSE(FileExists((dir / "nothing").string()));
    fs::remove_all(dir);
}

namespace {

// A folder with small shell-script programs that write what they were given.
class ProgramLookup : public testing::Test {
protected:
    void SetUp() override
    {
        const char *path = std::getenv("PATH");
        m_savedPath = path ? path : "";
    }
    void TearDown() override
    {
        setenv("PATH", m_savedPath.c_str(), 1);
        std::error_code ec;
        for (const fs::path &p : m_ownFolderFiles)
            fs::remove(p, ec);
    }
    // A script that records its arguments (one a line) and working folder
    // into `record`, then ends with `status`.
    static void WriteRecorder(const fs::path &file, const fs::path &record, int status = 0)
    {
        std::ofstream(file) << "#!/bin/sh\n{ pwd; printf '%s\\n' \"$@\"; } > '" << record.string()
                            << ".tmp' && mv '" << record.string() << ".tmp' '" << record.string()
                            << "'\nexit " << status << "\n";
        fs::permissions(file, fs::perms::owner_all);
    }
    // A program placed beside the test executable, removed afterwards.
    fs::path OwnFolderProgram(const std::string &name, const fs::path &record)
    {
        const fs::path file = fs::path(ProgramDirectory()) / name;
        WriteRecorder(file, record);
        m_ownFolderFiles.push_back(file);
        return file;
    }
    static std::string Slurp(const fs::path &p)
    {
        std::ifstream in(p);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static bool WaitFor(const fs::path &p)
    {
        for (int i = 0; i < 500 && !fs::exists(p); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return fs::exists(p);
    }

    TestDir m_dir{"lookup"};
    std::string m_savedPath;
    std::vector<fs::path> m_ownFolderFiles;
};

} // namespace

TEST(Process, ProgramDirectoryIsTheFolderOfTheRunningProgram)
{
    EXPECT_TRUE(fs::equivalent(ProgramDirectory(), VELMOR_BINARY_DIR "/tests"));
    EXPECT_NE(ProgramDirectory().back(), '/');
}

TEST(Process, SplitCommandLineFollowsTheWindowsRules)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine("rundll32.exe advpack.dll,LaunchINFSection /tmp/a b/x.INF"),
              (V{"rundll32.exe", "advpack.dll,LaunchINFSection", "/tmp/a", "b/x.INF"}));
    EXPECT_EQ(SplitCommandLine("  \"/opt/Velmor Dir/Velmor.exe\"\t/u  -start 1 "),
              (V{"/opt/Velmor Dir/Velmor.exe", "/u", "-start", "1"}));
    EXPECT_EQ(SplitCommandLine("REGSVR32.EXE /s \"C:\\Program Files\\X\\a.ocx\""),
              (V{"REGSVR32.EXE", "/s", "C:\\Program Files\\X\\a.ocx"}));
    EXPECT_EQ(SplitCommandLine("a\\\"b \"c\"\"d\" \"\" e\\\\\"f g\" h\\\\"),
              (V{"a\"b", "c\"d", "", "e\\f g", "h\\\\"}));
    EXPECT_EQ(SplitCommandLine("x\"y z\"w \"unclosed tail"), (V{"xy zw", "unclosed tail"}));
    EXPECT_TRUE(SplitCommandLine("").empty());
    EXPECT_TRUE(SplitCommandLine(" \t ").empty());
}

TEST_F(ProgramLookup, BareNamesBesideTheProgramWithoutCaseThenOnPath)
{
    const std::string tag = std::to_string(::getpid());
    const fs::path own = OwnFolderProgram("VelmorLookup" + tag + ".exe", m_dir.path() / "own");
    // Found beside the program whatever the case of the stored name.
    EXPECT_EQ(FindProgram("velmorlookup" + tag + ".EXE"), own.string());
    EXPECT_EQ(FindProgram("VELMORLOOKUP" + tag), own.string()); // ".exe" added as CreateProcess does

    // Then PATH, in its order; files that cannot run are passed over.
    fs::create_directories(m_dir.path() / "p1");
    fs::create_directories(m_dir.path() / "p2");
    std::ofstream(m_dir.path() / "p1" / "tool.exe") << "not executable";
    WriteRecorder(m_dir.path() / "p2" / "tool.exe", m_dir.path() / "rec");
    setenv("PATH", (m_dir.path().string() + "/p1::" + m_dir.path().string() + "/p2").c_str(), 1);
    EXPECT_EQ(FindProgram("tool.exe"), (m_dir.path() / "p2" / "tool.exe").string());
    EXPECT_EQ(FindProgram("TOOL.EXE"), ""); // PATH folders are searched as they are
    // The program's own folder comes before PATH.
    WriteRecorder(m_dir.path() / "p2" / ("VelmorLookup" + tag + ".exe"), m_dir.path() / "rec");
    EXPECT_EQ(FindProgram("VelmorLookup" + tag + ".exe"), own.string());

    EXPECT_EQ(FindProgram("/some/where/x.exe"), "/some/where/x.exe");
    EXPECT_EQ(FindProgram("no-such-program.exe"), "");
    EXPECT_EQ(FindProgram(""), "");
}

TEST_F(ProgramLookup, RunAndWaitReturnsTheExitStatus)
{
    fs::create_directories(m_dir.path() / "bin dir");
    fs::create_directories(m_dir.path() / "work");
    const fs::path program = m_dir.path() / "bin dir" / "Setup.exe";
    WriteRecorder(program, m_dir.path() / "rec", 3);

    EXPECT_EQ(RunAndWait(program.string(), "/s \"a b\"  c", (m_dir.path() / "work").string()), 3);
    EXPECT_EQ(Slurp(m_dir.path() / "rec"), (m_dir.path() / "work").string() + "\n/s\na b\nc\n");

    EXPECT_EQ(RunAndWait((m_dir.path() / "missing.exe").string(), "", ""), -1);
    EXPECT_EQ(RunAndWait("no-such-program.exe", "", ""), -1);
    std::ofstream(m_dir.path() / "plain.txt") << "text";
    EXPECT_EQ(RunAndWait((m_dir.path() / "plain.txt").string(), "", ""), -1);
    // A program ended by a signal reports 128 + the signal, as a shell does.
    std::ofstream(m_dir.path() / "killed.exe") << "#!/bin/sh\nkill -9 $$\n";
    fs::permissions(m_dir.path() / "killed.exe", fs::perms::owner_all);
    EXPECT_EQ(RunAndWait((m_dir.path() / "killed.exe").string(), "", ""), 128 + 9);
}

TEST_F(ProgramLookup, CommandTextsRunAsTheyAreStored)
{
    const std::string tag = std::to_string(::getpid());
    OwnFolderProgram("RunDll" + tag + ".exe", m_dir.path() / "rundll");
    // Waiting: the program is found beside us from its name in another case.
    const std::string text =
        "RUNDLL" + tag + ".EXE advpack.dll,LaunchINFSection " + m_dir.path().string() + "/x.INF";
    EXPECT_EQ(RunCommandText(text, m_dir.path().string(), true), 0);
    EXPECT_EQ(Slurp(m_dir.path() / "rundll"), m_dir.path().string() + "\nadvpack.dll,LaunchINFSection\n" +
                                                  m_dir.path().string() + "/x.INF\n");

    // Not waiting: started, and it runs to its end on its own.
    fs::create_directories(m_dir.path() / "a b");
    WriteRecorder(m_dir.path() / "a b" / "Later.exe", m_dir.path() / "later", 5);
    EXPECT_EQ(RunCommandText("\"" + m_dir.path().string() + "/a b/Later.exe\" x", "", false), 0);
    EXPECT_TRUE(WaitFor(m_dir.path() / "later"));
    EXPECT_NE(Slurp(m_dir.path() / "later").find("\nx\n"), std::string::npos);

    EXPECT_EQ(RunCommandText("", "", true), -1);
    EXPECT_EQ(RunCommandText("nowhere-" + tag + ".exe /s", "", true), -1);
}

TEST_F(ProgramLookup, ShellExecuteKeepsItsFolderFirstThenLooksBesideTheProgram)
{
    const std::string tag = std::to_string(::getpid());
    // Present in both places: the given folder's copy is the one started.
    WriteRecorder(m_dir.path() / ("Mirvane" + tag + ".exe"), m_dir.path() / "in-folder");
    OwnFolderProgram("Mirvane" + tag + ".exe", m_dir.path() / "beside");
    ASSERT_TRUE(
        ShellExecuteOpen("Mirvane" + tag + ".exe", "-start 1", m_dir.path().string(), ShowState::Hidden));
    EXPECT_TRUE(WaitFor(m_dir.path() / "in-folder"));
    EXPECT_FALSE(fs::exists(m_dir.path() / "beside"));

    // Only beside the program: found there, run in the given folder.
    OwnFolderProgram("Helper" + tag + ".exe", m_dir.path() / "helper");
    ASSERT_TRUE(ShellExecuteOpen("helper" + tag + ".exe", "/s", m_dir.path().string(), ShowState::Hidden));
    EXPECT_TRUE(WaitFor(m_dir.path() / "helper"));
    EXPECT_EQ(Slurp(m_dir.path() / "helper"), m_dir.path().string() + "\n/s\n");
}
