#pragma once
// A thread's message queue, the stand-in for PostThreadMessage / GetMessage:
// any thread posts (message, wParam, lParam); the owning thread takes them
// in order and sleeps while there are none.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

class CThreadMessageQueue {
public:
    struct Message {
        unsigned message = 0;
        std::uintptr_t wParam = 0;
        std::intptr_t lParam = 0;
    };

    void Post(unsigned message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0)
    {
        {
            std::lock_guard lock(m_mutex);
            m_messages.push_back(Message{message, wParam, lParam});
        }
        m_ready.notify_one();
    }

    // Waits for the oldest message and removes it.
    Message Get()
    {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return !m_messages.empty(); });
        Message m = m_messages.front();
        m_messages.pop_front();
        return m;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Message> m_messages;
};
