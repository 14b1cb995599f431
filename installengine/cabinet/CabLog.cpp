#include "CabLog.h"

#include <cstdarg>
#include <cstdio>
#include <unistd.h>

void CabLog(int line, const char *format, ...)
{
    // One entry, formatted in a stack buffer and written with one call, so
    // entries of extractors on different threads never interleave.
    char entry[1024];
    int used = std::snprintf(entry, sizeof entry, "(Cabinet, %d Line) ", line);
    if (used < 0)
        return;
    va_list args;
    va_start(args, format);
    const int text =
        std::vsnprintf(entry + used, sizeof entry - static_cast<std::size_t>(used), format, args);
    va_end(args);
    if (text < 0)
        return;
    // A long entry is cut; every entry ends with a line break.
    std::size_t length = static_cast<std::size_t>(used) + static_cast<std::size_t>(text);
    if (length > sizeof entry - 2)
        length = sizeof entry - 2;
    if (length == 0 || entry[length - 1] != '\n')
        entry[length++] = '\n';
    const ssize_t written = ::write(STDERR_FILENO, entry, length);
    (void)written;
}
