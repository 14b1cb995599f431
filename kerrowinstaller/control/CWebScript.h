#pragma once
// The web script "VelmorWebScript.kus": an INI file of the update-script
// family read with the profile functions (8192-byte values).
//
//   [script]       Signature=$WEB_UPDATER$   Version=1.1
//   [application]  PGroup, Version, SubFolder, SubKey, RegKey, Install_Path,
//                  Install_File, Install_Reg, Install_Link, Install_Codec,
//                  Update_Ini, UninstallFile (list sections), UninstallShortCut,
//                  Startable (programs besides Velmor.exe a page may start)
//
// It comes from the network: the folder names it gives (PGroup, SubFolder)
// must be relative paths that stay below the folder they are joined to.
#include <string>
#include <string_view>

class CWebScript {
public:
    static constexpr char kSignature[] = "$WEB_UPDATER$";
    static constexpr char kVersion[] = "1.1";
    static constexpr std::size_t kValueBuffer = 8192;

    enum class Header { Good, BadSignature, BadVersion };

    explicit CWebScript(std::string path) : m_path(std::move(path)) {}

    const std::string &Path() const { return m_path; }

    // "script"/"Signature" must be "$WEB_UPDATER$" (without regard to case),
    // "script"/"Version" "1.1".
    Header CheckHeader() const;

    std::string Value(std::string_view section, std::string_view key,
                      std::string_view defaultValue = "") const;

    // The "application" section.
    std::string PGroup() const { return Value("application", "PGroup"); }
    std::string Version() const { return Value("application", "Version"); }
    std::string SubFolder() const { return Value("application", "SubFolder"); }
    std::string SubKey() const { return Value("application", "SubKey"); }
    std::string RegKey() const { return Value("application", "RegKey"); }
    std::string InstallPath() const { return Value("application", "Install_Path"); }
    std::string UninstallShortCut() const { return Value("application", "UninstallShortCut"); }
    // A comma list of the installed programs a page may start besides
    // Velmor.exe (the helper programs never; see LaunchPolicy.h).
    std::string Startable() const { return Value("application", "Startable"); }

    // Whether a folder name of the script is a relative path of one or more
    // components that never leaves the folder it is joined to ("Quenta\Velmor"
    // is one; "..\x", "/etc", "a\..\.." are not). Empty is allowed where the
    // script may leave the name out.
    static bool IsRelativeFolder(std::string_view name);

private:
    std::string m_path;
};
