#include "CLogFile.h"

#include "platform/CodePage.h"
#include "platform/LocalTime.h"
#include "platform/PlatformLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

std::atomic<CLogFile *> g_appLog{nullptr};
std::atomic<bool> g_toStandardError{false};

// "[%H:%M:%S] (module, N Line) message" in UTF-8 into `text`; the module is
// the part of `srcFile` after its last "\\". The bare message when srcFile
// is null.
void FormatEntry(char *text, std::size_t size, const char *srcFile, int line, const char *format,
                 va_list args)
{
    text[0] = '\0';
    if (srcFile != nullptr) {
        char timeText[64] = {};
        std::tm now = platform::LocalNow();
        std::strftime(timeText, sizeof timeText, "[%H:%M:%S]", &now);
        const char *base = srcFile;
        for (const char *p = std::strchr(base, '\\'); p != nullptr; p = std::strchr(base, '\\'))
            base = p + 1;
        std::snprintf(text, size, "%s (%s, %d Line) ", timeText, base, line);
    }
    const std::size_t used = std::strlen(text);
    if (format != nullptr && used < size - 1)
        std::vsnprintf(text + used, size - used, format, args);
}

void WriteAll(int fd, const char *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
}

// The platform layers' entries go where VLOG's go.
void ForwardPlatformEntry(const char *module, int line, const char *text)
{
    if (CLogFile *log = GetAppLog())
        log->Write(module, line, "%s", text);
    else if (LogToStandardError())
        WriteStandardErrorLog(module, line, "%s", text);
}

} // namespace

CLogFile *GetAppLog()
{
    return g_appLog.load(std::memory_order_acquire);
}

void SetAppLog(CLogFile *log)
{
    g_appLog.store(log, std::memory_order_release);
    platform::SetLogSink(&ForwardPlatformEntry);
}

void SetLogToStandardError(bool on)
{
    g_toStandardError.store(on, std::memory_order_release);
    platform::SetLogSink(&ForwardPlatformEntry);
}

bool LogToStandardError()
{
    return g_toStandardError.load(std::memory_order_acquire);
}

void WriteStandardErrorLog(const char *srcFile, int line, const char *format, ...)
{
    char text[CLogFile::kEntrySize];
    va_list args;
    va_start(args, format);
    FormatEntry(text, sizeof text, srcFile, line, format, args);
    va_end(args);
    // One write per entry, so entries of several threads do not interleave.
    WriteAll(STDERR_FILENO, text, std::strlen(text));
}

CLogFile::~CLogFile()
{
    if (m_file >= 0)
        ::close(m_file);
}

bool CLogFile::Open(const char *path)
{
    if (m_file >= 0 || path == nullptr)
        return false;
    std::snprintf(m_path, sizeof m_path, "%s", path);

    // Read and write, shared for reading only: another process that holds the
    // same log for writing keeps it, and this one runs without a log.
    int fd = ::open(path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
    }
    m_file = fd;

    std::tm now = platform::LocalNow();
    char date[64] = {};
    std::strftime(date, sizeof date, "%Y-%m-%d", &now);
    Write(nullptr, 0, "*****************************\n");
    Write(nullptr, 0, "** Current Date %s **\n", date);
    Write(nullptr, 0, "*****************************\n\n");
    return true;
}

int CLogFile::Write(const char *srcFile, int line, const char *format, ...)
{
    if (m_file < 0)
        return 0;

    // The entry is formatted in UTF-8, the program's own text, and written as
    // CP949; a CP949 entry of 1023 bytes is at most 1.5 times that in UTF-8.
    char text[kEntrySize * 2] = {};
    char entry[kEntrySize] = {};

    va_list args;
    va_start(args, format);
    FormatEntry(text, sizeof text, srcFile, line, format, args);
    va_end(args);
    // Cut at 1023 bytes: the entry buffer always keeps its terminating zero.
    platform::Utf8ToAnsiBuffer(text, entry, sizeof entry);

    // One write per entry, at the end of the file (O_APPEND).
    const std::size_t length = std::strlen(entry);
    ssize_t written;
    do {
        written = ::write(m_file, entry, length);
    } while (written < 0 && errno == EINTR);
    return written < 0 ? 0 : static_cast<int>(written);
}
