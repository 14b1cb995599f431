#pragma once
// Carries out an install section of an INF file the way advpack.dll's
// LaunchINFSection does for the files the install engine writes:
//
//   BeginPrompt      a Yes/No (or OK/Cancel) question; No stops everything
//   CustomDestination  numbers ("49000") mapped to folders by "Dest" sections
//   DestinationDirs  file groups mapped to those numbers (or 10, 11)
//   UnregisterOCXs   DllUnregisterServer of each listed component
//   DelFiles         the groups' files
//   CopyFiles        the groups' files, from the INF's own folder (the source
//                    disk); a file of a group that has no source there was
//                    only to be deleted (copies and deletions of one folder
//                    share the folder's group)
//   DelDirs          the listed folders, each only when empty
//   DelReg           registry values (or keys)
//   UpdateInis       "file,section,old entry,new entry": "key=*" deletes the key
//   RegisterOCXs     DllRegisterServer of each listed component
//   EndPrompt        a closing message
//   CleanUp=1        the INF file is deleted at the end
//
// Components are unregistered before files are deleted, so a library can
// still remove its own keys. Every path a line names must stay inside a
// folder the INF's own destination sections define (the Windows folder for
// INI files named without one); a line that climbs out is refused and
// logged, and the rest still runs. Any bytes in the file are safe to read.
#include "CInfPlan.h"

#include "platform/Win32Types.h"

#include <string>
#include <string_view>

namespace installengine {

class CInfRunner {
public:
    // Reads `infPath` (native, absolute or relative to the current folder)
    // and checks what `section` asks for. Nothing is changed.
    static CInfPlan Plan(const std::string &infPath, std::string_view section = "DefaultInstall");

    // Shows the begin prompt, runs the operations, shows the end prompt and
    // cleans up. S_OK when everything was done, S_FALSE when the user said
    // No or some operation failed or was refused (each logged), a failure
    // when the INF file cannot be read, and HRESULT_FROM_ERRNO(EACCES)
    // (logged, nothing done) when Distrust() finds a reason not to run it.
    static HRESULT Run(const std::string &infPath, std::string_view section = "DefaultInstall");

    // Why an INF file may not be run, or the empty text: it must be a plain
    // file (not a link) of this user (or root) that group and others may not
    // write, in a folder of this user (or root) that group and others may
    // not write. Otherwise another user could have planted or changed what
    // it copies, deletes and registers.
    static std::string Distrust(const std::string &infPath);

    // Runs a plan as Run does.
    static HRESULT Execute(const CInfPlan &plan);

    // The command text a registry value or shortcut holds after the program
    // name, "advpack.dll,LaunchINFSection FILE": FILE is the whole rest of
    // the text, blanks included; "FILE,SECTION" is also understood when FILE
    // alone is not a file. False when the text names another entry point.
    static bool ParseLaunchCommand(std::string_view text, std::string &infPath, std::string &section);
};

} // namespace installengine
