#pragma once
// Everything one web launcher control keeps: its properties with their
// defaults and the facts the last Install found (script, folders, record
// key, result text). Texts are UTF-8; a string put has already passed
// through the ANSI code page (CP949), as the control stores text.
#include "ComTypes.h"

#include <string>

struct CInstallerState {
    // Set from script only (no property bag name).
    std::string progName = "Velmor";          // %APP_ENG_NAME%
    std::string exeName = "Velmor.exe";       // started after installation
    std::string script;                       // URL of the web script
    std::string progKorName = "벨모개인방송"; // messages, %APP_KOR_NAME%
    LONG viewConfirm = 0;                     // ask for the install folder
    LONG viewProgress = 1;                    // show the progress window
    LONG waiting = 0;                         // plain Argument, wait until idle
    std::string argument;                     // the started program's parameters

    // Persisted (property bag names in the property map).
    std::string globalTag;
    SHORT start = 1; // 1 broadcaster, anything else viewer
    LONG listenPort = 64002;
    LONG encoderListenPort = 8080;
    std::string connectURL;
    LONG connectPort = 64002;
    std::string connectEncodeURL; // bag name "EncodeURL"
    LONG connectEncoderPort = 8080;
    std::string onAirURL;
    std::string offAirURL;

    // The control's extent from the property bag ("_cx", "_cy"), in
    // hundredths of a millimetre; only kept.
    LONG extentCx = 2646;
    LONG extentCy = 1323;

    // Found by the last Install.
    std::string scriptPath;      // the downloaded web script
    std::string installDir;      // the install folder
    std::string programGroupDir; // the program-group folder, or empty
    std::string appVersion;      // "application"/"Version"
    std::string subFolder;       // "application"/"SubFolder"
    std::string regRootName;     // "HKLM", "HKCU", "HKUS", ...
    std::string subKey;          // "application"/"SubKey"
    std::string resultText;      // the result text of the last Install
};
