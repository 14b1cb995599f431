// Runs the built Velmor.exe as its own process in a temporary folder, the way
// the launcher and the updater start it, and reads what it left behind.
#include "RunProgram.h"
#include "TestDir.h"

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <regex>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kExitAfterParse{"VELMOR_EXIT_AFTER_PARSE=1"};

ProgramResult RunVelmor(const TestDir &dir, const std::vector<std::string> &args,
                        const std::vector<std::string> &env = kExitAfterParse)
{
    return RunProgram(ProgramPath("Velmor.exe"), args, dir.path(), env);
}

std::string LogOf(const TestDir &dir)
{
    return platform::AnsiToUtf8(TestDir::Read(dir.path() / "velmor.log"));
}

// A stand-in updater that records the arguments it was started with.
void InstallRecordingUpdater(const TestDir &dir)
{
    const fs::path updater = dir.path() / "Mirvane.exe";
    std::ofstream(updater) << "#!/bin/sh\n"
                              "printf '%s\\n' \"$@\" > mirvane-args.tmp && mv mirvane-args.tmp mirvane-args.txt\n";
    fs::permissions(updater, fs::perms::owner_all);
}

std::string WaitForFile(const fs::path &p)
{
    for (int i = 0; i < 500 && !fs::exists(p); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return TestDir::Read(p);
}

bool Contains(const std::string &hay, const std::string &needle)
{
    return hay.find(needle) != std::string::npos;
}

} // namespace

TEST(Startup, MarkedLineIsParsedAndLogged)
{
    TestDir dir("start");
    ProgramResult r = RunVelmor(dir, {"/u", "-start", "1", "-lport", "7000", "-elport", "7002"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "start=1\nlport=7000\nelport=7002\ncurl=\ncport=64002\n"
                                "ceurl=\nceport=8080\nonairrul=\noffairurl=\n"))
        << r.out;

    const std::string raw = TestDir::Read(dir.path() / "velmor.log");
    EXPECT_EQ(raw.rfind("*****************************\n** Current Date ", 0), 0u);
    const std::string log = LogOf(dir);
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[\d\d:\d\d:\d\d\] \(Velmor, \d+ Line\) /u옵션 확인\n)")));
    EXPECT_TRUE(Contains(log, "Line) 프로그램 시작 인자: -start 1 -lport 7000 -elport 7002\n"));
    // Korean entries are CP949 on disk.
    EXPECT_TRUE(Contains(raw, platform::Utf8ToAnsi("/u옵션 확인\n")));
}

TEST(Startup, UpperCaseMarkerAndOptions)
{
    TestDir dir("start");
    ProgramResult r = RunVelmor(dir, {"/U", "-START", "2", "-CURL", "Host.Example", "-CPORT", "5000"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_TRUE(Contains(r.out, "start=2\n"));
    EXPECT_TRUE(Contains(r.out, "curl=host.example\ncport=5000\n"));
}

TEST(Startup, LineWithoutHyphenShowsInvalidArguments)
{
    TestDir dir("start");
    ProgramResult r = RunVelmor(dir, {"/u", "start", "1"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(Contains(r.err, "프로그램 실행인자가 올바르지 않습니다.\n안전하게 프로그램을 종료합니다."))
        << r.err;
    EXPECT_FALSE(Contains(r.out, "start="));
    const std::string log = LogOf(dir);
    EXPECT_TRUE(Contains(log, "/u옵션 확인\n"));
    EXPECT_TRUE(Contains(log, "프로그램 시작 인자: start 1\n"));
}

TEST(Startup, UnmarkedStartHandsOverToUpdater)
{
    TestDir dir("start");
    InstallRecordingUpdater(dir);
    ProgramResult r = RunVelmor(dir, {"-start", "1", "-onairrul", "http://x/update/on"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(Contains(r.out, "start="));
    EXPECT_EQ(WaitForFile(dir.path() / "mirvane-args.txt"), "-start\n1\n-onairrul\nhttp://x/update/on\n");
    const std::string log = LogOf(dir);
    EXPECT_TRUE(Contains(log, "업데이터를 실행 후 종료\n"));
    EXPECT_FALSE(Contains(log, "/u옵션 확인"));
}

TEST(Startup, MarkerOnlyCountsAtTheFront)
{
    TestDir dir("start");
    // "/u" inside a URL is no marker: the start goes to the updater, whole.
    ProgramResult r = RunVelmor(dir, {"-curl", "host/user/u", "-start", "2"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(Contains(r.out, "start="));
    EXPECT_TRUE(Contains(LogOf(dir), "오토업데이터가 설치되어 있지 않아 종료\n"));
    // "/user" at the front is not the marker either.
    TestDir dir2("start");
    RunVelmor(dir2, {"/user", "-start", "1"});
    EXPECT_TRUE(Contains(LogOf(dir2), "오토업데이터가 설치되어 있지 않아 종료\n"));
}

TEST(Startup, MissingUpdaterIsLoggedWithoutMessage)
{
    TestDir dir("start");
    ProgramResult r = RunVelmor(dir, {"-start", "1"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err.find('['), std::string::npos) << r.err;
    const std::string log = LogOf(dir);
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\(Velmor, \d+ Line\) 오토업데이터가 설치되어 있지 않아 종료\n)")));
}

TEST(Startup, SecondRunLeavesOnlyItsOwnEntries)
{
    TestDir dir("start");
    RunVelmor(dir, {"/u", "-start", "1", "-tag", "firstrun"});
    EXPECT_TRUE(Contains(LogOf(dir), "firstrun"));
    RunVelmor(dir, {"/u", "-start", "1", "-tag", "secondrun"});
    const std::string log = LogOf(dir);
    EXPECT_FALSE(Contains(log, "firstrun"));
    EXPECT_TRUE(Contains(log, "secondrun"));
    EXPECT_EQ(log.rfind("*****************************\n"), log.find("*****************************\n", 1));
}

TEST(Startup, ArbitraryCommandLinesEndInAKnownOutcome)
{
    TestDir dir("start");
    std::mt19937 rng(99);
    for (int round = 0; round < 12; ++round) {
        std::vector<std::string> args;
        if (round % 2 == 0)
            args.push_back(round % 4 == 0 ? "/u" : "/U");
        const int count = 1 + static_cast<int>(rng() % 6);
        for (int i = 0; i < count; ++i) {
            std::string a(1 + rng() % (round == 11 ? 600 : 40), 'x');
            for (char &c : a) {
                const unsigned r = rng() % 6;
                c = r == 0 ? '-' : static_cast<char>(1 + rng() % 255);
            }
            args.push_back(a);
        }
        ProgramResult r = RunVelmor(dir, args);
        EXPECT_EQ(r.exitCode, 0) << "round " << round << ": " << r.err;
        const std::string log = LogOf(dir);
        EXPECT_TRUE(Contains(log, "오토업데이터가 설치되어 있지 않아 종료\n") || Contains(log, "/u옵션 확인\n"))
            << "round " << round;
    }
}
