// The extractor's file callbacks: C-runtime open flags on real files and the
// error numbers they leave in errno.
#include "CCabExtractor.h"
#include "CabTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>

using namespace cabtest;

namespace {

using X = CCabExtractor;
constexpr unsigned kFailed = 0xFFFFFFFFu;

class CabinetIo : public ::testing::Test {
protected:
    TestDir dir{"cabio"};
    CCabExtractor io;

    std::string Path(const std::string &name) const { return dir.file(name); }
    std::intptr_t OpenOk(const std::string &name, int oflag, int pmode = X::CRT_S_IREAD | X::CRT_S_IWRITE)
    {
        errno = 0;
        const std::intptr_t hf = io.Open(Path(name).c_str(), oflag, pmode);
        EXPECT_NE(hf, -1) << name << " errno " << errno;
        return hf;
    }
    int OpenError(const std::string &path, int oflag)
    {
        errno = 0;
        EXPECT_EQ(io.Open(path.c_str(), oflag, X::CRT_S_IREAD | X::CRT_S_IWRITE), -1) << path;
        return errno;
    }
};

TEST_F(CabinetIo, OpenRefusesTextModeAndMapsFailuresToRuntimeErrors)
{
    WriteFile(Path("exists"), "data");
    EXPECT_EQ(OpenError(Path("exists"), X::CRT_O_RDONLY | X::CRT_O_TEXT), EINVAL);
    EXPECT_EQ(OpenError(Path("missing"), X::CRT_O_RDONLY), ENOENT);
    EXPECT_EQ(OpenError(Path("no/such/folder"), X::CRT_O_WRONLY | X::CRT_O_CREAT), ENOENT);
    EXPECT_EQ(OpenError(Path("exists/below"), X::CRT_O_RDONLY), ENOENT);
    EXPECT_EQ(OpenError(Path("exists"), X::CRT_O_WRONLY | X::CRT_O_CREAT | X::CRT_O_EXCL), EEXIST);
    EXPECT_EQ(OpenError(Path("missing"), X::CRT_O_WRONLY | X::CRT_O_TRUNC), ENOENT);
    EXPECT_EQ(OpenError(dir.path().string(), X::CRT_O_RDONLY), EACCES);
    EXPECT_EQ(ReadFile(Path("exists")), "data");
}

TEST_F(CabinetIo, CreationFlagsKeepTruncateAppendAndDelete)
{
    WriteFile(Path("keep"), "0123456789");
    WriteFile(Path("cut"), "0123456789");

    // Create without truncate opens the existing file as it is.
    std::intptr_t hf = OpenOk("keep", X::CRT_O_WRONLY | X::CRT_O_CREAT);
    EXPECT_EQ(io.Write(hf, "AB", 2), 2u);
    EXPECT_EQ(io.Close(hf), 0);
    EXPECT_EQ(ReadFile(Path("keep")), "AB23456789");

    // Truncate without create empties an existing file.
    hf = OpenOk("cut", X::CRT_O_WRONLY | X::CRT_O_TRUNC);
    EXPECT_EQ(io.Close(hf), 0);
    EXPECT_EQ(ReadFile(Path("cut")), "");

    // Append starts at the end.
    hf = OpenOk("keep", X::CRT_O_RDWR | X::CRT_O_APPEND);
    EXPECT_EQ(io.Seek(hf, 0, 1), 10);
    EXPECT_EQ(io.Write(hf, "!", 1), 1u);
    EXPECT_EQ(io.Seek(hf, 2, 0), 2);
    char buffer[16] = {};
    EXPECT_EQ(io.Read(hf, buffer, sizeof buffer), 9u);
    EXPECT_EQ(std::string(buffer, 9), "23456789!");
    EXPECT_EQ(io.Read(hf, buffer, sizeof buffer), 0u);
    EXPECT_EQ(io.Close(hf), 0);

    // A temporary file has no name once open, and is gone with its handle.
    hf = OpenOk("temporary", X::CRT_O_RDWR | X::CRT_O_CREAT | X::CRT_O_TEMPORARY | X::CRT_O_SHORT_LIVED);
    EXPECT_FALSE(fs::exists(Path("temporary")));
    EXPECT_EQ(io.Write(hf, "scratch", 7), 7u);
    EXPECT_EQ(io.Seek(hf, 0, 2), 7);
    EXPECT_EQ(io.Close(hf), 0);

    // A new file without write permission is read-only; hints change nothing.
    hf = OpenOk("readonly", X::CRT_O_WRONLY | X::CRT_O_CREAT | X::CRT_O_RANDOM | X::CRT_O_BINARY,
                X::CRT_S_IREAD);
    EXPECT_EQ(io.Close(hf), 0);
    struct stat st {};
    ASSERT_EQ(::stat(Path("readonly").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222u, 0u);
}

TEST_F(CabinetIo, ReadWriteSeekAndCloseReportBadHandlesFullDisksAndBadOrigins)
{
    char buffer[8] = {};
    errno = 0;
    EXPECT_EQ(io.Read(-1, buffer, sizeof buffer), kFailed);
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(io.Write(987654, "x", 1), kFailed);
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(io.Close(987654), -1);
    EXPECT_EQ(errno, EBADF);

    WriteFile(Path("file"), "abc");
    std::intptr_t hf = OpenOk("file", X::CRT_O_RDONLY);
    errno = 0;
    EXPECT_EQ(io.Write(hf, "x", 1), kFailed) << "written through a read-only handle";
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(io.Seek(hf, 0, 3), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(io.Seek(hf, -10, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(io.Seek(hf, -1, 2), 2);
    EXPECT_EQ(io.Read(hf, buffer, sizeof buffer), 1u);
    EXPECT_EQ(buffer[0], 'c');
    EXPECT_EQ(io.Close(hf), 0);
    errno = 0;
    EXPECT_EQ(io.Close(hf), -1);
    EXPECT_EQ(errno, EBADF);

    // A full disk.
    errno = 0;
    hf = io.Open("/dev/full", X::CRT_O_WRONLY, 0);
    ASSERT_NE(hf, -1);
    errno = 0;
    EXPECT_EQ(io.Write(hf, "x", 1), kFailed);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(io.Close(hf), 0);
}

// Counts what the decoder asks of the memory and file callbacks.
class CountingExtractor : public CCabExtractor {
public:
    int allocations = 0, releases = 0, opens = 0, closes = 0;
    void *Alloc(std::size_t bytes) override
    {
        ++allocations;
        return CCabExtractor::Alloc(bytes);
    }
    void Free(void *memory) override
    {
        ++releases;
        CCabExtractor::Free(memory);
    }
    std::intptr_t Open(const char *path, int oflag, int pmode) override
    {
        ++opens;
        return CCabExtractor::Open(path, oflag, pmode);
    }
    int Close(std::intptr_t hf) override
    {
        ++closes;
        return CCabExtractor::Close(hf);
    }
};

TEST_F(CabinetIo, TheDecoderWorksThroughTheCallbacksAndReleasesWhatItTakes)
{
    CountingExtractor extractor;
    extractor.SetDestination(Path("out"));
    ASSERT_EQ(extractor.Extract(DataDir() + "/mszip_lzx_qtm.cab", 1), 1);
    EXPECT_GT(extractor.allocations, 0);
    EXPECT_EQ(extractor.allocations, extractor.releases);
    EXPECT_GE(extractor.opens, 4); // the cabinet, then each of three files
    EXPECT_EQ(extractor.opens, extractor.closes);
}

} // namespace
