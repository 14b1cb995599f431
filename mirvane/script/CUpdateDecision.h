#pragma once
// The update decision: after the start-up checks of the configuration, it
// fetches the update script, updates the updater itself when its version is
// not the script's, shows the script's messages, fetches the launch script,
// decides what to install, runs the download form and the update list, and
// ends in one outcome that one handler carries out (start the program, say
// why not, or end).
//
//  0  the user's own temporary folder               refused: its message, end
//  1  fetch the update script                       failure: "script"
//  2  the copy ("/patch", in the patch folder): install the updater's
//     patch, start the new updater with "/patch"
//  3  status window "업데이트 정보를 확인하는 중입니다..."
//  4  "script"/"Signature" is "$WEB_UPDATER$"        else "script"
//  5  "updater"/"Version" is the running updater's   else self-update, end;
//     the copy ends here; an updater started with "/patch" that is still
//     not the script's shows the patch failure and goes on with "script"
//  6  "script"/"Version" is "1.1"                    else "script"
//  7  the messages of "application"/"Message"
//  8  the launch script, "RegKey" (else "registry"), the launch items missing
//  9  the items newer than the installed version, the step count
// 10  no step: "launch"; else the download form: "cancel", "download", "reboot"
// 11  the update list when the script has "Information": "launch" or end
//
// Outcomes, "blocked" meaning the configuration is online or its version is
// below "application"/"NecessaryVer":
//   launch            the launch items' questions, then the program
//   script            a message, then the program
//   cancel            blocked: a message and end; else the program
//   download/registry blocked: a message and end; else a message and the program
//   reboot            end (the install engine offered the restart)
//
// Runs on the window thread; the forms it opens are modal. The outcome
// words are raised and caught inside Run() only.
#include "CDownloader.h"
#include "CLaunchScript.h"
#include "CMirvaneCommandLine.h"
#include "CMirvaneConfig.h"
#include "IUpdateUi.h"

#include <string>
#include <vector>

class CUpdateDecision {
public:
    static constexpr const char *kScriptSignature = "$WEB_UPDATER$";
    static constexpr const char *kScriptFormat = "1.1";
    static constexpr std::size_t kScriptBuffer = 8192;
    // Caption of plain message boxes and of the install engine's questions.
    static constexpr const char *kCaption = "Mirvane";

    // How a run ended, for the program's exit status.
    enum class Result {
        Started,    // the program was started
        HandedOver, // another updater carries on (self-update)
        Ended,      // ended without starting the program, as the user or the script chose
        Failed,     // ended after a failure message
    };

    // `updaterVersion` is the running updater's own version ("1.22").
    CUpdateDecision(CMirvaneConfig &config, const CMirvaneCommandLine &commandLine, IUpdateUi &ui,
                    std::string updaterVersion);

    // The whole decision and its outcome.
    Result Run();

    // The outcome word of the last Run(): one of UpdateTexts' words.
    const std::string &Outcome() const { return m_outcome; }

    // The downloader every fetch goes through; its limits may be changed
    // before Run().
    CDownloader &Downloader() { return m_downloader; }

private:
    [[noreturn]] void Raise(const char *outcome);
    void Decide();
    void ShowMessages();
    void SelfUpdate();
    void PatchMode();
    std::string Value(const char *section, const char *key, const char *defaultValue = "") const;
    bool Blocked() const;
    Result Carry(const std::string &outcome);
    void OfferLaunchItems();
    Result StartProgram();
    int Message(const std::string &text, unsigned type);

    CMirvaneConfig &m_config;
    const CMirvaneCommandLine &m_commandLine;
    IUpdateUi &m_ui;
    std::string m_updaterVersion;
    CDownloader m_downloader;
    bool m_haveScript = false;
    std::vector<CLaunchItem> m_launchItems;
    std::string m_outcome;
};
