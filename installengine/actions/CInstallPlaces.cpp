#include "CInstallPlaces.h"

#include "Macros.h"
#include "ScriptPath.h"

namespace installengine {
namespace {

// Every folder macro; the first ones come from the names.
const char *const kFolderMacros[] = {
    "%APP_PROGRAM_GROUP_DIR%",
    "%INSTALL_DIR%",
    "%PROGRAM_GROUP_DIR%",
    "%WINDOWS_DIR%",
    "%SYSTEM_DIR%",
    "%TEMP_DIR%",
    "%PROGRAM_FILES_DIR%",
    "%DESKTOP_DIR%",
    "%STARTMENU_DIR%",
    "%STARTMENU_STARTUP_DIR%",
    "%STARTMENU_PROGRAMS_DIR%",
    "%USER_DESKTOP_DIR%",
    "%USER_FONTS_DIR%",
    "%USER_DOCUMENTS_DIR%",
    "%USER_STARTMENU_DIR%",
    "%USER_STARTMENU_STARTUP_DIR%",
    "%USER_STARTMENU_PROGRAMS_DIR%",
};

bool HasParentPart(const std::string &native)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = native.find('/', start);
        const std::string_view part = std::string_view(native).substr(
            start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..")
            return true;
        if (slash == std::string::npos)
            return false;
        start = slash + 1;
    }
}

} // namespace

CInstallPlaces::CInstallPlaces(const CInstallNames &names)
{
    for (const char *macro : kFolderMacros) {
        const std::string folder = NativePath(ExpandedPathMacros(macro, names));
        // A macro without a value, or one that is no absolute folder, admits
        // nothing; a value of "/" would admit everything.
        if (folder.empty() || folder.front() != '/' || HasParentPart(folder))
            continue;
        const std::string normal = NormalPath(folder);
        if (normal != "/")
            m_roots.push_back(normal);
    }
}

std::optional<std::string> CInstallPlaces::Folder(std::string_view expanded) const
{
    const std::string native = NativePath(expanded);
    if (native.empty() || native.front() != '/' || HasParentPart(native))
        return std::nullopt;
    const std::string normal = NormalPath(native);
    for (const std::string &root : m_roots)
        if (IsInsideFolder(normal, root, true))
            return normal;
    return std::nullopt;
}

bool CInstallPlaces::IsPlainName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\\') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

} // namespace installengine
