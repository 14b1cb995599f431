#pragma once
// The shell's special folders, the Windows folder and the temporary folder,
// on the XDG folders of this desktop.
//
// | folder          | user (CSIDL_...)                     | all users: root / a user      |
// |-----------------|--------------------------------------|-------------------------------|
// | Desktop         | xdg-user-dir DESKTOP                 | (none) / the user's           |
// | Documents       | xdg-user-dir DOCUMENTS               |                               |
// | Fonts           | ~/.local/share/fonts                 |                               |
// | StartMenu       | ~/.local/share/applications          | /usr/local/share/applications |
// | Programs        | ~/.local/share/applications          | /usr/local/share/applications |
// | Startup         | ~/.config/autostart                  | /etc/xdg/autostart            |
//
// XDG_DATA_HOME, XDG_CONFIG_HOME and HOME are honoured, so a test that sets
// them gets private folders. Paths are returned without a trailing "/".
#include <string>

namespace platform {

enum class ShellFolder {
    Desktop,   // CSIDL_DESKTOPDIRECTORY
    Documents, // CSIDL_PERSONAL
    Fonts,     // CSIDL_FONTS
    StartMenu, // CSIDL_STARTMENU
    Programs,  // CSIDL_PROGRAMS
    Startup,   // CSIDL_STARTUP
    CommonDesktop,
    CommonStartMenu,
    CommonPrograms,
    CommonStartup,
};

// The folder, or an empty text when there is none (CommonDesktop for a user
// that is not root is the user's desktop, as the table says).
std::string GetSpecialFolderPath(ShellFolder folder);

// GetWindowsDirectoryA: $VELMOR_WINDOWS_DIR, else "velmor/windows" under the
// XDG data folder. Holds win.ini, system.ini and system32. Created on demand.
std::string GetWindowsDirectory();
// GetSystemDirectoryA: GetWindowsDirectory() + "/system32".
std::string GetSystemDirectory();
// GetTempPathA: $TMPDIR or "/tmp", with a trailing "/" as Windows gives it.
std::string GetTempPath();
// "ProgramFilesDir" when the registry holds none: /opt for root,
// ~/.local/opt for a user.
std::string DefaultProgramFilesDirectory();

} // namespace platform
