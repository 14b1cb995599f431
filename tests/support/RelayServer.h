#pragma once
// The project's broadcast relay (tools/run-relay.sh with the templates in
// tools/relay/) for one test: an ORIGIN nginx (RTMP in, HLS and the watch
// page out) and, when asked, an EDGE nginx caching the origin's HLS. Both run
// in a private prefix below the given folder, on free loopback ports, in the
// foreground as children of the test; they end with the object (and with the
// thread that made it, should the test die: keep the object on the thread
// that runs the test).
//
//   TestDir dir("relay");
//   RelayServer relay(dir.path() / "relay", {.edge = true});
//   ASSERT_TRUE(relay.Ready()) << relay.Log();
//   // publish:  relay.PublishUrl("room")  rtmp://127.0.0.1:RTMP/live/room
//   // HLS:      relay.HlsUrl("room")      http://127.0.0.1:HTTP/hls/room.m3u8
//   // edge:     relay.EdgeHlsUrl("room")  http://127.0.0.1:EDGE/hls/room.m3u8
//   // page:     relay.WatchUrl("room")    http://127.0.0.1:HTTP/?stream=room
//   relay.StopOrigin();  ...  relay.StartOrigin();   // same ports, same files
//
// Layout of the prefix: origin/ (nginx.conf, hls/KEY.m3u8 and KEY-N.ts,
// logs/error.log, logs/access.log), edge/ (nginx.conf, cache/, logs/). The
// origin serves the watch page folder tools/relay/www of the source tree at
// "/" (Options::www picks another), the HLS files at "/hls/"; the edge
// serves the same paths from the origin. Playlists: 1 s fragments cut at the
// stream's key frames, 6 s of them.
#include "RunProgram.h"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class RelayServer {
public:
    struct Options {
        bool edge = false;         // also run an edge in front of the origin
        std::filesystem::path www; // the watch page folder; empty: tools/relay/www
        std::string app = "live";  // RTMP application
    };

    explicit RelayServer(const std::filesystem::path &prefix) : RelayServer(prefix, Options{}) {}
    RelayServer(const std::filesystem::path &prefix, Options options)
        : m_prefix(prefix), m_options(std::move(options))
    {
        if (m_options.www.empty())
            m_options.www = std::filesystem::path(SourceDir()) / "tools/relay/www";
        std::filesystem::create_directories(m_prefix);
        // Another program may take a port between the choice and nginx's
        // bind: a few fresh choices.
        for (int attempt = 0; attempt < 3 && !m_originUp; ++attempt) {
            m_rtmpPort = FreeLoopbackPort();
            m_httpPort = FreeLoopbackPort();
            m_originUp = StartOrigin();
        }
        if (m_originUp && m_options.edge) {
            for (int attempt = 0; attempt < 3 && !m_edgeUp; ++attempt) {
                m_edgePort = FreeLoopbackPort();
                m_edgeUp = StartEdge();
            }
        }
    }
    ~RelayServer()
    {
        Stop(m_edge);
        Stop(m_origin);
    }
    RelayServer(const RelayServer &) = delete;
    RelayServer &operator=(const RelayServer &) = delete;

    // Everything asked for is running and answering.
    bool Ready() const { return m_originUp && (!m_options.edge || m_edgeUp); }

    int RtmpPort() const { return m_rtmpPort; }
    int HttpPort() const { return m_httpPort; }
    int EdgePort() const { return m_edgePort; }

    std::string PublishUrl(const std::string &key) const
    {
        return "rtmp://127.0.0.1:" + std::to_string(m_rtmpPort) + "/" + m_options.app + "/" + key;
    }
    std::string HlsUrl(const std::string &key) const
    {
        return HttpBase(m_httpPort) + "/hls/" + key + ".m3u8";
    }
    std::string EdgeHlsUrl(const std::string &key) const
    {
        return HttpBase(m_edgePort) + "/hls/" + key + ".m3u8";
    }
    std::string WatchUrl(const std::string &key) const { return HttpBase(m_httpPort) + "/?stream=" + key; }
    std::string EdgeWatchUrl(const std::string &key) const
    {
        return HttpBase(m_edgePort) + "/?stream=" + key;
    }
    // Where the origin writes the HLS files.
    std::filesystem::path HlsDir() const { return m_prefix / "origin" / "hls"; }

    // Ends the origin (nginx's fast shutdown: connections are closed at
    // once, as when the relay machine goes away) and waits for its end.
    void StopOrigin()
    {
        Stop(m_origin);
        m_originUp = false;
    }
    // Starts the origin again on the same ports with the same files.
    bool StartOrigin()
    {
        m_origin = Run({"--prefix", (m_prefix / "origin").string(), "--rtmp-port", std::to_string(m_rtmpPort),
                        "--http-port", std::to_string(m_httpPort), "--app", m_options.app, "--www",
                        m_options.www.string()},
                       m_prefix / "origin");
        m_originUp = WaitUntilAnswering(*m_origin, {m_rtmpPort, m_httpPort});
        return m_originUp;
    }

    // nginx's own words, for failure messages.
    std::string Log() const
    {
        std::string out;
        for (const char *part : {"origin", "edge"}) {
            const std::filesystem::path dir = m_prefix / part;
            if (!std::filesystem::exists(dir))
                continue;
            out += std::string("== ") + part + " error.log:\n" + Slurp(dir / "logs" / "error.log");
        }
        if (m_origin)
            out += "== origin output:\n" + m_origin->Stdout() + m_origin->Stderr();
        if (m_edge)
            out += "== edge output:\n" + m_edge->Stdout() + m_edge->Stderr();
        return out;
    }

private:
    bool StartEdge()
    {
        m_edge = Run({"--prefix", (m_prefix / "edge").string(), "--http-port", std::to_string(m_edgePort),
                      "--edge", "127.0.0.1:" + std::to_string(m_httpPort)},
                     m_prefix / "edge");
        return WaitUntilAnswering(*m_edge, {m_edgePort});
    }

    std::unique_ptr<ChildProgram> Run(std::vector<std::string> args, const std::filesystem::path &dir)
    {
        std::filesystem::create_directories(dir);
        // setpriv: nginx ends with the thread that started it, so a test that
        // dies leaves no server behind.
        std::vector<std::string> all{
            "--pdeathsig", "TERM", "--", "bash", std::string(SourceDir()) + "/tools/run-relay.sh",
            "--no-install"};
        all.insert(all.end(), args.begin(), args.end());
        return std::make_unique<ChildProgram>("/usr/bin/setpriv", all, dir);
    }

    static bool WaitUntilAnswering(ChildProgram &server, const std::vector<int> &ports)
    {
        // nginx starts in well under a second; a loaded machine gets 15 s.
        for (int i = 0; i < 1500 && server.Running(); ++i) {
            bool all = true;
            for (int port : ports)
                all = all && Answers(port);
            if (all)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    static bool Answers(int port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }

    static void Stop(std::unique_ptr<ChildProgram> &server)
    {
        if (!server)
            return;
        server->Signal(SIGTERM);
        if (server->Wait(10000) == -1)
            server->Kill();
    }

    static std::string HttpBase(int port) { return "http://127.0.0.1:" + std::to_string(port); }

    static std::string Slurp(const std::filesystem::path &p)
    {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }

    static const char *SourceDir()
    {
        const char *dir = std::getenv("VELMOR_SOURCE_DIR");
        return dir ? dir : VELMOR_SOURCE_DIR;
    }

    std::filesystem::path m_prefix;
    Options m_options;
    int m_rtmpPort = 0;
    int m_httpPort = 0;
    int m_edgePort = 0;
    bool m_originUp = false;
    bool m_edgeUp = false;
    std::unique_ptr<ChildProgram> m_origin;
    std::unique_ptr<ChildProgram> m_edge;
};
