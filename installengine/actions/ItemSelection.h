#pragma once
// Which item sections of a script an installation processes, and how many
// "Install_Prg" steps that makes.
//
// A list section is named by a key of the script's "application" section
// ("Install_File", "Install_Reg", "Install_Link", "Install_Codec",
// "Update_Ini", "UninstallFile", and the updater's "Message"); each of its
// lines is the name of an item section. Scripts are read with the profile
// functions (8192-byte values and sections).
#include "CInstallLists.h"
#include "CInstallNames.h"

#include <string>
#include <string_view>
#include <vector>

namespace installengine {

// The lines of the list section that "application"/`listKey` names; empty
// when the key or the section is missing.
std::vector<std::string> ReadListSection(const std::string &scriptPath, std::string_view listKey);

// The web launcher's selection for a first installation: every item of the
// list whose "InstallOS" (default "%WIN_ALL%") holds a filter that admits
// this system. No version or size comparison; an item is listed once
// however many of its filters match.
std::vector<std::string> SelectFirstInstallItems(const std::string &scriptPath, std::string_view listKey);
CInstallLists SelectFirstInstallItems(const std::string &scriptPath);

// The updater's selection: an item whose "Version" (default "0") is above
// the installed `configVersion` is taken when its "InstallOS" admits this
// system; an item of the same version only when its "FileSize" is not 0,
// "DestDir" and "Filename" are set and the installed file (path macros
// expanded) is missing or of another size; an older item never. Versions
// are compared as texts without regard to case (CompareVersionText).
std::vector<std::string> SelectUpdateItems(const std::string &scriptPath, std::string_view listKey,
                                           std::string_view configVersion, const CInstallNames &names);
CInstallLists SelectUpdateItems(const std::string &scriptPath, std::string_view configVersion,
                                const CInstallNames &names);

// Versions as texts, byte by byte with ASCII letters folded: below 0 when
// `a` comes first ("1.10" < "1.9"), 0 when equal, above 0 otherwise.
int CompareVersionText(std::string_view a, std::string_view b);

// The "Install_Prg" total of an installation: 2 per file item, 1 per
// registry, shortcut, INI and uninstall item, 2 per codec item, 1 more per
// file item whose "RegisterServer" is "yes" and per codec item whose "Type"
// is "%DSHOW_FILTER%", and 2 per launch item.
int CountInstallSteps(const std::string &scriptPath, const CInstallLists &lists, std::size_t launchItems);

} // namespace installengine
