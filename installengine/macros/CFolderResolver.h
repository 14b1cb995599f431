#pragma once
// Finds one folder from one source and holds its path: a shell folder of the
// user, an all-users folder (the registry's "Shell Folders" entry first, then
// this desktop's own folder), or a registry value. The path is native and
// empty when the source has none.
#include "platform/Registry.h"
#include "platform/ShellFolders.h"

#include <optional>
#include <string>
#include <string_view>

namespace installengine {

class CFolderResolver {
public:
    // The user's folder (CSIDL_DESKTOPDIRECTORY, CSIDL_FONTS, ...).
    bool FromShellFolder(platform::ShellFolder folder);

    // An all-users folder: the value `valueName` ("Common Desktop", "Common
    // Start Menu", "Common Startup", "Common Programs") of HKLM
    // "SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders" with
    // its environment references expanded, or `fallback` when the value is
    // missing, empty or does not expand within 260 characters.
    bool FromCommonFolder(std::string_view valueName, platform::ShellFolder fallback);

    // A string value of the registry; false (and an empty path) when it
    // cannot be read.
    bool FromRegistry(platform::RegRoot root, std::string_view subKey, std::string_view valueName);

    const std::string &Path() const { return m_path; }

    // ExpandEnvironmentStrings: every %NAME% of a variable that is set is
    // replaced by its value; other percent signs stay. Nothing when the result
    // would not fit in `limit` bytes with its terminating zero.
    static std::optional<std::string> ExpandEnvironment(std::string_view text, std::size_t limit);

private:
    std::string m_path;
};

} // namespace installengine
