#include "platform/MessageBox.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex g_handlerLock;
MessageBoxHandler g_handler;

} // namespace

int DefaultAnswer(unsigned style)
{
    switch (style & 0xFu) {
    case MB_YESNO:
        return IDYES;
    default:
        return IDOK;
    }
}

int StderrMessageBox(const MessageBoxRequest &request)
{
    std::fprintf(stderr, "[%s] %s\n", request.caption.c_str(), request.text.c_str());
    std::fflush(stderr);
    return DefaultAnswer(request.style);
}

int ShowMessageBox(const std::string &text, const std::string &caption, unsigned style)
{
    MessageBoxHandler handler;
    {
        std::lock_guard lock(g_handlerLock);
        handler = g_handler;
    }
    MessageBoxRequest request{text, caption, style};
    return handler ? handler(request) : StderrMessageBox(request);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard lock(g_handlerLock);
    std::swap(g_handler, handler);
    return handler;
}

} // namespace platform
