#pragma once
// Diagnostics of the cabinet extractor. The install engine cannot reach the
// program's log yet, so entries go to the standard error stream; this one
// function is the place to point at the process log when it can.
//   CABLOG("Skipped \"%s\": it would be written outside the folder.\n", name);

void CabLog(int line, const char *format, ...) __attribute__((format(printf, 2, 3)));

#define CABLOG(...) CabLog(__LINE__, __VA_ARGS__)
