// Updater start-up benchmark: an installation that is up to date, the
// stand-in site on loopback serving the build's update and launch scripts,
// and Mirvane.exe started the way Velmor.exe starts it. Measured: from the
// moment Mirvane.exe is spawned to the moment the program it starts begins
// (mirvane_bench_program notes that moment). Everything private: registry
// store, folders, temporary folder; no display (offscreen).
//
//   mirvane_start_bench [rounds (21)]
//
// Two series: "Mirvane.cfg" with "PublicKey" (two scripts and their two
// signatures, as the build tree's configuration) and without (two scripts).
#include "platform/CodePage.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;

long long MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

pid_t Spawn(const std::vector<std::string> &args, const fs::path &cwd, bool quiet)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int WaitFor(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Read(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void WriteConfig(const fs::path &folder, int port, bool signedScripts)
{
    std::string text =
        "[config]\r\nKorName=벨모개인방송\r\nEngName=Velmor\r\nVersion=" + std::string(VELMOR_VERSION) +
        "\r\nExecute=" + (folder / "Velmor.exe").string() + "\r\nArgument=/u\r\nSkin=" +
        VELMOR_PROGRAM_DIR "/Mirvane.skin\r\n"
                           "Script=http://127.0.0.1:" +
        std::to_string(port) +
        "/update/VelmorUpdate.kus\r\n"
        "Launch=http://127.0.0.1:" +
        std::to_string(port) +
        "/update/VelmorLaunch.kus\r\n"
        "InstallDir=HKCU,Software\\Quenta\\Velmor,install_path\r\n";
    if (signedScripts) {
        std::string key = Read(VELMOR_SITE_DIR "/site.pub");
        while (!key.empty() && (key.back() == '\n' || key.back() == '\r'))
            key.pop_back();
        text += "PublicKey=" + key + "\r\n";
    }
    std::ofstream(folder / "Mirvane.cfg", std::ios::binary) << platform::Utf8ToAnsi(text);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : (v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2);
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    const fs::path root = fs::temp_directory_path() / ("mirvane-start-bench-" + std::to_string(getpid()));
    fs::remove_all(root);
    for (const char *sub :
         {"home", "data", "config", "state", "windows", "tmp", "registry", "inst", "site/www/update"})
        fs::create_directories(root / sub);
    setenv("HOME", (root / "home").c_str(), 1);
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    setenv("VELMOR_WINDOWS_DIR", (root / "windows").c_str(), 1);
    setenv("TMPDIR", (root / "tmp").c_str(), 1);
    setenv("VELMOR_REGISTRY_DIR", (root / "registry").c_str(), 1);
    setenv("VELMOR_RESTART_COMMAND", "true", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");

    // The installation: the skin control registered, the install folder
    // recorded, the program that notes its start.
    const fs::path inst = root / "inst";
    fs::copy_file(BENCH_PROGRAM, inst / "Velmor.exe");
    WaitFor(
        Spawn({VELMOR_PROGRAM_DIR "/regsvr32.exe", "/s", VELMOR_PROGRAM_DIR "/ActSkn43.ocx"}, root, true));
    WaitFor(Spawn({VELMOR_PROGRAM_DIR "/reg.exe", "add", "HKCU\\Software\\Quenta\\Velmor", "/v",
                   "install_path", "/d", inst.string(), "/f"},
                  root, true));

    // The site with the build's scripts, signing with the build's key.
    for (const char *name : {"VelmorUpdate.kus.in", "VelmorLaunch.kus.in"})
        fs::copy_file(fs::path(VELMOR_SITE_DIR) / "www/update" / name, root / "site/www/update" / name);
    const fs::path portFile = root / "site/port";
    const pid_t site = Spawn({"python3", VELMOR_SOURCE_DIR "/tools/service-site/service_site.py", "--port",
                              "0", "--port-file", portFile.string(), "--root", (root / "site/www").string(),
                              "--sign-key", VELMOR_SITE_DIR "/site.key", "--exit-with-parent"},
                             root, true);
    int port = 0;
    for (int i = 0; i < 1000 && port == 0; ++i) {
        std::ifstream(portFile) >> port;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (port == 0) {
        std::fprintf(stderr, "mirvane_start_bench: the stand-in site did not start\n");
        return 1;
    }

    std::printf("Mirvane.exe start to program start, everything current, %d rounds (ms)\n", rounds);
    int status = 0;
    for (const bool signedScripts : {true, false}) {
        WriteConfig(inst, port, signedScripts);
        std::vector<double> times;
        // One round first that is not counted: the site fills in and signs
        // its templates once, the disk cache takes the programs.
        for (int round = -1; round < rounds; ++round) {
            fs::remove(inst / "started.txt");
            const long long start = MonotonicNs();
            const pid_t mirvane =
                Spawn({VELMOR_PROGRAM_DIR "/Mirvane.exe", "-start", "1", "-lport", "7000"}, inst, true);
            long long began = 0;
            for (int i = 0; i < 20000 && began == 0; ++i) {
                std::ifstream(inst / "started.txt") >> began;
                if (began == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
            const int exitCode = WaitFor(mirvane);
            if (began == 0 || exitCode != 0) {
                std::fprintf(stderr, "round %d: the program was not started (exit %d)\n", round, exitCode);
                status = 1;
                continue;
            }
            if (round >= 0)
                times.push_back(static_cast<double>(began - start) / 1e6);
        }
        std::printf("  %s:", signedScripts ? "signed scripts (4 fetches)" : "unsigned scripts (2 fetches)");
        for (double t : times)
            std::printf(" %.0f", t);
        if (!times.empty())
            std::printf("\n    median %.1f  min %.1f  max %.1f  (target <= 300)\n", Median(times),
                        *std::min_element(times.begin(), times.end()),
                        *std::max_element(times.begin(), times.end()));
    }
    kill(site, SIGTERM);
    WaitFor(site);
    fs::remove_all(root);
    return status;
}
