#pragma once
// The start-up worker: tells the service site who started (role, local
// address, chat host) and asks it for this computer's public address. When
// the public address differs from the local one it calls `onAddressDiffers`
// (on its own thread; the main window posts that to its own thread), so the
// broadcaster can be told which ports to forward.
#include "platform/InternetSession.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class CLogWriteThread {
public:
    using AddressNotice = std::function<void()>;

    explicit CLogWriteThread(AddressNotice onAddressDiffers);
    ~CLogWriteThread();
    CLogWriteThread(const CLogWriteThread &) = delete;
    CLogWriteThread &operator=(const CLogWriteThread &) = delete;

    // Starts the two requests with `start` and `curl` of the command line.
    void CreateThread(unsigned start, const std::string &curl);

    // Gives up on any request still waiting and joins the thread.
    void Stop();

    // True once both requests have been made and answered (or given up).
    bool Finished() const { return m_finished.load(); }

private:
    void Run(unsigned start, std::string curl);

    AddressNotice m_onAddressDiffers;
    platform::CInternetSession m_session;
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};
