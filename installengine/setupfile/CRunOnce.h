#pragma once
// The RunOnce values of HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce":
// commands to run once at the next start. This desktop has no such list of
// its own, so writing a value also writes an XDG autostart entry that starts
// runonce.exe at the user's next login; runonce.exe deletes each value, runs
// its command, and removes the entry once no value is left.
//
// The entry goes into the user's autostart folder ($XDG_CONFIG_HOME/autostart)
// even when running as root: the registry store that holds the values is
// that user's, so only that user's login can carry them out.
#include "platform/Win32Types.h"

#include <string>
#include <string_view>

namespace installengine {

class CRunOnce {
public:
    static constexpr const char *kKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    static constexpr const char *kEntryName = "velmor-runonce.desktop";

    // Writes the value `name` = `command` and the autostart entry. The value
    // is what counts: S_OK when it was written (a missing entry is logged),
    // the store's failure otherwise.
    static HRESULT Write(std::string_view name, std::string_view command);

    // Whether a value still waits to run `command` (its text as written).
    static bool Holds(std::string_view command);

    // Carries out every value present now, in the order they were written:
    // each is deleted first and its command run only when this process was
    // the one that deleted it, so no command runs twice. Waits for each
    // command. Removes the autostart entry when no value is left. Returns
    // the number of commands started.
    static int RunPending();

    // Where the autostart entry lives.
    static std::string AutostartEntryPath();
    // The entry's text: starts runonce.exe (found beside the running program
    // or on PATH) with the registry store and Windows folder this process
    // uses, when they were chosen through the environment.
    static std::string AutostartEntryText();
    static bool WriteAutostartEntry();
    static void RemoveAutostartEntry();
};

} // namespace installengine
