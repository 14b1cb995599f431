// An interrupted download goes on from where it stopped when the server
// allows a range request and the partial file came from the same URL;
// otherwise it starts over. Either way the result is the whole file.
#include "DownloadFixture.h"

#include "CSha256.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

using Resume = DownloadTest;

std::int64_t SizeOf(const std::filesystem::path &p)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(p, ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

} // namespace

TEST_F(Resume, InterruptedDownloadGoesOnWithARange)
{
    const std::string data = ServeFile("resumed.bin", 200000);
    const std::string digest = CSha256::OfFile((site().FilesDir() / "resumed.bin").string());
    site().AnswerWith("/resumed.bin", R"({"drop_after": 50000})");
    EXPECT_EQ(FetchFile(Url("/resumed.bin")), "error");
    site().Forget("/resumed.bin");
    ASSERT_EQ(SizeOf(tmp() / "resumed.bin"), 50000);
    ASSERT_TRUE(std::filesystem::exists(tmp() / ".resumed.bin.resume"));

    progress.bars.clear();
    CDownloadItem item;
    EXPECT_EQ(FetchFile(Url("/resumed.bin"), &item, digest), "");
    EXPECT_EQ(TestDir::Read(item.localPath), data);
    EXPECT_FALSE(std::filesystem::exists(tmp() / ".resumed.bin.resume"));

    const auto requests = site().RequestsFor("/resumed.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range, "bytes=50000-");
    EXPECT_FALSE(requests[1].ifRange.empty());
    // The bar goes on from the part that was already there.
    const auto bars = progress.Bars();
    ASSERT_FALSE(bars.empty());
    EXPECT_EQ(bars.front().done, 50000);
    EXPECT_EQ(bars.front().total, 200000);
    EXPECT_EQ(bars.back().done, 200000);
    EXPECT_EQ(progress.steps.size(), 1u);
}

TEST_F(Resume, StartsOverWhenTheRangeCannotBeUsed)
{
    const std::string data = ServeFile("fresh.bin", 60000, 7);

    // A partial file from another URL of the same name.
    std::ofstream(tmp() / "fresh.bin") << std::string(1000, 'o');
    std::ofstream(tmp() / ".fresh.bin.resume") << Url("/elsewhere/fresh.bin") << "\n\n";
    EXPECT_EQ(FetchFile(Url("/fresh.bin")), "");
    EXPECT_EQ(TestDir::Read(tmp() / "fresh.bin"), data);
    EXPECT_EQ(site().RequestsFor("/fresh.bin").back().range, "");

    // A partial file without a note.
    std::ofstream(tmp() / "fresh.bin") << std::string(1000, 'o');
    EXPECT_EQ(FetchFile(Url("/fresh.bin")), "");
    EXPECT_EQ(TestDir::Read(tmp() / "fresh.bin"), data);
    EXPECT_EQ(site().RequestsFor("/fresh.bin").back().range, "");

    // The server ignores ranges and sends everything.
    std::ofstream(tmp() / "fresh.bin") << data.substr(0, 1000) << "XXXX";
    std::ofstream(tmp() / ".fresh.bin.resume") << Url("/fresh.bin") << "\n\"v1\"\n";
    site().AnswerWith("/fresh.bin", R"({"ranges": false})");
    EXPECT_EQ(FetchFile(Url("/fresh.bin")), "");
    site().Forget("/fresh.bin");
    EXPECT_EQ(TestDir::Read(tmp() / "fresh.bin"), data);
    EXPECT_EQ(site().RequestsFor("/fresh.bin").back().range, "bytes=1004-");

    // A partial file longer than the file on the server: 416, then all of it.
    site().AnswerWith("/fresh.bin", R"({"drop_after": 100})");
    EXPECT_EQ(FetchFile(Url("/fresh.bin")), "error");
    site().Forget("/fresh.bin");
    std::ofstream(tmp() / "fresh.bin") << std::string(70000, 'l');
    const std::size_t before = site().RequestsFor("/fresh.bin").size();
    EXPECT_EQ(FetchFile(Url("/fresh.bin")), "");
    EXPECT_EQ(TestDir::Read(tmp() / "fresh.bin"), data);
    const auto requests = site().RequestsFor("/fresh.bin");
    ASSERT_EQ(requests.size(), before + 2);
    EXPECT_EQ(requests[before].range, "bytes=70000-");
    EXPECT_EQ(requests[before + 1].range, "");
    EXPECT_EQ(Boxes().size(), 1u); // the dropped fetch's
}

TEST_F(Resume, FileChangedOnTheServerIsFetchedWhole)
{
    ServeFile("changed.bin", 40000, 1);
    site().AnswerWith("/changed.bin", R"({"drop_after": 10000})");
    EXPECT_EQ(FetchFile(Url("/changed.bin")), "error");
    site().Forget("/changed.bin");

    // New contents (and so a new validator) under the same URL.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string changed = ServeFile("changed.bin", 45000, 2);
    EXPECT_EQ(FetchFile(Url("/changed.bin")), "");
    EXPECT_EQ(TestDir::Read(tmp() / "changed.bin"), changed);
    EXPECT_EQ(site().RequestsFor("/changed.bin").back().range, "bytes=10000-");
}

TEST_F(Resume, DigestCoversTheResumedPart)
{
    const std::string data = ServeFile("checked.bin", 30000, 3);
    site().AnswerWith("/checked.bin", R"({"drop_after": 12000})");
    EXPECT_EQ(FetchFile(Url("/checked.bin")), "error");
    site().Forget("/checked.bin");

    // A partial file whose first bytes went bad on the disk: the range adds
    // the right tail, but the digest of the whole file tells.
    std::string partial = TestDir::Read(tmp() / "checked.bin");
    partial[5] = static_cast<char>(partial[5] ^ 0x55);
    std::ofstream(tmp() / "checked.bin", std::ios::binary | std::ios::trunc) << partial;
    const std::string digest = CSha256::OfFile((site().FilesDir() / "checked.bin").string());
    EXPECT_EQ(FetchFile(Url("/checked.bin"), nullptr, digest), "error");
    EXPECT_FALSE(std::filesystem::exists(tmp() / "checked.bin"));

    // And the next fetch starts over and succeeds.
    EXPECT_EQ(FetchFile(Url("/checked.bin"), nullptr, digest), "");
    EXPECT_EQ(TestDir::Read(tmp() / "checked.bin"), data);
    EXPECT_EQ(site().RequestsFor("/checked.bin").back().range, "");
}

// Bytes someone else could have written are never gone on from: a partial
// file or note that group or others may write or that is another user's, a
// note without a validator the server could confirm, and what a second user
// leaves in the shared TMPDIR. Each starts over, and the file is ours then.
TEST_F(Resume, OnlyOwnPrivateBytesWithAValidatorAreGoneOn)
{
    const std::string data = ServeFile("own.bin", 30000, 5);
    const std::string file = (tmp() / "own.bin").string();
    const std::string note = (tmp() / ".own.bin.resume").string();
    const bool root = ::geteuid() == 0;
    const std::vector<std::function<int()>> plants = {
        [&] { return ::chmod(file.c_str(), 0666); },
        [&] { return ::chmod(note.c_str(), 0620); },
        [&] {
            return root ? ::chown(file.c_str(), 65534, 65534) | ::chown(note.c_str(), 65534, 65534)
                        : ::chmod(file.c_str(), 0646);
        },
        [&] { return (std::ofstream(note, std::ios::trunc) << Url("/own.bin") << "\n\n").good() ? 0 : 1; },
        [&] {
            return ::rename(file.c_str(), (shared() / "own.bin").c_str()) |
                   ::rename(note.c_str(), (shared() / ".own.bin.resume").c_str());
        },
    };
    for (std::size_t i = 0; i < plants.size(); ++i) {
        site().AnswerWith("/own.bin", R"({"drop_after": 10000})");
        EXPECT_EQ(FetchFile(Url("/own.bin")), "error") << i;
        site().Forget("/own.bin");
        ASSERT_EQ(plants[i](), 0) << i;
        EXPECT_EQ(FetchFile(Url("/own.bin")), "") << i;
        EXPECT_EQ(site().RequestsFor("/own.bin").back().range, "") << i;
        EXPECT_EQ(TestDir::Read(file), data) << i;
        struct stat st {};
        EXPECT_TRUE(::lstat(file.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0)
            << i;
    }
}
