#pragma once
// One shortcut to make ("Install_Link" items; the web launcher's shortcut to
// the uninstaller), its texts already macro-expanded. Shortcuts are
// freedesktop desktop entries "<Name>.desktop" in `destDir`.
#include <string>

namespace installengine {

struct CShortcutItem {
    static constexpr const char *kLinkFile = "%LINK_FILE%";         // a program: Type=Application
    static constexpr const char *kLinkInternet = "%LINK_INTERNET%"; // a web page: Type=Link

    std::string type;        // kLinkFile or kLinkInternet (without regard to case)
    std::string destDir;     // native folder
    std::string name;        // "Name": the entry's name and file name
    std::string linkFile;    // the program (kLinkFile)
    std::string argument;    // its command-line text (kLinkFile)
    std::string workDir;     // its working folder (kLinkFile)
    std::string linkUrl;     // the page (kLinkInternet)
    std::string description; // "Comment"
    std::string iconFile;    // "Icon"; the index has no meaning for desktop entries
    int iconIndex = 0;
};

} // namespace installengine
