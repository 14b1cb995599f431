#include "Macros.h"

#include "CFolderResolver.h"
#include "CLogFile.h"
#include "ScriptPath.h"

#include "platform/ShellFolders.h"

#include <functional>

namespace installengine {
namespace {

using platform::ShellFolder;

const char *kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// CString::Replace: every occurrence, left to right, without rescanning the
// inserted text.
void ReplaceAll(std::string &text, std::string_view macro, std::string_view value)
{
    std::size_t at = 0;
    while ((at = text.find(macro, at)) != std::string::npos) {
        text.replace(at, macro.size(), value);
        at += value.size();
    }
}

std::string CommonFolder(std::string_view valueName, ShellFolder fallback)
{
    CFolderResolver resolver;
    resolver.FromCommonFolder(valueName, fallback);
    return resolver.Path();
}

std::string UserFolder(ShellFolder folder)
{
    CFolderResolver resolver;
    resolver.FromShellFolder(folder);
    return resolver.Path();
}

std::string ProgramFilesFolder()
{
    CFolderResolver resolver;
    if (resolver.FromRegistry(platform::RegRoot::HKLM, kCurrentVersionKey, "ProgramFilesDir"))
        return resolver.Path();
    return platform::DefaultProgramFilesDirectory();
}

std::string CommonDesktop()
{
    std::string path = CommonFolder("Common Desktop", ShellFolder::CommonDesktop);
    return path.empty() ? UserFolder(ShellFolder::Desktop) : path;
}

std::string UserDesktop()
{
    std::string path = UserFolder(ShellFolder::Desktop);
    return path.empty() ? CommonFolder("Common Desktop", ShellFolder::CommonDesktop) : path;
}

// The user's own temporary folder. When it may not be used the macro stays
// as it is: an empty folder would turn "%TEMP_DIR%\x" into "/x".
std::string TempFolder()
{
    const std::string folder = platform::GetTempPath();
    return folder.empty() ? std::string("%TEMP_DIR%") : folder;
}

struct FolderMacro {
    const char *macro;
    std::function<std::string()> value;
};

const std::vector<FolderMacro> &FolderMacros()
{
    static const std::vector<FolderMacro> macros = {
        {"%PROGRAM_GROUP_DIR%", [] { return CommonFolder("Common Programs", ShellFolder::CommonPrograms); }},
        {"%WINDOWS_DIR%", [] { return platform::GetWindowsDirectory(); }},
        {"%SYSTEM_DIR%", [] { return platform::GetSystemDirectory(); }},
        {"%TEMP_DIR%", TempFolder},
        {"%PROGRAM_FILES_DIR%", ProgramFilesFolder},
        {"%DESKTOP_DIR%", CommonDesktop},
        {"%STARTMENU_DIR%", [] { return CommonFolder("Common Start Menu", ShellFolder::CommonStartMenu); }},
        {"%STARTMENU_STARTUP_DIR%",
         [] { return CommonFolder("Common Startup", ShellFolder::CommonStartup); }},
        {"%STARTMENU_PROGRAMS_DIR%",
         [] { return CommonFolder("Common Programs", ShellFolder::CommonPrograms); }},
        {"%USER_DESKTOP_DIR%", UserDesktop},
        {"%USER_FONTS_DIR%", [] { return UserFolder(ShellFolder::Fonts); }},
        {"%USER_DOCUMENTS_DIR%", [] { return UserFolder(ShellFolder::Documents); }},
        {"%USER_STARTMENU_DIR%", [] { return UserFolder(ShellFolder::StartMenu); }},
        {"%USER_STARTMENU_STARTUP_DIR%", [] { return UserFolder(ShellFolder::Startup); }},
        {"%USER_STARTMENU_PROGRAMS_DIR%", [] { return UserFolder(ShellFolder::Programs); }},
    };
    return macros;
}

} // namespace

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = (a[i] >= 'a' && a[i] <= 'z') ? static_cast<char>(a[i] - 32) : a[i];
        const char y = (b[i] >= 'a' && b[i] <= 'z') ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

void ExpandPathMacros(std::string &text, const CInstallNames &names)
{
    ReplaceAll(text, "%APP_KOR_NAME%", names.korName);
    ReplaceAll(text, "%APP_ENG_NAME%", names.engName);
    ReplaceAll(text, "%APP_VERSION%", names.version);
    ReplaceAll(text, "%APP_PROGRAM_GROUP_DIR%", names.programGroupDir);
    ReplaceAll(text, "%INSTALL_DIR%", names.installDir);
    // A folder is looked up only when its macro occurs: the result is the
    // same, and most texts name one folder at most.
    for (const FolderMacro &m : FolderMacros())
        if (text.find(m.macro) != std::string::npos)
            ReplaceAll(text, m.macro, RemoveTrailingSeparator(m.value()));
}

std::string ExpandedPathMacros(std::string_view text, const CInstallNames &names)
{
    std::string out(text);
    ExpandPathMacros(out, names);
    return out;
}

DWORD GetSystemKind()
{
    return 0;
}

bool MatchSystemFilter(std::string_view filter, DWORD systemKind)
{
    struct Row {
        const char *filter;
        DWORD bits;
    };
    static const Row rows[] = {
        {"%WIN_95%", 0x1},   {"%WIN_98%", 0x2},    {"%WIN_ME%", 0x4},    {"%WIN_9X%", 0x1 | 0x2 | 0x4},
        {"%WIN_NT%", 0x100}, {"%WIN_2000%", 0x10}, {"%WIN_XP%", 0x1000}, {"%WIN_2003%", 0x10000},
    };
    if (SameText(filter, "%WIN_ALL%") || SameText(filter, "%WIN_N9X%"))
        return true;
    for (const Row &row : rows)
        if (SameText(filter, row.filter))
            return (systemKind & row.bits) != 0;
    return false;
}

bool MatchSystemFilter(std::string_view filter)
{
    return MatchSystemFilter(filter, GetSystemKind());
}

bool MatchInstallOS(std::string_view installOS)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = installOS.find(',', start);
        std::string_view one =
            installOS.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        while (!one.empty() && (one.front() == ' ' || one.front() == '\t'))
            one.remove_prefix(1);
        while (!one.empty() && (one.back() == ' ' || one.back() == '\t'))
            one.remove_suffix(1);
        if (MatchSystemFilter(one))
            return true;
        if (comma == std::string_view::npos)
            return false;
        start = comma + 1;
    }
}

std::optional<CRootKey> MapRootKey(std::string_view macro)
{
    static const struct {
        const char *macro;
        CRootKey key;
    } rows[] = {
        {"%HKCR%", {platform::RegRoot::HKCR, "HKCR"}}, {"%HKCU%", {platform::RegRoot::HKCU, "HKCU"}},
        {"%HKLM%", {platform::RegRoot::HKLM, "HKLM"}}, {"%HKU%", {platform::RegRoot::HKU, "HKUS"}},
        {"%HKUS%", {platform::RegRoot::HKU, "HKUS"}},  {"%HKPD%", {platform::RegRoot::HKPD, "HKPD"}},
    };
    for (const auto &row : rows)
        if (SameText(macro, row.macro))
            return row.key;
    VLOG("Macros", "Invaild Root Key\n");
    return std::nullopt;
}

} // namespace installengine
