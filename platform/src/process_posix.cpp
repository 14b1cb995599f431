#include "platform/Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

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

static bool Spawn(const std::vector<std::string> &args, const std::string &directory, bool quiet)
{
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
    // The started program lives on after we end; it gets its own process group
    // so a signal to ours does not take it along.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = 0;
    const std::string &file = args.front();
    int rc = file.find('/') == std::string::npos
                 ? posix_spawnp(&pid, file.c_str(), &actions, &attr, argv.data(), environ)
                 : posix_spawn(&pid, file.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    return rc == 0;
}

bool ShellExecuteOpen(const std::string &file, const std::string &parameters,
                      const std::string &directory, ShowState show)
{
    if (file.empty())
        return false;
    std::vector<std::string> args;
    // A bare name means the file in the given (or current) directory, as
    // ShellExecute looks there first.
    if (file.find('/') == std::string::npos)
        args.push_back("./" + file);
    else
        args.push_back(file);
    for (std::string &a : SplitArguments(parameters))
        args.push_back(std::move(a));
    // A program started here asks for no window of its own accord; the show
    // state only matters to windows, which the started program opens itself.
    (void)show;
    return Spawn(args, directory, false);
}

bool OpenWithSystemHandler(const std::string &urlOrPath)
{
    return Spawn({"xdg-open", urlOrPath}, std::string(), true);
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
