#include "CInstallWorker.h"

#include "CCabInstallExtractor.h"
#include "CInstallOutcome.h"
#include "CInstallPlaces.h"
#include "ComponentRegistration.h"
#include "InstallActions.h"
#include "ItemSelection.h"

#include "CCabFileExtractor.h"
#include "CDownloader.h"
#include "CInstallSteps.h"
#include "CLogFile.h"
#include "InfLine.h"
#include "Macros.h"
#include "ScriptPath.h"

#include "platform/FileVersion.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

namespace installengine {
namespace {

constexpr std::size_t kScriptBuffer = 8192;

const char *kDriversKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
const char *kDriversDescKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc";
const char *kLaunchKey = "Software\\Quenta\\Velmor\\Launch_GUID\\";

bool SameText(const std::string &a, const char *b)
{
    return ::strcasecmp(a.c_str(), b) == 0;
}

// A message text with its one "%s" replaced by `argument` (never used as a
// printf format: the argument comes from the script).
std::string FormatText(std::string_view text, const std::string &argument)
{
    std::string out(text);
    const std::size_t at = out.find("%s");
    if (at != std::string::npos)
        out.replace(at, 2, argument);
    return out;
}

bool Exists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::optional<long long> FileSize(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<long long>(st.st_size);
}

// The download's extension, the text after the last "." of its name.
bool IsCabinet(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
           ::strcasecmp(path.c_str() + dot + 1, "cab") == 0;
}

[[noreturn]] void Raise(const char *outcome)
{
    throw CInstallOutcome(outcome);
}

// A file or codec item of the script.
struct CFileItem {
    std::string section;
    std::string src;
    std::string sha256;
    std::string folder;   // DestDir: native, checked
    std::string fileName; // Filename
    bool registerServer = false;
    bool runOnce = false;
    bool keepOnUninstall = false;
    long long expectedSize = 0;
    std::string cmdLine;
    std::string runOnceOpt;
    std::string existOption;
    // Codecs: 1 "%AUDIO_CODEC%", 2 "%VIDEO_CODEC%", 3 "%DSHOW_FILTER%", 0 other.
    int codecKind = 0;
    std::string majorName;
    std::string minorName;

    std::string localPath; // the download, until it is moved into place
    bool existed = false;  // the destination was there before the item
    bool deferred = false; // copied into place at the next start

    std::string Path() const { return JoinPath(folder, fileName); }
};

// A launch item of the launch script.
struct CLaunchItem {
    std::string section;
    std::string guid;
    std::string url;
    std::string folder;
    std::string fileName;
    std::string downCount;
    std::string localPath;
};

// How a file item ended.
enum class FileResult { Installed, Kept, Deferred };

} // namespace

// One run of the worker: the state of one installation.
class CInstallWorker::CRun {
public:
    CRun(const CInstallWorkerOptions &options, platform::HANDLE cancelEvent, IInstallProgress &progress,
         int stepTotal);
    ~CRun();
    CRun(const CRun &) = delete;
    CRun &operator=(const CRun &) = delete;

    // The stages in order; raises the outcome of a failed one. Returns
    // INSTALL_WORKER_SUCCESS or INSTALL_WORKER_RESTART.
    int Install();
    bool CreatedUninstallFile() const { return m_createdUninstallFile; }

private:
    static CSetupFileOptions SetupOptions(const CInstallWorkerOptions &options);

    std::string Value(const std::string &section, const char *key, const char *defaultValue = "") const;
    std::string Expanded(const std::string &section, const char *key) const;
    std::string CheckedFolder(const std::string &section, const std::string &text) const;
    void CheckName(const std::string &section, const std::string &name) const;
    void CheckRecordable(const std::string &section, const std::string &name) const;
    void CheckRecordableNames() const;
    std::string WaitingName(const std::string &destination);
    CFileItem ReadFileItem(const std::string &section, bool codec) const;
    void Stage(const char *text);
    void Ask(const std::string &text);
    template <typename F> void ForItem(F &&action);

    // Stage 1.
    void Download(std::string &localPath, const std::string &url, const std::string &sha256);
    void MoveAsideDownloadsAt(const std::string &path);
    void MoveWaitingFileFrom(const std::string &path);
    const std::string &WorkDir();
    // Stages 3 to 11.
    void UninstallRecord(const std::string &section);
    void LaunchItem(CLaunchItem &item, const CRootKey &root);
    FileResult InstallFile(CFileItem &item);
    std::string NewFile(const CFileItem &item);
    void Keep(const CFileItem &item);
    void Defer(CFileItem &item, const std::string &newFile);
    void InstallNow(CFileItem &item);
    void RegistryItem(const std::string &section);
    void IniItem(const std::string &section);
    void LinkItem(const std::string &section);
    void Register(const CFileItem &item);
    void CodecItem(CFileItem &codec);
    void WriteCodecValue(const char *key, const std::string &name, const std::string &value, bool uninstall);
    void RunItem(const CFileItem &item);

    const CInstallWorkerOptions &m_options;
    platform::HANDLE m_cancel;
    IInstallProgress &m_progress;
    CInstallSteps m_steps;
    CSetupFile m_setup;
    CDownloader m_downloader;
    CInstallPlaces m_places;
    std::string m_caption;
    std::string m_workDir;
    int m_workCount = 0;
    bool m_createdUninstallFile = false;
    // The names taken beside the install file: waiting name -> destination
    // (normal form), also those of an earlier installation's files that
    // still wait for the next start.
    std::map<std::string, std::string> m_waiting;
    std::vector<CFileItem> m_files;
    std::vector<CFileItem> m_codecs;
    std::vector<CLaunchItem> m_launches;
};

CSetupFileOptions CInstallWorker::CRun::SetupOptions(const CInstallWorkerOptions &options)
{
    CSetupFileOptions setup = options.setup;
    if (setup.korName.empty())
        setup.korName = options.names.korName;
    if (setup.engName.empty())
        setup.engName = options.names.engName;
    if (setup.tempDir.empty())
        setup.tempDir = platform::GetTempPath();
    if (setup.installDir.empty())
        setup.installDir = options.names.installDir;
    return setup;
}

CInstallWorker::CRun::CRun(const CInstallWorkerOptions &options, platform::HANDLE cancelEvent,
                           IInstallProgress &progress, int stepTotal)
    : m_options(options), m_cancel(cancelEvent), m_progress(progress), m_steps(progress, stepTotal),
      m_setup(SetupOptions(options)),
      m_downloader(options.downloaderCaption.empty() ? m_setup.Options().caption : options.downloaderCaption),
      m_places(options.names), m_caption(m_setup.Options().caption)
{
    m_downloader.limits = options.downloadLimits;
}

CInstallWorker::CRun::~CRun()
{
    if (!m_workDir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_workDir, ec);
    }
}

std::string CInstallWorker::CRun::Value(const std::string &section, const char *key,
                                        const char *defaultValue) const
{
    return platform::GetPrivateProfileString(section, key, defaultValue, kScriptBuffer, m_options.scriptPath);
}

std::string CInstallWorker::CRun::Expanded(const std::string &section, const char *key) const
{
    return ExpandedPathMacros(Value(section, key), m_options.names);
}

std::string CInstallWorker::CRun::CheckedFolder(const std::string &section, const std::string &text) const
{
    if (std::optional<std::string> folder = m_places.Folder(text))
        return *folder;
    VLOG("Install", "[%s] names the folder \"%s\", which is outside the folders an installation may use.\n",
         section.c_str(), text.c_str());
    Raise(CInstallOutcome::kError);
}

void CInstallWorker::CRun::CheckName(const std::string &section, const std::string &name) const
{
    if (CInstallPlaces::IsPlainName(name))
        return;
    VLOG("Install", "[%s] names the file \"%s\", which is no file name.\n", section.c_str(), name.c_str());
    Raise(CInstallOutcome::kError);
}

// A name the setup files cannot hold (a line break in it) would be lost or
// break their lines: the installation is refused before anything is done.
void CInstallWorker::CRun::CheckRecordable(const std::string &section, const std::string &name) const
{
    if (EncodeInfName(name))
        return;
    VLOG("Install", "[%s] names \"%s\", which the setup files cannot hold.\n", section.c_str(), name.c_str());
    std::string shown = name;
    for (char &c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    platform::ShowMessageBox(FormatText(kNameRefused, shown), m_caption,
                             platform::MB_OK | platform::MB_ICONEXCLAMATION);
    Raise(CInstallOutcome::kError);
}

void CInstallWorker::CRun::CheckRecordableNames() const
{
    const CSetupFileOptions &setup = m_setup.Options();
    for (const std::string *name : {&setup.korName, &setup.engName, &setup.installDir})
        CheckRecordable("application", *name);
    const CInstallLists &items = m_options.items;
    const std::pair<const std::vector<std::string> &, std::vector<const char *>> lists[] = {
        {items.files, {"DestDir", "Filename"}},
        {items.codecs, {"DestDir", "Filename", "MajorName"}},
        {items.uninstalls, {"DestDir", "Filename"}},
        {items.registries, {"SubKey", "ValName"}},
        {items.inis, {"DestDir", "Filename", "Section", "Key"}},
        {items.links, {"DestDir", "Name"}},
    };
    for (const auto &[sections, keys] : lists)
        for (const std::string &section : sections)
            for (const char *key : keys)
                CheckRecordable(section, Expanded(section, key));
}

CFileItem CInstallWorker::CRun::ReadFileItem(const std::string &section, bool codec) const
{
    CFileItem item;
    item.section = section;
    item.src = Value(section, "Src");
    item.sha256 = Value(section, "SHA256");
    item.folder = CheckedFolder(section, Expanded(section, "DestDir"));
    item.fileName = Expanded(section, "Filename");
    CheckName(section, item.fileName);
    item.keepOnUninstall = SameText(Value(section, "Uninstall"), "no");
    item.expectedSize = std::atoll(Value(section, "Filesize", "0").c_str());
    item.existOption = Value(section, "ExistOption");
    if (codec) {
        const std::string type = Value(section, "Type");
        item.codecKind = SameText(type, "%AUDIO_CODEC%")    ? 1
                         : SameText(type, "%VIDEO_CODEC%")  ? 2
                         : SameText(type, "%DSHOW_FILTER%") ? 3
                                                            : 0;
        item.registerServer = item.codecKind == 3;
        item.majorName = Value(section, "MajorName");
        item.minorName = Value(section, "MinorName");
    } else {
        item.registerServer = SameText(Value(section, "RegisterServer"), "yes");
        item.runOnce = SameText(Value(section, "RunOnce"), "yes");
        item.cmdLine = Expanded(section, "CmdLine");
        item.runOnceOpt = Value(section, "RunOnceOpt");
    }
    return item;
}

void CInstallWorker::CRun::Stage(const char *text)
{
    m_progress.SetStatusText(text);
    m_progress.SetFileNameText(kDownloadedText);
}

// The registration question: only Yes goes on.
void CInstallWorker::CRun::Ask(const std::string &fileName)
{
    if (platform::ShowMessageBox(FormatText(kRegisterFailedQuestion, fileName), m_caption,
                                 platform::MB_YESNO | platform::MB_ICONQUESTION) != platform::IDYES)
        Raise(CInstallOutcome::kError);
}

// Runs one item's action; "skip" ends only that item.
template <typename F> void CInstallWorker::CRun::ForItem(F &&action)
{
    try {
        action();
    } catch (const CInstallOutcome &outcome) {
        if (!outcome.Is(CInstallOutcome::kSkip))
            throw;
    }
}

int CInstallWorker::CRun::Install()
{
    // The downloads, the install file and the waiting copies need the
    // user's own temporary folder; the programs refuse to start without it.
    if (m_setup.Options().tempDir.empty()) {
        VLOG("Install", "There is no temporary folder of the user's own to work in.\n");
        Raise(CInstallOutcome::kError);
    }
    // Every item is read and its folder checked before anything is fetched:
    // a script that names a place it may not touch changes nothing.
    CheckRecordableNames();
    for (const std::string &section : m_options.items.files)
        m_files.push_back(ReadFileItem(section, false));
    for (const std::string &section : m_options.items.codecs)
        m_codecs.push_back(ReadFileItem(section, true));
    for (const std::string &section : m_options.launchItems) {
        CLaunchItem item;
        item.section = section;
        const auto read = [&](const char *key) {
            return platform::GetPrivateProfileString(section, key, "", kScriptBuffer,
                                                     m_options.launchScriptPath);
        };
        item.guid = read("GUID");
        item.url = read("URL");
        item.downCount = read("DownCount");
        if (!item.url.empty()) {
            item.folder = CheckedFolder(section, ExpandedPathMacros(read("DestDir"), m_options.names));
            item.fileName = ExpandedPathMacros(read("FileName"), m_options.names);
            if (item.fileName.empty())
                item.fileName = CDownloader::TargetName(item.url);
            CheckName(section, item.fileName);
        }
        m_launches.push_back(std::move(item));
    }
    std::optional<CRootKey> launchRoot;
    if (!m_launches.empty() && !(launchRoot = MapRootKey(m_options.regKey)))
        Raise(CInstallOutcome::kError);
    if (m_setup.Options().installDir.empty()) {
        VLOG("Install", "There is no install folder for the uninstall file.\n");
        Raise(CInstallOutcome::kError);
    }

    // An install file that still waits for the next start is kept; the
    // files it names keep their names.
    if (m_setup.InstallFileWaits())
        m_waiting = m_setup.WaitingFiles();

    // 1. Downloads; the only time the cancel event counts.
    for (CFileItem &item : m_files)
        Download(item.localPath, item.src, item.sha256);
    for (CFileItem &item : m_codecs)
        Download(item.localPath, item.src, item.sha256);
    for (CLaunchItem &item : m_launches) {
        if (item.url.empty())
            m_steps.Advance();
        else
            Download(item.localPath, item.url, std::string());
    }

    // 2. No way back from here.
    m_progress.SetCancelEnabled(false);
    Stage(kInstallingText);
    if (FAILED(m_setup.CreateInstallFile()))
        Raise(CInstallOutcome::kError);
    const HRESULT made = m_setup.CreateUninstallFile();
    if (FAILED(made))
        Raise(CInstallOutcome::kError);
    m_createdUninstallFile = made == S_OK;

    // 3. Uninstall records.
    for (const std::string &section : m_options.items.uninstalls) {
        ForItem([&] { UninstallRecord(section); });
        m_steps.Advance();
    }
    // 4. Launch items.
    for (CLaunchItem &item : m_launches) {
        ForItem([&] { LaunchItem(item, *launchRoot); });
        m_steps.Advance();
    }
    // 5. File items.
    for (CFileItem &item : m_files) {
        ForItem([&] { InstallFile(item); });
        m_steps.Advance();
    }
    // 6. Registry items.
    Stage(kRegistryText);
    for (const std::string &section : m_options.items.registries) {
        ForItem([&] { RegistryItem(section); });
        m_steps.Advance();
    }
    // 7. INI items.
    Stage(kIniText);
    for (const std::string &section : m_options.items.inis) {
        ForItem([&] { IniItem(section); });
        m_steps.Advance();
    }
    // 8. Shortcuts.
    Stage(kLinkText);
    for (const std::string &section : m_options.items.links) {
        ForItem([&] { LinkItem(section); });
        m_steps.Advance();
    }
    // 9. Components.
    Stage(kComponentText);
    for (const CFileItem &item : m_files) {
        if (!item.registerServer)
            continue;
        ForItem([&] { Register(item); });
        m_steps.Advance();
    }
    // 10. Codecs.
    Stage(kCodecText);
    for (CFileItem &codec : m_codecs) {
        ForItem([&] { CodecItem(codec); });
        m_steps.Advance();
        if (codec.codecKind == 3)
            m_steps.Advance();
    }
    // 11. Programs to run once.
    Stage(kRunText);
    for (const CFileItem &item : m_files)
        if (item.runOnce)
            ForItem([&] { RunItem(item); });

    // 12. The caller's own step.
    Stage(kUpdateText);
    if (m_options.onInstalled) {
        bool done = false;
        try {
            done = m_options.onInstalled(m_setup);
        } catch (const std::exception &e) {
            VLOG("Install", "Recording the installation failed: %s\n", e.what());
        } catch (...) {
            VLOG("Install", "Recording the installation failed.\n");
        }
        if (!done)
            Raise(CInstallOutcome::kError);
    }
    m_files.clear();
    m_codecs.clear();
    m_launches.clear();

    // 13. The hand-over.
    switch (m_setup.HandOver()) {
    case HandOverResult::Complete:
        m_steps.Finish();
        m_progress.SetStatusText(kDoneText);
        return INSTALL_WORKER_SUCCESS;
    case HandOverResult::RestartNeeded:
        return INSTALL_WORKER_RESTART;
    case HandOverResult::Failed:
        break;
    }
    Raise(CInstallOutcome::kError);
}

// ---- 1. Downloads -------------------------------------------------------

void CInstallWorker::CRun::Download(std::string &localPath, const std::string &url, const std::string &sha256)
{
    // Two items whose URLs end in the same name download to the same file:
    // the earlier one is moved aside first.
    const std::string target = JoinPath(CDownloader::TargetFolder(), CDownloader::TargetName(url));
    MoveAsideDownloadsAt(target);
    MoveWaitingFileFrom(target);
    CDownloadItem download{url, sha256, std::string()};
    const std::string outcome = m_downloader.FetchFile(download, m_steps, m_cancel);
    if (outcome == CDownloader::outcomeCancel)
        Raise(CInstallOutcome::kCancel);
    if (!outcome.empty())
        Raise(CInstallOutcome::kError);
    localPath = download.localPath;
}

const std::string &CInstallWorker::CRun::WorkDir()
{
    if (m_workDir.empty()) {
        const std::string temp = platform::GetTempPath();
        std::string pattern = JoinPath(temp, "velmor-install-XXXXXX");
        if (temp.empty() || ::mkdtemp(pattern.data()) == nullptr) {
            VLOG("Install", "Could not make a work folder in the temporary folder %s (%s).\n", temp.c_str(),
                 std::strerror(errno));
            Raise(CInstallOutcome::kError);
        }
        m_workDir = pattern;
    }
    return m_workDir;
}

void CInstallWorker::CRun::MoveAsideDownloadsAt(const std::string &path)
{
    const std::string wanted = NormalPath(path);
    const auto moveAside = [&](std::string &localPath) {
        if (localPath.empty() || NormalPath(localPath) != wanted)
            return;
        const std::string folder = WorkDir() + "/aside" + std::to_string(++m_workCount);
        const std::string target = JoinPath(folder, std::filesystem::path(localPath).filename().string());
        if (::mkdir(folder.c_str(), 0700) != 0 || !MoveIntoPlace(localPath, target))
            Raise(CInstallOutcome::kError);
        localPath = target;
    };
    for (CFileItem &item : m_files)
        moveAside(item.localPath);
    for (CFileItem &item : m_codecs)
        moveAside(item.localPath);
    for (CLaunchItem &item : m_launches)
        moveAside(item.localPath);
}

// A file an earlier installation left waiting for the next start under the
// name a download takes moves to a free waiting name first, and its copy
// line follows it: the download would replace it.
void CInstallWorker::CRun::MoveWaitingFileFrom(const std::string &path)
{
    const std::string name = std::filesystem::path(path).filename().string();
    const auto waiting = m_waiting.find(name);
    const std::string normal = NormalPath(path);
    if (waiting == m_waiting.end() || waiting->second == normal || !Exists(path) ||
        normal != NormalPath(JoinPath(m_setup.Options().tempDir, name)))
        return;
    const std::string destination = waiting->second;
    waiting->second = normal; // the download's name from now on
    const std::string moved = WaitingName(destination);
    const std::string target = JoinPath(m_setup.Options().tempDir, moved);
    if (::rename(path.c_str(), target.c_str()) != 0) {
        VLOG("Install", "Could not move the waiting file %s aside (%s).\n", path.c_str(),
             std::strerror(errno));
        Raise(CInstallOutcome::kError);
    }
    if (!m_setup.MoveWaitingFile(destination, moved)) {
        ::rename(target.c_str(), path.c_str());
        Raise(CInstallOutcome::kError);
    }
    VLOG("Install", "%s waits as %s for the next start now.\n", destination.c_str(), target.c_str());
}

// ---- 3. Uninstall records -----------------------------------------------

void CInstallWorker::CRun::UninstallRecord(const std::string &section)
{
    const std::string option = Value(section, "Using_Opt");
    const bool remove = SameText(option, "Delete");
    const bool execute = SameText(option, "Execute");
    if (!remove && !execute)
        return;
    if (execute && SameText(Value(section, "Excute_Opt"), "ignore"))
        return;
    const std::string folder = CheckedFolder(section, Expanded(section, "DestDir"));
    const std::string fileName = Expanded(section, "Filename");
    CheckName(section, fileName);
    const std::string path = JoinPath(folder, fileName);

    if (execute) {
        if (platform::RunAndWait(path, Expanded(section, "CmdLine"), std::string()) < 0)
            platform::ShowMessageBox(FormatText(kRunFailed, fileName), m_caption,
                                     platform::MB_OK | platform::MB_ICONEXCLAMATION);
        return;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        // Nothing to delete: no reason to wait for the next start.
        VLOG("Install", "%s is not there to delete.\n", path.c_str());
        return;
    }
    if (!IsFileInUse(path) && ::unlink(path.c_str()) == 0) {
        VLOG("Install", "Deleted %s.\n", path.c_str());
        return;
    }
    VLOG("Install", "%s is in use: it is deleted at the next start.\n", path.c_str());
    m_setup.RegisterDestination(folder, true);
    m_setup.RecordFile(folder, fileName, false, RECORD_INSTALLED, SetupTarget::InstallFile);
}

// ---- 4. Launch items ----------------------------------------------------

void CInstallWorker::CRun::LaunchItem(CLaunchItem &item, const CRootKey &root)
{
    if (item.url.empty())
        Raise(CInstallOutcome::kSkip);
    std::error_code ec;
    std::filesystem::create_directories(item.folder, ec);
    const std::string target = JoinPath(item.folder, item.fileName);
    if (!MoveIntoPlace(item.localPath, target))
        Raise(CInstallOutcome::kError);
    item.localPath.clear();
    MakeRunnableIfProgram(target);
    if (item.guid.empty()) {
        VLOG("Install", "[%s] has no GUID to record.\n", item.section.c_str());
        return;
    }
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Create(root.root, kLaunchKey + item.guid, key)) ||
        FAILED(key.WriteString("", item.guid))) {
        VLOG("Install", "Could not record the launch item %s.\n", item.guid.c_str());
        return;
    }
    if (!item.downCount.empty())
        m_downloader.FetchQuery(item.downCount);
}

// ---- 5. File items (and the files of codecs) ----------------------------

FileResult CInstallWorker::CRun::InstallFile(CFileItem &item)
{
    if (!CreateInstallFolder(item.folder, m_setup))
        Raise(CInstallOutcome::kError);
    const std::string dest = item.Path();
    item.existed = Exists(dest);
    if (item.existed && item.existOption == "ignore") {
        Keep(item);
        return FileResult::Kept;
    }
    if (item.existed) {
        const std::string newFile = NewFile(item);
        const std::optional<platform::FileVersion> installed = platform::ReadFileVersion(dest);
        const std::optional<platform::FileVersion> offered = platform::ReadFileVersion(newFile);
        bool sameVersion = true;
        if (offered && (!installed || *offered != *installed)) {
            sameVersion = false;
            if (installed && *offered < *installed &&
                platform::ShowMessageBox(FormatText(kOlderVersionQuestion, item.fileName), m_caption,
                                         platform::MB_YESNO | platform::MB_ICONQUESTION) != platform::IDYES) {
                Keep(item);
                return FileResult::Kept;
            }
        }
        if (sameVersion && item.expectedSize != 0 && FileSize(dest) == item.expectedSize) {
            Keep(item);
            return FileResult::Kept;
        }
        if (IsFileInUse(dest)) {
            Defer(item, newFile);
            return FileResult::Deferred;
        }
    }
    InstallNow(item);
    if (!m_setup.HasInventoryEntry(dest)) {
        if (!item.existed && !item.keepOnUninstall)
            m_setup.RecordFile(item.folder, item.fileName, item.registerServer, RECORD_INSTALLED,
                               SetupTarget::UninstallFile);
        else
            m_setup.RecordFile(item.folder, item.fileName, false, RECORD_EXISTING,
                               SetupTarget::UninstallFile);
    }
    return FileResult::Installed;
}

// The file the item offers: the download, or the one file of a cabinet
// taken out into the work folder.
std::string CInstallWorker::CRun::NewFile(const CFileItem &item)
{
    if (!IsCabinet(item.localPath))
        return item.localPath;
    CCabFileExtractor one(item.fileName);
    one.SetDestination(WorkDir() + "/cab" + std::to_string(++m_workCount));
    if (!one.Extract(item.localPath, 1)) {
        VLOG("Install", "Could not take %s out of %s (error %d).\n", item.fileName.c_str(),
             item.localPath.c_str(), one.GetError().erfOper);
        platform::ShowMessageBox(FormatText(kExtractFailed, item.fileName), m_caption,
                                 platform::MB_OK | platform::MB_ICONEXCLAMATION);
        Raise(CInstallOutcome::kError);
    }
    return one.GetExtractedPath();
}

void CInstallWorker::CRun::Keep(const CFileItem &item)
{
    VLOG("Install", "%s stays as it is.\n", item.Path().c_str());
    if (!m_setup.HasInventoryEntry(item.Path()))
        m_setup.RecordFile(item.folder, item.fileName, false, RECORD_EXISTING, SetupTarget::UninstallFile);
}

// The name a file waits under beside the install file: the name its
// destination already waits under (the newest file wins), else its
// destination name, or, when that name is taken for another destination (in
// this installation or by an earlier one's file still waiting), the name
// with "~2", "~3"... Each destination gets its own file.
std::string CInstallWorker::CRun::WaitingName(const std::string &destination)
{
    const std::string path = NormalPath(destination);
    for (const auto &[name, waitsFor] : m_waiting)
        if (waitsFor == path)
            return name;
    const std::string fileName = std::filesystem::path(path).filename().string();
    for (int k = 1;; ++k) {
        const std::string name = k == 1 ? fileName : fileName + "~" + std::to_string(k);
        if (m_waiting.try_emplace(name, path).second)
            return name;
    }
}

// The destination is in use: the new file waits in the install file's
// folder under a name of its own, and the install file copies it at the
// next start (and registers it there when it is a component).
void CInstallWorker::CRun::Defer(CFileItem &item, const std::string &newFile)
{
    const std::string waitingName = WaitingName(item.Path());
    const std::string waiting = NormalPath(JoinPath(m_setup.Options().tempDir, waitingName));
    if (waiting == NormalPath(m_setup.InstallFilePath())) {
        VLOG("Install", "%s cannot wait beside the install file under its own name.\n",
             item.fileName.c_str());
        Raise(CInstallOutcome::kError);
    }
    if (NormalPath(newFile) != waiting) {
        MoveAsideDownloadsAt(waiting);
        if (!MoveIntoPlace(newFile, waiting))
            Raise(CInstallOutcome::kError);
        if (newFile == item.localPath)
            item.localPath.clear();
    }
    MakeRunnableIfProgram(waiting);
    VLOG("Install", "%s is in use: it is replaced at the next start.\n", item.Path().c_str());
    m_setup.RecordFile(item.folder, item.fileName, item.registerServer, RECORD_COPY_AT_RESTART,
                       SetupTarget::UninstallFile, waitingName);
    if (item.registerServer)
        m_setup.AddComponentLine(SetupTarget::InstallFile, "RegisterOCXSection", item.folder, item.fileName);
    item.deferred = true;
}

void CInstallWorker::CRun::InstallNow(CFileItem &item)
{
    if (IsCabinet(item.localPath)) {
        CCabInstallExtractor cab;
        cab.SetDestination(item.folder);
        const BOOL extracted = cab.Extract(item.localPath, 1);
        for (const std::string &path : cab.ExtractedPaths()) {
            MakeRunnableIfProgram(path);
            m_setup.DropNextStartWork(path);
        }
        if (!extracted) {
            VLOG("Install", "Could not extract %s into %s (error %d).\n", item.localPath.c_str(),
                 item.folder.c_str(), cab.GetError().erfOper);
            platform::ShowMessageBox(FormatText(kExtractFailed, item.fileName), m_caption,
                                     platform::MB_OK | platform::MB_ICONEXCLAMATION);
            Raise(CInstallOutcome::kError);
        }
        return;
    }
    if (item.localPath.empty() || !MoveIntoPlace(item.localPath, item.Path()))
        Raise(CInstallOutcome::kError);
    item.localPath.clear();
    MakeRunnableIfProgram(item.Path());
    // What still waited for the next start at this destination is older.
    m_setup.DropNextStartWork(item.Path());
}

// ---- 6. Registry items --------------------------------------------------

void CInstallWorker::CRun::RegistryItem(const std::string &section)
{
    const std::string subKey = Expanded(section, "SubKey");
    const std::string valueName = Expanded(section, "ValName");
    const std::string value = Expanded(section, "Value");
    const std::string type = Value(section, "Type");
    const std::optional<CRootKey> root = MapRootKey(Value(section, "RootKey"));
    if (!root)
        Raise(CInstallOutcome::kError);
    const bool text = SameText(type, "%REG_SZ%");
    if (!text && !SameText(type, "%REG_DWORD%")) {
        VLOG("Install", "[%s] has the unknown type \"%s\".\n", section.c_str(), type.c_str());
        Raise(CInstallOutcome::kError);
    }
    platform::RegistryKey key;
    HRESULT hr = platform::RegistryKey::Create(root->root, subKey, key);
    if (SUCCEEDED(hr))
        hr = text ? key.WriteString(valueName, value) : key.WriteDword(valueName, ParseDwordValue(value));
    if (FAILED(hr)) {
        VLOG("Install", "Could not write %s\\%s \"%s\" (hr=0x%08x).\n", root->name, subKey.c_str(),
             valueName.c_str(), static_cast<unsigned>(hr));
        return;
    }
    if (!SameText(Value(section, "Uninstall"), "no"))
        m_setup.AddUninstallLine("DelRegSection", CSetupFile::RegistryLine(root->name, subKey, valueName));
}

// ---- 7. INI items -------------------------------------------------------

void CInstallWorker::CRun::IniItem(const std::string &section)
{
    const std::string type = Value(section, "Type");
    const std::string iniSection = Expanded(section, "Section");
    const std::string key = Expanded(section, "Key");
    const std::string value = Expanded(section, "Value");
    const bool uninstall = !SameText(Value(section, "Uninstall"), "no");
    if (SameText(type, "%INI_SYSTEM%")) {
        if (key.empty())
            return;
        if (!platform::WriteProfileString(iniSection, key.c_str(), value.c_str()))
            VLOG("Install", "Could not write [%s] %s of win.ini.\n", iniSection.c_str(), key.c_str());
        if (uninstall)
            m_setup.AddUninstallLine("UpdateInisSection", CSetupFile::WinIniLine(iniSection, key));
        return;
    }
    if (!SameText(type, "%INI_PRIVATE%")) {
        VLOG("Install", "[%s] has the unknown type \"%s\".\n", section.c_str(), type.c_str());
        Raise(CInstallOutcome::kError);
    }
    const std::string folder = CheckedFolder(section, Expanded(section, "DestDir"));
    const std::string fileName = Expanded(section, "Filename");
    CheckName(section, fileName);
    if (!CreateInstallFolder(folder, m_setup))
        Raise(CInstallOutcome::kError);
    const std::string path = JoinPath(folder, fileName);
    const bool existed = Exists(path);
    if (!key.empty()) {
        if (!platform::WritePrivateProfileString(iniSection, key.c_str(), value.c_str(), path))
            VLOG("Install", "Could not write [%s] %s of %s.\n", iniSection.c_str(), key.c_str(),
                 path.c_str());
        if (uninstall)
            m_setup.AddUninstallLine("UpdateInisSection", CSetupFile::PrivateIniLine(path, iniSection, key));
    }
    if (!existed && uninstall && Exists(path) && !m_setup.HasInventoryEntry(path))
        m_setup.RecordFile(folder, fileName, false, RECORD_INSTALLED, SetupTarget::UninstallFile);
}

// ---- 8. Shortcuts -------------------------------------------------------

void CInstallWorker::CRun::LinkItem(const std::string &section)
{
    CShortcutItem link;
    link.type = Value(section, "Type");
    link.destDir = CheckedFolder(section, Expanded(section, "DestDir"));
    link.name = Expanded(section, "Name");
    link.workDir = Expanded(section, "WorkDir");
    link.linkFile = Expanded(section, "LinkFile");
    link.linkUrl = Expanded(section, "LinkURL");
    link.description = Expanded(section, "Description");
    link.iconFile = Expanded(section, "IconFile");
    link.argument = Expanded(section, "Argument");
    link.iconIndex = std::atoi(Value(section, "IconIndex").c_str());
    if (InstallShortcut(link, m_setup) == ShortcutResult::Failed)
        Raise(CInstallOutcome::kError);
}

// ---- 9. Components ------------------------------------------------------

void CInstallWorker::CRun::Register(const CFileItem &item)
{
    // A file in use is registered by the install file once it is in place.
    if (item.deferred)
        return;
    if (!RegisterComponent(item.folder, item.fileName))
        Ask(item.fileName);
}

// ---- 10. Codecs ---------------------------------------------------------

void CInstallWorker::CRun::CodecItem(CFileItem &codec)
{
    if (InstallFile(codec) != FileResult::Installed)
        return;
    const bool uninstall = !codec.keepOnUninstall && !codec.existed;
    switch (codec.codecKind) {
    case 3:
        if (!RegisterComponent(codec.folder, codec.fileName))
            Ask(codec.fileName);
        return;
    case 1:
    case 2:
        WriteCodecValue(kDriversKey, codec.majorName, codec.Path(), uninstall);
        WriteCodecValue(kDriversDescKey, codec.Path(), codec.minorName, uninstall);
        return;
    default:
        VLOG("Install", "[%s] is a codec of no known type.\n", codec.section.c_str());
        Raise(CInstallOutcome::kError);
    }
}

void CInstallWorker::CRun::WriteCodecValue(const char *key, const std::string &name, const std::string &value,
                                           bool uninstall)
{
    platform::RegistryKey opened;
    if (FAILED(platform::RegistryKey::Create(platform::RegRoot::HKLM, key, opened)) ||
        FAILED(opened.WriteString(name, value))) {
        VLOG("Install", "Could not write HKLM\\%s \"%s\".\n", key, name.c_str());
        Raise(CInstallOutcome::kError);
    }
    if (uninstall)
        m_setup.AddUninstallLine("DelRegSection", CSetupFile::RegistryLine("HKLM", key, name));
}

// ---- 11. Programs to run once -------------------------------------------

void CInstallWorker::CRun::RunItem(const CFileItem &item)
{
    const std::string path = item.Path();
    if (item.runOnceOpt == "wait") {
        if (platform::RunAndWait(path, item.cmdLine, std::string()) < 0)
            platform::ShowMessageBox(FormatText(kRunFailed, item.fileName), m_caption,
                                     platform::MB_OK | platform::MB_ICONEXCLAMATION);
        return;
    }
    if (!platform::ShellExecuteOpen(path, item.cmdLine, item.folder, platform::ShowState::Hidden))
        VLOG("Install", "Could not start %s.\n", path.c_str());
}

// ---- The worker ---------------------------------------------------------

CInstallWorker::CInstallWorker(CInstallWorkerOptions options) : m_options(std::move(options)) {}

CInstallWorker::~CInstallWorker() = default;

int CInstallWorker::Run(platform::HANDLE cancelEvent, IInstallProgress &progress) noexcept
{
    m_createdUninstallFile = false;
    try {
        CRun run(m_options, cancelEvent, progress, StepTotal());
        try {
            const int result = run.Install();
            m_createdUninstallFile = run.CreatedUninstallFile();
            return result;
        } catch (const CInstallOutcome &outcome) {
            m_createdUninstallFile = run.CreatedUninstallFile();
            VLOG("Install", "The installation ended with \"%s\".\n", outcome.Text().c_str());
            return outcome.Is(CInstallOutcome::kCancel) ? INSTALL_WORKER_CANCELLED : INSTALL_WORKER_ERROR;
        }
    } catch (const CInstallOutcome &outcome) {
        VLOG("Install", "The installation ended with \"%s\".\n", outcome.Text().c_str());
    } catch (const std::exception &e) {
        VLOG("Install", "The installation failed: %s\n", e.what());
    } catch (...) {
        VLOG("Install", "The installation failed.\n");
    }
    return INSTALL_WORKER_ERROR;
}

int CInstallWorker::FormResult(int workerResult)
{
    return InstallWorkerFormResult(workerResult);
}

std::string CInstallWorker::UninstallFilePath() const
{
    const std::string &dir =
        m_options.setup.installDir.empty() ? m_options.names.installDir : m_options.setup.installDir;
    const std::string &eng =
        m_options.setup.engName.empty() ? m_options.names.engName : m_options.setup.engName;
    return JoinPath(dir, eng + "UnInstall.INF");
}

std::string CInstallWorker::InstallFilePath() const
{
    const std::string dir =
        m_options.setup.tempDir.empty() ? platform::GetTempPath() : m_options.setup.tempDir;
    const std::string &eng =
        m_options.setup.engName.empty() ? m_options.names.engName : m_options.setup.engName;
    return JoinPath(dir, eng + "Install.INF");
}

int CInstallWorker::StepTotal() const
{
    if (m_options.stepTotal >= 0)
        return m_options.stepTotal;
    return CountInstallSteps(m_options.scriptPath, m_options.items, m_options.launchItems.size());
}

} // namespace installengine
