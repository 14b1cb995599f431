#pragma once
// The install engine's diagnostics go through the platform's log entry point,
// which the program's log installs itself behind: they land in the program's
// log when it has one, on standard error otherwise.
#include "platform/PlatformLog.h"

#define VLOG(module, ...) ::platform::WriteLog(module, __LINE__, __VA_ARGS__)
