#include "CChatRoom.h"

#include "CChatReceiver.h"
#include "CGuestConnection.h"
#include "CLogFile.h"
#include "CPacketSender.h"
#include "CommandLineArgs.h"
#include "IChatDisplay.h"
#include "IChatMainWindow.h"
#include "IChatMemberView.h"

#include "platform/CodePage.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

const std::string &HostNameAnsi()
{
    static const std::string name = platform::Utf8ToAnsi("방장");
    return name;
}

std::string GuestNameAnsi(unsigned number)
{
    static const std::string prefix = platform::Utf8ToAnsi("손님");
    return prefix + std::to_string(number);
}

std::string Format(const char *utf8Format, const std::string &a, const std::string &b = {})
{
    // The formats hold at most two "%s"; names are at most 14 bytes.
    std::string out;
    const std::string args[2] = {a, b};
    int used = 0;
    for (const char *p = utf8Format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && used < 2) {
            out += args[used++];
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

} // namespace

// The window-thread side of one guest: its record and its notifiers.
struct CChatRoom::HostSlot {
    std::shared_ptr<CGuestConnection> conn;
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

// Forwards the member table's row reports to the real view on the room's
// thread. The table reports under its change lock, so the queued calls keep
// the order of the changes.
class CChatRoom::MemberViewRelay final : public IChatMemberView {
public:
    MemberViewRelay(CChatRoom *room, IChatMemberView *target) : m_room(room), m_target(target) {}
    void OnMemberAdded(int row, const std::string &name, int flag) override
    {
        Post([t = m_target, row, name, flag] { t->OnMemberAdded(row, name, flag); });
    }
    void OnMemberRemoved(int row) override
    {
        Post([t = m_target, row] { t->OnMemberRemoved(row); });
    }
    void OnMemberRenamed(int row, const std::string &name) override
    {
        Post([t = m_target, row, name] { t->OnMemberRenamed(row, name); });
    }

private:
    template <typename F> void Post(F &&fn)
    {
        QMetaObject::invokeMethod(m_room, std::forward<F>(fn), Qt::QueuedConnection);
    }
    CChatRoom *m_room;
    IChatMemberView *m_target;
};

CChatRoom::CChatRoom(IChatDisplay *display, IChatMemberView *memberView, IChatMainWindow *mainWindow,
                     QObject *parent)
    : QObject(parent), m_display(display), m_mainWindow(mainWindow),
      m_viewRelay(memberView ? std::make_unique<MemberViewRelay>(this, memberView) : nullptr),
      m_members(m_viewRelay.get())
{
}

CChatRoom::~CChatRoom()
{
    CloseChatSockets();
    JoinRetired();
}

// --- Set-up ---------------------------------------------------------------

void CChatRoom::Start(const CommandLineArgs &args)
{
    if (args.start == 1) {
        InitHost();
        if (!StartHosting(args.lport))
            VLOG("Chat", "The chat server could not listen on port %u.\n", static_cast<unsigned>(args.lport));
    } else if (args.start == 2) {
        StartConnecting(args.curl, args.cport);
    }
}

void CChatRoom::InitHost()
{
    if (m_role.load() == ROLE_HOST)
        return;
    m_role = ROLE_HOST;
    {
        std::lock_guard lock(m_selfMutex);
        m_ownName = HostNameAnsi();
        m_ownFlag = MEMBER_HOST;
    }
    m_hostRowId = m_members.Add(HostNameAnsi(), MEMBER_HOST);
}

bool CChatRoom::StartHosting(std::uint16_t port)
{
    InitHost();
    if (m_listenSocket.IsValid())
        return true;
    UniqueSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!s.IsValid()) {
        VLOG("Chat", "Could not create the chat server socket (errno=%d).\n", errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(s.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in addr{};
    ResolveAddress(nullptr, port, addr);
    if (::bind(s.Get(), reinterpret_cast<const sockaddr *>(&addr), sizeof(addr)) != 0) {
        VLOG("Chat", "Could not bind the chat server to port %u (errno=%d).\n", static_cast<unsigned>(port), errno);
        return false;
    }
    if (::listen(s.Get(), CHAT_LISTEN_BACKLOG) != 0) {
        VLOG("Chat", "Could not listen for chat guests (errno=%d).\n", errno);
        return false;
    }
    m_listenSocket = std::move(s);
    const int fd = m_listenSocket.Get();
    m_acceptNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_acceptNotifier.get(), &QSocketNotifier::activated, this,
            [this, fd] { OnHostSocket(fd, FD_ACCEPT, 0); });
    return true;
}

std::uint16_t CChatRoom::ListeningPort() const
{
    if (!m_listenSocket.IsValid())
        return 0;
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    if (::getsockname(m_listenSocket.Get(), reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

void CChatRoom::StartConnecting(const char *host, std::uint16_t port)
{
    if (m_guestSender)
        return;
    m_role = ROLE_GUEST;
    UniqueSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!s.IsValid()) {
        VLOG("Chat", "Could not create the chat socket (errno=%d).\n", errno);
        return;
    }
    SetNoDelay(s.Get());
    sockaddr_in addr{};
    if (!ResolveAddress(host ? host : "", port, addr)) {
        VLOG("Chat", "Could not resolve the chat server address \"%s\".\n", host ? host : "");
        return;
    }
    const int fd = s.Get();
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof(addr));
    const int err = rc == 0 ? 0 : errno;
    m_guestSender = std::make_shared<CPacketSender>(std::move(s), m_sendLimit);
    if (rc != 0 && err != EINPROGRESS) {
        // The outcome is reported the same way as a later failure: as the
        // connect notification, on the window thread.
        QMetaObject::invokeMethod(this, [this, err] { OnClientSocket(FD_CONNECT, err); }, Qt::QueuedConnection);
        return;
    }
    m_connectNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(m_connectNotifier.get(), &QSocketNotifier::activated, this, [this] { OnConnectReady(); });
}

void CChatRoom::OnConnectReady()
{
    if (!m_connectNotifier || !m_guestSender)
        return;
    m_connectNotifier->setEnabled(false);
    int err = 0;
    socklen_t len = sizeof(err);
    if (::getsockopt(m_guestSender->Socket(), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    // Deleting the notifier inside its own signal is not safe; let it go
    // once control is back in the event loop.
    // As a child of the room it goes with the room at the latest.
    QSocketNotifier *done = m_connectNotifier.release();
    done->setParent(this);
    done->deleteLater();
    OnClientSocket(FD_CONNECT, err);
}

void CChatRoom::CloseChatSockets()
{
    // Host: the listening socket first, so nobody new arrives, then every
    // guest. No packet is sent; the guests see their connection close.
    m_acceptNotifier.reset();
    m_listenSocket.Close();
    if (!m_slots.empty()) {
        std::vector<std::unique_ptr<HostSlot>> slots;
        {
            std::lock_guard lock(m_tableMutex);
            m_connections.clear();
        }
        for (auto &entry : m_slots)
            slots.push_back(std::move(entry.second));
        m_slots.clear();
        StopConnections(std::move(slots));
    }
    JoinRetired();

    // Guest.
    if (m_connectNotifier)
        m_connectNotifier.reset();
    if (m_receiver) {
        if (m_receiver->IsRunning())
            --m_liveThreads;
        m_receiver->Stop();
        m_receiver.reset();
    }
    if (m_guestSender) {
        m_guestSender->Close();
        m_guestSender.reset();
    }
    m_connected = false;
}

// --- Input ------------------------------------------------------------------

HRESULT CChatRoom::SpeakLine(std::string_view utf8Text)
{
    std::string text = platform::Utf8ToAnsi(utf8Text);
    text = chat::CutAnsi(text.substr(0, text.find('\0')), CHAT_MAX_TEXT); // what travels ends at a NUL
    if (text.empty())
        return S_FALSE;
    const Role role = m_role.load();
    if (role == ROLE_HOST) {
        chat::LineInfo line{OwnNameAnsi(), MEMBER_HOST, text};
        ShowChatLine(line);
        std::lock_guard lock(m_relayMutex);
        RelayLocked(chat::BuildMessage(line.name, line.flag, line.text), Audience::Listed);
        return S_OK;
    }
    if (role == ROLE_GUEST) {
        std::uint8_t flag = 0;
        std::string name;
        {
            std::lock_guard lock(m_selfMutex);
            name = m_ownName;
            flag = m_ownFlag;
        }
        GuestSend(chat::BuildMessage(name, flag, text));
        return S_OK;
    }
    return S_FALSE;
}

HRESULT CChatRoom::RenameSelf(std::string_view utf8Name)
{
    const std::string newName = platform::Utf8ToAnsi(utf8Name);
    if (newName.empty() || newName.size() > CHAT_MAX_NAME || newName.find('\0') != std::string::npos)
        return E_INVALIDARG;
    const Role role = m_role.load();
    // The host drops a guest's rename to its own name; taking it here would
    // leave this guest's name out of step with the room.
    if (role == ROLE_GUEST && newName == HostNameAnsi())
        return E_INVALIDARG;
    const std::string oldName = OwnNameAnsi();
    if (newName == oldName)
        return S_FALSE;
    if (role == ROLE_HOST) {
        ShowRename(oldName, newName);
        std::lock_guard lock(m_relayMutex);
        m_members.RenameId(m_hostRowId, newName);
        RelayLocked(chat::BuildRename(oldName, newName), Audience::Knowing, m_hostRowId);
    } else if (role == ROLE_GUEST) {
        GuestSend(chat::BuildRename(oldName, newName));
    }
    std::lock_guard lock(m_selfMutex);
    m_ownName = newName;
    return S_OK;
}

// --- State ------------------------------------------------------------------

std::string CChatRoom::OwnName() const { return platform::AnsiToUtf8(OwnNameAnsi()); }

std::string CChatRoom::OwnNameAnsi() const
{
    std::lock_guard lock(m_selfMutex);
    return m_ownName;
}

std::uint8_t CChatRoom::OwnFlag() const
{
    std::lock_guard lock(m_selfMutex);
    return m_ownFlag;
}

std::size_t CChatRoom::ConnectionCount() const
{
    std::lock_guard lock(m_tableMutex);
    return m_connections.size();
}

// --- Room operations --------------------------------------------------------

void CChatRoom::AddMember(std::string_view name, std::uint8_t flag)
{
    m_members.Add(name, flag);
    if (flag == MEMBER_SELF) {
        {
            std::lock_guard lock(m_selfMutex);
            m_ownName = std::string(name);
            m_ownFlag = MEMBER_SELF;
        }
        ShowGreeting(name);
    }
}

bool CChatRoom::RemoveMember(std::string_view name) { return m_members.RemoveName(name); }

bool CChatRoom::RenameMember(std::string_view oldName, std::string_view newName)
{
    return m_members.RenameName(oldName, newName);
}

void CChatRoom::ShowGreeting(std::string_view name)
{
    PostText({{Format("(%s)님 안녕하세요\r\n", platform::AnsiToUtf8(name)), CHAT_COLOR_BLACK, CHAT_SIZE_TEXT,
               false}});
}

void CChatRoom::ShowGoodbye(std::string_view name)
{
    PostText({{Format("\r\n(%s)님 안녕히가세요\r\n", platform::AnsiToUtf8(name)), CHAT_COLOR_BLACK,
               CHAT_SIZE_TEXT, false}});
}

void CChatRoom::ShowChatLine(const chat::LineInfo &line)
{
    PostText({{Format("\r\n[%s]님의 말:\r\n", platform::AnsiToUtf8(line.name)), CHAT_COLOR_NOTICE,
               CHAT_SIZE_NOTICE, false},
              {platform::AnsiToUtf8(line.text) + "\r\n",
               line.flag == MEMBER_HOST ? CHAT_COLOR_HOST : CHAT_COLOR_BLACK, CHAT_SIZE_TEXT, true}});
}

void CChatRoom::ShowRename(std::string_view oldName, std::string_view newName)
{
    PostText({{Format("\r\n[%s]님의 채팅이름이 %s로 변경되었습니다.\r\n", platform::AnsiToUtf8(oldName),
                      platform::AnsiToUtf8(newName)),
               CHAT_COLOR_NOTICE, CHAT_SIZE_NOTICE, false}});
}

void CChatRoom::PostText(std::vector<TextRun> runs)
{
    if (!m_display)
        return;
    // Always queued, also from the window thread itself, so lines show in
    // the order their events happened whichever thread saw them.
    QMetaObject::invokeMethod(
        this,
        [this, runs = std::move(runs)] {
            for (const TextRun &r : runs)
                m_display->AddText(r.text, r.rgb, r.twips, r.indent);
        },
        Qt::QueuedConnection);
}

// --- Host: notifications ------------------------------------------------------

int CChatRoom::OnHostSocket(int socket, int event, int error)
{
    switch (event) {
    case FD_ACCEPT:
        if (error == 0)
            AcceptGuest();
        break;
    case FD_READ:
        ReadGuest(socket);
        break;
    case FD_WRITE:
        FlushGuest(socket);
        break;
    case FD_CLOSE:
        GuestLeaves(socket);
        break;
    default:
        break;
    }
    return 0;
}

void CChatRoom::AcceptGuest()
{
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof(from);
        UniqueSocket s(::accept4(m_listenSocket.Get(), reinterpret_cast<sockaddr *>(&from), &len,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!s.IsValid()) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                VLOG("Chat", "Accepting a chat guest failed (errno=%d).\n", errno);
            return;
        }

        // Admission: the host's row plus at most 50 guest rows admit one more.
        if (m_members.Count() > CHAT_MAX_GUESTS) {
            const ChatPacket full = chat::BuildRoomFull();
            ::send(s.Get(), full.data(), full.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            // Discard what the refused guest has sent already, so the close
            // ends the connection in order instead of resetting it before
            // the notice is read.
            char discard[256];
            while (::recv(s.Get(), discard, sizeof(discard), MSG_DONTWAIT) > 0) {
            }
            ::shutdown(s.Get(), SHUT_WR);
            continue; // closed by UniqueSocket
        }

        SetNoDelay(s.Get());
        const unsigned number = ++m_guestCounter;
        const std::string name = GuestNameAnsi(number);
        const int fd = s.Get();
        const std::uint64_t rowId = m_members.Add(name, MEMBER_GUEST);
        auto slot = std::make_unique<HostSlot>();
        slot->conn = std::make_shared<CGuestConnection>(this, std::move(s), name, rowId, m_sendLimit);
        if (!slot->conn->StartWorker()) {
            m_members.RemoveId(rowId);
            slot->conn.reset(); // closes the socket
            continue;
        }
        ++m_liveThreads;
        {
            std::lock_guard lock(m_tableMutex);
            m_connections[fd] = slot->conn;
        }
        slot->read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(slot->read.get(), &QSocketNotifier::activated, this, [this, fd] { OnHostSocket(fd, FD_READ, 0); });
        slot->write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        slot->write->setEnabled(false);
        connect(slot->write.get(), &QSocketNotifier::activated, this, [this, fd] { OnHostSocket(fd, FD_WRITE, 0); });
        m_slots[fd] = std::move(slot);
        ShowGreeting(name);
    }
}

void CChatRoom::ReadGuest(int socket)
{
    auto it = m_slots.find(socket);
    if (it == m_slots.end())
        return;
    HostSlot &slot = *it->second;
    const std::shared_ptr<CGuestConnection> conn = slot.conn;
    // Once its leave is queued nothing more is read from it.
    auto leave = [&] {
        slot.read->setEnabled(false);
        QueueGuestLeaves(conn);
    };
    CPacketAssembler &assembler = conn->Assembler();
    const ssize_t got = ::recv(socket, assembler.WritePtr(), assembler.FreeSpace(), MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (got <= 0) {
        // Closed by the guest, or failed: either way the guest has left.
        leave();
        return;
    }
    assembler.Commit(static_cast<std::size_t>(got));
    ChatPacket packet;
    for (;;) {
        const CPacketAssembler::Result r = assembler.Next(packet);
        if (r == CPacketAssembler::NEED_MORE)
            return;
        if (r == CPacketAssembler::MALFORMED) {
            VLOG("Chat", "A guest sent a packet of impossible length; closing its connection.\n");
            leave();
            return;
        }
        if (!conn->QueuePacket(std::move(packet))) {
            VLOG("Chat", "A guest sends faster than the room handles; closing its connection.\n");
            leave();
            return;
        }
    }
}

void CChatRoom::FlushGuest(int socket)
{
    auto it = m_slots.find(socket);
    if (it == m_slots.end())
        return;
    HostSlot &slot = *it->second;
    // Cleared before the flush: a send that queues bytes after it asks for
    // the notifier again.
    slot.conn->WriteDone();
    const CPacketSender::Result r = slot.conn->Sender().Flush();
    if (r == CPacketSender::QUEUED) {
        slot.conn->RequestWrite();
        return;
    }
    slot.write->setEnabled(false);
    if (r == CPacketSender::FAILED)
        QueueGuestLeaves(slot.conn);
}

void CChatRoom::QueueGuestLeaves(const std::shared_ptr<CGuestConnection> &conn)
{
    if (!conn->MarkLeaving())
        return;
    std::weak_ptr<CGuestConnection> weak = conn;
    // Runs on the window thread once control is back in its event loop, so
    // a notifier is never deleted inside its own signal.
    QMetaObject::invokeMethod(
        this,
        [this, weak] {
            const std::shared_ptr<CGuestConnection> c = weak.lock();
            if (!c)
                return;
            for (const auto &entry : m_slots) {
                if (entry.second->conn == c) {
                    OnHostSocket(entry.first, FD_CLOSE, 0);
                    return;
                }
            }
        },
        Qt::QueuedConnection);
}

void CChatRoom::QueueEnableWrite(const std::shared_ptr<CGuestConnection> &conn)
{
    std::weak_ptr<CGuestConnection> weak = conn;
    QMetaObject::invokeMethod(
        this,
        [this, weak] {
            const std::shared_ptr<CGuestConnection> c = weak.lock();
            if (!c)
                return;
            for (const auto &entry : m_slots) {
                if (entry.second->conn == c) {
                    entry.second->write->setEnabled(true);
                    return;
                }
            }
        },
        Qt::QueuedConnection);
}

void CChatRoom::GuestLeaves(int socket)
{
    auto it = m_slots.find(socket);
    if (it == m_slots.end())
        return;
    std::unique_ptr<HostSlot> slot = std::move(it->second);
    m_slots.erase(it);
    {
        std::lock_guard lock(m_tableMutex);
        m_connections.erase(socket);
    }
    const std::shared_ptr<CGuestConnection> conn = slot->conn;
    m_members.RemoveId(conn->RowId());
    std::vector<std::unique_ptr<HostSlot>> slots;
    slots.push_back(std::move(slot));
    StopConnections(std::move(slots));
    // The name after the worker has ended, so a rename it handled counts.
    const std::string name = conn->Name();
    {
        std::lock_guard lock(m_relayMutex);
        RelayLocked(chat::BuildLeave(name), Audience::Forgetting, conn->RowId());
    }
    ShowGoodbye(name);
}

void CChatRoom::StopConnections(std::vector<std::unique_ptr<HostSlot>> slots)
{
    for (auto &slot : slots) {
        slot->read.reset();
        slot->write.reset();
        slot->conn->PostQuit();
    }
    // One shared bound for all of them: the window thread never waits longer
    // than the stop wait, however many guests go at once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(CHAT_WORKER_STOP_WAIT_MS);
    for (auto &slot : slots) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const bool ended = slot->conn->WaitWorkerEnded(static_cast<int>(std::max<long long>(0, left.count())));
        std::thread worker = slot->conn->TakeWorker();
        if (ended) {
            if (worker.joinable())
                worker.join();
            --m_liveThreads;
        } else {
            VLOG("Chat", "A guest worker did not stop within %d ms.\n", CHAT_WORKER_STOP_WAIT_MS);
            m_retired.emplace_back(std::move(worker), slot->conn);
        }
        slot->conn->Sender().Close();
    }
}

void CChatRoom::JoinRetired()
{
    for (auto &entry : m_retired) {
        if (entry.first.joinable())
            entry.first.join();
        --m_liveThreads;
    }
    m_retired.clear();
}

// --- Host: packets from a guest (its worker thread) ----------------------------

std::vector<std::shared_ptr<CGuestConnection>> CChatRoom::ConnectionSnapshot() const
{
    std::vector<std::shared_ptr<CGuestConnection>> out;
    std::lock_guard lock(m_tableMutex);
    out.reserve(m_connections.size());
    for (const auto &entry : m_connections)
        out.push_back(entry.second);
    return out;
}

void CChatRoom::SendTo(CGuestConnection &conn, const ChatPacket &packet)
{
    const CPacketSender::Result r = conn.Sender().Send(packet);
    if (r != CPacketSender::QUEUED && r != CPacketSender::FAILED)
        return;
    // Find the shared record to hand to the window thread.
    std::shared_ptr<CGuestConnection> shared;
    {
        std::lock_guard lock(m_tableMutex);
        for (const auto &entry : m_connections)
            if (entry.second.get() == &conn)
                shared = entry.second;
    }
    if (!shared)
        return;
    if (r == CPacketSender::QUEUED) {
        if (shared->RequestWrite())
            QueueEnableWrite(shared);
    } else {
        VLOG("Chat", "A guest stopped reading; closing its connection.\n");
        QueueGuestLeaves(shared);
    }
}

void CChatRoom::RelayLocked(const ChatPacket &packet, Audience audience, std::uint64_t aboutRow)
{
    for (const auto &conn : ConnectionSnapshot()) {
        CGuestConnection::Told &told = conn->TellState();
        if (!told.listed)
            continue; // it hears of the room from its user list first
        const bool knows = told.rows.count(aboutRow) != 0;
        switch (audience) {
        case Audience::Listed:
            break;
        case Audience::Knowing:
            if (!knows)
                continue;
            break;
        case Audience::Unaware:
            if (knows)
                continue;
            told.rows.insert(aboutRow);
            break;
        case Audience::Forgetting:
            if (!knows)
                continue;
            told.rows.erase(aboutRow);
            break;
        }
        SendTo(*conn, packet);
    }
}

void CChatRoom::SendUserList(CGuestConnection &conn)
{
    // Under the relay lock: every change of the rows after this list
    // reaches this guest as a relay, none before it, and no guest that
    // this list names is announced to it again.
    std::lock_guard lock(m_relayMutex);
    // Flags by the row text: the host's name, this guest's name, others.
    const std::string self = conn.Name();
    std::vector<chat::MemberInfo> list;
    CGuestConnection::Told &told = conn.TellState();
    told.rows.clear();
    for (const CMemberTable::Row &row : m_members.Snapshot()) {
        std::uint8_t flag = MEMBER_GUEST;
        if (row.name == HostNameAnsi())
            flag = MEMBER_HOST;
        else if (row.name == self)
            flag = MEMBER_SELF;
        list.push_back(chat::MemberInfo{row.name, flag});
        told.rows.insert(row.id);
    }
    SendTo(conn, chat::BuildUserList(list));
    told.listed = true;
    // The others that have their lists and do not know this guest yet.
    RelayLocked(chat::BuildJoin(self), Audience::Unaware, conn.RowId());
}

void CChatRoom::HandleHostPacket(CGuestConnection &conn, std::string_view packet)
{
    switch (chat::PacketKind(packet)) {
    case CHAT_USERLIST:
        SendUserList(conn);
        break;
    case CHAT_MESSAGE: {
        chat::LineInfo line;
        if (!chat::ParseMessage(packet, line))
            return;
        // The connection says who speaks, whatever the packet claims.
        line.name = conn.Name();
        line.flag = MEMBER_SELF;
        ShowChatLine(line);
        std::lock_guard lock(m_relayMutex);
        RelayLocked(chat::BuildMessage(line.name, line.flag, line.text), Audience::Listed);
        break;
    }
    case CHAT_RENAME: {
        chat::RenameInfo rename;
        if (!chat::ParseRename(packet, rename))
            return;
        if (rename.newName.empty() || rename.newName == HostNameAnsi())
            return; // no guest may pose as the host or go nameless
        const std::string oldName = conn.Name();
        std::lock_guard lock(m_relayMutex);
        conn.SetName(rename.newName);
        m_members.RenameId(conn.RowId(), rename.newName);
        ShowRename(oldName, rename.newName);
        RelayLocked(chat::BuildRename(oldName, rename.newName), Audience::Knowing, conn.RowId());
        break;
    }
    default:
        break; // other kinds are not for the host
    }
}

// --- Guest --------------------------------------------------------------------

int CChatRoom::OnClientSocket(int event, int error)
{
    if (event == FD_CONNECT) {
        if (error != 0 || !m_guestSender) {
            VLOG("Chat", "Could not connect to the chat server (errno=%d).\n", error);
            if (m_mainWindow)
                m_mainWindow->OnChatConnectResult(0);
            return 0;
        }
        m_receiver = std::make_unique<CChatReceiver>(this, m_guestSender);
        if (!m_receiver->Start()) {
            m_receiver.reset();
            if (m_mainWindow)
                m_mainWindow->OnChatConnectResult(0);
            return 0;
        }
        ++m_liveThreads;
        m_connected = true;
        if (m_mainWindow)
            m_mainWindow->OnChatConnectResult(1);
    } else if (event == FD_CLOSE) {
        if (m_receiver)
            m_receiver->SignalQuit();
        m_connected = false;
        if (!m_closeReported) {
            m_closeReported = true;
            if (m_mainWindow)
                m_mainWindow->OnChatRoomClosed();
        }
    }
    return 0;
}

void CChatRoom::ReceiverEnded(bool /*roomFull*/)
{
    QMetaObject::invokeMethod(this, [this] { OnClientSocket(FD_CLOSE, 0); }, Qt::QueuedConnection);
}

void CChatRoom::GuestSend(const ChatPacket &packet)
{
    if (!m_guestSender || !m_receiver)
        return;
    const CPacketSender::Result r = m_guestSender->Send(packet);
    if (r == CPacketSender::QUEUED || r == CPacketSender::FAILED)
        m_receiver->Wake(); // it flushes, or ends the connection
}

void CChatRoom::DispatchGuestPacket(std::string_view packet)
{
    switch (chat::PacketKind(packet)) {
    case CHAT_USERLIST:
        for (const chat::MemberInfo &m : chat::ParseUserList(packet))
            AddMember(m.name, m.flag);
        break;
    case CHAT_JOIN: {
        chat::MemberInfo m;
        if (!chat::ParseMember(packet, m))
            return;
        AddMember(m.name, MEMBER_GUEST);
        ShowGreeting(m.name);
        break;
    }
    case CHAT_LEAVE: {
        chat::MemberInfo m;
        if (!chat::ParseMember(packet, m))
            return;
        RemoveMember(m.name);
        ShowGoodbye(m.name);
        break;
    }
    case CHAT_MESSAGE: {
        chat::LineInfo line;
        if (chat::ParseMessage(packet, line))
            ShowChatLine(line);
        break;
    }
    case CHAT_RENAME: {
        chat::RenameInfo rename;
        if (!chat::ParseRename(packet, rename))
            return;
        RenameMember(rename.oldName, rename.newName);
        ShowRename(rename.oldName, rename.newName);
        break;
    }
    case CHAT_ROOMFULL:
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_closeReported)
                    return;
                m_closeReported = true; // the close that follows is not a second report
                if (m_mainWindow)
                    m_mainWindow->OnChatRoomFull();
            },
            Qt::QueuedConnection);
        break;
    default:
        break; // unknown kinds are ignored
    }
}
