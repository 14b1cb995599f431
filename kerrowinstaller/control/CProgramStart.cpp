#include "CProgramStart.h"

#include "CLogFile.h"
#include "LaunchArguments.h"
#include "LauncherMessages.h"
#include "ScriptPath.h"

#include "platform/ChildProcess.h"
#include "platform/Process.h"

std::string CProgramStart::ProgramPath() const
{
    return installengine::JoinPath(m_state.installDir, m_state.exeName);
}

std::string CProgramStart::Start()
{
    const std::string path = ProgramPath();
    if (!platform::FileExists(path)) {
        launcher::ShowMessage(
            launcher::FormatMessageText(launcher::kProgramMissing, {m_state.exeName, m_state.progKorName}));
        return kResultExecuteFail;
    }
    return m_state.waiting != 0 ? StartWaiting(path) : StartNormally(path);
}

std::string CProgramStart::StartWaiting(const std::string &path)
{
    const std::string commandLine = "\"" + path + "\" " + m_state.argument;
    const long pid = platform::CreateProcess(path, commandLine, std::string());
    if (pid < 0)
        return Failed();
    const platform::InputIdleResult idle = platform::WaitForInputIdle(pid, kIdleWaitMs);
    VLOG("Kerrow", "%s started (process %ld) and %s.\n", path.c_str(), pid,
         idle == platform::InputIdleResult::Idle    ? "came to rest"
         : idle == platform::InputIdleResult::Ended ? "ended"
                                                    : "was still busy when the wait ended");
    return kResultExecuteWait;
}

std::string CProgramStart::StartNormally(const std::string &path)
{
    m_state.argument = BuildLaunchArguments(m_state);
    if (!platform::ShellExecuteOpen(path, m_state.argument, m_state.installDir, platform::ShowState::Normal))
        return Failed();
    VLOG("Kerrow", "Started %s with \"%s\".\n", path.c_str(), m_state.argument.c_str());
    return kResultExecute;
}

std::string CProgramStart::Failed()
{
    launcher::ShowMessage(launcher::FormatMessageText(launcher::kProgramNotStarted, {m_state.progKorName}));
    return kResultExecuteFail;
}
