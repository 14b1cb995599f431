#pragma once
// The names and folders of the product being installed, as the program that
// runs the engine knows them: the updater fills them from its configuration
// file, the web launcher from its properties and web script. The engine
// itself never knows which program runs it. Texts are UTF-8.
#include <string>

namespace installengine {

struct CInstallNames {
    std::string korName;         // %APP_KOR_NAME%: the product's Korean name
    std::string engName;         // %APP_ENG_NAME%: its English name
    std::string version;         // %APP_VERSION%
    std::string programGroupDir; // %APP_PROGRAM_GROUP_DIR%: resolved program-group folder
    std::string installDir;      // %INSTALL_DIR%: resolved install folder
};

} // namespace installengine
