#include "platform/Process.h"

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
