#include "platform/ChildProcess.h"

#include "platform/Process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

extern char **environ;

namespace platform {

long CreateProcess(const std::string &application, const std::string &commandLine,
                   const std::string &directory)
{
    if (application.empty())
        return -1;
    std::vector<std::string> words = SplitCommandLine(commandLine);
    if (words.empty())
        words.push_back(application);
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::unique_ptr<posix_spawn_file_actions_t, int (*)(posix_spawn_file_actions_t *)> guard(
        &actions, posix_spawn_file_actions_destroy);
    if (!directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    std::unique_ptr<posix_spawnattr_t, int (*)(posix_spawnattr_t *)> attrGuard(&attr,
                                                                               posix_spawnattr_destroy);
    // It lives on after we end: a process group of its own.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, application.c_str(), &actions, &attr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

namespace {

struct ProcessSample {
    char state = '?';
    unsigned long long cpuTicks = 0;
};

// The state letter and the user plus system time of /proc/PID/stat.
std::optional<ProcessSample> Sample(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return std::nullopt;
    // The command name is in parentheses and may hold blanks.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(line.substr(close + 1));
    ProcessSample sample;
    std::string skip;
    fields >> sample.state;
    // ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt
    for (int i = 0; i < 10; ++i)
        fields >> skip;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    fields >> utime >> stime;
    if (!fields)
        return std::nullopt;
    sample.cpuTicks = utime + stime;
    return sample;
}

} // namespace

InputIdleResult WaitForInputIdle(long pid, int timeoutMs)
{
    if (pid <= 0)
        return InputIdleResult::Failed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::optional<ProcessSample> last;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
        if (done == static_cast<pid_t>(pid))
            return InputIdleResult::Ended;
        if (done < 0)
            return InputIdleResult::Failed;
        const std::optional<ProcessSample> now = Sample(pid);
        if (!now)
            return InputIdleResult::Ended;
        if (last && last->state == 'S' && now->state == 'S' && last->cpuTicks == now->cpuTicks)
            return InputIdleResult::Idle;
        last = now;
        if (std::chrono::steady_clock::now() >= deadline)
            return InputIdleResult::TimedOut;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace platform
