#pragma once
// Starting other programs (ShellExecute "open" / CreateProcess) and the few
// facts about the running process the program asks for.
#include <string>
#include <vector>

namespace platform {

enum class ShowState { Hidden, Normal, Minimized };

// Starts `file` with `parameters` (one text; split at blanks into arguments,
// as the program's own command line was joined) in `directory` (empty: the
// current one) and does not wait. A bare name is the file in that directory
// when it is there, else what FindProgram finds. Hidden means no window is
// asked for. Returns true when the program was started.
bool ShellExecuteOpen(const std::string &file, const std::string &parameters,
                      const std::string &directory, ShowState show);

// Opens a document or URL with the desktop's handler (xdg-open).
bool OpenWithSystemHandler(const std::string &urlOrPath);

// The folder of the running program (from /proc/self/exe), without a
// trailing "/".
std::string ProgramDirectory();

// Where a program named in a stored command text is found: a name with a
// folder is taken as it is; a bare name ("rundll32.exe", "REGSVR32.EXE") is
// looked up in the running program's own folder without regard to letter
// case, then on PATH. Empty when it is nowhere.
std::string FindProgram(const std::string &name);

// Splits a Windows command-line text into its words: blanks separate words
// outside double quotes, the quotes themselves are removed ("\"" is a quote).
std::vector<std::string> SplitCommandLine(const std::string &text);

// CreateProcess + WaitForSingleObject(INFINITE): runs `program` (found as
// FindProgram does) with `parameters` (split as SplitCommandLine does) in
// `directory` (empty: the current one) and waits for its end. The exit
// status, or -1 when it could not be started.
int RunAndWait(const std::string &program, const std::string &parameters,
               const std::string &directory);

// Starts a whole stored command text as it stands ("rundll32.exe
// advpack.dll,LaunchINFSection /path/x.INF", a RunOnce value, an
// UninstallString): the first word is the program, the rest its parameters.
// `wait` waits for the end. The exit status (0 when not waiting), or -1 when
// it could not be started.
int RunCommandText(const std::string &commandText, const std::string &directory, bool wait);

// The current directory, or an empty text when it cannot be read.
std::string GetCurrentDirectory();

// Whether `path` exists (_access with mode 0).
bool FileExists(const std::string &path);

// Splits a command-line text at runs of blanks.
std::vector<std::string> SplitArguments(const std::string &text);

// The raw command line of this process: its arguments joined by single blanks.
std::string JoinArguments(int argc, const char *const *argv);

} // namespace platform
