#pragma once
// What a page may ask of the control. The control is safe for scripting and
// initialisation from any page, and a page chooses the script URL, the
// program name and the arguments; without limits any page could install and
// start whatever it likes. So, before anything is fetched or started:
//
// - `Script` must lie under the service site's base URL that was fixed when
//   the control was registered ("<base>/..."; scheme and host compared
//   without regard to case);
// - `ExeName`, `ProgName` and `ProgKorName` must be plain names (no folder,
//   no control characters): they become the started file, setup-file names
//   and registry key names;
// - the texts that go into the built command line (`ConnectURL`,
//   `ConnectEncodeURL`, `OnAirURL`, `OffAirURL`) must hold no blank and no
//   control character, since Velmor.exe splits its line at blanks; with
//   `Waiting` the page's own `Argument` is the line and may hold blanks but
//   no control character.
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
