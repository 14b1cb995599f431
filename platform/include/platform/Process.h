#pragma once
// Starting other programs (ShellExecute "open" / CreateProcess) and the few
// facts about the running process the program asks for.
#include <string>
#include <vector>

namespace platform {

enum class ShowState { Hidden, Normal, Minimized };

// Starts `file` with `parameters` (one text; split at blanks into arguments,
// as the program's own command line was joined) in `directory` (empty: the
// current one) and does not wait. Hidden means no window is asked for.
// Returns true when the program was started.
bool ShellExecuteOpen(const std::string &file, const std::string &parameters,
                      const std::string &directory, ShowState show);

// Opens a document or URL with the desktop's handler (xdg-open).
bool OpenWithSystemHandler(const std::string &urlOrPath);

// The current directory, or an empty text when it cannot be read.
std::string GetCurrentDirectory();

// Whether `path` exists (_access with mode 0).
bool FileExists(const std::string &path);

// Splits a command-line text at runs of blanks.
std::vector<std::string> SplitArguments(const std::string &text);

// The raw command line of this process: its arguments joined by single blanks.
std::string JoinArguments(int argc, const char *const *argv);

} // namespace platform
