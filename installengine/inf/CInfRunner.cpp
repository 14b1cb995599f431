#include "CInfRunner.h"

#include "CInfFile.h"
#include "CLogFile.h"
#include "InfLine.h"
#include "Macros.h"
#include "ScriptPath.h"

#include "platform/MessageBox.h"
#include "platform/Module.h"
#include "platform/Profile.h"
#include "platform/ShellFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

namespace installengine {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return out;
}

bool IsNumber(std::string_view text)
{
    return !text.empty() && text.size() <= 9 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Reads one INF section into a plan: folders first, then each directive.
class PlanBuilder {
public:
    PlanBuilder(const std::string &infPath, std::string_view section) : m_inf(infPath), m_section(section)
    {
        m_plan.infPath = infPath;
        m_sourceFolder = NormalPath(fs::absolute(fs::path(infPath)).parent_path().string());
    }

    CInfPlan Build()
    {
        if (!m_inf.Exists()) {
            Refuse("the INF file " + m_inf.Path() + " cannot be read");
            return std::move(m_plan);
        }
        m_windowsFolder = NormalPath(platform::GetWindowsDirectory());
        m_ldids["10"] = m_windowsFolder;
        m_ldids["11"] = NormalPath(platform::GetSystemDirectory());
        ReadCustomDestinations();
        ReadDestinationDirs();

        m_plan.hasBeginPrompt = ReadPrompt("BeginPrompt", m_plan.beginPrompt);
        m_plan.hasEndPrompt = ReadPrompt("EndPrompt", m_plan.endPrompt);
        ReadComponents("UnregisterOCXs", CInfOperation::UnregisterComponent);
        // Deletions go first, as Windows' file queue does them: a folder's
        // copies and deletions at the next start share one file group.
        ReadFiles("DelFiles", CInfOperation::DeleteFile);
        ReadFiles("CopyFiles", CInfOperation::CopyFile);
        ReadFolders();
        ReadRegistry();
        ReadInis();
        ReadComponents("RegisterOCXs", CInfOperation::RegisterComponent);
        m_plan.cleanUp = m_inf.Value(m_section, "CleanUp") == "1";
        return std::move(m_plan);
    }

private:
    void Refuse(const std::string &what)
    {
        VLOG("Inf", "Refused: %s.\n", what.c_str());
        m_plan.refused.push_back(what);
    }

    // "Dest0,5" sections: the folder of each number, from a registry value
    // the line names when it can be read, else from the line's last field.
    void ReadCustomDestinations()
    {
        for (const std::string &list : m_inf.SectionList(m_section, "CustomDestination")) {
            for (const std::string &line : m_inf.Lines(list)) {
                std::string ids;
                std::string target;
                if (!CInfFile::SplitKeyValue(line, ids, target))
                    continue;
                const std::vector<std::string> targetFields = SplitInfFields(target);
                const std::vector<std::string> destLines = m_inf.Lines(targetFields.front());
                std::size_t index = 0;
                for (const std::string &id : SplitInfFields(ids)) {
                    if (!IsNumber(id) || index >= destLines.size()) {
                        ++index;
                        continue;
                    }
                    const std::optional<std::string> folder = DestFolder(destLines[index++]);
                    if (!folder) {
                        Refuse("destination " + id + " names no absolute folder");
                        continue;
                    }
                    m_ldids.emplace(id, *folder);
                }
            }
        }
    }

    static std::optional<std::string> DestFolder(const std::string &line)
    {
        const std::vector<std::string> fields = SplitInfFields(line);
        std::string folder = DecodeInfName(fields.back());
        if (fields.size() >= 3 && !fields[1].empty()) {
            if (const std::optional<platform::RegRoot> root = platform::ParseRegRoot(fields[0])) {
                platform::RegistryKey key;
                if (SUCCEEDED(platform::RegistryKey::Open(*root, fields[1], key)))
                    if (std::optional<std::string> value = key.ReadString(fields[2]);
                        value && !value->empty())
                        folder = *value;
            }
        }
        const std::string normal = NormalPath(folder);
        if (normal.empty() || normal.front() != '/')
            return std::nullopt;
        return normal;
    }

    // "DestGrp0=49000[,sub]": the folder of each file group.
    void ReadDestinationDirs()
    {
        for (const std::string &line : m_inf.Lines("DestinationDirs")) {
            std::string group;
            std::string target;
            if (!CInfFile::SplitKeyValue(line, group, target))
                continue;
            const std::vector<std::string> fields = SplitInfFields(target);
            const auto ldid = m_ldids.find(fields.front());
            if (ldid == m_ldids.end()) {
                Refuse("group " + group + " names the unknown destination " + fields.front());
                continue;
            }
            std::string folder = ldid->second;
            if (fields.size() > 1 && !fields[1].empty()) {
                const std::string sub = NormalPath(JoinPath(folder, fields[1]));
                if (!IsInsideFolder(sub, folder, true)) {
                    Refuse("group " + group + " climbs out of " + folder);
                    continue;
                }
                folder = sub;
            }
            m_groups.emplace(Lower(group), folder);
            m_folders.push_back(folder);
        }
        for (const auto &[id, folder] : m_ldids)
            if (id != "10" && id != "11")
                m_folders.push_back(folder);
    }

    bool ReadPrompt(const char *key, CInfPrompt &prompt)
    {
        const std::string section = m_inf.Value(m_section, key);
        if (section.empty())
            return false;
        prompt.text = m_inf.SubstituteStrings(m_inf.Value(section, "prompt"));
        prompt.title = m_inf.SubstituteStrings(m_inf.Value(section, "Title"));
        const std::string buttons = m_inf.Value(section, "buttontype");
        prompt.style = SameText(buttons, "YESNO")      ? platform::MB_YESNO | platform::MB_ICONQUESTION
                       : SameText(buttons, "OKCANCEL") ? platform::MB_OKCANCEL | platform::MB_ICONQUESTION
                                                       : platform::MB_OK | platform::MB_ICONINFORMATION;
        return true;
    }

    // A path with destination numbers (%49000%) and strings replaced.
    std::optional<std::string> ResolvePath(const std::string &text)
    {
        std::string out;
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t open = text.find('%', at);
            if (open == std::string::npos) {
                out += DecodeInfName(std::string_view(text).substr(at));
                break;
            }
            out += DecodeInfName(std::string_view(text).substr(at, open - at));
            const std::size_t close = text.find('%', open + 1);
            if (close == std::string::npos) {
                out += DecodeInfName(std::string_view(text).substr(open));
                break;
            }
            const std::string id = text.substr(open + 1, close - open - 1);
            if (const auto ldid = m_ldids.find(id); ldid != m_ldids.end()) {
                out += ldid->second;
                at = close + 1;
            } else {
                out += m_inf.SubstituteStrings(text.substr(open, close - open + 1));
                at = close + 1;
            }
        }
        const std::string normal = NormalPath(out);
        if (normal.empty() || normal.front() != '/')
            return std::nullopt;
        return normal;
    }

    bool InsideDefinedFolders(const std::string &path, bool orEqual) const
    {
        return std::any_of(m_folders.begin(), m_folders.end(),
                           [&](const std::string &folder) { return IsInsideFolder(path, folder, orEqual); });
    }

    void ReadFiles(const char *key, CInfOperation::Kind kind)
    {
        for (const std::string &group : m_inf.SectionList(m_section, key)) {
            if (group.front() == '@') {
                Refuse(std::string(key) + " of a single file (" + group + ") is not supported");
                continue;
            }
            const auto folder = m_groups.find(Lower(group));
            if (folder == m_groups.end()) {
                Refuse("file group " + group + " has no destination folder");
                continue;
            }
            for (const std::string &line : m_inf.Lines(group)) {
                const std::vector<std::string> fields = SplitInfFields(line);
                const std::string name = DecodeInfName(fields.front());
                if (name.empty())
                    continue;
                CInfOperation op;
                op.kind = kind;
                op.path = NormalPath(JoinPath(folder->second, name));
                if (!IsInsideFolder(op.path, folder->second)) {
                    Refuse("\"" + line + "\" of " + group + " lies outside " + folder->second);
                    continue;
                }
                if (kind == CInfOperation::CopyFile) {
                    const std::string source =
                        fields.size() > 1 && !fields[1].empty() ? DecodeInfName(fields[1]) : name;
                    op.source = NormalPath(JoinPath(m_sourceFolder, source));
                    if (!IsInsideFolder(op.source, m_sourceFolder)) {
                        Refuse("\"" + line + "\" of " + group + " takes a file from outside the source disk");
                        continue;
                    }
                }
                m_plan.operations.push_back(std::move(op));
            }
        }
    }

    // Deeper folders first, so a folder is empty by the time it is tried.
    void ReadFolders()
    {
        std::vector<CInfOperation> folders;
        for (const std::string &list : m_inf.SectionList(m_section, "DelDirs")) {
            for (const std::string &line : m_inf.Lines(list)) {
                const std::optional<std::string> path = ResolvePath(SplitInfFields(line).front());
                if (!path || !InsideDefinedFolders(*path, true)) {
                    Refuse("folder \"" + line + "\" lies outside the destination folders");
                    continue;
                }
                CInfOperation op;
                op.kind = CInfOperation::DeleteFolder;
                op.path = *path;
                folders.push_back(std::move(op));
            }
        }
        std::stable_sort(folders.begin(), folders.end(), [](const CInfOperation &a, const CInfOperation &b) {
            return std::count(a.path.begin(), a.path.end(), '/') >
                   std::count(b.path.begin(), b.path.end(), '/');
        });
        for (CInfOperation &op : folders)
            m_plan.operations.push_back(std::move(op));
    }

    void ReadRegistry()
    {
        for (const std::string &list : m_inf.SectionList(m_section, "DelReg")) {
            for (const std::string &line : m_inf.Lines(list)) {
                const std::vector<std::string> fields = SplitInfFields(line);
                const std::optional<platform::RegRoot> root = platform::ParseRegRoot(fields.front());
                // A key of separators alone would name the whole root.
                if (!root || fields.size() < 2 ||
                    fields[1].find_first_not_of("\\/ \t") == std::string::npos) {
                    Refuse("registry line \"" + line + "\" names no root and key");
                    continue;
                }
                CInfOperation op;
                op.kind = CInfOperation::DeleteRegistry;
                op.root = *root;
                op.key = m_inf.SubstituteStrings(fields[1]);
                op.hasName = fields.size() >= 3;
                if (op.hasName)
                    op.name = m_inf.SubstituteStrings(fields[2]);
                m_plan.operations.push_back(std::move(op));
            }
        }
    }

    void ReadInis()
    {
        for (const std::string &list : m_inf.SectionList(m_section, "UpdateInis")) {
            for (const std::string &line : m_inf.Lines(list)) {
                const std::vector<std::string> fields = SplitInfFields(line);
                if (fields.size() < 3 || fields[0].empty() || fields[1].empty()) {
                    Refuse("INI line \"" + line + "\" names no file and section");
                    continue;
                }
                // A file named without a folder is in the Windows folder.
                const std::string named = m_inf.SubstituteStrings(fields[0]);
                const std::optional<std::string> path = named.find_first_of("/\\") == std::string::npos
                                                            ? NormalPath(JoinPath(m_windowsFolder, named))
                                                            : ResolvePath(fields[0]);
                if (!path ||
                    !(InsideDefinedFolders(*path, false) || IsInsideFolder(*path, m_windowsFolder))) {
                    Refuse("INI file of \"" + line + "\" lies outside the destination folders");
                    continue;
                }
                CInfOperation op;
                op.kind = CInfOperation::UpdateIni;
                op.path = *path;
                op.section = m_inf.SubstituteStrings(fields[1]);
                std::string key;
                std::string value;
                if (CInfFile::SplitKeyValue(fields[2], key, value) && !key.empty()) {
                    op.deleteKey = true;
                    op.iniKey = DecodeInfName(key);
                    op.deleteWhen = value;
                }
                if (fields.size() > 3 && CInfFile::SplitKeyValue(fields[3], key, value) && !key.empty()) {
                    key = DecodeInfName(key);
                    op.writeKey = true;
                    op.deleteKey = op.deleteKey && SameText(op.iniKey, key);
                    op.iniKey = key;
                    op.iniValue = m_inf.SubstituteStrings(value);
                }
                if (op.deleteKey || op.writeKey)
                    m_plan.operations.push_back(std::move(op));
            }
        }
    }

    void ReadComponents(const char *key, CInfOperation::Kind kind)
    {
        for (const std::string &list : m_inf.SectionList(m_section, key)) {
            for (const std::string &line : m_inf.Lines(list)) {
                const std::optional<std::string> path = ResolvePath(SplitInfFields(line).front());
                if (!path || !InsideDefinedFolders(*path, false)) {
                    Refuse("component \"" + line + "\" lies outside the destination folders");
                    continue;
                }
                CInfOperation op;
                op.kind = kind;
                op.path = *path;
                m_plan.operations.push_back(std::move(op));
            }
        }
    }

    CInfFile m_inf;
    std::string m_section;
    CInfPlan m_plan;
    std::string m_sourceFolder;
    std::string m_windowsFolder;
    std::map<std::string, std::string> m_ldids;  // "49000" -> folder
    std::map<std::string, std::string> m_groups; // lower-case group -> folder
    std::vector<std::string> m_folders;          // every folder the sections define
};

// Copies through a new file beside the target and a rename, so a program
// that runs from the old file keeps it. Programs and scripts stay runnable.
bool CopyIntoPlace(const std::string &source, const std::string &target)
{
    std::error_code ec;
    fs::create_directories(fs::path(target).parent_path(), ec);
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st {};
    ::fstat(in, &st);
    const std::string temp = target + ".velmor-new";
    const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    bool first = true;
    mode_t mode = st.st_mode & 0777;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        if (first && ((n >= 4 && std::memcmp(buf,
                                             "\x7f"
                                             "ELF",
                                             4) == 0) ||
                      (n >= 2 && std::memcmp(buf, "#!", 2) == 0)))
            mode |= 0755;
        first = false;
        if (::write(out, buf, static_cast<std::size_t>(n)) != n)
            ok = false;
    }
    ok = ::fchmod(out, mode) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    ::close(in);
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

using ComponentEntry = HRESULT (*)();

bool CallComponent(const std::string &path, const char *entry)
{
    platform::CModule module;
    if (!module.Load(path)) {
        VLOG("Inf", "Could not load %s: %s\n", path.c_str(), module.LastError().c_str());
        return false;
    }
    const auto function = module.Function<ComponentEntry>(entry);
    if (!function) {
        VLOG("Inf", "%s has no %s.\n", path.c_str(), entry);
        return false;
    }
    const HRESULT hr = function();
    if (FAILED(hr)) {
        VLOG("Inf", "%s of %s failed (hr=0x%08x).\n", entry, path.c_str(), static_cast<unsigned>(hr));
        return false;
    }
    return true;
}

bool RunOperation(const CInfOperation &op, std::vector<std::string> &deleted)
{
    std::error_code ec;
    switch (op.kind) {
    case CInfOperation::UnregisterComponent:
        return !fs::exists(op.path, ec) || CallComponent(op.path, "DllUnregisterServer");
    case CInfOperation::RegisterComponent:
        return CallComponent(op.path, "DllRegisterServer");
    case CInfOperation::CopyFile:
        // A file of the group that was only to be deleted has no source.
        if (!fs::exists(op.source, ec) && std::find(deleted.begin(), deleted.end(), op.path) != deleted.end())
            return true;
        if (CopyIntoPlace(op.source, op.path))
            return true;
        VLOG("Inf", "Could not copy %s to %s.\n", op.source.c_str(), op.path.c_str());
        return false;
    case CInfOperation::DeleteFile:
        if (fs::is_directory(fs::symlink_status(op.path, ec)))
            return false;
        deleted.push_back(op.path);
        if (::unlink(op.path.c_str()) == 0 || errno == ENOENT)
            return true;
        VLOG("Inf", "Could not delete %s (%s).\n", op.path.c_str(), std::strerror(errno));
        return false;
    case CInfOperation::DeleteFolder:
        // A folder that still holds something stays; that is not an error.
        if (::rmdir(op.path.c_str()) != 0 && errno != ENOENT)
            VLOG("Inf", "Folder %s stays (%s).\n", op.path.c_str(), std::strerror(errno));
        return true;
    case CInfOperation::DeleteRegistry: {
        if (!op.hasName) {
            const HRESULT hr = platform::RegistryKey::DeleteKey(op.root, op.key);
            return SUCCEEDED(hr) || hr == HRESULT_FROM_ERRNO(ENOENT);
        }
        platform::RegistryKey key;
        if (FAILED(platform::RegistryKey::Open(op.root, op.key, key)))
            return true;
        const HRESULT hr = key.DeleteValue(op.name);
        return SUCCEEDED(hr) || hr == HRESULT_FROM_ERRNO(ENOENT);
    }
    case CInfOperation::UpdateIni: {
        bool ok = true;
        if (op.deleteKey && fs::exists(op.path, ec)) {
            const std::string now =
                platform::GetPrivateProfileString(op.section, op.iniKey, "\x01", 1 << 20, op.path);
            if (now != "\x01" && (op.deleteWhen == "*" || now == op.deleteWhen))
                ok = platform::WritePrivateProfileString(op.section, op.iniKey.c_str(), nullptr, op.path);
        }
        if (op.writeKey)
            ok = platform::WritePrivateProfileString(op.section, op.iniKey.c_str(), op.iniValue.c_str(),
                                                     op.path) &&
                 ok;
        if (!ok)
            VLOG("Inf", "Could not update [%s] %s in %s.\n", op.section.c_str(), op.iniKey.c_str(),
                 op.path.c_str());
        return ok;
    }
    }
    return false;
}

} // namespace

CInfPlan CInfRunner::Plan(const std::string &infPath, std::string_view section)
{
    return PlanBuilder(infPath, section).Build();
}

HRESULT CInfRunner::Execute(const CInfPlan &plan)
{
    if (plan.hasBeginPrompt && !plan.beginPrompt.text.empty()) {
        const int answer =
            platform::ShowMessageBox(plan.beginPrompt.text, plan.beginPrompt.title, plan.beginPrompt.style);
        const unsigned buttons = plan.beginPrompt.style & 0xF;
        if ((buttons == platform::MB_YESNO && answer != platform::IDYES) ||
            (buttons == platform::MB_OKCANCEL && answer != platform::IDOK)) {
            VLOG("Inf", "%s: stopped at the begin prompt.\n", plan.infPath.c_str());
            return S_FALSE;
        }
    }
    bool complete = plan.refused.empty();
    std::vector<std::string> folders;
    std::vector<std::string> deleted;
    for (const CInfOperation &op : plan.operations) {
        complete = RunOperation(op, deleted) && complete;
        if (op.kind == CInfOperation::DeleteFolder)
            folders.push_back(op.path);
    }
    if (plan.hasEndPrompt && !plan.endPrompt.text.empty())
        platform::ShowMessageBox(plan.endPrompt.text, plan.endPrompt.title, plan.endPrompt.style);
    if (plan.cleanUp) {
        if (::unlink(plan.infPath.c_str()) != 0 && errno != ENOENT) {
            VLOG("Inf", "Could not delete %s (%s).\n", plan.infPath.c_str(), std::strerror(errno));
            complete = false;
        }
        // The INF may have been the last file of a folder it removes.
        for (const std::string &folder : folders)
            ::rmdir(folder.c_str());
    }
    return complete ? S_OK : S_FALSE;
}

std::string CInfRunner::Distrust(const std::string &infPath)
{
    // Root's own files are as safe as the user's: root could change
    // anything of the user's anyway.
    const auto own = [](const struct stat &st) { return st.st_uid == ::geteuid() || st.st_uid == 0; };
    struct stat st {};
    if (::lstat(infPath.c_str(), &st) != 0)
        return std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return "it is not a plain file (a link, a folder)";
    if (!own(st))
        return "it belongs to another user";
    if ((st.st_mode & 022) != 0)
        return "group or others may write it";
    std::error_code ec;
    const std::string folder = fs::absolute(infPath, ec).parent_path().string();
    if (::stat(folder.c_str(), &st) != 0)
        return std::strerror(errno);
    if (!own(st))
        return "its folder belongs to another user";
    if ((st.st_mode & 022) != 0)
        return "group or others may write its folder";
    return std::string();
}

HRESULT CInfRunner::Run(const std::string &infPath, std::string_view section)
{
    if (!CInfFile(infPath).Exists())
        return HRESULT_FROM_ERRNO(ENOENT);
    if (const std::string why = Distrust(infPath); !why.empty()) {
        VLOG("Inf", "%s is not run: %s.\n", infPath.c_str(), why.c_str());
        return HRESULT_FROM_ERRNO(EACCES);
    }
    return Execute(Plan(infPath, section));
}

bool CInfRunner::ParseLaunchCommand(std::string_view text, std::string &infPath, std::string &section)
{
    static constexpr std::string_view kEntry = "advpack.dll,LaunchINFSection";
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (text.size() < kEntry.size() || !SameText(text.substr(0, kEntry.size()), kEntry))
        return false;
    text.remove_prefix(kEntry.size());
    if (text.empty() || (text.front() != ' ' && text.front() != '\t'))
        return false;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    if (text.empty())
        return false;
    section = "DefaultInstall";
    infPath = std::string(text);
    std::error_code ec;
    if (fs::is_regular_file(infPath, ec))
        return true;
    // "FILE,SECTION[,flags]" as LaunchINFSection also reads it.
    const std::size_t comma = text.find(',');
    if (comma != std::string_view::npos && fs::is_regular_file(std::string(text.substr(0, comma)), ec)) {
        const std::vector<std::string> rest = SplitInfFields(text.substr(comma + 1));
        infPath = std::string(text.substr(0, comma));
        if (!rest.front().empty())
            section = rest.front();
    }
    return true;
}

} // namespace installengine
