// Start-chain benchmark: from `xdg-open` of the front page's "watch" link to
// the installed viewer's first decoded picture, on loopback, on a machine
// where nothing is installed (first installation) and then on the same
// machine with the product installed. Targets: at most 10 s and 3 s.
//
//   kerrow_start_bench [installed rounds (5)]
//
// The breakdown comes from the stand-in site's request record (when the web
// script, the last package, the updater's script and the viewer's start-up
// notice were asked for), the moment xdg-open returned (the launcher is done
// and Velmor.exe started) and the viewer's status file (first picture). For
// comparison it first measures how long ffmpeg takes to its first picture
// straight from the room's stream: the part of any start that the
// broadcaster's stream sets.
#include "StartChainMachine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

struct SiteRequest {
    std::string path;
    double time = 0; // seconds on the site's clock
};

std::vector<SiteRequest> ReadRecord(const std::string &file)
{
    std::vector<SiteRequest> out;
    std::ifstream in(file);
    std::string line;
    const std::regex pattern("\"path\": \"([^\"]*)\".*\"time\": ([0-9.]+)");
    std::smatch m;
    while (std::getline(in, line))
        if (std::regex_search(line, m, pattern))
            out.push_back({m[1], std::stod(m[2])});
    return out;
}

struct Round {
    double total = -1;    // xdg-open to the first picture
    double script = -1;   // the web script asked for
    double packages = -1; // the last package asked for (first installation)
    double launcher = -1; // xdg-open returned: installed and Velmor.exe started
    double updater = -1;  // Mirvane.exe asked for its update script
    double viewer = -1;   // the viewer's start-up notice
};

// One xdg-open of `link` until the viewer shows a picture.
Round Measure(StartChainMachine &machine, const std::string &link)
{
    Round round;
    std::filesystem::remove(machine.Path("viewer-status.txt"));
    // A request at a known moment ties the site's clock to ours.
    machine.Run("/usr/bin/curl", {"-s", "-o", "/dev/null", machine.Site().BaseUrl() + "/bench-mark"});
    const Clock::time_point mark = Clock::now();
    const std::size_t seen = ReadRecord(machine.Path("site") + "/site.requests").size();

    const Clock::time_point start = Clock::now();
    ChildProgram open("/usr/bin/xdg-open", {link}, machine.Path("home"));
    bool returned = false;
    while (Clock::now() - start < std::chrono::seconds(120)) {
        if (!returned && !open.Running()) {
            returned = true;
            round.launcher = Seconds(Clock::now() - start);
        }
        if (machine.ViewerFrames() >= 1) {
            round.total = Seconds(Clock::now() - start);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    open.Wait(60000);
    open.Forget();

    const std::vector<SiteRequest> record = ReadRecord(machine.Path("site") + "/site.requests");
    double markTime = 0;
    for (std::size_t i = 0; i < record.size() && i < seen; ++i)
        if (record[i].path == "/bench-mark")
            markTime = record[i].time;
    const double offset = Seconds(mark - start) - markTime; // site time + offset = our time since start
    for (std::size_t i = seen; i < record.size(); ++i) {
        const double at = record[i].time + offset;
        const std::string &path = record[i].path;
        if (path == "/down/velmor/script/VelmorWebScript.kus" && round.script < 0)
            round.script = at;
        if (path.find("/files/") != std::string::npos)
            round.packages = at;
        if (path == "/update/VelmorUpdate.kus" && round.updater < 0)
            round.updater = at;
        if (path == "/login/inituser.jsp" && round.viewer < 0)
            round.viewer = at;
    }
    return round;
}

void Print(const char *what, const Round &r, double target)
{
    std::printf("%-22s %6.2f s   (target <= %.0f s: %s)\n", what, r.total, target,
                r.total >= 0 && r.total <= target ? "met" : "MISSED");
    const auto step = [](const char *name, double at) {
        if (at >= 0)
            std::printf("    %-46s at %6.2f s\n", name, at);
    };
    step("web script asked for", r.script);
    step("last package asked for", r.packages);
    step("launcher done, Velmor.exe started (xdg-open)", r.launcher);
    step("updater asked for its script", r.updater);
    step("viewer's start-up notice", r.viewer);
    step("first decoded picture", r.total);
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    StartChainMachine machine("kerrow-bench");
    if (!machine.StartRoom()) {
        std::fprintf(stderr, "kerrow_start_bench: the room's broadcaster did not start\n%s\n",
                     machine.Room()->Stderr().c_str());
        return 1;
    }
    if (machine.Run(ProgramPath("regsvr32.exe"), {"/s", ProgramPath("KerrowInstaller.dll")}).exitCode != 0) {
        std::fprintf(stderr, "kerrow_start_bench: regsvr32.exe KerrowInstaller.dll failed\n");
        return 1;
    }
    const std::string watch = machine.PageLink("watch", machine.roomChat, machine.roomStream);
    std::printf("kerrow_start_bench: xdg-open '%s' to the viewer's first decoded picture (loopback)\n\n",
                watch.c_str());

    // The floor the room's stream sets: any player's first picture, here
    // ffmpeg's, straight from the broadcaster.
    std::vector<double> direct;
    for (int i = 0; i < 3; ++i) {
        const Clock::time_point start = Clock::now();
        const ProgramResult r =
            machine.Run("/usr/bin/ffmpeg",
                        {"-loglevel", "error", "-i", "http://127.0.0.1:" + std::to_string(machine.roomStream),
                         "-frames:v", "1", "-f", "null", "-"});
        if (r.exitCode == 0)
            direct.push_back(Seconds(Clock::now() - start));
    }
    std::sort(direct.begin(), direct.end());
    if (!direct.empty())
        std::printf("the room's stream alone: ffmpeg's first picture after %.2f s (median of %zu)\n\n",
                    direct[direct.size() / 2], direct.size());

    const Round first = Measure(machine, watch);
    Print("first installation", first, 10);
    std::vector<Round> installed;
    for (int i = 0; i < rounds; ++i) {
        machine.EndInstalledPrograms();
        installed.push_back(Measure(machine, watch));
    }
    std::sort(installed.begin(), installed.end(),
              [](const Round &a, const Round &b) { return a.total < b.total; });
    std::printf("\ninstalled, %d rounds:", rounds);
    for (const Round &r : installed)
        std::printf(" %.2f", r.total);
    std::printf(" s\n");
    Print("installed (median)", installed[installed.size() / 2], 3);
    machine.EndInstalledPrograms();
    machine.Run(ProgramPath("regsvr32.exe"), {"/s", "/u", ProgramPath("KerrowInstaller.dll")});
    return first.total >= 0 && installed[installed.size() / 2].total >= 0 ? 0 : 1;
}
