#include "platform/Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>

extern char **environ;

namespace platform {

std::vector<std::string> SplitArguments(const std::string &text)
{
    std::vector<std::string> out;
    std::string current;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (!current.empty())
                out.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        out.push_back(std::move(current));
    return out;
}

std::string JoinArguments(int argc, const char *const *argv)
{
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line.push_back(' ');
        line.append(argv[i]);
    }
    return line;
}

namespace {

// Starts `args` (the first is the program: a path, or a bare name looked up
// on PATH) in `directory`. `detached` puts it in a process group of its own,
// for programs that live on after we end. The process id, or -1.
pid_t Spawn(const std::vector<std::string> &args, const std::string &directory, bool quiet, bool detached)
{
    if (args.empty() || args.front().empty())
        return -1;
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::unique_ptr<posix_spawn_file_actions_t, int (*)(posix_spawn_file_actions_t *)> guard(
        &actions, posix_spawn_file_actions_destroy);
    if (!directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    std::unique_ptr<posix_spawnattr_t, int (*)(posix_spawnattr_t *)> attrGuard(&attr,
                                                                               posix_spawnattr_destroy);
    if (detached) {
        // The started program lives on after we end; it gets its own process
        // group so a signal to ours does not take it along.
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
    }
    pid_t pid = 0;
    const std::string &file = args.front();
    int rc = file.find('/') == std::string::npos
                 ? posix_spawnp(&pid, file.c_str(), &actions, &attr, argv.data(), environ)
                 : posix_spawn(&pid, file.c_str(), &actions, &attr, argv.data(), environ);
    return rc == 0 ? pid : -1;
}

// WaitForSingleObject(INFINITE) + GetExitCodeProcess: the exit status, or
// 128 + the signal that ended it (as a shell reports it).
int WaitForExit(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

bool SameNameIgnoringCase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool IsExecutableFile(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The names a bare program name may have: as written, and with ".exe" added
// when it has no extension, as CreateProcess adds it.
std::vector<std::string> ProgramNames(const std::string &name)
{
    std::vector<std::string> names{name};
    if (name.find('.') == std::string::npos)
        names.push_back(name + ".exe");
    return names;
}

} // namespace

std::string ProgramDirectory()
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return std::string();
    return self.parent_path().string();
}

std::string FindProgram(const std::string &name)
{
    if (name.empty())
        return std::string();
    if (name.find('/') != std::string::npos)
        return name;
    const std::vector<std::string> names = ProgramNames(name);

    // The running program's own folder, where rundll32.exe, reg.exe and the
    // others sit beside it; stored texts write their names in any case.
    if (const std::string own = ProgramDirectory(); !own.empty()) {
        for (const std::string &candidate : names) {
            if (IsExecutableFile(own + "/" + candidate))
                return own + "/" + candidate;
        }
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(own, ec)) {
            const std::string file = entry.path().filename().string();
            for (const std::string &candidate : names)
                if (SameNameIgnoringCase(file, candidate) && IsExecutableFile(entry.path().string()))
                    return entry.path().string();
        }
    }

    const char *path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        // An empty PATH entry would mean the current directory; it is not
        // searched, so a stored text never starts a file that merely lies there.
        if (dir.empty())
            continue;
        for (const std::string &candidate : names)
            if (IsExecutableFile(dir + "/" + candidate))
                return dir + "/" + candidate;
    }
    return std::string();
}

std::vector<std::string> SplitCommandLine(const std::string &text)
{
    // The rules of CommandLineToArgvW: blanks separate words outside double
    // quotes; 2n backslashes before a quote give n backslashes and the quote
    // opens or closes; 2n+1 give n backslashes and a literal quote; other
    // backslashes are kept; "" inside quotes is a literal quote.
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\\') {
            std::size_t count = 0;
            while (i < text.size() && text[i] == '\\') {
                ++count;
                ++i;
            }
            if (i < text.size() && text[i] == '"') {
                word.append(count / 2, '\\');
                if (count % 2 == 1)
                    word.push_back('"');
                else
                    quoted = !quoted;
            } else {
                word.append(count, '\\');
                --i;
            }
            continue;
        }
        if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                word.push_back('"');
                ++i;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        word.push_back(c);
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

int RunAndWait(const std::string &program, const std::string &parameters, const std::string &directory)
{
    const std::string path = FindProgram(program);
    if (path.empty())
        return -1;
    std::vector<std::string> args{path};
    for (std::string &a : SplitCommandLine(parameters))
        args.push_back(std::move(a));
    const pid_t pid = Spawn(args, directory, false, false);
    return pid < 0 ? -1 : WaitForExit(pid);
}

int RunCommandText(const std::string &commandText, const std::string &directory, bool wait)
{
    std::vector<std::string> args = SplitCommandLine(commandText);
    if (args.empty())
        return -1;
    args.front() = FindProgram(args.front());
    if (args.front().empty())
        return -1;
    const pid_t pid = Spawn(args, directory, false, !wait);
    if (pid < 0)
        return -1;
    return wait ? WaitForExit(pid) : 0;
}

bool ShellExecuteOpen(const std::string &file, const std::string &parameters, const std::string &directory,
                      ShowState show)
{
    if (file.empty())
        return false;
    std::vector<std::string> args;
    if (file.find('/') != std::string::npos) {
        args.push_back(file);
    } else {
        // A bare name means the file in the given (or current) directory, as
        // ShellExecute looks there first; then the program's own folder and
        // PATH, where the helper programs of stored command texts are.
        const std::string here = (directory.empty() ? std::string(".") : directory) + "/" + file;
        if (::access(here.c_str(), F_OK) == 0) {
            args.push_back("./" + file);
        } else {
            std::string found = FindProgram(file);
            if (found.empty())
                return false;
            args.push_back(std::move(found));
        }
    }
    for (std::string &a : SplitArguments(parameters))
        args.push_back(std::move(a));
    // A program started here asks for no window of its own accord; the show
    // state only matters to windows, which the started program opens itself.
    (void)show;
    return Spawn(args, directory, false, true) > 0;
}

bool OpenWithSystemHandler(const std::string &urlOrPath)
{
    return Spawn({"xdg-open", urlOrPath}, std::string(), true, true) > 0;
}

std::string GetCurrentDirectory()
{
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof buf))
        return std::string();
    return buf;
}

bool FileExists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

} // namespace platform
