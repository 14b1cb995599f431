#include "CWebInstall.h"

#include "CInstallRecord.h"
#include "CProgramStart.h"
#include "CWebScript.h"
#include "LaunchPolicy.h"
#include "LauncherMessages.h"

#include "CDownloader.h"
#include "CInstallWorker.h"
#include "CLogFile.h"
#include "ItemSelection.h"
#include "ScriptPath.h"
#include "SignatureCheck.h"

#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"

#include <unistd.h>

namespace {

// "install_path" is read into a 260-byte buffer: a longer value cannot be read.
constexpr std::size_t kInstallPathBuffer = 260;

// An install folder the engine may use: absolute, with no "." or ".."
// parts, not the root itself.
bool IsUsableInstallFolder(const std::string &folder)
{
    return !folder.empty() && folder.front() == '/' && folder != "/" &&
           installengine::NormalPath(folder) == installengine::RemoveTrailingSeparator(folder);
}

// A "SHA256" value: 64 hexadecimal digits.
bool IsDigestText(const std::string &text)
{
    return text.size() == 64 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// Whether every file the installation downloads (file and codec items) names
// the digest it must have.
bool EveryFileHasDigest(const std::string &scriptPath, const installengine::CInstallLists &items)
{
    for (const auto *list : {&items.files, &items.codecs})
        for (const std::string &section : *list)
            if (!IsDigestText(CWebScript(scriptPath).Value(section, "SHA256"))) {
                VLOG("Kerrow", "The web script's item [%s] carries no SHA256 digest.\n", section.c_str());
                return false;
            }
    return true;
}

} // namespace

CWebInstall::CWebInstall(CInstallerState &state, IInstallWindows &windows, std::string serviceBase,
                         std::string publicKey)
    : m_state(state), m_windows(windows), m_serviceBase(std::move(serviceBase)),
      m_publicKey(std::move(publicKey))
{
}

HRESULT CWebInstall::Run(bool execute, bool showMessages)
{
    m_execute = execute;
    m_showMessages = showMessages;
    m_root.reset();
    m_createdUninstallFile.clear();
    m_state.resultText.clear();
    return Handle(Steps());
}

installengine::CInstallNames CWebInstall::Names() const
{
    return {m_state.progKorName, m_state.progName, m_state.appVersion, m_state.programGroupDir,
            m_state.installDir};
}

CWebInstall::Outcome CWebInstall::Steps()
{
    if (const std::optional<std::string> refusal = CheckLaunchProperties(m_state, m_serviceBase)) {
        VLOG("Kerrow", "A property of the page was refused.\n");
        launcher::ShowMessage(*refusal);
        return Outcome::Refused;
    }

    // The user's own temporary folder holds the script and the downloads;
    // one that another user owns or may enter is not used at all.
    std::string refusal;
    if (platform::GetTempPath(&refusal).empty()) {
        VLOG("Kerrow", "The temporary folder may not be used.\n");
        launcher::ShowMessage(refusal);
        return Outcome::Refused;
    }

    // 1. The web script, into the temporary folder, signed by the service.
    if (!FetchSignedScript())
        return Outcome::Script;

    // 2. Its header and format version.
    switch (CWebScript(m_state.scriptPath).CheckHeader()) {
    case CWebScript::Header::Good:
        break;
    case CWebScript::Header::BadSignature:
        return Outcome::Script;
    case CWebScript::Header::BadVersion:
        return Outcome::Version;
    }

    // 3. The application section.
    if (const Outcome outcome = ReadApplication(); outcome != Outcome::Launch)
        return outcome;

    // What a page may start: Velmor.exe or a program the script names.
    const std::optional<std::string> program =
        StartableProgram(m_state.exeName, CWebScript(m_state.scriptPath).Startable());
    if (!program) {
        launcher::ShowMessage(launcher::FormatMessageText(launcher::kProgramRefused, {m_state.exeName}));
        return Outcome::Refused;
    }
    m_state.exeName = *program;

    // 4. Installed already?
    if (const std::optional<Outcome> outcome = InstalledAlready())
        return *outcome;
    installengine::CInstallLists items = installengine::SelectFirstInstallItems(m_state.scriptPath);
    if (!EveryFileHasDigest(m_state.scriptPath, items))
        return Outcome::Fail;

    // 5, 6. The install folder.
    if (const Outcome outcome = ChooseFolder(); outcome != Outcome::Launch)
        return outcome;

    // 7. The installation.
    return Install(std::move(items));
}

// The web script from under the service base URL, redirects kept there too,
// and its signature at its URL plus ".sig", which must verify under the
// service's key. A script without it is removed again, so nothing reads it.
bool CWebInstall::FetchSignedScript()
{
    CDownloader downloader(launcher::kCaption);
    downloader.limits.followRedirect = [base = m_serviceBase](const std::string &url) {
        return IsUnderServiceBase(url, base);
    };
    std::string local = m_state.script;
    if (!downloader.FetchScript(local)) {
        VLOG("Kerrow", "Could not fetch the web script %s.\n", m_state.script.c_str());
        return false;
    }
    std::string signature = m_state.script + ".sig";
    if (!downloader.FetchScript(signature) || !VerifyFileSignature(local, signature, m_publicKey)) {
        VLOG("Kerrow", "The web script %s carries no valid signature of the service; it is not used.\n",
             m_state.script.c_str());
        ::unlink(local.c_str());
        return false;
    }
    m_state.scriptPath = local;
    return true;
}

// Returns Launch to go on, else the outcome that ends the steps.
CWebInstall::Outcome CWebInstall::ReadApplication()
{
    const CWebScript script(m_state.scriptPath);
    const std::string pgroup = script.PGroup();
    m_state.appVersion = script.Version();
    m_state.subFolder = script.SubFolder();
    m_state.subKey = script.SubKey();
    m_root = installengine::MapRootKey(script.RegKey());
    if (!m_root)
        return Outcome::Fail;
    m_state.regRootName = m_root->name;
    if (m_state.subKey.empty()) {
        VLOG("Kerrow", "The web script names no key for the installation record.\n");
        return Outcome::Fail;
    }
    if (!CWebScript::IsRelativeFolder(pgroup) || !CWebScript::IsRelativeFolder(m_state.subFolder)) {
        VLOG("Kerrow", "The web script's folder names \"%s\" and \"%s\" leave the folders they belong in.\n",
             pgroup.c_str(), m_state.subFolder.c_str());
        return Outcome::Fail;
    }
    m_state.programGroupDir.clear();
    if (!pgroup.empty()) {
        const std::string programs = platform::GetSpecialFolderPath(platform::ShellFolder::Programs);
        if (programs.empty()) {
            VLOG("Kerrow", "There is no Programs folder for the program group.\n");
            return Outcome::Fail;
        }
        m_state.programGroupDir = installengine::JoinPath(programs, pgroup);
    }
    return Outcome::Launch;
}

std::optional<CWebInstall::Outcome> CWebInstall::InstalledAlready()
{
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Open(m_root->root, m_state.subKey, key)))
        return std::nullopt;
    const std::optional<std::string> path = key.ReadString(CInstallRecord::kInstallPathValue);
    if (!path || platform::AnsiLength(*path) >= kInstallPathBuffer)
        return std::nullopt;
    m_state.installDir = *path;
    VLOG("Kerrow", "%s is installed in %s.\n", m_state.progKorName.c_str(), path->c_str());
    if (m_execute)
        return Outcome::Launch;
    if (m_showMessages)
        launcher::ShowMessage(
            launcher::FormatMessageText(launcher::kAlreadyInstalled, {m_state.progKorName}));
    return Outcome::Finish;
}

CWebInstall::Outcome CWebInstall::ChooseFolder()
{
    m_state.installDir.clear();
    const installengine::CInstallNames names = Names();
    const std::string programFiles = installengine::ExpandedPathMacros("%PROGRAM_FILES_DIR%", names);
    std::string base;
    if (m_state.viewConfirm != 0) {
        std::string chosen;
        const int answer = m_windows.Confirm(m_state.progKorName, programFiles, m_state.subFolder, chosen);
        if (answer == IInstallWindows::kConfirmClosed)
            return Outcome::Cancel;
        if (answer != IInstallWindows::kConfirmInstall)
            return Outcome::Fail;
        // The progress window is always shown after the user confirmed.
        m_state.viewProgress = 1;
        m_state.installDir = installengine::NativePath(chosen);
    } else {
        const std::string installPath = CWebScript(m_state.scriptPath).InstallPath();
        base = installPath.empty() ? programFiles : installengine::ExpandedPathMacros(installPath, names);
        m_state.installDir = installengine::NativePath(
            installengine::ExpandedPathMacros(installengine::JoinPath(base, m_state.subFolder), names));
    }
    m_state.installDir = installengine::RemoveTrailingSeparator(m_state.installDir);
    if (!IsUsableInstallFolder(m_state.installDir) ||
        (!base.empty() &&
         !installengine::IsInsideFolder(m_state.installDir, installengine::NativePath(base), true))) {
        VLOG("Kerrow", "\"%s\" is no folder to install into.\n", m_state.installDir.c_str());
        return Outcome::Fail;
    }
    return Outcome::Launch;
}

CWebInstall::Outcome CWebInstall::Install(installengine::CInstallLists items)
{
    using installengine::CInstallWorker;
    installengine::CInstallWorkerOptions options;
    options.scriptPath = m_state.scriptPath;
    options.items = std::move(items);
    options.names = Names();
    options.setup.diskName = kDiskName;
    options.setup.runOnceName = kRunOnceName;
    options.setup.caption = launcher::kCaption;
    options.downloaderCaption = launcher::kCaption;
    CInstallRecordInfo record{*m_root,
                              m_state.subKey,
                              m_state.installDir,
                              m_state.programGroupDir,
                              m_state.progKorName,
                              m_state.exeName,
                              m_state.scriptPath,
                              CWebScript(m_state.scriptPath).UninstallShortCut(),
                              Names()};
    options.onInstalled = [record = CInstallRecord(std::move(record))](installengine::CSetupFile &setup) {
        return record.Write(setup);
    };

    CInstallWorker worker(std::move(options));
    VLOG("Kerrow", "Installing %s into %s.\n", m_state.progKorName.c_str(), m_state.installDir.c_str());
    const int result = m_windows.RunInstallation(worker, m_state.progKorName, m_state.viewProgress != 0);
    if (worker.CreatedUninstallFile())
        m_createdUninstallFile = worker.UninstallFilePath();
    switch (result) {
    case IInstallWindows::kInstallSucceeded:
        if (m_showMessages)
            launcher::ShowMessage(launcher::FormatMessageText(launcher::kInstalled, {m_state.progKorName}));
        return m_execute ? Outcome::Launch : Outcome::Finish;
    case IInstallWindows::kInstallRestart:
        return Outcome::Reboot;
    case IInstallWindows::kInstallCancelled:
        return Outcome::Cancel;
    default:
        return Outcome::Fail;
    }
}

HRESULT CWebInstall::Handle(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Launch:
        m_state.resultText = CProgramStart(m_state).Start();
        return S_OK;
    case Outcome::Finish:
        m_state.resultText = kResultNotExecute;
        return S_OK;
    case Outcome::Script:
        launcher::ShowMessage(launcher::kScriptFailed);
        m_state.resultText = kResultScript;
        return S_FALSE;
    case Outcome::Version:
        launcher::ShowMessage(launcher::kVersionLow);
        m_state.resultText = kResultVersion;
        return S_FALSE;
    case Outcome::Fail:
        launcher::ShowMessage(launcher::kInstallFailed);
        RollBack();
        m_state.resultText = kResultFail;
        return S_FALSE;
    case Outcome::Refused:
        m_state.resultText = kResultFail;
        return S_FALSE;
    case Outcome::Reboot:
        m_state.resultText = kResultReboot;
        return S_FALSE;
    case Outcome::Cancel:
        launcher::ShowMessage(launcher::kCancelled);
        m_state.resultText = kResultCancel;
        return S_FALSE;
    }
    m_state.resultText = kResultFail;
    return S_FALSE;
}

// Only an uninstall file this Install created is run: it removes what this
// installation did and nothing an earlier one left. Its questions are
// emptied and its end message says the machine is as it was; the runner
// starts without being waited for.
void CWebInstall::RollBack()
{
    if (m_createdUninstallFile.empty())
        return;
    const std::string &file = m_createdUninstallFile;
    platform::WritePrivateProfileString("DefaultInstall", "BeginPrompt", "", file);
    platform::WritePrivateProfileString("BeginPromptSection", "prompt", "", file);
    platform::WritePrivateProfileString("BeginPromptSection", "buttontype", "", file);
    platform::WritePrivateProfileString("BeginPromptSection", "Title", "", file);
    platform::WritePrivateProfileString("EndPromptSection", "prompt", launcher::kRolledBack, file);
    const std::string runner = platform::FindProgram("rundll32.exe");
    if (runner.empty() || !platform::ShellExecuteOpen(runner, CInstallRecord::UninstallParameters(file),
                                                      std::string(), platform::ShowState::Normal))
        VLOG("Kerrow", "Could not start rundll32.exe to roll back with %s.\n", file.c_str());
    else
        VLOG("Kerrow", "Rolling back with %s.\n", file.c_str());
}
