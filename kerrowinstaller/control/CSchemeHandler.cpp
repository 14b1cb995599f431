#include "CSchemeHandler.h"

#include "CDesktopEntry.h"
#include "CLogFile.h"

#include "platform/NewFile.h"
#include "platform/ShellFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

constexpr char kDefaultGroup[] = "[Default Applications]";

std::string ConfigHome()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return config;
    const char *home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

std::vector<std::string> ReadLines(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The file a write to `path` lands in: `path` itself or, when it is a
// symbolic link (a list kept with the user's other settings and linked
// here), the file the link leads to, so that the link stays a link.
std::filesystem::path WriteTarget(const std::string &path)
{
    std::filesystem::path target = path;
    std::error_code ec;
    for (int hops = 0; hops < 40 && std::filesystem::is_symlink(target, ec); ++hops) {
        const std::filesystem::path next = std::filesystem::read_symlink(target, ec);
        if (ec)
            break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target;
}

std::string JoinLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line + '\n';
    return text;
}

// Writes `text` over `target` in place: for a file in a folder where no
// new file can be made.
bool OverwriteInPlace(const std::string &target, const std::string &text)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = platform::WriteAll(fd, text) == 0;
    return ::close(fd) == 0 && ok;
}

// Writes `lines` to `path` (through a link, to the file it leads to) by a
// new file beside it, with the old file's permissions, and a rename; in
// place when its folder takes no new file.
bool WriteLines(const std::string &path, const std::vector<std::string> &lines)
{
    const std::string target = WriteTarget(path).string();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(target).parent_path(), ec);
    const std::string text = JoinLines(lines);
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    const std::string temp = target + ".kerrow-" + std::to_string(::getpid()) + ".tmp";
    const int fd = platform::CreateNewFile(temp, 0644);
    if (fd < 0) {
        if (existed && OverwriteInPlace(target, text))
            return true;
        VLOG("Kerrow", "Could not write %s (%s).\n", target.c_str(), std::strerror(errno));
        return false;
    }
    bool ok = (!existed || ::fchmod(fd, old.st_mode & 07777) == 0) && platform::WriteAll(fd, text) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        VLOG("Kerrow", "Could not replace %s (%s).\n", target.c_str(), std::strerror(errno));
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

bool IsGroup(const std::string &line)
{
    return !line.empty() && line.front() == '[';
}

// Whether `line` sets the kerrow handler ("x-scheme-handler/kerrow=...").
bool IsOurKey(const std::string &line)
{
    const std::string key = std::string(CSchemeHandler::kMimeType) + "=";
    std::size_t at = line.find_first_not_of(" \t");
    return at != std::string::npos && line.compare(at, key.size(), key) == 0;
}

// Takes our entry out of the value list of a kerrow line ("key=a;b;c;"),
// keeping the others in their order; `line` becomes empty when no other
// entry is left. Returns whether the line named our entry.
bool WithoutOurEntry(std::string &line)
{
    const std::size_t eq = line.find('=');
    std::string kept;
    bool found = false;
    std::stringstream values(line.substr(eq + 1));
    for (std::string value; std::getline(values, value, ';');) {
        const std::size_t from = value.find_first_not_of(" \t");
        const std::size_t to = value.find_last_not_of(" \t");
        const std::string name =
            from == std::string::npos ? std::string() : value.substr(from, to - from + 1);
        if (name == CSchemeHandler::kEntryName)
            found = true;
        else if (!name.empty())
            kept += name + ";";
    }
    if (found)
        line = kept.empty() ? std::string() : line.substr(0, eq + 1) + kept;
    return found;
}

} // namespace

std::string CSchemeHandler::EntryPath()
{
    return platform::GetSpecialFolderPath(platform::ShellFolder::Programs) + "/" + kEntryName;
}

std::string CSchemeHandler::MimeAppsPath()
{
    return ConfigHome() + "/mimeapps.list";
}

bool CSchemeHandler::Register(const std::string &hostPath)
{
    const std::string folder = platform::GetSpecialFolderPath(platform::ShellFolder::Programs);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    installengine::CDesktopEntry entry;
    entry.Set("Type", "Application");
    entry.Set("Name", "Kerrow 웹 런처");
    entry.Set("Comment", "웹 페이지의 kerrow: 주소로 벨모개인방송을 설치하고 실행합니다.");
    entry.Set("Exec", installengine::CDesktopEntry::ExecLine(hostPath, "") + " %u");
    entry.Set("Terminal", "false");
    entry.Set("NoDisplay", "true");
    entry.Set("MimeType", std::string(kMimeType) + ";");
    if (!entry.Save(EntryPath()))
        return false;

    std::vector<std::string> lines = ReadLines(MimeAppsPath());
    const std::string wanted = std::string(kMimeType) + "=" + kEntryName + ";";
    bool inDefaults = false;
    bool placed = false;
    std::vector<std::string> out;
    for (const std::string &line : lines) {
        if (IsGroup(line)) {
            if (inDefaults && !placed) {
                out.push_back(wanted);
                placed = true;
            }
            inDefaults = line == kDefaultGroup;
        } else if (inDefaults && IsOurKey(line)) {
            if (!placed)
                out.push_back(wanted);
            placed = true;
            continue;
        }
        out.push_back(line);
    }
    if (!placed) {
        if (!inDefaults)
            out.push_back(kDefaultGroup);
        out.push_back(wanted);
    }
    return WriteLines(MimeAppsPath(), out);
}

bool CSchemeHandler::Unregister()
{
    bool ok = true;
    const std::string entry = EntryPath();
    std::ifstream in(entry);
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    if (text.str().find(std::string("MimeType=") + kMimeType) != std::string::npos &&
        ::unlink(entry.c_str()) != 0) {
        VLOG("Kerrow", "Could not remove %s (%s).\n", entry.c_str(), std::strerror(errno));
        ok = false;
    }

    const std::string mimeApps = MimeAppsPath();
    std::vector<std::string> out;
    bool changed = false;
    bool anyKey = false;
    for (std::string line : ReadLines(mimeApps)) {
        if (IsOurKey(line)) {
            // Only our entry leaves the line; other handlers named with it
            // stay, and the line goes when it names nobody else.
            const bool hadOurs = WithoutOurEntry(line);
            changed = changed || hadOurs;
            if (hadOurs && line.empty())
                continue;
        }
        if (!IsGroup(line) && line.find_first_not_of(" \t") != std::string::npos)
            anyKey = true;
        out.push_back(line);
    }
    if (!changed)
        return ok;
    // A list left with nothing but group headers is ours alone: it goes
    // (a linked list stays, emptied through its link).
    std::error_code ec;
    if (!anyKey && !std::filesystem::is_symlink(mimeApps, ec)) {
        if (::unlink(mimeApps.c_str()) != 0 && errno != ENOENT)
            ok = false;
        return ok;
    }
    return WriteLines(mimeApps, out) && ok;
}

std::string CSchemeHandler::DefaultHandler()
{
    bool inDefaults = false;
    for (const std::string &line : ReadLines(MimeAppsPath())) {
        if (IsGroup(line)) {
            inDefaults = line == kDefaultGroup;
            continue;
        }
        if (inDefaults && IsOurKey(line)) {
            std::string value = line.substr(line.find('=') + 1);
            if (const std::size_t semi = value.find(';'); semi != std::string::npos)
                value.resize(semi);
            return value;
        }
    }
    return std::string();
}
