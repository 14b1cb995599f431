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
// XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_STATE_HOME and HOME are honoured, so a
// test that sets them gets private folders. Paths are returned without a
// trailing "/" (the temporary folder with one, as Windows gives it).
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
// GetTempPathA: the user's own temporary folder, which keeps its files
// across a restart: "velmor/temp" under the XDG state folder
// ($XDG_STATE_HOME, else ~/.local/state), with a trailing "/". Missing
// levels are made with mode 0700. TMPDIR and the shared /tmp are not used:
// other users can plant names there, and the system empties it at boot.
//
// Empty when the folder cannot be used: "velmor" or "temp" cannot be made,
// or is not a folder (a link, a file), belongs to another user, or is open
// to group or others. `refusal` then receives the message that tells the
// user (one of the two texts below, with the folder).
std::string GetTempPath(std::string *refusal = nullptr);
inline constexpr char kTempFolderUnmade[] =
    "임시 폴더 '%s'(을)를 만들 수 없습니다.\n\n폴더를 만들 수 있는지 확인하신 후 다시 실행하시기 바랍니다.";
inline constexpr char kTempFolderRefused[] =
    "임시 폴더 '%s'(이)가 다른 사용자의 것이거나 다른 사용자에게 열려 있어 사용할 수 없습니다.\n\n"
    "이 폴더를 지우거나 소유자와 권한(rwx------)을 바로잡으신 후 다시 실행하시기 바랍니다.";
// "ProgramFilesDir" when the registry holds none: /opt for root,
// ~/.local/opt for a user.
std::string DefaultProgramFilesDirectory();

} // namespace platform
