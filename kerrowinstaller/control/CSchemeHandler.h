#pragma once
// KerrowHost.exe as the desktop's handler of "kerrow:" URLs: a desktop entry
// "kerrow-launcher.desktop" in the user's applications folder (the XDG data
// folder's "applications", platform::GetSpecialFolderPath(Programs)) with
// "MimeType=x-scheme-handler/kerrow;" and "Exec=<host> %u", and the default
// "x-scheme-handler/kerrow=kerrow-launcher.desktop" in the
// "[Default Applications]" group of "mimeapps.list" in the XDG config folder
// ($XDG_CONFIG_HOME, else ~/.config), where xdg-open and the desktops look.
//
// Files are replaced through a new file and a rename; other lines of
// mimeapps.list are kept as they are. A mimeapps.list that is a symbolic
// link stays one: the file it leads to is written.
#include <string>

class CSchemeHandler {
public:
    static constexpr char kScheme[] = "kerrow";
    static constexpr char kMimeType[] = "x-scheme-handler/kerrow";
    static constexpr char kEntryName[] = "kerrow-launcher.desktop";

    static std::string EntryPath();
    static std::string MimeAppsPath();

    // Writes the entry for `hostPath` and makes it the default. False when
    // a file cannot be written.
    static bool Register(const std::string &hostPath);
    // Removes the entry, and our entry from mimeapps.list's kerrow lines
    // (other handlers named on them stay). False when a file cannot be
    // changed.
    static bool Unregister();

    // The handler mimeapps.list names as default for kMimeType, or "".
    static std::string DefaultHandler();
};
