#include "CInstallRecord.h"

#include "LaunchPolicy.h"

#include "CInstallPlaces.h"
#include "CLogFile.h"
#include "InstallActions.h"
#include "ScriptPath.h"

#include "platform/Process.h"
#include "platform/Profile.h"
#include "platform/Registry.h"

#include <cstdlib>
#include <exception>
#include <optional>

using installengine::CSetupFile;

namespace {

constexpr std::size_t kScriptBuffer = 8192;

bool WriteValue(platform::RegRoot root, const std::string &key, const char *name, const std::string &value)
{
    platform::RegistryKey opened;
    HRESULT hr = platform::RegistryKey::Create(root, key, opened);
    if (SUCCEEDED(hr))
        hr = opened.WriteString(name, value);
    if (FAILED(hr))
        VLOG("Kerrow", "Could not write \"%s\" of %s (hr=0x%08x).\n", name, key.c_str(),
             static_cast<unsigned>(hr));
    return SUCCEEDED(hr);
}

} // namespace

std::string CInstallRecord::UninstallParameters(const std::string &uninstallFile)
{
    return "advpack.dll,LaunchINFSection " + uninstallFile;
}

std::string CInstallRecord::UninstallCommand(const std::string &uninstallFile)
{
    return std::string("rundll32.exe") + " " + UninstallParameters(uninstallFile);
}

bool CInstallRecord::Write(CSetupFile &setup) const noexcept
{
    try {
        return WriteRecord(setup) && WriteUninstallEntry(setup) && WriteShortcut(setup);
    } catch (const std::exception &e) {
        VLOG("Kerrow", "Recording the installation failed: %s\n", e.what());
    } catch (...) {
        VLOG("Kerrow", "Recording the installation failed.\n");
    }
    return false;
}

bool CInstallRecord::WriteRecord(CSetupFile &setup) const
{
    const platform::RegRoot root = m_info.root.root;
    if (!WriteValue(root, m_info.subKey, kProgramGroupValue, m_info.programGroupDir))
        return false;
    setup.AddUninstallLine("DelRegSection",
                           CSetupFile::RegistryLine(m_info.root.name, m_info.subKey, kProgramGroupValue));
    if (!WriteValue(root, m_info.subKey, kInstallPathValue, m_info.installDir))
        return false;
    setup.AddUninstallLine("DelRegSection",
                           CSetupFile::RegistryLine(m_info.root.name, m_info.subKey, kInstallPathValue));
    return true;
}

bool CInstallRecord::WriteUninstallEntry(CSetupFile &setup) const
{
    // The name becomes a key here and a field of an uninstall line: one the
    // line cannot hold as it stands would delete something else.
    if (!IsSetupLineText(m_info.korName)) {
        VLOG("Kerrow", "\"%s\" cannot name the uninstall entry.\n", m_info.korName.c_str());
        return false;
    }
    const std::string key = std::string(kUninstallKey) + "\\" + m_info.korName;
    if (!WriteValue(platform::RegRoot::HKLM, key, "UninstallString",
                    UninstallCommand(setup.UninstallFilePath())))
        return false;
    // The whole entry goes with the uninstall (a line without a value name
    // deletes the key), beside the line for the value of that name.
    setup.AddUninstallLine(
        "DelRegSection",
        CSetupFile::RegistryKeyLine("HKLM", "software\\microsoft\\windows\\currentversion\\uninstall\\" +
                                                m_info.korName));
    WriteValue(platform::RegRoot::HKLM, key, "DisplayName", m_info.korName);
    WriteValue(platform::RegRoot::HKLM, key, "DisplayIcon",
               installengine::JoinPath(m_info.installDir, m_info.exeName + ",0"));
    return true;
}

bool CInstallRecord::WriteShortcut(CSetupFile &setup) const
{
    const std::string &section = m_info.shortcutSection;
    if (section.empty())
        return true;
    const auto value = [&](const char *key, const char *defaultValue = "") {
        return platform::GetPrivateProfileString(section, key, defaultValue, kScriptBuffer,
                                                 m_info.scriptPath);
    };
    const auto expanded = [&](const char *key, const char *defaultValue = "") {
        return installengine::ExpandedPathMacros(value(key, defaultValue), m_info.names);
    };
    const installengine::CInstallPlaces places(m_info.names);
    const std::string destText = expanded("DestDir", "%APP_PROGRAM_GROUP_DIR%");
    const std::optional<std::string> destDir = places.Folder(destText);
    if (!destDir) {
        VLOG("Kerrow",
             "[%s] names the folder \"%s\", which is outside the folders an installation may use.\n",
             section.c_str(), destText.c_str());
        return false;
    }

    installengine::CShortcutItem link;
    link.type = installengine::CShortcutItem::kLinkFile;
    link.destDir = *destDir;
    link.name = expanded("Name");
    // The runner the product installed beside itself when there is one, so
    // the entry starts from a menu without a search path; else the name as
    // stored texts write it.
    const std::string ownRunner = installengine::JoinPath(m_info.installDir, "rundll32.exe");
    link.linkFile = platform::FileExists(ownRunner) ? ownRunner : std::string("rundll32.exe");
    link.argument = UninstallParameters(setup.UninstallFilePath());
    link.workDir = m_info.installDir;
    link.description = m_info.korName + " 제거";
    link.iconFile = expanded("IconFile");
    link.iconIndex = std::atoi(value("IconIndex").c_str());
    switch (installengine::InstallShortcut(link, setup)) {
    case installengine::ShortcutResult::Created:
    case installengine::ShortcutResult::Existed:
    case installengine::ShortcutResult::Ignored:
        return true;
    case installengine::ShortcutResult::Failed:
        break;
    }
    VLOG("Kerrow", "Could not make the uninstall shortcut of [%s].\n", section.c_str());
    return false;
}
