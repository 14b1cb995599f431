#include "platform/Profile.h"
#include "platform/ShellFolders.h"

namespace platform {
namespace {

std::string WinIniPath()
{
    return GetWindowsDirectory() + "/win.ini";
}

} // namespace

std::string GetProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                             std::size_t bufferSize)
{
    return GetPrivateProfileString(section, key, defaultValue, bufferSize, WinIniPath());
}

bool WriteProfileString(std::string_view section, const char *key, const char *value)
{
    return WritePrivateProfileString(section, key, value, WinIniPath());
}

} // namespace platform
