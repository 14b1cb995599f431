#pragma once
// Registering a component after it is installed (the items with
// "RegisterServer" = "yes" and codecs of kind "%DSHOW_FILTER%"), chosen by
// the file's extension, the text after its last ".":
//
// - "exe": the program is started with "/RegServer" in its own folder,
//   without a window and without waiting; success when it started.
// - "dll", "ocx", "ax", "so": the library is loaded and its exported
//   DllRegisterServer called; success when the result is not negative.
//   When that fails (no library, no such export, a failing result),
//   "regsvr32.exe /s "PATH"" is run (regsvr32.exe beside the running
//   program or on PATH) and waited for; success when it ends with status 0.
// - anything else fails.
//
// Runs on the caller's thread; a loaded library is freed again before the
// function returns.
#include <string>

namespace installengine {

bool RegisterComponent(const std::string &folder, const std::string &fileName);

} // namespace installengine
