#pragma once
// The file-system steps of the install actions, shared by the install
// worker and the web launcher's own recording step.
#include "CShortcutItem.h"

#include "CSetupFile.h"

#include "platform/Win32Types.h"

#include <string>
#include <string_view>

namespace installengine {

// Creates every missing level of `folder` (a native absolute path). Each
// level created here is registered with `setup` without the keep flag, so
// uninstall removes it again when empty; a folder that existed whole is
// registered with the keep flag. False when a level cannot be created (a
// level that appeared meanwhile is no failure).
bool CreateInstallFolder(const std::string &folder, CSetupFile &setup);

// Whether a file is in use: opening it for writing fails because a program
// runs from it (ETXTBSY) or the system holds it (EBUSY). A file that cannot
// be opened for another reason is not in use; replacing it goes through a
// rename and decides for itself.
bool IsFileInUse(const std::string &path);

// Moves a download into place as `target`, never rewriting a file in place:
// a rename, or across file systems a copy into a new file beside `target`
// that is then renamed over it; the source is removed afterwards.
bool MoveIntoPlace(const std::string &source, const std::string &target);

// Downloads and cabinets carry no file modes: a file that begins with an
// ELF header or "#!" gets the execute bits of its read bits.
void MakeRunnableIfProgram(const std::string &path);

// The number a "%REG_DWORD%" item stores: hexadecimal when the value is at
// least three characters long and begins with "0x" ("0x10" is 16), decimal
// otherwise ("10" is 10, "0x" is 0); leading digits only, 0 when there are
// none.
DWORD ParseDwordValue(std::string_view value);

// Makes one shortcut: creates its folder (CreateInstallFolder), and unless
// "<Name>.desktop" exists there writes the desktop entry and records it in
// the uninstall file (installed, removed on uninstall) when it has no
// inventory entry yet. An existing entry is left as it is and not recorded.
enum class ShortcutResult {
    Created,
    Existed,
    Ignored, // a type that is no shortcut: nothing is made
    Failed,  // the folder or the entry could not be written, or Name is no file name
};
ShortcutResult InstallShortcut(const CShortcutItem &item, CSetupFile &setup);

} // namespace installengine
