// viewer_start_bench: how long a viewer takes from its start to its first
// decoded picture. A broadcaster Velmor.exe on the test devices and the
// stand-in service site run on loopback; each run starts
//   Velmor.exe /u -start 2 -curl 127.0.0.1 -cport L -ceurl 127.0.0.1 -ceport E
// offscreen with its own registry store, home and folders, reads the moments
// its player reports (VELMOR_STATUS_FILE) and ends it. Prints every run, the
// median and where the time went: program start-up (window, skin, web
// queries) up to opening the stream, the player up to its first decoded
// picture (connecting, a key frame, decoding), and its buffering until that
// picture is shown.
//
//   viewer_start_bench [--runs N]
// One unmeasured run first fills the viewer's GStreamer plugin cache, as any
// earlier use of the program would have.
#include "RunProgram.h"
#include "ServiceSite.h"
#include "TestDir.h"
#include "ViewerStatus.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double Ms(long long fromNs, long long toNs)
{
    return static_cast<double>(toNs - fromNs) / 1e6;
}

struct Run {
    bool ok = false;
    double total = 0, startup = 0, decoded = 0, buffered = 0;
};

Run StartViewer(const std::filesystem::path &dir, const ServiceSite &site, int lport, int elport)
{
    Run run;
    std::filesystem::create_directories(dir / "home");
    const std::filesystem::path status = dir / "status.txt";
    std::filesystem::remove(status);
    const std::vector<std::string> env = {
        "VELMOR_SERVICE_URL=" + site.BaseUrl(),
        "VELMOR_STATUS_FILE=" + status.string(),
        "VELMOR_REGISTRY_DIR=" + (dir / "registry").string(),
        "VELMOR_WINDOWS_DIR=" + (dir / "windows").string(),
        "VELMOR_RESTART_COMMAND=/bin/true",
        "QT_QPA_PLATFORM=offscreen",
        "HOME=" + (dir / "home").string(),
        "XDG_CONFIG_HOME=" + (dir / "home" / "config").string(),
        "XDG_CACHE_HOME=" + (dir / "home" / "cache").string(),
        "XDG_DATA_HOME=" + (dir / "home" / "data").string(),
        "TMPDIR=" + dir.string(),
    };
    const long long startNs = Clock::now().time_since_epoch().count();
    ChildProgram viewer(ProgramPath("Velmor.exe"),
                        {"/u", "-start", "2", "-curl", "127.0.0.1", "-cport", std::to_string(lport), "-ceurl",
                         "127.0.0.1", "-ceport", std::to_string(elport)},
                        dir, env);
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (viewer.Running() && Clock::now() < deadline) {
        std::map<std::string, std::string> s = ReadViewerStatus(status);
        const long long opened = std::atoll(s["opened_ns"].c_str());
        const long long decoded = std::atoll(s["first_decoded_ns"].c_str());
        const long long first = std::atoll(s["first_picture_ns"].c_str());
        if (opened > 0 && first > 0) {
            run.ok = true;
            run.total = Ms(startNs, first);
            run.startup = Ms(startNs, opened);
            run.decoded = Ms(opened, decoded > 0 ? decoded : first);
            run.buffered = Ms(decoded > 0 ? decoded : first, first);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!run.ok)
        std::printf("  (no picture: %s)\n", viewer.Stderr().substr(0, 400).c_str());
    viewer.Signal(SIGTERM);
    if (viewer.Wait(10000) < 0)
        viewer.Kill();
    viewer.Forget();
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));

    TestDir dir("viewer-start");
    ServiceSite site(dir.path() / "site");
    if (site.Port() <= 0) {
        std::printf("viewer start: the stand-in service site did not start\n");
        return 1;
    }
    const int lport = FreeLoopbackPort();
    const int elport = FreeLoopbackPort();
    std::filesystem::create_directories(dir.path() / "host");
    std::filesystem::copy(ProgramPath("Skin"), dir.path() / "host" / "Skin",
                          std::filesystem::copy_options::recursive);
    ChildProgram host(ProgramPath("Velmor.exe"),
                      {"/u", "-start", "1", "-lport", std::to_string(lport), "-elport",
                       std::to_string(elport), "-onairrul", site.BaseUrl() + "/onair.jsp"},
                      dir.path() / "host",
                      {"VELMOR_SERVICE_URL=" + site.BaseUrl(),
                       "VELMOR_REGISTRY_DIR=" + (dir.path() / "host-registry").string(),
                       "VELMOR_WINDOWS_DIR=" + (dir.path() / "host-windows").string(),
                       "VELMOR_RESTART_COMMAND=/bin/true", "QT_QPA_PLATFORM=offscreen",
                       "VELMOR_FAKE_DEVICES=camera:Test Camera;microphone:Test Mic"});
    if (!site.WaitFor("/onair.jsp", 1, 30000)) {
        std::printf("viewer start: the broadcaster did not go on air\n%s\n", host.Stderr().c_str());
        return 1;
    }

    const std::filesystem::path viewerDir = dir.path() / "viewer";
    std::filesystem::create_directories(viewerDir);
    std::filesystem::copy(ProgramPath("Skin"), viewerDir / "Skin", std::filesystem::copy_options::recursive);
    const Run warm = StartViewer(viewerDir, site, lport, elport);
    std::printf("viewer start, first run (fills the plugin cache): %.0f ms\n", warm.total);

    std::vector<double> total, startup, decoded, buffered;
    for (int i = 0; i < runs; ++i) {
        const Run r = StartViewer(viewerDir, site, lport, elport);
        if (!r.ok)
            continue;
        std::printf(
            "  run %d: %.0f ms to the first picture (start-up %.0f, decoding %.0f, buffering %.0f ms)\n",
            i + 1, r.total, r.startup, r.decoded, r.buffered);
        total.push_back(r.total);
        startup.push_back(r.startup);
        decoded.push_back(r.decoded);
        buffered.push_back(r.buffered);
    }
    std::printf(
        "viewer start: start to first decoded picture shown, median of %zu runs: %.0f ms (target <= 2000 "
        "ms); program start-up to opening the stream %.0f ms, then to the first decoded picture %.0f ms "
        "(connecting, a key frame, decoding), then buffering until it plays %.0f ms\n",
        total.size(), Median(total), Median(startup), Median(decoded), Median(buffered));
    host.Signal(SIGTERM);
    host.Wait(10000);
    host.Forget();
    return total.size() == static_cast<std::size_t>(runs) ? 0 : 1;
}
