#pragma once
// The chat room of the control window, for both roles: the sockets, the
// host's per-guest workers, the guest's receive thread and the room logic.
// CControlDlg owns one CChatRoom and forwards its input to it; the room
// reports what the user sees through three interfaces:
//   IChatDisplay     the displayed lines (AddText),
//   IChatMemberView  the rows of the user list,
//   IChatMainWindow  connection result, room closed, room full.
//
// The room is a QObject that lives on the window thread: socket
// notifications arrive there through QSocketNotifier (the stand-in for
// WSAAsyncSelect), so that thread needs a running Qt event loop. All public
// calls except the state readers are made on that thread.
//
// Threads it owns: on the host one worker thread per guest (handles that
// guest's packets: user list, chat lines, renames); on a guest one receive
// thread (reassembles and dispatches what the host sends). All of them are
// stopped and joined by CloseChatSockets() or the destructor.
#include <QObject>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ChatProtocol.h"
#include "CMemberTable.h"
#include "ChatSocket.h"
#include "platform/Win32Types.h"

class IChatDisplay;
class IChatMemberView;
class IChatMainWindow;
class CGuestConnection;
class CChatReceiver;
class CPacketSender;
class QSocketNotifier;
struct CommandLineArgs;

class CChatRoom final : public QObject {
    Q_OBJECT
public:
    enum Role { ROLE_NONE = 0, ROLE_HOST = 1, ROLE_GUEST = 2 };

    // Bytes that may wait for one slow peer before it is dropped.
    static constexpr std::size_t kDefaultSendLimit = 256 * 1024;

    // The interfaces must outlive the room. Any of them may be null.
    CChatRoom(IChatDisplay *display, IChatMemberView *memberView, IChatMainWindow *mainWindow,
              QObject *parent = nullptr);
    ~CChatRoom() override; // CloseChatSockets(), then every thread is joined
    CChatRoom(const CChatRoom &) = delete;
    CChatRoom &operator=(const CChatRoom &) = delete;

    // --- Set-up (window thread) ---------------------------------------------
    // The control window's start: `start` 1 runs InitHost() and
    // StartHosting(lport); `start` 2 runs StartConnecting(curl, cport).
    void Start(const CommandLineArgs &args);
    // Host start: the row "방장" with flag 0, own name "방장", own flag 0.
    void InitHost();
    // Listens on all local addresses at `port` (0 picks a free port, see
    // ListeningPort()). False when the socket cannot be opened; the room
    // then simply has no guests.
    bool StartHosting(std::uint16_t port);
    std::uint16_t ListeningPort() const;
    // Guest start: resolves `host` (dotted address or name) and connects.
    // Resolution or socket failure stops silently; the connection's outcome
    // arrives later as OnChatConnectResult.
    void StartConnecting(const char *host, std::uint16_t port);
    // Host: closes the listening socket and every guest connection (no
    // packet is sent). Guest: stops the receive thread and closes the socket.
    void CloseChatSockets();

    // --- Input of the control window (window thread) ------------------------
    // Enter in the input line. Text is UTF-8; it is cut to 1023 CP949 bytes
    // (never inside a character). Empty text sends nothing (S_FALSE).
    // Host: shows the line and sends it to every guest. Guest: sends it to
    // the host only; it shows when the host relays it back.
    HRESULT SpeakLine(std::string_view utf8Text);
    // The nickname dialog's OK. E_INVALIDARG when the name is empty, longer
    // than 14 CP949 bytes or, for a guest, "방장" (the dialog refuses those
    // itself), S_FALSE when it
    // equals the current name. Host: shows the rename, renames its row and
    // sends it to every guest. Guest: sends it to the host and takes the
    // name at once; row and notice follow the host's relay.
    HRESULT RenameSelf(std::string_view utf8Name);

    // Bytes that may wait for one peer (host: per guest; guest: for the
    // host) before that connection is dropped. Set before starting.
    void SetSendLimit(std::size_t bytes) { m_sendLimit = bytes; }

    // --- State (any thread) -------------------------------------------------
    Role GetRole() const { return m_role.load(); }
    std::string OwnName() const;      // UTF-8
    std::uint8_t OwnFlag() const;     // 0 host, 1 guest once listed, 255 before
    unsigned GuestCounter() const { return m_guestCounter.load(); }
    std::size_t ConnectionCount() const;   // host: guests connected now
    bool IsConnected() const { return m_connected.load(); } // guest: receive thread running
    const CMemberTable &Members() const { return m_members; }
    // Threads started by the room that have not been joined yet.
    int LiveThreadCount() const { return m_liveThreads.load(); }

    // --- Room operations (names and texts CP949) ----------------------------
    // Appends a row; a flag-1 row becomes the own name and is greeted.
    void AddMember(std::string_view name, std::uint8_t flag);
    // Removes one row with that name (see CMemberTable::RemoveName).
    bool RemoveMember(std::string_view name);
    // The first row with the old name takes the new one.
    bool RenameMember(std::string_view oldName, std::string_view newName);
    void ShowGreeting(std::string_view name);
    void ShowGoodbye(std::string_view name);
    void ShowChatLine(const chat::LineInfo &line);
    void ShowRename(std::string_view oldName, std::string_view newName);

    // --- Socket notifications (window thread) -------------------------------
    // WM_CHAT_HOSTSOCKET: event FD_ACCEPT, FD_READ or FD_CLOSE for `socket`.
    int OnHostSocket(int socket, int event, int error);
    // WM_CHAT_CLIENTSOCKET: FD_CONNECT (error 0 = connected) or FD_CLOSE.
    int OnClientSocket(int event, int error);

private:
    friend class CGuestConnection;
    friend class CChatReceiver;
    struct HostSlot;

    // Host side.
    void AcceptGuest();
    void ReadGuest(int socket);
    void FlushGuest(int socket);
    void GuestLeaves(int socket);
    void QueueGuestLeaves(const std::shared_ptr<CGuestConnection> &conn);
    void QueueEnableWrite(const std::shared_ptr<CGuestConnection> &conn);
    void HandleHostPacket(CGuestConnection &conn, std::string_view packet); // worker thread
    std::vector<std::shared_ptr<CGuestConnection>> ConnectionSnapshot() const;
    // Whom a relayed packet goes to, among the guests that have their user
    // list: all of them (chat lines), or those that know the row it is
    // about (renames), that do not know it yet (a join: they know it from
    // then on) or that know it (a leave: they forget it).
    enum class Audience { Listed, Knowing, Unaware, Forgetting };
    // Sends `packet` to that audience. The caller holds m_relayMutex.
    void RelayLocked(const ChatPacket &packet, Audience audience, std::uint64_t aboutRow = 0);
    void SendUserList(CGuestConnection &conn); // worker thread
    void SendTo(CGuestConnection &conn, const ChatPacket &packet);
    void StopConnections(std::vector<std::unique_ptr<HostSlot>> slots);
    void JoinRetired();

    // Guest side.
    void OnConnectReady();
    void DispatchGuestPacket(std::string_view packet); // receive thread
    void ReceiverEnded(bool roomFull);                 // receive thread -> window thread
    void GuestSend(const ChatPacket &packet);

    struct TextRun {
        std::string text; // UTF-8
        unsigned rgb;
        int twips;
        bool indent;
    };
    // Hands display lines to the window thread, in order.
    void PostText(std::vector<TextRun> runs);
    class MemberViewRelay;
    std::string OwnNameAnsi() const;

    IChatDisplay *m_display;
    IChatMainWindow *m_mainWindow;
    std::unique_ptr<IChatMemberView> m_viewRelay; // queues row reports to the window thread
    CMemberTable m_members;

    std::atomic<Role> m_role{ROLE_NONE};
    mutable std::mutex m_selfMutex;
    std::string m_ownName; // CP949
    std::uint8_t m_ownFlag = MEMBER_UNKNOWN;
    std::size_t m_sendLimit = kDefaultSendLimit;

    // Host.
    UniqueSocket m_listenSocket;
    std::unique_ptr<QSocketNotifier> m_acceptNotifier;
    std::atomic<unsigned> m_guestCounter{0};
    mutable std::mutex m_tableMutex; // guards m_connections
    // Orders the user lists against the relays, so that a guest hears of
    // the room only after its user list and of each change exactly once;
    // guards every connection's TellState(). Taken before m_tableMutex.
    std::mutex m_relayMutex;
    std::map<int, std::shared_ptr<CGuestConnection>> m_connections;
    std::map<int, std::unique_ptr<HostSlot>> m_slots; // window thread only
    // Workers that missed the stop wait, with their records kept alive until
    // they are joined.
    std::vector<std::pair<std::thread, std::shared_ptr<CGuestConnection>>> m_retired;
    std::uint64_t m_hostRowId = 0;

    // Guest.
    std::shared_ptr<CPacketSender> m_guestSender;
    std::unique_ptr<QSocketNotifier> m_connectNotifier;
    std::unique_ptr<CChatReceiver> m_receiver;
    std::atomic<bool> m_connected{false};
    bool m_closeReported = false;

    std::atomic<int> m_liveThreads{0};
};
