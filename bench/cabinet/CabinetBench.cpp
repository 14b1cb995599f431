// Cabinet extraction benchmark: our extractor against cabextract on the same
// two cabinets, made with gcab from generated files of mixed content (runs of
// random bytes and runs of text), one stored and one MSZIP.
//
// Each round extracts each cabinet once with each program into a fresh
// folder, after flushing the previous round's writes (sync), alternating
// which goes first. Prints every time, the best and the median of each, and
// the ratio of the medians (ours / cabextract; the target is at most 1.1).
//
//   cabinet_bench [megabytes=200] [rounds=5] [work-folder=$TMPDIR]
#include "CCabExtractor.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Runs a program found on PATH in `cwd`; returns its exit status.
int Run(const std::vector<std::string> &args, const fs::path &cwd)
{
    std::vector<char *> argv;
    std::vector<std::string> store = args;
    for (std::string &a : store)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Files of `megabytes` in total, 8 MiB each, alternating 256 KiB runs of
// random bytes and of text that compresses about 5:1.
std::vector<std::string> MakeSources(const fs::path &src, int megabytes)
{
    fs::create_directories(src);
    std::mt19937_64 random(2024);
    std::vector<std::string> names;
    const std::size_t fileBytes = 8u << 20;
    std::size_t left = static_cast<std::size_t>(megabytes) << 20;
    std::string text;
    while (text.size() < (256u << 10))
        text += "entry " + std::to_string(random() % 100000) + " of the generated broadcast log, status ok\n";
    text.resize(256u << 10);
    for (int i = 0; left > 0; ++i) {
        const std::string name = "file" + std::to_string(i) + ".bin";
        std::ofstream out(src / name, std::ios::binary);
        const std::size_t bytes = std::min(fileBytes, left);
        std::string run(256u << 10, '\0');
        for (std::size_t at = 0; at < bytes; at += run.size()) {
            if ((at / run.size()) % 2 == 0) {
                for (std::size_t j = 0; j + 8 <= run.size(); j += 8) {
                    const std::uint64_t r = random();
                    std::memcpy(&run[j], &r, 8);
                }
                out.write(run.data(), static_cast<std::streamsize>(std::min(run.size(), bytes - at)));
            } else {
                out.write(text.data(), static_cast<std::streamsize>(std::min(text.size(), bytes - at)));
            }
        }
        names.push_back(name);
        left -= bytes;
    }
    return names;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void LoadAverage(const char *when)
{
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

} // namespace

int main(int argc, char **argv)
{
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    std::error_code ec;
    const fs::path work = (argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path(ec)) /
                          ("cabinet-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    LoadAverage("at start");

    std::printf("making %d MB of files and the two cabinets with gcab...\n", megabytes);
    std::fflush(stdout);
    const std::vector<std::string> names = MakeSources(work / "src", megabytes);
    std::vector<std::string> gcab{"gcab", "-c", (work / "stored.cab").string()};
    gcab.insert(gcab.end(), names.begin(), names.end());
    std::vector<std::string> gcabZip{"gcab", "-c", "-z", (work / "mszip.cab").string()};
    gcabZip.insert(gcabZip.end(), names.begin(), names.end());
    if (Run(gcab, work / "src") != 0 || Run(gcabZip, work / "src") != 0) {
        std::fprintf(stderr, "gcab failed (is it installed?)\n");
        return 1;
    }
    fs::remove_all(work / "src");
    std::printf("stored.cab %.1f MB, mszip.cab %.1f MB\n", fs::file_size(work / "stored.cab") / 1048576.0,
                fs::file_size(work / "mszip.cab") / 1048576.0);

    int status = 0;
    for (const char *kind : {"stored", "mszip"}) {
        const fs::path cab = work / (std::string(kind) + ".cab");
        std::vector<double> ours, theirs;
        for (int round = 0; round < rounds; ++round) {
            for (int turn = 0; turn < 2; ++turn) {
                const bool oursNow = (turn == 0) == (round % 2 == 0);
                const fs::path out = work / "out";
                fs::remove_all(out);
                fs::create_directories(out);
                ::sync();
                const Clock::time_point start = Clock::now();
                if (oursNow) {
                    CCabExtractor extractor;
                    extractor.SetDestination(out.string());
                    if (!extractor.Extract(cab.string(), 1)) {
                        std::fprintf(stderr, "our extraction failed: error %d\n",
                                     extractor.GetError().erfOper);
                        status = 1;
                    }
                    ours.push_back(Seconds(start));
                } else {
                    if (Run({"cabextract", "-q", "-d", out.string(), cab.string()}, work) != 0) {
                        std::fprintf(stderr, "cabextract failed\n");
                        status = 1;
                    }
                    theirs.push_back(Seconds(start));
                }
            }
        }
        std::printf("%-6s ours      :", kind);
        for (double s : ours)
            std::printf(" %.3f", s);
        std::printf("  best %.3f s, median %.3f s\n", *std::min_element(ours.begin(), ours.end()),
                    Median(ours));
        std::printf("%-6s cabextract:", kind);
        for (double s : theirs)
            std::printf(" %.3f", s);
        std::printf("  best %.3f s, median %.3f s\n", *std::min_element(theirs.begin(), theirs.end()),
                    Median(theirs));
        std::printf("%-6s ratio ours/cabextract: median %.3f, best %.3f (target <= 1.1)\n", kind,
                    Median(ours) / Median(theirs),
                    *std::min_element(ours.begin(), ours.end()) /
                        *std::min_element(theirs.begin(), theirs.end()));
        std::fflush(stdout);
    }
    LoadAverage("at end");
    fs::remove_all(work);
    return status;
}
