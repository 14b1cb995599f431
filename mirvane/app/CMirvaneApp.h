#pragma once
// The application object of Mirvane.exe: it holds the configuration, the
// command line and the log for the whole run, makes the window system,
// runs the start-up checks of "Mirvane.cfg" and of the skin control, and
// then the update decision.
//
// Start-up, before any network access:
// 1. "Mirvane.cfg" in the current directory must exist, else the plain box
//    "환경설정 파일이 없습니다. 다시설치해 주세요." (caption "Mirvane").
// 2. Every key is read; InstallDir and PgroupDir are resolved.
// 3. The configuration must be valid, else "환경설정 파일이 정상적이지
//    않습니다." in the skinned box (the plain one when the skin fails).
// 4. The skin control must be registered, present and at least 4.3.0.0,
//    else a plain box with KorName as caption and the error icon.
// Each refusal ends the run after its one message, changing nothing.
//
// The log is "mirvane.log" (CP949) in the current directory, opened once
// the configuration is found there.
#include "CLogFile.h"
#include "CMirvaneCommandLine.h"
#include "CMirvaneConfig.h"
#include "CUpdateDecision.h"

#include <memory>
#include <string>

class QApplication;

class CMirvaneApp {
public:
    static constexpr const char *kLogName = "mirvane.log";

    // `updaterVersion` is this build's own version ("1.22").
    explicit CMirvaneApp(std::string updaterVersion);
    ~CMirvaneApp();
    CMirvaneApp(const CMirvaneApp &) = delete;
    CMirvaneApp &operator=(const CMirvaneApp &) = delete;

    // The whole run: Failed when a start-up check refused, else the
    // decision's result.
    CUpdateDecision::Result Run(int argc, char **argv);

    const CMirvaneConfig &Config() const { return m_config; }

private:
    bool CheckConfiguration();

    std::string m_updaterVersion;
    CMirvaneConfig m_config;
    CMirvaneCommandLine m_commandLine;
    CLogFile m_log;
    std::unique_ptr<QApplication> m_qtApp;
};
