#pragma once
// The program's one trace file, velmor.log. Each Write formats one entry in a
// stack buffer and appends it with a single write call, so entries from many
// threads never interleave and the file is complete up to the last entry.
#include <cstddef>

class CLogFile {
public:
    static constexpr std::size_t kPathSize = 260;
    static constexpr std::size_t kEntrySize = 1024;

    CLogFile() = default;
    virtual ~CLogFile();
    CLogFile(const CLogFile &) = delete;
    CLogFile &operator=(const CLogFile &) = delete;

    // Creates (truncates) the file and writes the banner. Refused when a file
    // is already open, when path is null, or when another process holds the
    // same log open for writing.
    bool Open(const char *path);

    // Appends one entry: "[%H:%M:%S] (module, N Line) message", or the bare
    // message when srcFile is null. Returns the bytes written, 0 when closed.
    int Write(const char *srcFile, int line, const char *format, ...)
        __attribute__((format(printf, 4, 5)));

    bool IsOpen() const { return m_file >= 0; }
    const char *Path() const { return m_path; }

private:
    char m_path[kPathSize] = {};
    int m_file = -1;
};

// The process-wide log, owned by the application object. Every module writes
// through it; before the application has set it, writes are no-ops (or go to
// standard error, see below). Setting it also routes the platform layers'
// diagnostics (platform/PlatformLog.h) to the same place.
CLogFile *GetAppLog();
void SetAppLog(CLogFile *log);

// A program without a log file of its own (rundll32.exe, runonce.exe, a
// command-line tool) switches this on: while no log is set, entries are then
// written to standard error, in UTF-8, formatted as in the file. Off by
// default, so a program that runs without its log file stays quiet.
void SetLogToStandardError(bool on);
bool LogToStandardError();

// Writes one entry to standard error, formatted as CLogFile::Write does.
void WriteStandardErrorLog(const char *srcFile, int line, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Write one entry to the process log with the caller's module name and line:
//   VLOG("Video", "Could not create graph (hr=0x%08x).\n", hr);
#define VLOG(module, ...)                                                   \
    do {                                                                    \
        if (CLogFile *velmorLog_ = ::GetAppLog())                           \
            velmorLog_->Write(module, __LINE__, __VA_ARGS__);               \
        else if (::LogToStandardError())                                    \
            ::WriteStandardErrorLog(module, __LINE__, __VA_ARGS__);         \
    } while (0)
