#pragma once
// The launch script: programs offered beside the product. Its sections
// "Install" and "ShortCut" list launch-item sections (one name a line); an
// item carries "GUID", "Name", "FileName", "DestDir", "URL", "IconFile",
// "IconIndex", "Information", "InstallCount" and "DownCount". An item counts
// as installed when the key "Software\Quenta\Velmor\Launch_GUID\<GUID>"
// exists under the update script's "RegKey" root and its default value can
// be read (the install worker writes it).
#include "platform/Registry.h"

#include <string>
#include <vector>

struct CLaunchItem {
    std::string section;
    bool install = false; // listed in "Install" (else "ShortCut")
    std::string guid;
    std::string fileName;
    std::string destDir;
    std::string information;
    std::string installCount;
};

class CLaunchScript {
public:
    static constexpr const char *kLaunchKey = "Software\\Quenta\\Velmor\\Launch_GUID\\";

    // The items of "Install", then "ShortCut", that are not installed under
    // `root`, each section examined once. Empty when `path` is empty or not
    // readable (a launch script that could not be fetched).
    static std::vector<CLaunchItem> MissingItems(const std::string &path, platform::RegRoot root);

    static bool IsInstalled(platform::RegRoot root, const std::string &guid);
};
