#include "CUpdateDecision.h"

#include "CLogFile.h"
#include "CSelfUpdate.h"
#include "CUpdateOutcome.h"
#include "ItemSelection.h"
#include "Macros.h"
#include "ScriptFetch.h"
#include "ScriptPath.h"
#include "TextFormat.h"
#include "UpdateTexts.h"

#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/Profile.h"
#include "platform/ShellFolders.h"

#include <exception>
#include <optional>

using namespace UpdateTexts;

namespace {

// "\n" written as two characters in a script's message becomes a line break.
std::string WithLineBreaks(std::string text)
{
    for (std::size_t at = text.find("\\n"); at != std::string::npos; at = text.find("\\n", at + 1))
        text.replace(at, 2, "\n");
    return text;
}

} // namespace

CUpdateDecision::CUpdateDecision(CMirvaneConfig &config, const CMirvaneCommandLine &commandLine,
                                 IUpdateUi &ui, std::string updaterVersion)
    : m_config(config), m_commandLine(commandLine), m_ui(ui), m_updaterVersion(std::move(updaterVersion)),
      m_downloader(kCaption)
{
}

void CUpdateDecision::Raise(const char *outcome)
{
    throw CUpdateOutcome(outcome);
}

std::string CUpdateDecision::Value(const char *section, const char *key, const char *defaultValue) const
{
    return platform::GetPrivateProfileString(section, key, defaultValue, kScriptBuffer, m_config.Script);
}

int CUpdateDecision::Message(const std::string &text, unsigned type)
{
    return m_ui.MessageBox(text, type);
}

CUpdateDecision::Result CUpdateDecision::Run()
{
    std::string outcome;
    try {
        Decide();
        outcome = kLaunch;
    } catch (const CUpdateOutcome &raised) {
        outcome = raised.Text();
    } catch (const std::exception &error) {
        // Nothing the decision calls is meant to throw; should it happen,
        // the update is off and the program still starts.
        VLOG("Mirvane", "업데이트 판단 중 예외가 발생했습니다: %s\n", error.what());
        outcome = kScript;
    }
    m_outcome = outcome;
    VLOG("Mirvane", "업데이트 결과: %s\n", outcome.c_str());
    return Carry(outcome);
}

void CUpdateDecision::Decide()
{
    // Every download goes to the user's own temporary folder; one that
    // another user owns or may enter is not used at all.
    std::string refusal;
    if (platform::GetTempPath(&refusal).empty()) {
        VLOG("Mirvane", "임시 폴더를 쓸 수 없습니다.\n");
        Message(refusal, platform::MB_OK);
        Raise(kStop);
    }

    // 1. The update script; from here on m_config.Script is its local copy.
    if (!FetchUpdateScript(m_downloader, m_config.Script, m_config.PublicKey))
        Raise(kScript);
    m_haveScript = true;

    // 2. The temporary copy installs the patch and starts the new updater.
    const bool copy = m_commandLine.IsPatch() && CSelfUpdate::RunningAsCopy();
    if (copy)
        PatchMode();

    // 3. to 6.
    m_ui.ShowStatus(kChecking, Value("updater", "MsgImg"));
    if (!SameTextIgnoringCase(Value("script", "Signature"), kScriptSignature))
        Raise(kScript);
    const std::string updaterVersion = Value("updater", "Version");
    if (copy || !SameTextIgnoringCase(updaterVersion, m_updaterVersion)) {
        // The copy of a self-update ends here: the new updater carries on.
        m_ui.CloseStatus();
        if (copy)
            Raise(kHandover);
        // Started after a patch that did not make this the script's
        // updater: another self-update would only repeat it, for ever.
        if (m_commandLine.IsPatch()) {
            VLOG("Mirvane", "패치 후에도 업데이터 버젼(%s)이 스크립트의 버젼(%s)과 다릅니다.\n",
                 m_updaterVersion.c_str(), updaterVersion.c_str());
            Message(kPatchFailed, platform::MB_OK);
            Raise(kScript);
        }
        // A script that names no updater or no patch cannot replace this
        // one; it is a broken script, not a reason to stop the program.
        if (updaterVersion.empty() || Value("updater", "Patch").empty())
            Raise(kScript);
        SelfUpdate();
    }
    if (!SameTextIgnoringCase(Value("script", "Version"), kScriptFormat))
        Raise(kScript);

    // 7.
    ShowMessages();

    // 8. The launch script; a failed fetch only leaves its lists empty.
    std::string launchPath;
    if (!m_config.Launch.empty()) {
        std::string local = m_config.Launch;
        if (FetchUpdateScript(m_downloader, local, m_config.PublicKey)) {
            m_config.Launch = local;
            launchPath = local;
        }
    }
    const std::string regKey = Value("application", "RegKey");
    const std::optional<installengine::CRootKey> root = installengine::MapRootKey(regKey);
    if (!root)
        Raise(kRegistry);
    m_launchItems = CLaunchScript::MissingItems(launchPath, root->root);

    // 9.
    const installengine::CInstallNames names = m_config.InstallNames();
    const std::string appVersion = Value("application", "version");
    const bool newer = installengine::CompareVersionText(m_config.Version, appVersion) < 0;
    installengine::CInstallLists lists;
    if (newer)
        lists = installengine::SelectUpdateItems(m_config.Script, m_config.Version, names);
    const int steps = installengine::CountInstallSteps(m_config.Script, lists, m_launchItems.size());
    VLOG("Mirvane", "설치 버젼 %s, 스크립트 버젼 %s, 단계 %d\n", m_config.Version.c_str(), appVersion.c_str(),
         steps);

    // 10.
    if (steps == 0)
        Raise(kLaunch);
    installengine::CInstallWorkerOptions options;
    options.scriptPath = m_config.Script;
    options.items = lists;
    options.launchScriptPath = launchPath;
    for (const CLaunchItem &item : m_launchItems)
        options.launchItems.push_back(item.section);
    options.regKey = regKey;
    options.names = names;
    options.setup.caption = kCaption;
    options.downloaderCaption = kCaption;
    options.downloadLimits = m_downloader.limits;
    options.stepTotal = steps;
    const bool application = !lists.Empty();
    if (application) {
        // The installed version, written back on the worker's thread once
        // every item is in place; the file only, the values here follow below.
        const std::string path = m_config.Path();
        const std::string installed = m_config.Version;
        options.onInstalled = [path, installed, appVersion](installengine::CSetupFile &) {
            return CMirvaneConfig::WriteVersionTo(path, installed, appVersion);
        };
    }
    switch (m_ui.RunDownloadForm(options, Value("updater", "TitleImg"))) {
    case 1:
        break;
    case 2:
        Raise(kCancel);
    case 3:
        Raise(kDownload);
    case 5:
        Raise(kReboot);
    default:
        Raise(kEnd);
    }
    if (application)
        m_config.Version = appVersion;

    // 11.
    if (!application)
        Raise(kLaunch);
    const std::string information = Value("application", "Information");
    if (information.empty())
        Raise(kLaunch);
    if (m_ui.RunUpdateList(information, Value("updater", "TitleImg")) == platform::IDYES)
        Raise(kLaunch);
    Raise(kEnd);
}

void CUpdateDecision::ShowMessages()
{
    const installengine::CInstallNames names = m_config.InstallNames();
    for (const std::string &item :
         installengine::SelectUpdateItems(m_config.Script, "Message", m_config.Version, names)) {
        m_ui.CloseStatus();
        const std::string type = Value(item.c_str(), "MsgType");
        unsigned style;
        if (SameTextIgnoringCase(type, "msgOK"))
            style = platform::MB_OK;
        else if (SameTextIgnoringCase(type, "msgOKCANCEL"))
            style = platform::MB_OKCANCEL;
        else
            continue;
        const int answer = Message(WithLineBreaks(Value(item.c_str(), "Msg")), style);
        const bool ok = answer != platform::IDCANCEL;
        const std::string url = Value(item.c_str(), ok ? "OK_URL" : "CANCEL_URL");
        if (!url.empty() && !m_ui.OpenUrl(url))
            VLOG("Mirvane", "페이지를 열지 못했습니다: %s\n", url.c_str());
        if (SameTextIgnoringCase(Value(item.c_str(), ok ? "OK_UpdateOption" : "CANCEL_UpdateOption"), "no"))
            Raise(kEnd);
    }
}

void CUpdateDecision::SelfUpdate()
{
    CSelfUpdate update(m_ui, m_downloader);
    Raise(update.StartCopy(m_commandLine.Line()) ? kHandover : kStop);
}

void CUpdateDecision::PatchMode()
{
    // Nothing is installed from a file that is no update script.
    if (!SameTextIgnoringCase(Value("script", "Signature"), kScriptSignature))
        Raise(kScript);
    CSelfUpdate update(m_ui, m_downloader);
    m_config.Script = update.OwnCopyOfScript(m_config.Script);
    if (m_config.Script.empty() ||
        !update.InstallPatch(Value("updater", "Patch"), Value("updater", "SHA256"), m_config.InstallDir) ||
        !update.StartNewUpdater(m_config.InstallDir, m_commandLine.PassThrough()))
        Raise(kStop);
}

bool CUpdateDecision::Blocked() const
{
    if (m_config.Online)
        return true;
    return m_haveScript &&
           installengine::CompareVersionText(m_config.Version, Value("application", "NecessaryVer")) < 0;
}

CUpdateDecision::Result CUpdateDecision::Carry(const std::string &outcome)
{
    m_ui.CloseStatus();
    if (outcome == kLaunch) {
        OfferLaunchItems();
        return StartProgram();
    }
    if (outcome == kScript) {
        Message(kScriptFailed, platform::MB_OK);
        return StartProgram();
    }
    if (outcome == kCancel) {
        if (!Blocked())
            return StartProgram();
        Message(kCancelBlocked, platform::MB_OK);
        return Result::Ended;
    }
    if (outcome == kDownload || outcome == kRegistry) {
        if (Blocked()) {
            Message(kDownloadBlocked, platform::MB_OK);
            return Result::Failed;
        }
        Message(kDownloadContinue, platform::MB_OK);
        return StartProgram();
    }
    if (outcome == kHandover)
        return Result::HandedOver;
    if (outcome == kStop)
        return Result::Failed;
    return Result::Ended; // "reboot", "end"
}

void CUpdateDecision::OfferLaunchItems()
{
    const installengine::CInstallNames names = m_config.InstallNames();
    for (const CLaunchItem &item : m_launchItems)
        if (!item.install)
            Message(item.information, platform::MB_OK);
    for (const CLaunchItem &item : m_launchItems) {
        if (!item.install || Message(item.information, platform::MB_YESNO) != platform::IDYES)
            continue;
        const std::string folder =
            installengine::NativePath(installengine::ExpandedPathMacros(item.destDir, names));
        const std::string file =
            installengine::JoinPath(folder, installengine::ExpandedPathMacros(item.fileName, names));
        if (!platform::ShellExecuteOpen(file, std::string(), folder, platform::ShowState::Hidden))
            VLOG("Mirvane", "추가 프로그램을 실행하지 못했습니다: %s\n", file.c_str());
        if (!item.installCount.empty())
            m_downloader.FetchQuery(item.installCount);
    }
}

CUpdateDecision::Result CUpdateDecision::StartProgram()
{
    const std::string program = installengine::NativePath(m_config.Execute);
    if (program.empty() || !platform::FileExists(program)) {
        Message(FormatText(kProgramMissing, {m_config.Execute, m_config.KorName}), platform::MB_OK);
        return Result::Failed;
    }
    const std::size_t slash = program.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : program.substr(0, slash);
    // "/patch" is the updater's own word, never the program's.
    const std::string parameters =
        m_config.Argument + " " +
        (m_commandLine.IsPatch() ? m_commandLine.PassThrough() : m_commandLine.Line());
    VLOG("Mirvane", "프로그램 실행: %s %s\n", program.c_str(), parameters.c_str());
    if (!platform::ShellExecuteOpen(program, parameters, folder.empty() ? "/" : folder,
                                    platform::ShowState::Hidden)) {
        Message(FormatText(kProgramFailed, {m_config.Execute}), platform::MB_OK);
        return Result::Failed;
    }
    return Result::Started;
}
