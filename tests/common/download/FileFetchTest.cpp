// The file fetch against the stand-in site: what lands in the temporary
// folder, what the progress sink sees, and how every kind of failure ends.
#include "DownloadFixture.h"

#include "CSha256.h"

#include <cctype>
#include <chrono>
#include <regex>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::int64_t SizeOf(const std::filesystem::path &p)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(p, ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

bool StartsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

using FileFetch = DownloadTest;

} // namespace

TEST_F(FileFetch, CompleteFileWithItsProgress)
{
    const std::string data = ServeFile("complete.bin", 300 * 1024 + 17);
    CDownloadItem item;
    EXPECT_EQ(FetchFile(Url("/complete.bin"), &item), "");

    EXPECT_EQ(item.localPath, (tmp() / "complete.bin").string());
    EXPECT_EQ(TestDir::Read(item.localPath), data);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_FALSE(std::filesystem::exists(tmp() / ".complete.bin.resume"));

    ASSERT_FALSE(progress.statusTexts.empty());
    EXPECT_EQ(progress.statusTexts.front(), "설치대상 파일 다운로드 중...");
    EXPECT_EQ(progress.fileNames, std::vector<std::string>{"complete.bin"});
    const auto bars = progress.Bars();
    ASSERT_GE(bars.size(), 2u);
    EXPECT_EQ(bars.front().done, 0);
    EXPECT_EQ(bars.back().done, static_cast<std::int64_t>(data.size()));
    for (std::size_t i = 0; i < bars.size(); ++i) {
        EXPECT_EQ(bars[i].total, static_cast<std::int64_t>(data.size()));
        if (i > 0) {
            EXPECT_GT(bars[i].done, bars[i - 1].done);
        }
    }
    // One report per whole percent at most, not one per 1024-byte read.
    EXPECT_LE(bars.size(), 102u);
    ASSERT_EQ(progress.steps.size(), 1u);
    EXPECT_EQ(progress.steps[0].done, 1);
    EXPECT_EQ(progress.steps[0].total, 4);

    const auto requests = site().RequestsFor("/complete.bin");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].agent, "Download");
    EXPECT_EQ(requests[0].cacheControl, "no-cache");
    EXPECT_EQ(requests[0].pragma, "no-cache");
    EXPECT_EQ(requests[0].range, "");
}

TEST_F(FileFetch, ExistingFileIsReplacedAndEmptyFileIsAFile)
{
    std::ofstream(tmp() / "replace.bin") << std::string(100000, 'x');
    const std::string data = ServeFile("replace.bin", 5000);
    EXPECT_EQ(FetchFile(Url("/replace.bin")), "");
    EXPECT_EQ(TestDir::Read(tmp() / "replace.bin"), data);

    site().Answer("/empty.txt", "");
    CDownloadItem item;
    EXPECT_EQ(FetchFile(Url("/empty.txt"), &item), "");
    EXPECT_EQ(SizeOf(item.localPath), 0);
    EXPECT_EQ(progress.steps.size(), 2u);
}

TEST_F(FileFetch, WithoutLengthHeaderTheBarIsFullFromTheStart)
{
    const std::string body(70000, 'n');
    site().AnswerWith("/nolength.txt", R"({"body": )" + ServiceSite::Json(body) + R"(, "length": "none"})");
    EXPECT_EQ(FetchFile(Url("/nolength.txt")), "");
    EXPECT_EQ(TestDir::Read(tmp() / "nolength.txt"), body);
    const auto bars = progress.Bars();
    ASSERT_FALSE(bars.empty());
    EXPECT_EQ(bars.front().done, 0);
    for (const auto &bar : bars)
        EXPECT_EQ(bar.total, -1);
    EXPECT_EQ(bars.back().done, 70000);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(FileFetch, NotFoundFailsBeforeTheTargetIsCreated)
{
    site().Answer("/missing.cab", "no such file", 404);
    EXPECT_EQ(FetchFile(Url("/missing.cab")), "error");
    EXPECT_FALSE(std::filesystem::exists(tmp() / "missing.cab"));
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error Code : 404, HttpQueryInfo Failed!");
    EXPECT_EQ(boxes[0].caption, "Mirvane");

    // An earlier file of that name is left as it was.
    std::ofstream(tmp() / "missing.cab") << "earlier";
    EXPECT_EQ(FetchFile(Url("/missing.cab")), "error");
    EXPECT_EQ(TestDir::Read(tmp() / "missing.cab"), "earlier");
    EXPECT_TRUE(progress.steps.empty());
    EXPECT_TRUE(progress.Bars().empty());
}

TEST_F(FileFetch, CaptionIsTheCallersOwn)
{
    CDownloader launcher("펠룬");
    site().Answer("/gone.bin", "", 500);
    CDownloadItem item{Url("/gone.bin"), "", ""};
    CInstallSteps steps(progress, 1);
    EXPECT_EQ(launcher.FetchFile(item, steps, nullptr), "error");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].caption, "펠룬");
    EXPECT_EQ(Boxes()[0].text, "Error Code : 500, HttpQueryInfo Failed!");
}

TEST_F(FileFetch, ConnectionDroppedHalfWayKeepsThePartialFile)
{
    const std::string data = ServeFile("dropped.bin", 100000);
    site().AnswerWith("/dropped.bin", R"({"drop_after": 30000})");
    EXPECT_EQ(FetchFile(Url("/dropped.bin")), "error");
    site().Forget("/dropped.bin");

    ASSERT_EQ(SizeOf(tmp() / "dropped.bin"), 30000);
    EXPECT_EQ(TestDir::Read(tmp() / "dropped.bin"), data.substr(0, 30000));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_TRUE(StartsWith(Boxes()[0].text, "Error Code : 18, InternetReadFile Failed!")) << Boxes()[0].text;
    EXPECT_TRUE(progress.steps.empty());
}

TEST_F(FileFetch, CancelBetweenReadsKeepsWhatWasWritten)
{
    const std::string data = ServeFile("cancelled.bin", 200000);
    std::int64_t doneAtCancel = -1;
    progress.onProgress = [&](std::int64_t done) {
        if (done >= 20000 && doneAtCancel < 0) {
            doneAtCancel = done;
            cancel.Set();
        }
    };
    EXPECT_EQ(FetchFile(Url("/cancelled.bin")), "cancel");
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(progress.steps.empty());
    // Not one more read after the cancel: the file ends where the bar stood.
    ASSERT_GT(doneAtCancel, 0);
    EXPECT_EQ(SizeOf(tmp() / "cancelled.bin"), doneAtCancel);
    EXPECT_EQ(TestDir::Read(tmp() / "cancelled.bin"), data.substr(0, static_cast<std::size_t>(doneAtCancel)));
}

TEST_F(FileFetch, CancelFromAnotherThreadStopsTheWorker)
{
    ServeFile("slow.bin", 400000);
    site().AnswerWith("/slow.bin", R"({"rate": 40000})");
    std::string outcome;
    std::thread worker([&] { outcome = FetchFile(Url("/slow.bin")); });
    for (int i = 0; i < 500; ++i) {
        const auto bars = progress.Bars();
        if (!bars.empty() && bars.back().done >= 8192)
            break;
        std::this_thread::sleep_for(10ms);
    }
    cancel.Set();
    worker.join();
    site().Forget("/slow.bin");
    EXPECT_EQ(outcome, "cancel");
    const std::int64_t kept = SizeOf(tmp() / "slow.bin");
    EXPECT_GE(kept, 8192);
    EXPECT_LT(kept, 400000);
    EXPECT_TRUE(std::filesystem::exists(tmp() / ".slow.bin.resume"));
}

TEST_F(FileFetch, CancelWhileTheServerSendsNothing)
{
    site().AnswerWith("/silent.bin", R"({"body": "abc", "stall_after": 0})");
    downloader.limits.stallTimeoutSeconds = 60;
    std::string outcome;
    std::thread worker([&] { outcome = FetchFile(Url("/silent.bin")); });
    std::this_thread::sleep_for(300ms);
    const auto started = std::chrono::steady_clock::now();
    cancel.Set();
    worker.join();
    EXPECT_EQ(outcome, "cancel");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(FileFetch, SpeedIsShownWhileTheFileComes)
{
    ServeFile("paced.bin", 90000);
    site().AnswerWith("/paced.bin", R"({"rate": 50000})");
    EXPECT_EQ(FetchFile(Url("/paced.bin")), "");
    site().Forget("/paced.bin");
    const auto texts = progress.SpeedTexts();
    ASSERT_FALSE(texts.empty());
    const std::regex shape(R"(\d+KB|\d+\.\d\dKB)");
    for (const std::string &text : texts)
        EXPECT_TRUE(std::regex_match(text, shape)) << text;
    // A status text with every speed window, besides the first one.
    EXPECT_GE(progress.statusTexts.size(), texts.size() + 1);
}

TEST_F(FileFetch, BadServersEndInAClearError)
{
    struct Case {
        const char *name;
        std::string answer;
        std::string message; // the box's first line
    };
    const std::vector<Case> cases = {
        {"garbage.bin", R"({"raw": "this is not http at all\r\n\r\n"})",
         "Error Code : 1, InternetOpenUrl Failed!"},
        {"loop.bin", R"({"redirect": "/loop.bin"})", "Error Code : 47, InternetOpenUrl Failed!"},
        {"longer.bin", R"({"body": "0123456789", "length": 4})", "Error Code : 8, InternetReadFile Failed!"},
        {"shorter.bin", R"({"body": "0123456789", "length": 40})",
         "Error Code : 18, InternetReadFile Failed!"},
        {"endless.bin", R"({"body": "endless ", "endless": true, "length": 5000})",
         "Error Code : 8, InternetReadFile Failed!"},
        {"badlength.bin", R"({"body": "abc", "length": "3x"})", "Error Code : 8, HttpQueryInfo Failed!"},
        {"stalled.bin", R"({"body": "0123456789", "stall_after": 4})",
         "Error Code : 28, InternetReadFile Failed!"},
        {"lateanswer.bin", R"({"body": "late", "delay_ms": 6000})",
         "Error Code : 28, InternetOpenUrl Failed!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        site().AnswerWith(std::string("/") + c.name, c.answer);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(FetchFile(Url(std::string("/") + c.name)), "error");
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
        const auto texts = BoxTexts();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back().substr(0, texts.back().find('\n')), c.message);
    }
    EXPECT_EQ(Boxes().size(), cases.size());
    EXPECT_TRUE(progress.steps.empty());
    // Whatever came stays in the temporary folder and nowhere else.
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir.path()))
        EXPECT_TRUE(entry.is_directory() || entry.path().parent_path() == tmp()) << entry.path();
    EXPECT_TRUE(std::filesystem::is_empty(shared()));
}

TEST_F(FileFetch, EndlessBodyWithoutLengthStopsAtTheLimit)
{
    site().AnswerWith("/forever.bin", R"({"body": "0123456789abcdef", "endless": true, "length": "none"})");
    downloader.limits.maxFileBytes = 300000;
    EXPECT_EQ(FetchFile(Url("/forever.bin")), "error");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_TRUE(StartsWith(Boxes()[0].text, "Error Code : 63, InternetReadFile Failed!"));
    EXPECT_LE(SizeOf(tmp() / "forever.bin"), 300000);
}

TEST_F(FileFetch, NamesThatAreNoFileFailCleanly)
{
    for (const std::string &url :
         {Url("/dir/"), Url("/dir/."), Url("/dir/.."), Url("/x/") + std::string(1, '\0')}) {
        EXPECT_EQ(FetchFile(url), "error");
        ASSERT_FALSE(Boxes().empty());
        EXPECT_TRUE(StartsWith(Boxes().back().text, "FileName : ")) << Boxes().back().text;
        EXPECT_NE(Boxes().back().text.find("Error Code : 22, CreateFile Failed!"), std::string::npos);
    }
    EXPECT_TRUE(site().RequestsFor("/dir/").empty());
    EXPECT_TRUE(std::filesystem::is_empty(tmp()));
}

TEST_F(FileFetch, PlantedLinkIsReplacedNotFollowed)
{
    const std::filesystem::path outside = dir.path() / "outside.txt";
    std::ofstream(outside) << "keep me";
    std::filesystem::create_symlink(outside, tmp() / "linked.bin");
    const std::string data = ServeFile("linked.bin", 3000);
    EXPECT_EQ(FetchFile(Url("/linked.bin")), "");
    EXPECT_EQ(TestDir::Read(outside), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink(tmp() / "linked.bin"));
    EXPECT_EQ(TestDir::Read(tmp() / "linked.bin"), data);
}

TEST_F(FileFetch, TargetThatCannotBeCreated)
{
    std::filesystem::create_directories(tmp() / "taken.bin");
    ServeFile("taken.bin", 100);
    EXPECT_EQ(FetchFile(Url("/taken.bin")), "error");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text,
              "FileName : " + (tmp() / "taken.bin").string() + ", Error Code : 21, CreateFile Failed!");
}

TEST_F(FileFetch, Sha256IsCheckedBeforeTheFileIsUsed)
{
    ServeFile("digest.bin", 5000);
    const std::string good = CSha256::OfFile((site().FilesDir() / "digest.bin").string());
    ASSERT_EQ(good.size(), 64u);
    std::string upper = good;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    CDownloadItem item;
    EXPECT_EQ(FetchFile(Url("/digest.bin"), &item, " " + upper + "\n"), "");
    EXPECT_FALSE(item.localPath.empty());

    std::string bad = good;
    bad[10] = bad[10] == '0' ? '1' : '0';
    EXPECT_EQ(FetchFile(Url("/digest.bin"), &item, bad), "error");
    EXPECT_TRUE(item.localPath.empty());
    EXPECT_FALSE(std::filesystem::exists(tmp() / "digest.bin"));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, "FileName : " + (tmp() / "digest.bin").string() + ", SHA256 Check Failed!");
    EXPECT_EQ(progress.steps.size(), 1u);
}
