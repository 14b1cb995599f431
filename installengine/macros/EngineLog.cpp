#include "EngineLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace installengine {

void WriteLog(const char *module, int line, const char *format, ...)
{
    // One entry is formatted whole and written with one call, so entries of
    // several threads never interleave.
    char entry[1024];
    int used = std::snprintf(entry, sizeof entry, "(%s, %d Line) ", module ? module : "", line);
    if (used < 0)
        return;
    std::va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(entry + used, sizeof entry - static_cast<std::size_t>(used), format, args);
    va_end(args);
    if (n > 0)
        used += n;
    std::size_t length = std::strlen(entry);
    if (length == 0 || entry[length - 1] != '\n') {
        if (length + 1 >= sizeof entry)
            length = sizeof entry - 2;
        entry[length++] = '\n';
    }
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, entry, length);
}

} // namespace installengine
