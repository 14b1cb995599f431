#pragma once
// The install engine's diagnostics. Until the program log moves into a
// library of its own, the engine writes its entries to standard error in the
// log's own form, "(module, N Line) message", so a program without a log file
// still shows them.
#include <cstdio>

namespace installengine {

void WriteLog(const char *module, int line, const char *format, ...) __attribute__((format(printf, 3, 4)));

} // namespace installengine

#define VLOG(module, ...) ::installengine::WriteLog(module, __LINE__, __VA_ARGS__)
