#pragma once
// What an INF section asks for, read and checked before anything is done:
// the prompts and the operations in the order they run. Building a plan
// changes nothing, so any INF can be read safely; running it is CInfRunner's.
#include "platform/Registry.h"

#include <string>
#include <vector>

namespace installengine {

struct CInfPrompt {
    std::string text;   // "prompt", strings substituted; empty: no box
    std::string title;  // "Title"
    unsigned style = 0; // MB_YESNO, MB_OKCANCEL or MB_OK from "buttontype"
};

struct CInfOperation {
    enum Kind {
        UnregisterComponent, // DllUnregisterServer of `path`
        CopyFile,            // `source` (on the source disk) to `path`
        DeleteFile,          // `path`
        DeleteFolder,        // `path`, only when empty
        DeleteRegistry,      // value `name` of `key`, or the whole key when !hasName
        UpdateIni,           // in file `path`: delete `iniKey` / write `iniKey`=`iniValue`
        RegisterComponent,   // DllRegisterServer of `path`
    };
    Kind kind = DeleteFile;
    std::string path;
    std::string source;
    platform::RegRoot root = platform::RegRoot::HKLM;
    std::string key;
    std::string name;
    bool hasName = true;
    std::string section;
    std::string iniKey;
    std::string iniValue;
    // UpdateIni: delete `iniKey` when its value is `deleteWhen` ("*": any).
    bool deleteKey = false;
    std::string deleteWhen;
    bool writeKey = false;
};

struct CInfPlan {
    std::string infPath;
    bool hasBeginPrompt = false;
    CInfPrompt beginPrompt;
    bool hasEndPrompt = false;
    CInfPrompt endPrompt;
    std::vector<CInfOperation> operations;
    // Lines that were not taken, with the reason (also logged).
    std::vector<std::string> refused;
    bool cleanUp = false;
};

} // namespace installengine
