// VLC 3 (Debian's cvlc) plays the live stream over plain HTTP and over MMS
// over HTTP, and ends by itself when the broadcast ends. VLC refuses to run
// as root, so under root it runs as the unprivileged "nobody" (setpriv),
// with its home, configuration and cache in the test's folder.
#include "BroadcastFixture.h"
#include "RunProgram.h"

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <regex>

using namespace streamtest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char *kVlc = "/usr/bin/cvlc";

// VLC with its remote-control interface on a loopback port, playing `url`
// without a display or sound device, quitting when the playlist ends.
std::unique_ptr<ChildProgram> StartVlc(const std::filesystem::path &home, const std::string &url, int rcPort)
{
    std::vector<std::string> command;
    if (::geteuid() == 0)
        command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    // env gives VLC its own home and folders whatever the test's environment holds.
    const std::vector<std::string> vlc = {"/usr/bin/env",
                                          "HOME=" + home.string(),
                                          "XDG_CONFIG_HOME=" + (home / "config").string(),
                                          "XDG_CACHE_HOME=" + (home / "cache").string(),
                                          "XDG_DATA_HOME=" + (home / "data").string(),
                                          "XDG_RUNTIME_DIR=" + home.string(),
                                          kVlc,
                                          "-v",
                                          "--no-dbus",
                                          "-I",
                                          "oldrc",
                                          "--rc-fake-tty",
                                          "--rc-host=127.0.0.1:" + std::to_string(rcPort),
                                          "--vout=dummy",
                                          "--aout=dummy",
                                          "--play-and-exit",
                                          url};
    command.insert(command.end(), vlc.begin(), vlc.end());
    const std::string program = command.front();
    command.erase(command.begin());
    return std::make_unique<ChildProgram>(program, command, home);
}

// What VLC's remote control reports about the pictures so far.
struct Pictures {
    bool answered = false;
    int shown = 0; // pictures the decoder handed to the video output: displayed, or dropped as late
    std::string answer;
};

Pictures AskPictures(int rcPort)
{
    Pictures p;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    RawClient rc;
    while (!rc.Connect(rcPort)) {
        rc.Close();
        if (Clock::now() > deadline)
            return p;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    rc.Send("stats\n");
    while (rc.data.find("end of statistical info") == std::string::npos && !rc.closed &&
           Clock::now() < deadline)
        rc.ReadSome(100);
    p.answer = rc.data;
    // ("video decoded" is no count of pictures: VLC 3 adds one for every
    // block it decodes and one more for every picture it queues.)
    std::smatch displayed, lost;
    if (std::regex_search(rc.data, displayed, std::regex("frames displayed +: +([0-9]+)")) &&
        std::regex_search(rc.data, lost, std::regex("frames lost +: +([0-9]+)"))) {
        p.answered = true;
        p.shown = std::stoi(displayed[1].str()) + std::stoi(lost[1].str());
    }
    return p;
}

} // namespace

using VlcPlayer = Broadcast;

TEST_F(VlcPlayer, PlaysHttpAndMmshAndEndsWithTheBroadcast)
{
    ASSERT_TRUE(std::filesystem::exists(kVlc)) << "VLC is missing: tools/install-deps.sh installs vlc-bin";
    ASSERT_EQ(StartBroadcast(), S_OK);
    g_nLive = 1;
    StartFeeding();

    struct Player {
        const char *scheme;
        std::filesystem::path home;
        int rcPort = 0;
        std::unique_ptr<ChildProgram> vlc;
    };
    std::vector<Player> players(2);
    players[0].scheme = "http";
    players[1].scheme = "mmsh";
    for (Player &p : players) {
        p.home = m_dir.path() / (std::string("vlc-") + p.scheme);
        std::filesystem::create_directories(p.home);
        // The unprivileged player writes its configuration and cache here.
        ::chmod(m_dir.path().c_str(), 0755);
        ::chmod(p.home.c_str(), 0777);
        p.rcPort = FreeLoopbackPort();
        p.vlc = StartVlc(p.home, std::string(p.scheme) + "://127.0.0.1:" + std::to_string(m_port) + "/",
                         p.rcPort);
        ASSERT_TRUE(p.vlc->Started()) << p.scheme;
    }

    // Once each plays, ten seconds of it: at 15 pictures a second, at least
    // 120 decoded pictures.
    std::vector<Pictures> atStart(players.size());
    const auto startDeadline = Clock::now() + std::chrono::seconds(20);
    for (std::size_t i = 0; i < players.size(); ++i) {
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            atStart[i] = AskPictures(players[i].rcPort);
        } while (atStart[i].shown == 0 && Clock::now() < startDeadline);
        ASSERT_GT(atStart[i].shown, 0) << players[i].scheme << "\n"
                                       << atStart[i].answer << players[i].vlc->Stderr();
    }
    std::this_thread::sleep_for(std::chrono::seconds(10));
    for (std::size_t i = 0; i < players.size(); ++i) {
        Player &p = players[i];
        const Pictures now = AskPictures(p.rcPort);
        EXPECT_GE(now.shown - atStart[i].shown, 120) << p.scheme << "\n" << now.answer << p.vlc->Stderr();
        EXPECT_TRUE(p.vlc->Running()) << p.scheme << "\n" << p.vlc->Stderr();
    }

    // The broadcaster closes: both players end by themselves, and the MMS
    // player does not go back to ask for another stream.
    StopBroadcast();
    for (Player &p : players) {
        EXPECT_EQ(p.vlc->Wait(5000), 0) << p.scheme << "\n" << p.vlc->Stderr();
        const std::string log = p.vlc->Stderr();
        EXPECT_EQ(log.find("next stream following"), std::string::npos) << p.scheme << "\n" << log;
        EXPECT_EQ(log.find("describe failed"), std::string::npos) << p.scheme << "\n" << log;
        p.vlc->Forget();
    }
}
