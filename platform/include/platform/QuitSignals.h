#pragma once
// Turns SIGINT and SIGTERM into a call on the Qt thread that installed the
// watcher, so the program can end the way closing its window does (orderly
// shutdown) instead of dying mid-write. A second signal while the first is
// being handled ends the process at once.
#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

class QuitSignalWatcher : public QObject {
public:
    explicit QuitSignalWatcher(std::function<void(int signal)> onQuit, QObject *parent = nullptr);
    ~QuitSignalWatcher() override;

    // Whether a quit signal has arrived.
    bool Signalled() const { return m_signalled; }

private:
    void OnReadable();

    std::function<void(int)> m_onQuit;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_signalled = false;
};

} // namespace platform
