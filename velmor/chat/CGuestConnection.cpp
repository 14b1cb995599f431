#include "CGuestConnection.h"

#include "CChatRoom.h"
#include "CLogFile.h"

#include <chrono>
#include <system_error>

CGuestConnection::CGuestConnection(CChatRoom *room, UniqueSocket socket, std::string name, std::uint64_t rowId,
                                   std::size_t sendLimit)
    : m_room(room), m_sender(std::move(socket), sendLimit), m_rowId(rowId), m_name(std::move(name))
{
}

CGuestConnection::~CGuestConnection()
{
    // The room stops and joins the worker before it lets go of a connection;
    // this only guards against a record dropped without that.
    if (m_worker.joinable()) {
        PostQuit();
        m_worker.join();
    }
    m_sender.Close();
}

bool CGuestConnection::StartWorker()
{
    try {
        m_worker = std::thread([this] { WorkerMain(); });
    } catch (const std::system_error &e) {
        VLOG("Chat", "Could not start a guest worker: %s\n", e.what());
        return false;
    }
    return true;
}

void CGuestConnection::PostQuit()
{
    m_messages.Post(WM_CHAT_WORKERQUIT, 0, reinterpret_cast<std::intptr_t>(this));
}

bool CGuestConnection::WaitWorkerEnded(int timeoutMs)
{
    std::unique_lock lock(m_endMutex);
    return m_endCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_workerEnded; });
}

bool CGuestConnection::QueuePacket(ChatPacket packet)
{
    {
        std::lock_guard lock(m_queueMutex);
        if (m_queuedBytes + packet.size() > kMaxQueuedBytes)
            return false;
        m_queuedBytes += packet.size();
        m_packets.push_back(std::move(packet));
    }
    m_messages.Post(0); // one wake-up per queued packet
    return true;
}

std::string CGuestConnection::Name() const
{
    std::lock_guard lock(m_nameMutex);
    return m_name;
}

void CGuestConnection::SetName(std::string name)
{
    std::lock_guard lock(m_nameMutex);
    m_name = std::move(name);
}

void CGuestConnection::WorkerMain()
{
    for (;;) {
        const CThreadMessageQueue::Message m = m_messages.Get();
        if (m.message == WM_CHAT_WORKERQUIT)
            break;
        ChatPacket packet;
        {
            std::lock_guard lock(m_queueMutex);
            if (m_packets.empty())
                continue;
            packet = std::move(m_packets.front());
            m_packets.pop_front();
            m_queuedBytes -= packet.size();
        }
        try {
            m_room->HandleHostPacket(*this, packet);
        } catch (const std::exception &e) {
            VLOG("Chat", "Guest packet handling failed: %s\n", e.what());
        }
    }
    {
        std::lock_guard lock(m_endMutex);
        m_workerEnded = true;
    }
    m_endCv.notify_all();
}
