#pragma once
// The guest's receive thread. It sends the user-list request, then waits on
// the socket, a wake event (bytes the window thread could not send at once)
// and a quit event; it reassembles what arrives and hands every whole packet
// to the room on this thread. When the connection ends (closed by the host,
// a socket error, a malformed length or a stalled send) it reports that to
// the room once and ends; a quit ends it silently.
//
// Owned by the room; Stop() signals quit and joins the thread.
#include <atomic>
#include <memory>
#include <thread>

#include "CPacketAssembler.h"
#include "platform/Win32Event.h"

class CChatRoom;
class CPacketSender;

class CChatReceiver {
public:
    CChatReceiver(CChatRoom *room, std::shared_ptr<CPacketSender> sender);
    ~CChatReceiver();
    CChatReceiver(const CChatReceiver &) = delete;
    CChatReceiver &operator=(const CChatReceiver &) = delete;

    bool Start();
    // Signals the quit event (the thread ends without a report).
    void SignalQuit();
    // Signals quit and joins the thread.
    void Stop();
    // Bytes wait in the sender: flush them when the socket is writable.
    void Wake();
    bool IsRunning() const { return m_thread.joinable(); }

private:
    void ReceiveMain();
    // Returns false when the connection is over.
    bool ReceiveStep(bool &roomFull);

    CChatRoom *m_room;
    std::shared_ptr<CPacketSender> m_sender;
    platform::Event m_quit{false, false};
    platform::Event m_wake{false, false};
    CPacketAssembler m_assembler;
    std::thread m_thread;
};
