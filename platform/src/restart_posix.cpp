#include "platform/Restart.h"

#include "platform/Display.h"
#include "platform/PlatformLog.h"
#include "platform/Process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <string>

extern char **environ;

namespace platform {
namespace {

// Runs `command` through /bin/sh and waits: its exit status, or -1.
int RunShell(const std::string &command)
{
    const char *argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char **>(argv), environ) != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

bool RestartSystem()
{
    if (const char *command = std::getenv("VELMOR_RESTART_COMMAND"); command && *command) {
        PLATFORM_LOG("Restart", "시스템 재시작 대신 VELMOR_RESTART_COMMAND를 실행합니다: %s\n", command);
        const int status = RunShell(command);
        if (status != 0)
            PLATFORM_LOG("Restart", "VELMOR_RESTART_COMMAND가 실패했습니다 (종료 코드 %d).\n", status);
        return status == 0;
    }
    if (!HasDisplay()) {
        // A machine without a display (a server, a test, a remote shell) is
        // not restarted behind its user's back.
        PLATFORM_LOG("Restart", "화면이 없고 VELMOR_RESTART_COMMAND도 없어 시스템을 재시작하지 않습니다.\n");
        return false;
    }
    // logind reboots when the session's user may do so (polkit decides).
    PLATFORM_LOG("Restart", "logind에 시스템 재시작을 요청합니다 (systemctl reboot).\n");
    const int status = RunAndWait("systemctl", "reboot", std::string());
    if (status != 0)
        PLATFORM_LOG("Restart", "시스템 재시작 요청이 거절되었습니다 (systemctl 종료 코드 %d).\n", status);
    return status == 0;
}

} // namespace platform
