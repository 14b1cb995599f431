#include "ItemSelection.h"

#include "Macros.h"
#include "ScriptPath.h"

#include "platform/Profile.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>

namespace installengine {
namespace {

constexpr std::size_t kScriptBuffer = 8192;

std::string ReadValue(const std::string &script, std::string_view section, std::string_view key,
                      std::string_view defaultValue = "")
{
    return platform::GetPrivateProfileString(section, key, defaultValue, kScriptBuffer, script);
}

char Fold(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsYes(const std::string &value)
{
    return ::strcasecmp(value.c_str(), "yes") == 0;
}

// Whether the installed file's size differs from `expected` (a file that
// cannot be looked at counts as different).
bool SizeDiffers(const std::string &path, long long expected)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != expected;
}

} // namespace

std::vector<std::string> ReadListSection(const std::string &scriptPath, std::string_view listKey)
{
    const std::string list = ReadValue(scriptPath, "application", listKey);
    if (list.empty())
        return {};
    return platform::GetPrivateProfileSection(list, kScriptBuffer, scriptPath);
}

std::vector<std::string> SelectFirstInstallItems(const std::string &scriptPath, std::string_view listKey)
{
    std::vector<std::string> selected;
    for (const std::string &item : ReadListSection(scriptPath, listKey))
        if (MatchInstallOS(ReadValue(scriptPath, item, "InstallOS", "%WIN_ALL%")))
            selected.push_back(item);
    return selected;
}

CInstallLists SelectFirstInstallItems(const std::string &scriptPath)
{
    CInstallLists lists;
    lists.files = SelectFirstInstallItems(scriptPath, "Install_File");
    lists.codecs = SelectFirstInstallItems(scriptPath, "Install_Codec");
    lists.uninstalls = SelectFirstInstallItems(scriptPath, "UninstallFile");
    lists.registries = SelectFirstInstallItems(scriptPath, "Install_Reg");
    lists.inis = SelectFirstInstallItems(scriptPath, "Update_Ini");
    lists.links = SelectFirstInstallItems(scriptPath, "Install_Link");
    return lists;
}

std::vector<std::string> SelectUpdateItems(const std::string &scriptPath, std::string_view listKey,
                                           std::string_view configVersion, const CInstallNames &names)
{
    std::vector<std::string> selected;
    for (const std::string &item : ReadListSection(scriptPath, listKey)) {
        const int order = CompareVersionText(configVersion, ReadValue(scriptPath, item, "Version", "0"));
        if (order < 0) {
            if (MatchInstallOS(ReadValue(scriptPath, item, "InstallOS", "%WIN_ALL%")))
                selected.push_back(item);
        } else if (order == 0) {
            const long long expected = std::atoll(ReadValue(scriptPath, item, "FileSize", "0").c_str());
            const std::string dir = ReadValue(scriptPath, item, "DestDir");
            const std::string name = ReadValue(scriptPath, item, "Filename");
            if (expected != 0 && !dir.empty() && !name.empty() &&
                SizeDiffers(JoinPath(ExpandedPathMacros(dir, names), ExpandedPathMacros(name, names)),
                            expected))
                selected.push_back(item);
        }
    }
    return selected;
}

CInstallLists SelectUpdateItems(const std::string &scriptPath, std::string_view configVersion,
                                const CInstallNames &names)
{
    CInstallLists lists;
    lists.files = SelectUpdateItems(scriptPath, "Install_File", configVersion, names);
    lists.codecs = SelectUpdateItems(scriptPath, "Install_Codec", configVersion, names);
    lists.uninstalls = SelectUpdateItems(scriptPath, "UninstallFile", configVersion, names);
    lists.registries = SelectUpdateItems(scriptPath, "Install_Reg", configVersion, names);
    lists.inis = SelectUpdateItems(scriptPath, "Update_Ini", configVersion, names);
    lists.links = SelectUpdateItems(scriptPath, "Install_Link", configVersion, names);
    return lists;
}

int CompareVersionText(std::string_view a, std::string_view b)
{
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(Fold(a[i]));
        const auto y = static_cast<unsigned char>(Fold(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int CountInstallSteps(const std::string &scriptPath, const CInstallLists &lists, std::size_t launchItems)
{
    std::size_t steps = 2 * lists.files.size() + lists.registries.size() + lists.links.size() +
                        lists.inis.size() + lists.uninstalls.size() + 2 * lists.codecs.size() +
                        2 * launchItems;
    for (const std::string &item : lists.files)
        if (IsYes(ReadValue(scriptPath, item, "RegisterServer")))
            ++steps;
    for (const std::string &item : lists.codecs)
        if (::strcasecmp(ReadValue(scriptPath, item, "Type").c_str(), "%DSHOW_FILTER%") == 0)
            ++steps;
    return static_cast<int>(steps);
}

} // namespace installengine
