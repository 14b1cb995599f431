#include "CLaunchScript.h"

#include "TextFormat.h"

#include "platform/Profile.h"

namespace {

constexpr std::size_t kScriptBuffer = 8192;

} // namespace

bool CLaunchScript::IsInstalled(platform::RegRoot root, const std::string &guid)
{
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Open(root, kLaunchKey + guid, key)))
        return false;
    return key.ReadString("").has_value();
}

std::vector<CLaunchItem> CLaunchScript::MissingItems(const std::string &path, platform::RegRoot root)
{
    std::vector<CLaunchItem> missing;
    if (path.empty())
        return missing;
    std::vector<std::string> seen;
    for (const char *list : {"Install", "ShortCut"}) {
        for (const std::string &section : platform::GetPrivateProfileSection(list, kScriptBuffer, path)) {
            bool examined = false;
            for (const std::string &name : seen)
                examined = examined || SameTextIgnoringCase(name, section);
            if (examined)
                continue;
            seen.push_back(section);
            const auto value = [&](const char *key) {
                return platform::GetPrivateProfileString(section, key, "", kScriptBuffer, path);
            };
            CLaunchItem item;
            item.section = section;
            item.install = list[0] == 'I';
            item.guid = value("GUID");
            if (IsInstalled(root, item.guid))
                continue;
            item.fileName = value("FileName");
            item.destDir = value("DestDir");
            item.information = value("Information");
            item.installCount = value("InstallCount");
            missing.push_back(std::move(item));
        }
    }
    return missing;
}
