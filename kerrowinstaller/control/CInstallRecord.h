#pragma once
// What a successful web installation leaves behind so that the next Install
// finds it and the user can remove it again, written on the worker's thread
// as its last step before the hand-over (CInstallWorkerOptions::onInstalled):
//
// 1. the installation record under the script's RegKey root and SubKey:
//    "PGroup" (the program-group folder) and "install_path" (the install
//    folder), each with its "DelRegSection" line in the uninstall file;
// 2. the Add/Remove Programs entry, HKLM key kUninstallKey plus
//    "\<ProgKorName>": "UninstallString" (the
//    uninstall file run by rundll32.exe), "DisplayName", "DisplayIcon";
//    with a "DelRegSection" line that deletes that whole key;
// 3. when "application"/"UninstallShortCut" names a section, a shortcut to
//    the uninstaller made from it ("DestDir", "IconFile", "IconIndex",
//    "Name"), recorded in the uninstall file like any installed shortcut.
//
// The uninstall file's own line for the entry, HKLM,"...\uninstall","<name>",
// names a value of the uninstall key rather than the entry's key, so on its
// own an uninstall would leave the entry behind; the extra line deletes the
// key itself (a DelReg line without a value name).
#include "CInstallNames.h"
#include "CSetupFile.h"
#include "Macros.h"

#include <string>

struct CInstallRecordInfo {
    installengine::CRootKey root;
    std::string subKey;
    std::string installDir;
    std::string programGroupDir;
    std::string korName;
    std::string exeName;
    // The web script (for the shortcut's section) and the name of that
    // section ("application"/"UninstallShortCut"); empty: no shortcut.
    std::string scriptPath;
    std::string shortcutSection;
    installengine::CInstallNames names;
};

class CInstallRecord {
public:
    static constexpr char kInstallPathValue[] = "install_path";
    static constexpr char kProgramGroupValue[] = "PGroup";
    static constexpr char kUninstallKey[] = "software\\Microsoft\\windows\\currentversion\\uninstall";

    explicit CInstallRecord(CInstallRecordInfo info) : m_info(std::move(info)) {}

    // Writes everything; false (the installation fails) when a record
    // value, the "UninstallString" or the shortcut's folder cannot be
    // written. Runs on the worker's thread; never throws.
    bool Write(installengine::CSetupFile &setup) const noexcept;

    // "rundll32.exe advpack.dll,LaunchINFSection <uninstall file>".
    static std::string UninstallCommand(const std::string &uninstallFile);
    // "advpack.dll,LaunchINFSection <uninstall file>".
    static std::string UninstallParameters(const std::string &uninstallFile);

private:
    bool WriteRecord(installengine::CSetupFile &setup) const;
    bool WriteUninstallEntry(installengine::CSetupFile &setup) const;
    bool WriteShortcut(installengine::CSetupFile &setup) const;

    CInstallRecordInfo m_info;
};
