#include "CLogFile.h"
#include "TestDir.h"

#include "platform/CodePage.h"
#include "platform/PlatformLog.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

namespace {

const std::string kBannerStars = "*****************************\n";

std::vector<std::string> Lines(const std::string &all)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find('\n', at);
        if (end == std::string::npos)
            end = all.size() - 1;
        lines.push_back(all.substr(at, end - at + 1));
        at = end + 1;
    }
    return lines;
}

} // namespace

TEST(LogFile, BannerAndEntryFormat)
{
    TestDir dir("log");
    const std::string path = dir.file("velmor.log");
    {
        CLogFile log;
        ASSERT_TRUE(log.Open(path.c_str()));
        EXPECT_GT(log.Write(".\\Video", 42, "Graph built (hr=0x%08x).\n", 0x80004005u), 0);
        EXPECT_GT(log.Write("NetWrite", 7, "plain\n"), 0);
        EXPECT_GT(log.Write(nullptr, 0, "bare %d\n", 5), 0);
        log.Write("a\\b\\VelmorDlg", 1, "방송 스트림을 준비한다.\n");
    }
    const std::string all = TestDir::Read(path);
    const std::vector<std::string> lines = Lines(all);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], kBannerStars);
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\*\* Current Date \d{4}-\d{2}-\d{2} \*\*\n)")));
    EXPECT_EQ(lines[2], kBannerStars);
    EXPECT_EQ(lines[3], "\n");
    EXPECT_TRUE(std::regex_match(
        lines[4], std::regex(R"(\[\d\d:\d\d:\d\d\] \(Video, 42 Line\) Graph built \(hr=0x80004005\)\.\n)")))
        << lines[4];
    EXPECT_TRUE(std::regex_match(lines[5], std::regex(R"(\[\d\d:\d\d:\d\d\] \(NetWrite, 7 Line\) plain\n)")));
    EXPECT_EQ(lines[6], "bare 5\n");
    // Korean text is written in CP949.
    const std::string korean = platform::Utf8ToAnsi("(VelmorDlg, 1 Line) 방송 스트림을 준비한다.\n");
    EXPECT_EQ(lines[7].substr(11), korean);
}

TEST(LogFile, LongEntryIsCutTo1023BytesAndNextFollows)
{
    TestDir dir("log");
    const std::string path = dir.file("velmor.log");
    CLogFile log;
    ASSERT_TRUE(log.Open(path.c_str()));
    const std::size_t before = TestDir::Read(path).size();
    const std::string big(2000, 'x');
    EXPECT_EQ(log.Write("Velmor", 1, "%s", big.c_str()), 1023);
    EXPECT_EQ(log.Write(nullptr, 0, "next\n"), 5);
    const std::string all = TestDir::Read(path);
    ASSERT_EQ(all.size(), before + 1023 + 5);
    EXPECT_EQ(all.substr(before + 1023), "next\n");
}

TEST(LogFile, WriteBeforeOpenAndSecondOpen)
{
    TestDir dir("log");
    CLogFile log;
    EXPECT_EQ(log.Write("Velmor", 1, "lost\n"), 0);
    EXPECT_FALSE(log.Open(nullptr));
    const std::string path = dir.file("velmor.log");
    ASSERT_TRUE(log.Open(path.c_str()));
    log.Write("Velmor", 2, "kept\n");
    const std::string first = TestDir::Read(path);
    EXPECT_FALSE(log.Open(path.c_str()));
    EXPECT_FALSE(log.Open(dir.file("other.log").c_str()));
    EXPECT_EQ(TestDir::Read(path), first);
    EXPECT_EQ(first.find("lost"), std::string::npos);
}

TEST(LogFile, UncreatableFileLeavesLogClosed)
{
    CLogFile log;
    EXPECT_FALSE(log.Open("/nonexistent-dir/velmor.log"));
    EXPECT_EQ(log.Write("Velmor", 1, "x\n"), 0);
}

TEST(LogFile, LogHeldByAnotherWriterIsNotTruncated)
{
    TestDir dir("log");
    const std::string path = dir.file("velmor.log");
    CLogFile first;
    ASSERT_TRUE(first.Open(path.c_str()));
    first.Write("Velmor", 1, "first run\n");
    CLogFile second;
    EXPECT_FALSE(second.Open(path.c_str()));
    EXPECT_NE(TestDir::Read(path).find("first run"), std::string::npos);
}

TEST(LogFile, EntriesFromEightThreadsStayWhole)
{
    TestDir dir("log");
    const std::string path = dir.file("velmor.log");
    CLogFile log;
    ASSERT_TRUE(log.Open(path.c_str()));
    constexpr int kThreads = 8;
    constexpr int kEntries = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            const std::string pad(100 + t * 50, static_cast<char>('a' + t));
            for (int i = 0; i < kEntries; ++i)
                log.Write("Audio", t, "T%d #%d %s|\n", t, i, pad.c_str());
        });
    }
    for (std::thread &t : threads)
        t.join();

    const std::vector<std::string> lines = Lines(TestDir::Read(path));
    ASSERT_EQ(lines.size(), 4u + kThreads * kEntries);
    std::vector<int> next(kThreads, 0);
    const std::regex entry(R"(\[\d\d:\d\d:\d\d\] \(Audio, (\d) Line\) T(\d) #(\d+) ([a-h]+)\|\n)");
    for (std::size_t i = 4; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, entry)) << lines[i];
        const int t = std::stoi(m[2]);
        EXPECT_EQ(std::stoi(m[1]), t);
        EXPECT_EQ(std::stoi(m[3]), next[t]++);
        EXPECT_EQ(m[4].str(), std::string(100 + t * 50, static_cast<char>('a' + t)));
    }
}

// Where entries go when: a log is set (its file), none is set and the switch
// is on (standard error, UTF-8), neither (nowhere). The platform layers'
// entries follow the same road.
TEST(LogFile, WithoutALogEntriesGoToStandardErrorOnlyWhenAskedFor)
{
    TestDir dir("log");
    SetAppLog(nullptr);
    SetLogToStandardError(false);
    testing::internal::CaptureStderr();
    VLOG("Engine", "조용히 %d\n", 1);
    PLATFORM_LOG("Restart", "조용히 %d\n", 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    SetLogToStandardError(true);
    testing::internal::CaptureStderr();
    VLOG("a\\b\\Engine", "설치 파일을 씁니다 (hr=0x%08x).\n", 0x80004005u);
    PLATFORM_LOG("Restart", "재시작하지 않습니다.\n");
    const std::string err = testing::internal::GetCapturedStderr();
    const std::vector<std::string> lines = Lines(err);
    ASSERT_EQ(lines.size(), 2u) << err;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[\d\d:\d\d:\d\d\] \(Engine, \d+ Line\) .*\n)")));
    EXPECT_NE(lines[0].find("설치 파일을 씁니다 (hr=0x80004005).\n"), std::string::npos);
    EXPECT_NE(lines[1].find("(Restart, "), std::string::npos);
    EXPECT_NE(lines[1].find("재시작하지 않습니다.\n"), std::string::npos);

    // A program that has its log writes there, and not to standard error.
    CLogFile log;
    ASSERT_TRUE(log.Open(dir.file("engine.log").c_str()));
    SetAppLog(&log);
    testing::internal::CaptureStderr();
    VLOG("Engine", "파일로\n");
    PLATFORM_LOG("Restart", "역시 파일로\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    SetAppLog(nullptr);
    SetLogToStandardError(false);
    const std::string file = TestDir::Read(dir.file("engine.log"));
    EXPECT_NE(file.find(platform::Utf8ToAnsi("(Engine, ")), std::string::npos);
    EXPECT_NE(file.find(platform::Utf8ToAnsi("Line) 파일로\n")), std::string::npos);
    EXPECT_NE(file.find(platform::Utf8ToAnsi("(Restart, ")), std::string::npos);
    EXPECT_NE(file.find(platform::Utf8ToAnsi("역시 파일로\n")), std::string::npos);
}
