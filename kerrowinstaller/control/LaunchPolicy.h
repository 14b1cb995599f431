#pragma once
// What a page may ask of the control. The control is safe for scripting and
// initialisation from any page, and a page chooses the script URL, the
// program name and the arguments; without limits any page could install and
// start whatever it likes. So, before anything is fetched or started:
//
// - `Script` must lie under the service site's base URL that was fixed when
//   the control was registered ("<base>/..."; scheme and host compared
//   without regard to case; no "..", no percent-encoded ".", "/" or "\");
// - `ExeName`, `ProgName` and `ProgKorName` must be plain names (no folder,
//   no control characters) that a setup-file line holds as they are (no
//   "%", which the INF runner would replace, no "="): they become the
//   started file, setup-file names, registry key names and uninstall lines;
// - `ExeName` is never one of the helper programs installed beside the
//   product (reg.exe, regsvr32.exe, rundll32.exe, runonce.exe,
//   KerrowHost.exe), whatever the letter case; once the signed web script is
//   read it must be Velmor.exe or a program its "application"/"Startable"
//   list names (StartableProgram);
// - the texts that go into the built command line (`ConnectURL`,
//   `ConnectEncodeURL`, `OnAirURL`, `OffAirURL`) must hold no blank and no
//   control character, since Velmor.exe splits its line at blanks; the
//   on-air and off-air URLs, which the broadcaster requests, must lie under
//   the service base URL (or be empty);
// - with `Waiting` the page's own `Argument` is the line: no control
//   character, and only the options of Velmor.exe's command line, each with
//   a value, as Velmor.exe will read them (UnknownArgument). "/u", which
//   skips the updater, is none of them.
#include "CInstallerState.h"

#include <optional>
#include <string>
#include <string_view>

// The message for the first property a page may not use, or nothing.
std::optional<std::string> CheckLaunchProperties(const CInstallerState &state, std::string_view serviceBase);

bool IsUnderServiceBase(std::string_view url, std::string_view serviceBase);
bool IsPlainProgramName(std::string_view name);
// No blank (when `blanksAllowed` is false) and no control character.
bool IsCommandLineValue(std::string_view value, bool blanksAllowed = false);
// A name a setup-file line holds as it is: no control character, "%" or "=".
bool IsSetupLineText(std::string_view text);

// reg.exe, regsvr32.exe, rundll32.exe, runonce.exe, KerrowHost.exe, in any
// letter case: never started for a page.
bool IsHelperProgram(std::string_view name);

// The file to start for `exeName`: "Velmor.exe" or the name as the web
// script's comma list `startable` spells it, matched without regard to
// case; nothing for any other name and for the helper programs.
std::optional<std::string> StartableProgram(std::string_view exeName, std::string_view startable);

// The first part of a waiting start's `Argument` that is not an option of
// Velmor.exe's command line with its value ("/u", "-relay", a stray word, an
// option without a value), or nothing. The text is read as the started
// program will see it: split into words as the start splits it, joined with
// blanks, and scanned as Velmor.exe scans it (a hyphen inside a value starts
// another option there).
std::optional<std::string> UnknownArgument(std::string_view argument);
