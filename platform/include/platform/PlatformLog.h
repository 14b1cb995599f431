#pragma once
// Diagnostics of the platform layers (a restart refused, a program that could
// not be started) for the process log.
//
// The platform sits below the log library, so it reports through a sink that
// the log library installs (SetAppLog, SetLogToStandardError in CLogFile.h):
// then its entries land wherever VLOG entries land. Until a sink is installed
// they go to standard error, so a program that never set up a log still
// shows them.
namespace platform {

// One entry: `module` and `line` as VLOG gives them, `text` UTF-8, usually
// ending in "\n".
using LogSink = void (*)(const char *module, int line, const char *text);

// Installs `sink` (null: standard error again). Thread-safe.
void SetLogSink(LogSink sink);

void WriteLog(const char *module, int line, const char *format, ...) __attribute__((format(printf, 3, 4)));

} // namespace platform

#define PLATFORM_LOG(module, ...) ::platform::WriteLog(module, __LINE__, __VA_ARGS__)
