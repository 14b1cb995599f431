#pragma once
// The folders an installation may write to, delete from or start programs
// in: the folders the path macros name (the install folder, the program
// group, the Windows and system folders, the temporary folder, Program
// Files, the desktops, Start menus, startup folders, fonts and documents)
// and what lies below them.
//
// A script comes from the network; a destination such as
// "%INSTALL_DIR%\..\..\.bashrc" or "/etc" must not reach the rest of the
// machine. The folders are looked up once, when the installation starts, so
// registry items that change a folder's registry value cannot widen them.
#include "CInstallNames.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installengine {

class CInstallPlaces {
public:
    explicit CInstallPlaces(const CInstallNames &names);

    // A destination folder as the script gives it after macro expansion,
    // made native and normal ("C:\x" style separators accepted), when it is
    // an absolute path without ".." parts inside one of the folders (or one
    // of them itself); nothing otherwise.
    std::optional<std::string> Folder(std::string_view expanded) const;

    // Whether `name` is a plain file name: not empty, no separator, not "."
    // or "..".
    static bool IsPlainName(std::string_view name);

    const std::vector<std::string> &Roots() const { return m_roots; }

private:
    std::vector<std::string> m_roots;
};

} // namespace installengine
