#pragma once
// The body of the control's Install(bExecute, bShowMsg, pVal): fetch the web
// script named by `Script`, check it, find out whether the product is
// installed, install it if not (the install engine on a worker thread under
// the progress window), record the installation, and end in one outcome:
//
//   outcome  result text                       returns  what the user sees
//   launch   Success=Execute / ExecuteFail /   S_OK     (starting the program)
//            "Success = ExecuteWaitSuccess"
//   finish   Success=NotExecute                S_OK     nothing more
//   script   fail=script                       S_FALSE  download failed
//   version  Version                           S_FALSE  installer too old
//   fail     Fail                              S_FALSE  failed; roll-back
//   reboot   Success=Reboot                    S_FALSE  (restart was offered)
//   cancel   Cancel                            S_FALSE  cancelled
//
// A page's request the control refuses (LaunchPolicy.h) ends with its
// message and "Fail" before anything is fetched; a program the web script
// does not allow to be started, once the script is read.
//
// Only the service's own web script is used: it is fetched from under the
// service base URL (redirects elsewhere are not followed), together with its
// Ed25519 signature at its URL plus ".sig", which must verify under the
// public key fixed at registration; else "script", and nothing more is
// fetched. Every file item the installation takes must carry "SHA256"
// (else "fail" before anything is downloaded), and a file whose digest
// differs is not installed.
//
// Runs on the caller's (the page's) thread; only the install worker runs
// on a thread of its own, inside IInstallWindows::RunInstallation.
#include "CInstallerState.h"
#include "IInstallWindows.h"

#include "CInstallLists.h"
#include "Macros.h"

#include <optional>
#include <string>

class CWebInstall {
public:
    static constexpr char kResultNotExecute[] = "Success=NotExecute";
    static constexpr char kResultScript[] = "fail=script";
    static constexpr char kResultVersion[] = "Version";
    static constexpr char kResultFail[] = "Fail";
    static constexpr char kResultReboot[] = "Success=Reboot";
    static constexpr char kResultCancel[] = "Cancel";

    // The setup-file differences of the web launcher.
    static constexpr char kDiskName[] = "Quenta, Setup Disk";
    static constexpr char kRunOnceName[] = "Pellune";

    // `serviceBase`: the service site's base URL fixed at registration;
    // `Script` must lie under it. `publicKey`: the service's script key
    // (base64 Ed25519) fixed with it.
    CWebInstall(CInstallerState &state, IInstallWindows &windows, std::string serviceBase,
                std::string publicKey);

    // The whole flow; S_OK or S_FALSE, the result text in state.resultText.
    HRESULT Run(bool execute, bool showMessages);

private:
    enum class Outcome { Launch, Finish, Script, Version, Fail, Reboot, Cancel, Refused };

    Outcome Steps();
    bool FetchSignedScript();
    Outcome ReadApplication();
    std::optional<Outcome> InstalledAlready();
    Outcome ChooseFolder();
    Outcome Install(installengine::CInstallLists items);
    HRESULT Handle(Outcome outcome);
    void RollBack();
    installengine::CInstallNames Names() const;

    CInstallerState &m_state;
    IInstallWindows &m_windows;
    std::string m_serviceBase;
    std::string m_publicKey;
    bool m_execute = false;
    bool m_showMessages = false;
    std::optional<installengine::CRootKey> m_root;
    // The uninstall file this Install created, for the roll-back.
    std::string m_createdUninstallFile;
};
