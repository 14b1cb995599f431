#pragma once
// The "launch" outcome of an Install: starts `ExeName` from the install
// folder and gives the result text.
//
// - The file is missing: "'%s'(을)를 찾을 수 없습니다..." and
//   "Success=ExecuteFail".
// - `Waiting` set: the program is started with its quoted path, a blank and
//   the page's own `Argument` (not rebuilt), in the launcher's current
//   folder, and the launcher waits until it has come to rest (see
//   platform::WaitForInputIdle, at most kIdleWaitMs): "Success =
//   ExecuteWaitSuccess".
// - Otherwise the command line for the role is built into `Argument` and
//   the program started in the install folder: "Success=Execute".
// A start that fails shows "프로그램의 설치가 완료되었으나..." and gives
// "Success=ExecuteFail".
#include "CInstallerState.h"

#include <string>

class CProgramStart {
public:
    static constexpr char kResultExecute[] = "Success=Execute";
    static constexpr char kResultExecuteFail[] = "Success=ExecuteFail";
    static constexpr char kResultExecuteWait[] = "Success = ExecuteWaitSuccess";
    // How long the waiting start waits for the program to come to rest.
    static constexpr int kIdleWaitMs = 10000;

    explicit CProgramStart(CInstallerState &state) : m_state(state) {}

    // Starts the program from m_state.installDir; the result text.
    std::string Start();

    // The install folder joined with `ExeName` by one separator.
    std::string ProgramPath() const;

private:
    std::string StartWaiting(const std::string &path);
    std::string StartNormally(const std::string &path);
    std::string Failed();

    CInstallerState &m_state;
};
