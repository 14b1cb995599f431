#include "CSelfUpdate.h"

#include "CCabInstallExtractor.h"
#include "CLogFile.h"
#include "CMirvaneCommandLine.h"
#include "FileCopy.h"
#include "InstallActions.h"
#include "ScriptPath.h"
#include "TextFormat.h"
#include "UpdateTexts.h"

#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/ShellFolders.h"

#include <sys/stat.h>

#include <filesystem>

namespace {

bool IsFolder(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The download's extension: the text after the last "." of its last
// "/"- or "\"-separated part.
std::string Extension(const std::string &path)
{
    const std::size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// Copies the skin's image folder beside a copied skin file, file by file.
bool CopyFolder(const std::string &from, const std::string &to)
{
    std::error_code ec;
    std::filesystem::create_directories(to, ec);
    if (ec)
        return false;
    for (const auto &entry : std::filesystem::directory_iterator(from, ec)) {
        if (!entry.is_regular_file(ec))
            continue;
        if (!CopyFileReplacing(entry.path().string(), to + "/" + entry.path().filename().string()))
            return false;
    }
    return !ec;
}

} // namespace

std::string CSelfUpdate::PatchFolder()
{
    const std::string temp = platform::GetTempPath();
    return temp.empty() ? std::string() : temp + kFolderName;
}

bool CSelfUpdate::RunningAsCopy()
{
    const std::string folder = PatchFolder();
    std::error_code ec;
    return !folder.empty() && std::filesystem::equivalent(platform::ProgramDirectory(), folder, ec);
}

std::string CSelfUpdate::OwnCopyOfScript(const std::string &script)
{
    const std::string copy = PatchFolder() + "/" + std::filesystem::path(script).filename().string();
    if (!IsFolder(PatchFolder()) || !CopyFileReplacing(script, copy)) {
        Fail(UpdateTexts::kPatchFailed);
        return std::string();
    }
    return copy;
}

void CSelfUpdate::Fail(const char *text)
{
    m_ui.MessageBox(text, platform::MB_OK);
}

bool CSelfUpdate::StartCopy(const std::string &commandLine)
{
    const std::string here = platform::GetCurrentDirectory();
    const std::string folder = PatchFolder();
    VLOG("Mirvane", "업데이터를 임시 폴더에 복사해 패치합니다: %s\n", folder.c_str());
    std::error_code ec;
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    bool copied = !folder.empty() && !ec && IsFolder(folder);
    for (const char *name : {kProgramName, "Mirvane.cfg"})
        copied = copied && CopyFileReplacing(here + "/" + name, folder + "/" + name);
    // The skin goes along when it is here; a configuration may name another.
    if (copied && platform::FileExists(here + "/Mirvane.skin")) {
        copied = CopyFileReplacing(here + "/Mirvane.skin", folder + "/Mirvane.skin");
        if (copied && IsFolder(here + "/MirvaneSkin"))
            copied = CopyFolder(here + "/MirvaneSkin", folder + "/MirvaneSkin");
    }
    if (!copied) {
        Fail(UpdateTexts::kPatchFailed);
        return false;
    }
    const std::string program = folder + "/" + kProgramName;
    if (!platform::FileExists(program)) {
        Fail(UpdateTexts::kPatchMissing);
        return false;
    }
    if (!platform::ShellExecuteOpen(program, "/patch " + commandLine, folder, platform::ShowState::Hidden)) {
        Fail(UpdateTexts::kPatchStartFailed);
        return false;
    }
    return true;
}

bool CSelfUpdate::InstallPatch(const std::string &patchUrl, const std::string &sha256,
                               const std::string &installDir)
{
    VLOG("Mirvane", "업데이터 패치를 받습니다: %s\n", patchUrl.c_str());
    CDownloader quiet = m_downloader;
    quiet.showMessages = false;
    CNullInstallProgress progress;
    CInstallSteps steps(progress, 0);
    CDownloadItem item{patchUrl, sha256, ""};
    if (patchUrl.empty() || installDir.empty() || !quiet.FetchFile(item, steps, nullptr).empty()) {
        Fail(UpdateTexts::kPatchFailed);
        return false;
    }
    bool installed = false;
    if (SameTextIgnoringCase(Extension(item.localPath), "cab")) {
        installengine::CCabInstallExtractor cab;
        cab.SetDestination(installDir);
        installed = cab.Extract(item.localPath, 1) != 0;
        for (const std::string &path : cab.ExtractedPaths())
            installengine::MakeRunnableIfProgram(path);
        if (!installed)
            VLOG("Mirvane", "패치 압축을 풀지 못했습니다 (%d).\n", cab.GetError().erfOper);
    } else {
        const std::string target =
            installengine::JoinPath(installDir, CDownloader::TargetName(item.localPath));
        installed = IsFolder(installDir) && CopyFileReplacing(item.localPath, target);
        if (installed)
            installengine::MakeRunnableIfProgram(target);
    }
    if (!installed) {
        Fail(UpdateTexts::kPatchFailed);
        return false;
    }
    return true;
}

bool CSelfUpdate::StartNewUpdater(const std::string &installDir, const std::string &passThrough)
{
    const std::string program = installengine::JoinPath(installDir, kProgramName);
    if (installDir.empty() || !platform::FileExists(program)) {
        Fail(UpdateTexts::kPatchMissing);
        return false;
    }
    // "/patch" tells the new updater that the patch is in: should it still
    // not be the script's updater, it says so instead of patching again.
    const std::string parameters = std::string(CMirvaneCommandLine::kPatchSwitch) + " " + passThrough;
    VLOG("Mirvane", "새 업데이터를 실행합니다: %s %s\n", program.c_str(), parameters.c_str());
    if (!platform::ShellExecuteOpen(program, parameters, installDir, platform::ShowState::Hidden)) {
        Fail(UpdateTexts::kPatchStartFailed);
        return false;
    }
    return true;
}
