#include "CSetupFile.h"

#include "CLogFile.h"
#include "CRunOnce.h"
#include "InfLine.h"
#include "Macros.h"
#include "ScriptPath.h"

#include "platform/MessageBox.h"
#include "platform/Profile.h"
#include "platform/Restart.h"
#include "platform/ShellFolders.h"

#include <filesystem>
#include <optional>

namespace installengine {
namespace {

using platform::GetPrivateProfileSection;
using platform::GetPrivateProfileString;
using platform::WritePrivateProfileSection;
using platform::WritePrivateProfileString;

// Sections and lists are read whole: a section cut at a buffer size and
// written back would lose its last lines.
constexpr std::size_t kWhole = std::size_t{1} << 24;

const char *kAdvancedInf = "2.5,\"You need a newer version of AdvPack.DLL!\"";

bool Write(std::string_view section, const std::string &key, const std::string &value,
           const std::string &file)
{
    if (WritePrivateProfileString(section, key.c_str(), value.c_str(), file))
        return true;
    VLOG("SetupFile", "Could not write [%.*s] %s in %s.\n", static_cast<int>(section.size()), section.data(),
         key.c_str(), file.c_str());
    return false;
}

std::string DestSection(int n)
{
    return "Dest" + std::to_string(n);
}

std::string DestGroup(int n)
{
    return "DestGrp" + std::to_string(n);
}

// The text "4900%d" names the folder's destination number in both files.
std::string DestId(int n)
{
    return "4900" + std::to_string(n);
}

// The folder a "Dest<n>" section names: the last field of its line (quotes
// and one trailing separator removed). Empty when the section is empty.
std::optional<std::string> DestFolder(int n, const std::string &file)
{
    const std::vector<std::string> lines = GetPrivateProfileSection(DestSection(n), kWhole, file);
    if (lines.empty())
        return std::nullopt;
    return RemoveTrailingSeparator(DecodeInfName(SplitInfFields(lines.front()).back()));
}

// What a file group's line names: the file (the group's folder joined with
// its first field, normal form) and the name it waits under beside the
// install file (its second field, else the same name).
std::pair<std::string, std::string> GroupLineFiles(const std::string &folder, const std::string &line)
{
    const std::vector<std::string> fields = SplitInfFields(line);
    const std::string name = DecodeInfName(fields.front());
    return {NormalPath(JoinPath(folder, name)),
            fields.size() > 1 && !fields[1].empty() ? DecodeInfName(fields[1]) : name};
}

void LogUnwritable(std::string_view name, const std::string &file)
{
    VLOG("SetupFile", "\"%.*s\" cannot be written into %s.\n", static_cast<int>(name.size()), name.data(),
         file.c_str());
}

// A "Strings" value, read back through the profile functions, which take
// one pair of quotes around a value away.
std::optional<std::string> StringsValue(std::string_view text)
{
    std::optional<std::string> value = EncodeInfName(text);
    if (value && value->size() >= 2 && value->front() == '"' && value->back() == '"')
        *value = '"' + *value + '"';
    return value;
}

// The inventory's "key=value" line split at its first "=" (encoded names
// hold none).
std::pair<std::string_view, std::string_view> InventoryLine(std::string_view line)
{
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return {line, {}};
    return {line.substr(0, eq), line.substr(eq + 1)};
}

// Whether an inventory line is the entry of the file `nativePath`: its key
// is the path as the engine writes it (encoded), or, in files written before
// names were encoded, the path as it stands.
class InventoryKey {
public:
    explicit InventoryKey(std::string nativePath)
        : m_native(std::move(nativePath)), m_encoded(EncodeInfName(m_native))
    {
    }
    bool Names(std::string_view line) const
    {
        const std::string_view have = InventoryLine(line).first;
        return (m_encoded && have == *m_encoded) || have == m_native;
    }

private:
    std::string m_native;
    std::optional<std::string> m_encoded;
};

} // namespace

CSetupFile::CSetupFile(CSetupFileOptions options) : m_options(std::move(options))
{
    m_installFile = JoinPath(m_options.tempDir, m_options.engName + "Install.INF");
    m_uninstallFile = JoinPath(m_options.installDir, m_options.engName + "UnInstall.INF");
}

const std::string &CSetupFile::FilePath(SetupTarget target) const
{
    return target == SetupTarget::InstallFile ? m_installFile : m_uninstallFile;
}

HRESULT CSetupFile::CreateInstallFile()
{
    // An earlier installation's copies and deletions still wait for the
    // next start: made anew, the file would lose them.
    m_keptInstallFile = InstallFileWaits();
    if (m_keptInstallFile) {
        VLOG("SetupFile", "%s still waits for the next start; this installation adds to it.\n",
             m_installFile.c_str());
        return S_OK;
    }
    std::error_code ec;
    std::filesystem::remove(m_installFile, ec);
    std::filesystem::create_directories(std::filesystem::path(m_installFile).parent_path(), ec);
    const std::string &f = m_installFile;
    const bool ok = Write("Version", "Signature", "$CHICAGO$", f) &&
                    Write("Version", "AdvancedINF", kAdvancedInf, f) &&
                    Write("SourceDisksNames", "1", QuoteInfField(m_options.diskName) + ",,0", f) &&
                    Write("DefaultInstall", "RegisterOCXs", "RegisterOCXSection", f) &&
                    Write("DefaultInstall", "CleanUp", "1", f);
    return ok ? S_OK : E_FAIL;
}

bool CSetupFile::InstallFileWaits() const
{
    std::error_code ec;
    return std::filesystem::is_regular_file(std::filesystem::symlink_status(m_installFile, ec)) &&
           CRunOnce::Holds(HandOverCommand());
}

std::map<std::string, std::string> CSetupFile::WaitingFiles() const
{
    std::map<std::string, std::string> waiting;
    for (int n = 0; const std::optional<std::string> folder = DestFolder(n, m_installFile); ++n)
        for (const std::string &line : GetPrivateProfileSection(DestGroup(n), kWhole, m_installFile)) {
            auto [path, name] = GroupLineFiles(*folder, line);
            waiting.emplace(std::move(name), std::move(path));
        }
    return waiting;
}

void CSetupFile::DropNextStartWork(std::string_view path)
{
    // Nothing waits for the next start yet: no line can name the file.
    if ((!m_keptInstallFile && !m_nextStartWork) || !RewriteNextStartLines(path, std::string()))
        return;
    // Its entry goes too, so a later deletion of the file is recorded again.
    const InventoryKey key(NativePath(path));
    std::vector<std::string> entries = GetPrivateProfileSection("UnInstallFile", kWhole, m_installFile);
    std::erase_if(entries, [&](const std::string &line) { return key.Names(line); });
    WritePrivateProfileSection("UnInstallFile", entries, m_installFile);
}

bool CSetupFile::MoveWaitingFile(std::string_view path, std::string_view waitingName)
{
    const std::optional<std::string> name =
        InfNameField(std::filesystem::path(NativePath(path)).filename().string());
    const std::optional<std::string> source = InfNameField(waitingName);
    if (!name || !source) {
        LogUnwritable(waitingName, m_installFile);
        return false;
    }
    return RewriteNextStartLines(path, *name + "," + *source + ",,1");
}

bool CSetupFile::RewriteNextStartLines(std::string_view path, const std::string &line)
{
    const std::string wanted = NormalPath(path);
    bool found = false;
    bool written = true;
    for (int n = 0; const std::optional<std::string> folder = DestFolder(n, m_installFile); ++n) {
        std::vector<std::string> lines = GetPrivateProfileSection(DestGroup(n), kWhole, m_installFile);
        std::vector<std::string> kept;
        for (std::string &have : lines)
            if (GroupLineFiles(*folder, have).first != wanted)
                kept.push_back(std::move(have));
        if (kept.size() == lines.size())
            continue;
        found = true;
        if (!line.empty())
            kept.push_back(line);
        written = WritePrivateProfileSection(DestGroup(n), kept, m_installFile) && written;
    }
    if (!written)
        VLOG("SetupFile", "Could not change the lines of %s in %s.\n", wanted.c_str(), m_installFile.c_str());
    return found && written;
}

HRESULT CSetupFile::CreateUninstallFile()
{
    std::error_code ec;
    // The profile functions write through a link; one at this name is not
    // the product's file, and every setup line would land where it points.
    if (std::filesystem::is_symlink(m_uninstallFile, ec)) {
        VLOG("SetupFile", "%s is a link; the uninstall file is not written through it.\n",
             m_uninstallFile.c_str());
        return E_FAIL;
    }
    if (std::filesystem::exists(m_uninstallFile, ec)) {
        // An uninstall file written before the logs were listed learns them now.
        RemoveProgramLogs();
        return S_FALSE;
    }
    // The install folder may not exist yet on a first installation; the
    // levels made here are removed again on uninstall, like every folder the
    // installation creates.
    std::vector<std::string> created;
    for (std::filesystem::path p = std::filesystem::path(m_uninstallFile).parent_path();
         !p.empty() && !std::filesystem::exists(p, ec) && p != p.parent_path(); p = p.parent_path())
        created.insert(created.begin(), p.string());
    std::filesystem::create_directories(std::filesystem::path(m_uninstallFile).parent_path(), ec);

    const std::string &f = m_uninstallFile;
    const std::optional<std::string> kor = StringsValue(m_options.korName);
    const std::optional<std::string> eng = StringsValue(m_options.engName);
    const std::optional<std::string> disk = EncodeInfName(m_options.engName + " UnInstall");
    const std::string uninstallEntry =
        RegistryLine("HKLM", "software\\microsoft\\windows\\currentversion\\uninstall", m_options.korName);
    if (!kor || !eng || !disk) {
        LogUnwritable(kor ? m_options.engName : m_options.korName, f);
        return E_FAIL;
    }
    const bool ok =
        Write("Version", "Signature", "$CHICAGO$", f) && Write("Version", "AdvancedINF", kAdvancedInf, f) &&
        Write("Strings", "Product", *eng, f) && Write("Strings", "KorName", *kor, f) &&
        Write("Strings", "EngName", *eng, f) &&
        // The prompts hold the INF string reference %KorName%, resolved
        // through "Strings" when the file runs.
        Write("BeginPromptSection", "prompt", "%KorName%(을)를 제거하시겠습니까?", f) &&
        Write("BeginPromptSection", "buttontype", "YESNO", f) &&
        Write("BeginPromptSection", "Title", "%KorName%", f) &&
        Write("EndPromptSection", "prompt", "%KorName%(이)가 제거되었습니다.", f) &&
        Write("EndPromptSection", "buttontype", "YES", f) &&
        Write("EndPromptSection", "Title", "%KorName%", f) &&
        Write("SourceDisksNames", "1", QuoteInfField(*disk) + ",,0", f) &&
        Write("DefaultInstall", "BeginPrompt", "BeginPromptSection", f) &&
        Write("DefaultInstall", "EndPrompt", "EndPromptSection", f) &&
        Write("DefaultInstall", "DelDirs", "DelDirsSection", f) &&
        Write("DefaultInstall", "DelReg", "DelRegSection", f) &&
        Write("DefaultInstall", "UpdateInis", "UpdateInisSection", f) &&
        Write("DefaultInstall", "UnregisterOCXs", "UnRegisterOCXsSection", f) &&
        Write("DefaultInstall", "CleanUp", "1", f) && AddSectionLine("DelRegSection", uninstallEntry, f);
    if (!ok)
        return E_FAIL;
    for (const std::string &folder : created)
        RegisterDestination(folder, false);
    RemoveProgramLogs();
    return S_OK;
}

bool CSetupFile::AddSectionLine(std::string_view section, std::string_view line, const std::string &file)
{
    if (line.empty()) {
        VLOG("SetupFile", "An empty line is not added to [%.*s] of %s.\n", static_cast<int>(section.size()),
             section.data(), file.c_str());
        return false;
    }
    // Lines name files, and file names differ by letter case here; the
    // registry's names do not.
    const bool registry = SameText(section, "DelRegSection");
    std::vector<std::string> lines = GetPrivateProfileSection(section, kWhole, file);
    for (const std::string &have : lines)
        if (registry ? SameText(have, line) : have == line)
            return true;
    lines.emplace_back(line);
    if (WritePrivateProfileSection(section, lines, file))
        return true;
    VLOG("SetupFile", "Could not add \"%.*s\" to [%.*s] of %s.\n", static_cast<int>(line.size()), line.data(),
         static_cast<int>(section.size()), section.data(), file.c_str());
    return false;
}

void CSetupFile::RegisterDestination(std::string_view directory, bool keep)
{
    DestinationNumber(SetupTarget::InstallFile, directory, keep);
    DestinationNumber(SetupTarget::UninstallFile, directory, keep);
}

int CSetupFile::DestinationNumber(SetupTarget target, std::string_view directory, bool keep)
{
    const std::string &file = FilePath(target);
    const std::string folder = NativePath(directory);
    const std::string wanted = RemoveTrailingSeparator(folder);
    const std::optional<std::string> field = EncodeInfName(folder);
    if (!field) {
        LogUnwritable(folder, file);
        return -1;
    }
    Write("DefaultInstall", "CustomDestination", "CustomDestinationSection", file);

    const int count =
        static_cast<int>(GetPrivateProfileSection("CustomDestinationSection", kWhole, file).size());
    for (int i = 0; i <= count; ++i) {
        const std::optional<std::string> known = DestFolder(i, file);
        if (!known)
            break;
        if (*known == wanted)
            return i;
    }
    // A new folder takes the next number. A hand-edited file may already use
    // that number for another folder: its "Dest" section is never
    // overwritten, the next free number is taken.
    int n = count;
    for (std::optional<std::string> known; (known = DestFolder(n, file)); ++n)
        if (*known == wanted)
            return n;
    WritePrivateProfileSection(DestSection(n), {",,,," + QuoteInfField(*field)}, file);
    Write("CustomDestinationSection", DestId(n), DestSection(n) + ",5", file);
    Write("DestinationDirs", DestGroup(n), DestId(n), file);
    if (target == SetupTarget::UninstallFile && !keep)
        AddSectionLine("DelDirsSection", "%" + DestId(n) + "%", file);
    return n;
}

void CSetupFile::AppendToList(const std::string &file, const char *key, const std::string &item)
{
    const std::string list = GetPrivateProfileString("DefaultInstall", key, "", kWhole, file);
    for (const std::string &have : SplitInfFields(list))
        if (SameText(have, item))
            return;
    Write("DefaultInstall", key, list.empty() ? item : list + "," + item, file);
}

// The logs are deleted with the product's files but are no part of the
// inventory: the installation did not put them there.
void CSetupFile::RemoveProgramLogs()
{
    const int n = m_options.programLogs.empty()
                      ? -1
                      : DestinationNumber(SetupTarget::UninstallFile, m_options.installDir);
    if (n < 0)
        return;
    AppendToList(m_uninstallFile, "Delfiles", DestGroup(n));
    for (const std::string &log : m_options.programLogs)
        if (const std::optional<std::string> name = InfNameField(log))
            AddSectionLine(DestGroup(n), *name + ",,,1", m_uninstallFile);
}

void CSetupFile::RecordFile(std::string_view directory, std::string_view fileName, bool registerFlag,
                            RecordMode mode, SetupTarget target, std::string_view waitingName)
{
    const std::string &file = FilePath(target);
    const std::string path = JoinPath(directory, fileName);
    const std::optional<std::string> key = EncodeInfName(path);
    const std::optional<std::string> name = InfNameField(NativePath(fileName));
    const std::optional<std::string> source = InfNameField(waitingName.empty() ? fileName : waitingName);
    if (!key || !name || !source) {
        LogUnwritable(path, file);
        return;
    }
    const bool recorded = !InventoryEntry(target, path).empty();
    // The inventory is rewritten whole: the profile functions would take an
    // entry that differs only in letter case for this one.
    const auto addEntry = [&](const char *value) {
        std::vector<std::string> lines = GetPrivateProfileSection("UnInstallFile", kWhole, file);
        lines.push_back(*key + "=" + value);
        if (!WritePrivateProfileSection("UnInstallFile", lines, file))
            LogUnwritable(path, file);
    };
    switch (mode) {
    case RECORD_INSTALLED: {
        if (recorded)
            return;
        const int n = DestinationNumber(target, directory);
        if (n < 0)
            return;
        AppendToList(file, "Delfiles", DestGroup(n));
        m_nextStartWork = m_nextStartWork || target == SetupTarget::InstallFile;
        if (registerFlag)
            AddSectionLine("UnregisterOCXsSection", "%" + DestId(n) + "%\\" + *name, file);
        addEntry("install");
        AddSectionLine(DestGroup(n), *name + ",,,1", file);
        return;
    }
    case RECORD_EXISTING:
        if (!recorded)
            addEntry("exist");
        return;
    case RECORD_COPY_AT_RESTART: {
        if (!recorded)
            addEntry("exist");
        // The copy is listed even for a file recorded before: an update of a
        // file in use must still reach it at the next start.
        const int n = DestinationNumber(SetupTarget::InstallFile, directory);
        if (n < 0)
            return;
        AppendToList(m_installFile, "Copyfiles", DestGroup(n));
        m_nextStartWork = true;
        AddSectionLine(DestGroup(n), *source == *name ? *name + ",,,1" : *name + "," + *source + ",,1",
                       m_installFile);
        return;
    }
    }
}

bool CSetupFile::AddComponentLine(SetupTarget target, std::string_view section, std::string_view directory,
                                  std::string_view fileName)
{
    const std::optional<std::string> name = InfNameField(NativePath(fileName));
    const int n = name ? DestinationNumber(target, directory) : -1;
    if (n < 0) {
        LogUnwritable(fileName, FilePath(target));
        return false;
    }
    return AddSectionLine(section, "%" + DestId(n) + "%\\" + *name, FilePath(target));
}

bool CSetupFile::HasInventoryEntry(std::string_view path) const
{
    return !InventoryEntry(SetupTarget::UninstallFile, path).empty();
}

std::string CSetupFile::InventoryEntry(SetupTarget target, std::string_view path) const
{
    const InventoryKey key(NativePath(path));
    for (const std::string &line : GetPrivateProfileSection("UnInstallFile", kWhole, FilePath(target)))
        if (key.Names(line))
            return std::string(InventoryLine(line).second);
    return {};
}

bool CSetupFile::AddUninstallLine(std::string_view section, std::string_view line)
{
    return AddSectionLine(section, line, m_uninstallFile);
}

std::string CSetupFile::RegistryLine(std::string_view rootName, std::string_view key,
                                     std::string_view valueName)
{
    const std::string line = RegistryKeyLine(rootName, key);
    const std::optional<std::string> name = EncodeInfName(valueName);
    if (line.empty() || !name)
        return {};
    return line + "," + QuoteInfField(*name);
}

std::string CSetupFile::RegistryKeyLine(std::string_view rootName, std::string_view key)
{
    const std::optional<std::string> encoded = EncodeInfName(key);
    if (!encoded)
        return {};
    return std::string(rootName) + "," + QuoteInfField(*encoded);
}

std::string CSetupFile::WinIniLine(std::string_view section, std::string_view key)
{
    return PrivateIniLine(platform::GetWindowsDirectory() + "/win.ini", section, key);
}

std::string CSetupFile::SystemIniLine(std::string_view section, std::string_view key)
{
    return PrivateIniLine(platform::GetWindowsDirectory() + "/system.ini", section, key);
}

std::string CSetupFile::PrivateIniLine(std::string_view file, std::string_view section, std::string_view key)
{
    const std::optional<std::string> fileField = InfNameField(NativePath(file));
    const std::optional<std::string> sectionField = InfNameField(section);
    const std::optional<std::string> keyText = EncodeInfName(key);
    if (!fileField || !sectionField || !keyText)
        return {};
    return *fileField + "," + *sectionField + "," + InfField(*keyText + "=*") + ",";
}

HandOverResult CSetupFile::HandOver()
{
    const std::string copies = GetPrivateProfileString("DefaultInstall", "copyfiles", "", 260, m_installFile);
    const std::string deletions =
        GetPrivateProfileString("DefaultInstall", "Delfiles", "", 260, m_installFile);
    if (copies.empty() && deletions.empty()) {
        std::error_code ec;
        std::filesystem::remove(m_installFile, ec);
        return HandOverResult::Complete;
    }
    if (m_keptInstallFile && !m_nextStartWork) {
        VLOG("SetupFile", "%s still holds an earlier installation's work, handed to the next start before.\n",
             m_installFile.c_str());
        return HandOverResult::Complete;
    }
    if (FAILED(CRunOnce::Write(m_options.runOnceName, HandOverCommand()))) {
        VLOG("SetupFile", "The install file %s could not be handed to the next start.\n",
             m_installFile.c_str());
        return HandOverResult::Failed;
    }
    if (!Restart(m_options.caption))
        platform::ShowMessageBox(kRestartRefused, m_options.caption,
                                 platform::MB_OK | platform::MB_ICONEXCLAMATION);
    return HandOverResult::RestartNeeded;
}

std::string CSetupFile::HandOverCommand() const
{
    return std::string(kCommandPrefix) + " " + m_installFile;
}

bool CSetupFile::Restart(const std::string &caption)
{
    if (platform::ShowMessageBox(kRestartQuestion, caption, platform::MB_YESNO | platform::MB_ICONQUESTION) !=
        platform::IDYES)
        return false;
    if (platform::RestartSystem())
        return true;
    VLOG("SetupFile", "The system could not be restarted.\n");
    return false;
}

} // namespace installengine
