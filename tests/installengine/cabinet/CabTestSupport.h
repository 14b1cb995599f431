#pragma once
// Helpers of the cabinet tests: files in and out of temporary folders, the
// tree of what an extraction left, and the reference tools (cabextract to
// compare with, gcab to make cabinets) run as separate processes.
#include "RunProgram.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace cabtest {

namespace fs = std::filesystem;

// Local time of the tests: a zone with summer time, so stored local times
// really need converting.
inline constexpr const char *kTimeZone = "CET-1CEST,M3.5.0,M10.5.0/3";

class TimeZoneEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("TZ", kTimeZone, 1);
        tzset();
    }
};

inline std::string DataDir()
{
    return std::string(VELMOR_SOURCE_DIR) + "/tests/installengine/cabinet/data";
}

inline void WriteFile(const fs::path &path, const std::string &bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const fs::path &path)
{
    return TestDir::Read(path);
}

struct Entry {
    std::string bytes;
    std::int64_t mtime = 0;
    unsigned mode = 0;
};

// Every regular file under `root`, by path relative to it.
inline std::map<std::string, Entry> Tree(const fs::path &root)
{
    std::map<std::string, Entry> tree;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        tree[fs::relative(it->path(), root).string()] = {ReadFile(it->path()), st.st_mtime,
                                                         st.st_mode & 07777u};
    }
    return tree;
}

// Every entry (file, folder, link) under `root`, relative to it.
inline std::set<std::string> Entries(const fs::path &root)
{
    std::set<std::string> entries;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        entries.insert(fs::relative(it->path(), root).string());
    return entries;
}

// Temporary files the extractor writes before renaming them into place
// (".cab-PID-N.tmp").
inline std::vector<std::string> Leftovers(const fs::path &root)
{
    std::vector<std::string> found;
    for (const std::string &entry : Entries(root)) {
        const std::string name = fs::path(entry).filename().string();
        if (name.rfind(".cab-", 0) == 0 && name.size() > 9 && name.compare(name.size() - 4, 4, ".tmp") == 0)
            found.push_back(entry);
    }
    return found;
}

// A program on PATH.
inline std::string Tool(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
        start = end + 1;
    }
    return {};
}

// Runs a tool with its home and temporary folder in `sandbox`.
inline ProgramResult RunTool(const std::string &name, const std::vector<std::string> &args,
                             const fs::path &cwd, const fs::path &sandbox)
{
    const std::string program = Tool(name);
    EXPECT_FALSE(program.empty()) << name << " is not installed (tools/install-deps.sh)";
    if (program.empty())
        return {};
    return RunProgram(
        program, args, cwd,
        {"TMPDIR=" + sandbox.string(), "HOME=" + sandbox.string(), std::string("TZ=") + kTimeZone}, 60000);
}

// What cabextract makes of `cab` in `out`.
inline ProgramResult Cabextract(const fs::path &cab, const fs::path &out, const fs::path &sandbox)
{
    fs::create_directories(out);
    return RunTool("cabextract", {"-q", "-d", out.string(), cab.string()}, sandbox, sandbox);
}

// gcab -c [-z] cab files..., run in `folder` so the stored names are the
// given relative paths.
inline ProgramResult Gcab(const fs::path &cab, const fs::path &folder, const std::vector<std::string> &files,
                          bool mszip)
{
    std::vector<std::string> args{"-c"};
    if (mszip)
        args.push_back("-z");
    args.push_back(cab.string());
    args.insert(args.end(), files.begin(), files.end());
    return RunTool("gcab", args, folder, folder);
}

} // namespace cabtest
