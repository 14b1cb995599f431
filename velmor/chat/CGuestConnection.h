#pragma once
// The host's record of one admitted guest: its current name, its socket
// (inside the packet sender), the 4096-byte reassembly buffer, the queue of
// whole packets received from it and the worker thread that handles them.
//
// Threads: the window thread reads the socket into the assembler, queues
// packets and stops the worker; the worker takes packets off the queue and
// hands them to the room; any thread may send to the guest through Sender()
// and read the name.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "CPacketAssembler.h"
#include "CPacketSender.h"
#include "CThreadMessageQueue.h"

class CChatRoom;

class CGuestConnection {
public:
    // Most received bytes that may wait for the worker before the guest is
    // dropped as flooding.
    static constexpr std::size_t kMaxQueuedBytes = 1024 * 1024;

    CGuestConnection(CChatRoom *room, UniqueSocket socket, std::string name, std::uint64_t rowId,
                     std::size_t sendLimit);
    ~CGuestConnection();
    CGuestConnection(const CGuestConnection &) = delete;
    CGuestConnection &operator=(const CGuestConnection &) = delete;

    bool StartWorker();
    // Posts the quit message; the worker ends after the messages before it.
    void PostQuit();
    // Waits up to `timeoutMs` for the worker to end; true when it has.
    bool WaitWorkerEnded(int timeoutMs);
    std::thread TakeWorker() { return std::move(m_worker); }

    // Window thread: a whole packet for the worker. False when the queue is
    // past its bound (the guest floods the host).
    bool QueuePacket(ChatPacket packet);
    CPacketAssembler &Assembler() { return m_assembler; }

    CPacketSender &Sender() { return m_sender; }
    int Socket() const { return m_sender.Socket(); }
    std::uint64_t RowId() const { return m_rowId; }
    std::string Name() const;
    void SetName(std::string name);

    // What this guest has been told of the room: whether its user list has
    // been sent, and the rows (by id) that list and later joins named.
    // Read and changed only under the room's relay lock.
    struct Told {
        bool listed = false;
        std::set<std::uint64_t> rows;
    };
    Told &TellState() { return m_told; }

    // Set once the connection is on its way out (dropped or leaving), so it
    // is queued for leaving only once.
    bool MarkLeaving() { return !m_leaving.exchange(true); }
    // Whether the window thread has been asked to watch for writability;
    // true when this call is the one that must ask.
    bool RequestWrite() { return !m_writeWanted.exchange(true); }
    void WriteDone() { m_writeWanted = false; }

private:
    void WorkerMain();

    CChatRoom *m_room;
    CPacketSender m_sender;
    CPacketAssembler m_assembler;
    const std::uint64_t m_rowId;

    mutable std::mutex m_nameMutex;
    std::string m_name; // CP949

    std::mutex m_queueMutex;
    std::deque<ChatPacket> m_packets;
    std::size_t m_queuedBytes = 0;

    CThreadMessageQueue m_messages;
    std::thread m_worker;
    std::mutex m_endMutex;
    std::condition_variable m_endCv;
    bool m_workerEnded = false;
    std::atomic<bool> m_leaving{false};
    std::atomic<bool> m_writeWanted{false};
    Told m_told;
};
