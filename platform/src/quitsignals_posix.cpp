#include "platform/QuitSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace platform {
namespace {

int g_pipe[2] = {-1, -1};
std::atomic<int> g_count{0}; // lock-free: safe in a signal handler

void OnSignal(int signal)
{
    if (g_count.fetch_add(1) > 0)
        std::_Exit(128 + signal); // asked twice: do not wait any longer
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
}

} // namespace

QuitSignalWatcher::QuitSignalWatcher(std::function<void(int)> onQuit, QObject *parent)
    : QObject(parent), m_onQuit(std::move(onQuit))
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &QuitSignalWatcher::OnReadable);
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

QuitSignalWatcher::~QuitSignalWatcher()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    m_notifier.reset();
}

void QuitSignalWatcher::OnReadable()
{
    unsigned char byte = 0;
    if (::read(g_pipe[0], &byte, 1) != 1)
        return;
    if (m_signalled)
        return;
    m_signalled = true;
    if (m_onQuit)
        m_onQuit(byte);
}

} // namespace platform
