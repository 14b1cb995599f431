#pragma once
// The writer's network sink (IWMWriterNetworkSink): our HTTP server on the
// encoder listen port. It keeps the current stream header and fans every data
// packet out to the connected players, at most SetMaximumClients of them.
//
// A new player receives the header and then the packets from the next packet
// that starts a video key frame, so it can decode at once. Windows Media
// players (User-Agent "NSPlayer..." or a "Pragma: xClientGUID") get
// MMS-over-HTTP framing (application/x-mms-framed); everyone else plain
// video/x-ms-asf over HTTP/1.0.
//
// Threads: one server thread, owned here, does all socket work. The writer
// hands packets over from its streaming thread through a short locked inbox
// and a wake-up event; it never waits for a player. Each player has a bounded
// queue; a player that falls too far behind is dropped.
#include "IWMWriterSink.h"

#include "platform/Win32Event.h"
#include "platform/Win32Types.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

enum WMT_NET_PROTOCOL { WMT_PROTOCOL_HTTP = 0 };

class CWMWriterNetworkSink : public IWMWriterSink {
public:
    static constexpr DWORD kDefaultMaxClients = 5;
    // A player whose oldest unsent data is older than this is dropped.
    static constexpr std::chrono::milliseconds kDefaultMaxLag{4000};
    // Connections that have not finished their request by then are closed.
    static constexpr std::chrono::milliseconds kRequestTimeout{10000};
    // How long the end of the stream may take to reach the players (part of
    // the three seconds closing the window may take).
    static constexpr std::chrono::milliseconds kEndFlushTime{1000};

    CWMWriterNetworkSink();
    ~CWMWriterNetworkSink() override;
    CWMWriterNetworkSink(const CWMWriterNetworkSink &) = delete;
    CWMWriterNetworkSink &operator=(const CWMWriterNetworkSink &) = delete;

    HRESULT SetNetworkProtocol(WMT_NET_PROTOCOL protocol);
    // Listens on all local IPv4 addresses at *port and starts serving. A port
    // of 0 picks a free one, written back to *port.
    HRESULT Open(DWORD *port);
    HRESULT SetMaximumClients(DWORD maxClients);
    HRESULT GetMaximumClients(DWORD *maxClients) const;
    // Ends every player's stream (flushing what is queued, at most briefly),
    // stops the server thread and closes the port.
    HRESULT Close();

    // The owner is closing: the end of the stream reaches the players by
    // `until` or not at all, however late writing ends. Any thread.
    void EndBy(std::chrono::steady_clock::time_point until) { m_endBy = until.time_since_epoch().count(); }

    // IWMWriterSink, called by the writer.
    void OnHeader(AsfBytes header) override;
    void OnDataUnit(AsfBytes packet) override;
    void OnEndWriting() override;

    // Tuning and figures, for tests and benchmarks.
    void SetMaxLag(std::chrono::milliseconds lag) { m_maxLagMs = lag.count(); }
    DWORD Port() const { return m_port; }
    int PlayerCount() const { return m_playerCount.load(); }
    std::uint64_t PlayersDropped() const { return m_playersDropped.load(); }
    std::uint64_t PlayersRefused() const { return m_playersRefused.load(); }

private:
    struct Player;
    struct Shared;
    void Serve();

    std::unique_ptr<Shared> m_shared;
    std::thread m_thread;
    std::atomic<bool> m_serving{false}; // the server thread runs: packets are worth keeping
    int m_listenFd = -1;
    DWORD m_port = 0;
    std::atomic<DWORD> m_maxClients{kDefaultMaxClients};
    std::atomic<long long> m_maxLagMs{kDefaultMaxLag.count()};
    std::atomic<std::chrono::steady_clock::rep> m_endBy{std::chrono::steady_clock::duration::max().count()};
    std::atomic<int> m_playerCount{0};
    std::atomic<std::uint64_t> m_playersDropped{0};
    std::atomic<std::uint64_t> m_playersRefused{0};
};
