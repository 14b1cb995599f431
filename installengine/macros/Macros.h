#pragma once
// The three macro families of install scripts: path macros replaced inside
// destination texts, system filters that decide whether an item applies to
// the running system, and root-key macros of registry items.
#include "CInstallNames.h"

#include "platform/Registry.h"
#include "platform/Win32Types.h"

#include <optional>
#include <string>
#include <string_view>

namespace installengine {

// Replaces every path macro in `text`, in this order, each at every
// occurrence and with its letter case exactly as written:
//   %APP_KOR_NAME% %APP_ENG_NAME% %APP_VERSION% %APP_PROGRAM_GROUP_DIR%
//   %INSTALL_DIR% (the five values of `names`, inserted as they are), then
//   %PROGRAM_GROUP_DIR% %WINDOWS_DIR% %SYSTEM_DIR% %TEMP_DIR%
//   %PROGRAM_FILES_DIR% %DESKTOP_DIR% %STARTMENU_DIR% %STARTMENU_STARTUP_DIR%
//   %STARTMENU_PROGRAMS_DIR% %USER_DESKTOP_DIR% %USER_FONTS_DIR%
//   %USER_DOCUMENTS_DIR% %USER_STARTMENU_DIR% %USER_STARTMENU_STARTUP_DIR%
//   %USER_STARTMENU_PROGRAMS_DIR% (folders, one trailing separator removed).
// A text an earlier macro inserted is itself expanded by the later ones.
// Separators are left as written: scripts use "\", see ScriptPath.h for the
// native form.
void ExpandPathMacros(std::string &text, const CInstallNames &names);
std::string ExpandedPathMacros(std::string_view text, const CInstallNames &names);

// Script words ("yes", section and key names, macros) compared without
// regard to ASCII letter case; other bytes (CP949) exactly.
bool SameText(std::string_view a, std::string_view b);

// The system kind bits the filters test (0x1 95, 0x2 98, 0x4 ME, 0x10 2000,
// 0x100 NT 4, 0x1000 XP, 0x10000 2003). No Windows version runs here, so no
// bit is set: only %WIN_ALL% and %WIN_N9X% select an item.
DWORD GetSystemKind();

// Whether `filter` ("%WIN_XP%", compared without regard to case) admits a
// system of kind `systemKind`; any other text admits none.
bool MatchSystemFilter(std::string_view filter, DWORD systemKind);
bool MatchSystemFilter(std::string_view filter);

// Whether any filter of a comma-separated "InstallOS" list admits the
// running system (blanks around each filter are ignored).
bool MatchInstallOS(std::string_view installOS);

// A root-key macro mapped to its registry root and the root's name in
// setup-file lines ("HKUS" for %HKU% and %HKUS%).
struct CRootKey {
    platform::RegRoot root;
    const char *name;
};

// %HKCR% %HKCU% %HKLM% %HKU% %HKUS% %HKPD%, compared without regard to case.
// Anything else logs "Invaild Root Key\n" and gives nothing; the caller ends
// the installation with "error".
std::optional<CRootKey> MapRootKey(std::string_view macro);

} // namespace installengine
