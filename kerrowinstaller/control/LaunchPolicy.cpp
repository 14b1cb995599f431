#include "LaunchPolicy.h"

#include "LauncherMessages.h"

#include <strings.h>

namespace {

bool HasControlCharacter(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

std::string_view WithoutTrailingSlash(std::string_view text)
{
    while (!text.empty() && text.back() == '/')
        text.remove_suffix(1);
    return text;
}

} // namespace

bool IsUnderServiceBase(std::string_view url, std::string_view serviceBase)
{
    const std::string_view base = WithoutTrailingSlash(serviceBase);
    if (base.empty() || url.size() <= base.size() + 1 || url[base.size()] != '/')
        return false;
    if (::strncasecmp(url.data(), base.data(), base.size()) != 0)
        return false;
    // No blank, control character or backslash that a URL parser might read
    // as something else, and no way back above the base.
    const std::string_view path = url.substr(base.size());
    if (HasControlCharacter(path) || path.find_first_of(" \\") != std::string_view::npos)
        return false;
    return path.find("/../") == std::string_view::npos && !path.ends_with("/..") &&
           path.find("%2e") == std::string_view::npos && path.find("%2E") == std::string_view::npos;
}

bool IsPlainProgramName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string_view::npos && !HasControlCharacter(name);
}

bool IsCommandLineValue(std::string_view value, bool blanksAllowed)
{
    return !HasControlCharacter(value) && (blanksAllowed || value.find(' ') == std::string_view::npos);
}

std::optional<std::string> CheckLaunchProperties(const CInstallerState &state, std::string_view serviceBase)
{
    using launcher::FormatMessageText;
    if (!IsUnderServiceBase(state.script, serviceBase))
        return FormatMessageText(launcher::kScriptRefused, {state.script, WithoutTrailingSlash(serviceBase)});
    const struct {
        const std::string &value;
        const char *what;
    } names[] = {{state.exeName, "실행할 프로그램 이름"},
                 {state.progName, "프로그램 이름"},
                 {state.progKorName, "프로그램 이름"}};
    for (const auto &name : names)
        if (!IsPlainProgramName(name.value))
            return FormatMessageText(launcher::kNameRefused, {name.value, name.what});
    const struct {
        const std::string &value;
        const char *name;
    } values[] = {{state.connectURL, "ConnectURL"},
                  {state.connectEncodeURL, "ConnectEncodeURL"},
                  {state.onAirURL, "OnAirURL"},
                  {state.offAirURL, "OffAirURL"}};
    for (const auto &value : values)
        if (!IsCommandLineValue(value.value))
            return FormatMessageText(launcher::kValueRefused, {value.name, value.value});
    if (state.waiting != 0 && !IsCommandLineValue(state.argument, true))
        return FormatMessageText(launcher::kValueRefused, {"Argument", state.argument});
    return std::nullopt;
}
