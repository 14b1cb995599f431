#include "CChatReceiver.h"

#include "CChatRoom.h"
#include "CLogFile.h"
#include "CPacketSender.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>

CChatReceiver::CChatReceiver(CChatRoom *room, std::shared_ptr<CPacketSender> sender)
    : m_room(room), m_sender(std::move(sender))
{
}

CChatReceiver::~CChatReceiver() { Stop(); }

bool CChatReceiver::Start()
{
    if (!m_quit.IsValid() || !m_wake.IsValid())
        return false;
    try {
        m_thread = std::thread([this] { ReceiveMain(); });
    } catch (const std::system_error &e) {
        VLOG("Chat", "Could not start the receive thread: %s\n", e.what());
        return false;
    }
    return true;
}

void CChatReceiver::SignalQuit() { m_quit.Set(); }

void CChatReceiver::Stop()
{
    m_quit.Set();
    if (m_thread.joinable())
        m_thread.join();
}

void CChatReceiver::Wake() { m_wake.Set(); }

void CChatReceiver::ReceiveMain()
{
    bool roomFull = false;
    bool connected = m_sender->Send(chat::BuildUserListRequest()) != CPacketSender::FAILED;
    const int sock = m_sender->Socket();
    while (connected) {
        pollfd fds[3] = {};
        fds[0].fd = sock;
        fds[0].events = POLLIN;
        if (m_sender->Pending() > 0)
            fds[0].events |= POLLOUT;
        fds[1].fd = platform::EventFd(m_quit.Get());
        fds[1].events = POLLIN;
        fds[2].fd = platform::EventFd(m_wake.Get());
        fds[2].events = POLLIN;
        const int n = ::poll(fds, 3, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            connected = false;
            break;
        }
        if (fds[1].revents & POLLIN)
            return; // quit: the room is closing the socket itself
        if (fds[2].revents & POLLIN)
            m_wake.Wait(0); // consume the wake-up; the flush below covers it
        if ((fds[0].revents & POLLOUT) || (fds[2].revents & POLLIN)) {
            const CPacketSender::Result r = m_sender->Flush();
            if (r == CPacketSender::FAILED || r == CPacketSender::CLOSED) {
                connected = false;
                break;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR))
            connected = ReceiveStep(roomFull);
    }
    try {
        m_room->ReceiverEnded(roomFull);
    } catch (const std::exception &e) {
        VLOG("Chat", "Reporting the end of the connection failed: %s\n", e.what());
    }
}

bool CChatReceiver::ReceiveStep(bool &roomFull)
{
    const ssize_t got = ::recv(m_sender->Socket(), m_assembler.WritePtr(), m_assembler.WantedBytes(), MSG_DONTWAIT);
    if (got == 0)
        return false; // the host closed the connection
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    m_assembler.Commit(static_cast<std::size_t>(got));
    ChatPacket packet;
    for (;;) {
        const CPacketAssembler::Result r = m_assembler.Next(packet);
        if (r == CPacketAssembler::NEED_MORE)
            return true;
        if (r == CPacketAssembler::MALFORMED) {
            VLOG("Chat", "The host sent a packet of impossible length; closing the connection.\n");
            return false;
        }
        if (chat::PacketKind(packet) == CHAT_ROOMFULL)
            roomFull = true;
        try {
            m_room->DispatchGuestPacket(packet);
        } catch (const std::exception &e) {
            VLOG("Chat", "Packet dispatch failed: %s\n", e.what());
        }
    }
}
