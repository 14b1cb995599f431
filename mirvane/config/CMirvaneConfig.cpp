#include "CMirvaneConfig.h"

#include "RegistryReference.h"
#include "TextFormat.h"
#include "ScriptPath.h"

#include "platform/Process.h"
#include "platform/Profile.h"
#include "platform/ShellFolders.h"

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// The program group's folder: the user's Start-menu Programs folder joined
// with the group's name. A name that is already a full folder (the web
// launcher records the group as one) is taken as it is.
std::string ProgramGroupFolder(const std::string &group)
{
    if (!group.empty() && IsSeparator(group.front()))
        return installengine::RemoveTrailingSeparator(group);
    std::string folder = platform::GetSpecialFolderPath(platform::ShellFolder::Programs);
    if (folder.empty() || !IsSeparator(folder.back()))
        folder += '/';
    folder += group;
    return installengine::RemoveTrailingSeparator(folder);
}

} // namespace

std::string CMirvaneConfig::PathIn(const std::string &directory)
{
    if (!directory.empty() && directory.back() == '/')
        return directory + kFileName;
    return directory + "/" + kFileName;
}

bool CMirvaneConfig::Read(const std::string &directory)
{
    m_path = PathIn(directory);
    if (!platform::FileExists(m_path))
        return false;
    const auto value = [this](const char *key, const char *defaultValue) {
        return platform::GetPrivateProfileString(kSection, key, defaultValue, kValueSize, m_path);
    };
    KorName = value("KorName", "제목없음");
    EngName = value("EngName", "NoTitle");
    Version = value("Version", "0");
    Online = SameTextIgnoringCase(value("Online", "no"), "yes");
    Execute = value("Execute", "");
    Argument = value("Argument", "");
    Skin = value("Skin", "");
    Script = value("Script", "");
    Launch = value("Launch", "");
    InstallDir = installengine::RemoveTrailingSeparator(ResolveRegistryReference(value("InstallDir", "")));
    PgroupDir = ProgramGroupFolder(ResolveRegistryReference(value("PgroupDir", "")));
    PublicKey = value("PublicKey", "");
    return true;
}

bool CMirvaneConfig::IsValid() const
{
    return Version != "0" && !Execute.empty() && !Skin.empty() && !Script.empty();
}

bool CMirvaneConfig::WriteVersion(const std::string &newVersion)
{
    if (SameTextIgnoringCase(newVersion, Version))
        return true;
    if (!platform::WritePrivateProfileString(kSection, "version", newVersion.c_str(), m_path))
        return false;
    Version = newVersion;
    return true;
}

installengine::CInstallNames CMirvaneConfig::InstallNames() const
{
    return {KorName, EngName, Version, PgroupDir, InstallDir};
}
