#include "platform/WindowThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <future>
#include <memory>

namespace platform {

std::optional<int> CallOnWindowThread(const std::function<int()> &call)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (app == nullptr)
        return std::nullopt;
    if (QThread::currentThread() == app->thread())
        return call();

    // Owned by the queued call alone: when Qt drops the call without running
    // it, the reply goes with it and the waiting thread gets no answer
    // instead of waiting for ever.
    struct Reply {
        std::promise<std::optional<int>> promise;
        bool answered = false;
        ~Reply()
        {
            if (!answered)
                promise.set_value(std::nullopt);
        }
    };
    auto reply = std::make_shared<Reply>();
    std::future<std::optional<int>> answer = reply->promise.get_future();
    QMetaObject::invokeMethod(
        app,
        [reply = std::move(reply), &call] {
            reply->promise.set_value(call());
            reply->answered = true;
        },
        Qt::QueuedConnection);
    return answer.get();
}

} // namespace platform
