#include "platform/PlatformLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace platform {
namespace {
std::atomic<LogSink> g_sink{nullptr};
}

void SetLogSink(LogSink sink)
{
    g_sink.store(sink, std::memory_order_release);
}

void WriteLog(const char *module, int line, const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (LogSink sink = g_sink.load(std::memory_order_acquire)) {
        sink(module, line, text);
        return;
    }
    std::fprintf(stderr, "(%s, %d Line) %s", module ? module : "", line, text);
    std::fflush(stderr);
}

} // namespace platform
