#pragma once
// The item sections one installation processes: for each of the script's six
// list sections ("application" keys "Install_File", "Install_Codec",
// "UninstallFile", "Install_Reg", "Update_Ini", "Install_Link") the names of
// the selected item sections, in the order of their list section.
#include <string>
#include <vector>

namespace installengine {

struct CInstallLists {
    std::vector<std::string> files;      // "Install_File"
    std::vector<std::string> codecs;     // "Install_Codec"
    std::vector<std::string> uninstalls; // "UninstallFile"
    std::vector<std::string> registries; // "Install_Reg"
    std::vector<std::string> inis;       // "Update_Ini"
    std::vector<std::string> links;      // "Install_Link"

    bool Empty() const
    {
        return files.empty() && codecs.empty() && uninstalls.empty() && registries.empty() && inis.empty() &&
               links.empty();
    }
};

} // namespace installengine
