#include "platform/ShellFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

std::string GetTempPath()
{
    std::string dir = Environment("TMPDIR");
    if (dir.empty())
        dir = "/tmp";
    if (dir.back() != '/')
        dir.push_back('/');
    return dir;
}

std::string DefaultProgramFilesDirectory()
{
    return RunningAsRoot() ? "/opt" : HomeDirectory() + "/.local/opt";
}

} // namespace platform
