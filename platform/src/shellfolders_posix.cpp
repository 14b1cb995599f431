#include "platform/ShellFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace platform {
namespace {

std::string Environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

std::string StripTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string HomeDirectory()
{
    std::string home = Environment("HOME");
    if (home.empty()) {
        if (const passwd *pw = ::getpwuid(::geteuid()); pw && pw->pw_dir)
            home = pw->pw_dir;
    }
    return StripTrailingSlashes(home.empty() ? "/" : home);
}

// An XDG base folder: the variable when it holds an absolute path (the base
// directory rules ignore relative ones), else the fallback under HOME.
std::string XdgBase(const char *variable, const char *fallback)
{
    const std::string value = Environment(variable);
    if (!value.empty() && value[0] == '/')
        return StripTrailingSlashes(value);
    return HomeDirectory() + "/" + fallback;
}

std::string DataHome()
{
    return XdgBase("XDG_DATA_HOME", ".local/share");
}

std::string ConfigHome()
{
    return XdgBase("XDG_CONFIG_HOME", ".config");
}

std::string StateHome()
{
    return XdgBase("XDG_STATE_HOME", ".local/state");
}

// `text` with its one "%s" replaced by `path`.
std::string WithPath(const char *text, const std::string &path)
{
    std::string out(text);
    out.replace(out.find("%s"), 2, path);
    return out;
}

bool RunningAsRoot()
{
    return ::geteuid() == 0;
}

// One folder of $XDG_CONFIG_HOME/user-dirs.dirs, the file xdg-user-dirs-update
// writes and xdg-user-dir reads: shell assignments such as
//   XDG_DESKTOP_DIR="$HOME/바탕 화면"
// where only "$HOME/" at the start and absolute paths are allowed.
std::string UserDirectory(const std::string &name, const char *fallback)
{
    const std::string key = "XDG_" + name + "_DIR=";
    std::ifstream in(ConfigHome() + "/user-dirs.dirs");
    std::string line;
    std::string found;
    while (std::getline(in, line)) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#' || line.compare(start, key.size(), key) != 0)
            continue;
        std::string value = line.substr(start + key.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        std::string unescaped;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            unescaped.push_back(value[i]);
        }
        if (unescaped == "$HOME" || unescaped.rfind("$HOME/", 0) == 0)
            found = HomeDirectory() + unescaped.substr(5);
        else if (!unescaped.empty() && unescaped[0] == '/')
            found = unescaped;
        // The last assignment wins, as in the shell.
    }
    if (found.empty())
        found = HomeDirectory() + "/" + fallback;
    return StripTrailingSlashes(found);
}

} // namespace

std::string GetSpecialFolderPath(ShellFolder folder)
{
    switch (folder) {
    case ShellFolder::Desktop:
        return UserDirectory("DESKTOP", "Desktop");
    case ShellFolder::Documents:
        return UserDirectory("DOCUMENTS", "Documents");
    case ShellFolder::Fonts:
        return DataHome() + "/fonts";
    case ShellFolder::StartMenu:
    case ShellFolder::Programs:
        return DataHome() + "/applications";
    case ShellFolder::Startup:
        return ConfigHome() + "/autostart";
    case ShellFolder::CommonDesktop:
        // The desktop has no folder shared by all users.
        return RunningAsRoot() ? std::string() : GetSpecialFolderPath(ShellFolder::Desktop);
    case ShellFolder::CommonStartMenu:
    case ShellFolder::CommonPrograms:
        return RunningAsRoot() ? "/usr/local/share/applications"
                               : GetSpecialFolderPath(ShellFolder::Programs);
    case ShellFolder::CommonStartup:
        return RunningAsRoot() ? "/etc/xdg/autostart" : GetSpecialFolderPath(ShellFolder::Startup);
    }
    return std::string();
}

std::string GetWindowsDirectory()
{
    std::string dir = Environment("VELMOR_WINDOWS_DIR");
    dir = dir.empty() ? DataHome() + "/velmor/windows" : StripTrailingSlashes(dir);
    std::error_code ec;
    std::filesystem::create_directories(dir + "/system32", ec);
    return dir;
}

std::string GetSystemDirectory()
{
    return GetWindowsDirectory() + "/system32";
}

std::string GetTempPath(std::string *refusal)
{
    const std::string state = StateHome();
    const std::string product = state + "/velmor";
    const std::string temp = product + "/temp";

    // Missing levels of the state folder are made private, as the base
    // directory rules ask.
    std::vector<std::string> missing;
    struct stat st {};
    for (std::string p = state; !p.empty() && p != "/" && ::lstat(p.c_str(), &st) != 0 && errno == ENOENT;
         p = p.substr(0, p.rfind('/')))
        missing.insert(missing.begin(), p);
    for (const std::string &p : missing)
        ::mkdir(p.c_str(), 0700);

    // The product's two levels must be folders of this user that nobody
    // else may enter: another user could otherwise plant or swap what the
    // programs write, read and run there.
    for (const std::string &p : {product, temp}) {
        if (::mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) {
            if (refusal)
                *refusal = WithPath(kTempFolderUnmade, p);
            return std::string();
        }
        if (::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
            (st.st_mode & 077) != 0) {
            if (refusal)
                *refusal = WithPath(kTempFolderRefused, p);
            return std::string();
        }
    }
    return temp + "/";
}

std::string DefaultProgramFilesDirectory()
{
    return RunningAsRoot() ? "/opt" : HomeDirectory() + "/.local/opt";
}

} // namespace platform
