#include "LaunchPolicy.h"

#include "LauncherMessages.h"

#include "Macros.h"

#include "platform/Process.h"

namespace {

using installengine::SameText;

constexpr char kProduct[] = "Velmor.exe";

// The options of Velmor.exe's command line; it lower-cases its line first.
constexpr std::string_view kVelmorOptions[] = {"tag",   "start", "lport",  "elport",   "curl",
                                               "cport", "ceurl", "ceport", "onairrul", "offairurl"};

constexpr std::string_view kHelperPrograms[] = {"reg.exe", "regsvr32.exe", "rundll32.exe", "runonce.exe",
                                                "KerrowHost.exe"};

bool HasControlCharacter(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

// `text` holds `part` in any letter case.
bool ContainsIgnoringCase(std::string_view text, std::string_view part)
{
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at)
        if (SameText(text.substr(at, part.size()), part))
            return true;
    return false;
}

std::string_view WithoutTrailingSlash(std::string_view text)
{
    while (!text.empty() && text.back() == '/')
        text.remove_suffix(1);
    return text;
}

std::string_view Trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsVelmorOption(std::string_view name)
{
    for (const std::string_view option : kVelmorOptions)
        if (SameText(name, option))
            return true;
    return false;
}

} // namespace

bool IsUnderServiceBase(std::string_view url, std::string_view serviceBase)
{
    const std::string_view base = WithoutTrailingSlash(serviceBase);
    if (base.empty() || url.size() <= base.size() + 1 || url[base.size()] != '/')
        return false;
    if (!SameText(url.substr(0, base.size()), base))
        return false;
    // No blank, control character or backslash that a URL parser might read
    // as something else, and no way back above the base, also not through
    // "." or a separator in percent-encoding (in either letter case).
    const std::string_view path = url.substr(base.size());
    if (HasControlCharacter(path) || path.find_first_of(" \\") != std::string_view::npos)
        return false;
    for (const std::string_view encoded : {"%2e", "%2f", "%5c"})
        if (ContainsIgnoringCase(path, encoded))
            return false;
    return path.find("/../") == std::string_view::npos && !path.ends_with("/..");
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

bool IsSetupLineText(std::string_view text)
{
    return !HasControlCharacter(text) && text.find_first_of("%=") == std::string_view::npos;
}

bool IsHelperProgram(std::string_view name)
{
    for (const std::string_view helper : kHelperPrograms)
        if (SameText(name, helper))
            return true;
    return false;
}

std::optional<std::string> StartableProgram(std::string_view exeName, std::string_view startable)
{
    if (IsHelperProgram(exeName))
        return std::nullopt;
    if (SameText(exeName, kProduct))
        return std::string(kProduct);
    while (!startable.empty()) {
        const std::size_t comma = startable.find(',');
        const std::string_view name = Trimmed(startable.substr(0, comma));
        if (!name.empty() && SameText(exeName, name))
            return std::string(name);
        startable = comma == std::string_view::npos ? std::string_view() : startable.substr(comma + 1);
    }
    return std::nullopt;
}

std::optional<std::string> UnknownArgument(std::string_view argument)
{
    // The line as the started program receives it: the words the start
    // splits `argument` into, joined with blanks.
    std::string received;
    for (const std::string &word : platform::SplitCommandLine(std::string(argument))) {
        // The updater's marker: a line that starts with it skips the updater.
        if (SameText(word, "/u"))
            return word;
        received += (received.empty() ? "" : " ") + word;
    }
    const std::string_view line = received;
    std::size_t hyphen = line.find('-');
    if (const std::string_view before = Trimmed(line.substr(0, hyphen)); !before.empty())
        return std::string(before);
    // As Velmor.exe reads it: a name runs from a hyphen to the next blank,
    // its value from there to the next blank, and the next option starts at
    // the next hyphen from the value's first character on.
    while (hyphen != std::string_view::npos) {
        const std::size_t blank = line.find(' ', hyphen);
        const std::string_view name = line.substr(hyphen + 1, blank - hyphen - 1);
        if (!IsVelmorOption(name) || blank == std::string_view::npos)
            return std::string(line.substr(hyphen, blank - hyphen));
        const std::size_t valueEnd = line.find(' ', blank + 1);
        const std::string_view value = line.substr(blank + 1, valueEnd - blank - 1);
        if (value.empty() || !IsCommandLineValue(value))
            return std::string(line.substr(hyphen, valueEnd - hyphen));
        hyphen = line.find('-', blank + 1);
        // Nothing but blanks between this value and the next option.
        if (valueEnd != std::string_view::npos && hyphen > valueEnd) {
            if (const std::string_view stray = Trimmed(line.substr(valueEnd, hyphen - valueEnd));
                !stray.empty())
                return std::string(stray);
        }
    }
    return std::nullopt;
}

std::optional<std::string> CheckLaunchProperties(const CInstallerState &state, std::string_view serviceBase)
{
    using launcher::FormatMessageText;
    const std::string_view base = WithoutTrailingSlash(serviceBase);
    if (!IsUnderServiceBase(state.script, serviceBase))
        return FormatMessageText(launcher::kScriptRefused, {state.script, base});
    const struct {
        const std::string &value;
        const char *what;
    } names[] = {{state.exeName, "실행할 프로그램 이름"},
                 {state.progName, "프로그램 이름"},
                 {state.progKorName, "프로그램 이름"}};
    for (const auto &name : names)
        if (!IsPlainProgramName(name.value) || !IsSetupLineText(name.value))
            return FormatMessageText(launcher::kNameRefused, {name.value, name.what});
    if (IsHelperProgram(state.exeName))
        return FormatMessageText(launcher::kProgramRefused, {state.exeName});
    const struct {
        const std::string &value;
        const char *name;
        bool serviceAddress;
    } values[] = {{state.connectURL, "ConnectURL", false},
                  {state.connectEncodeURL, "ConnectEncodeURL", false},
                  {state.onAirURL, "OnAirURL", true},
                  {state.offAirURL, "OffAirURL", true}};
    for (const auto &value : values) {
        if (!IsCommandLineValue(value.value))
            return FormatMessageText(launcher::kValueRefused, {value.name, value.value});
        if (value.serviceAddress && !value.value.empty() && !IsUnderServiceBase(value.value, serviceBase))
            return FormatMessageText(launcher::kAddressRefused, {value.name, value.value, base});
    }
    if (state.waiting != 0) {
        if (!IsCommandLineValue(state.argument, true))
            return FormatMessageText(launcher::kValueRefused, {"Argument", state.argument});
        if (const std::optional<std::string> unknown = UnknownArgument(state.argument))
            return FormatMessageText(launcher::kArgumentRefused, {*unknown, state.exeName});
    }
    return std::nullopt;
}
