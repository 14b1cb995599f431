#include "CSchemeHandler.h"

#include "CDesktopEntry.h"
#include "CLogFile.h"

#include "platform/ShellFolders.h"

#include <fcntl.h>
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

// Writes `lines` through a new file beside `path` and a rename.
bool WriteLines(const std::string &path, const std::vector<std::string> &lines)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const std::string temp = path + ".kerrow-" + std::to_string(::getpid()) + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const std::string &line : lines)
            out << line << '\n';
        out.flush();
        if (!out) {
            VLOG("Kerrow", "Could not write %s.\n", temp.c_str());
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        VLOG("Kerrow", "Could not replace %s (%s).\n", path.c_str(), std::strerror(errno));
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
    std::vector<std::string> lines = ReadLines(mimeApps);
    std::vector<std::string> out;
    bool changed = false;
    bool anyKey = false;
    for (const std::string &line : lines) {
        if (IsOurKey(line) && line.find(kEntryName) != std::string::npos) {
            changed = true;
            continue;
        }
        if (!IsGroup(line) && line.find_first_not_of(" \t") != std::string::npos)
            anyKey = true;
        out.push_back(line);
    }
    if (!changed)
        return ok;
    // A list left with nothing but group headers is ours alone: it goes.
    if (!anyKey) {
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
