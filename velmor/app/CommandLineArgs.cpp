#include "CommandLineArgs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <strings.h>

namespace {

CommandLineArgs g_appArgs;

// Copies the text at `from` up to the next blank or the end into `dst`
// (zeroed first), keeping at most size - 1 characters.
void CopyValue(char *dst, std::size_t size, const char *from)
{
    std::memset(dst, 0, size);
    std::size_t n = 0;
    while (from[n] != '\0' && from[n] != ' ' && n < size - 1) {
        dst[n] = from[n];
        ++n;
    }
}

// atoi, then modulo 65536. strtol saturates instead of overflowing, which is
// what the C library's atoi does with an out-of-range number.
std::uint16_t ToPort(const char *value)
{
    char buf[CommandLineArgs::kValueChars];
    CopyValue(buf, sizeof buf, value);
    const long n = std::strtol(buf, nullptr, 10);
    return static_cast<std::uint16_t>(static_cast<unsigned long>(n) & 0xFFFFu);
}

} // namespace

const CommandLineArgs &GetAppArgs()
{
    return g_appArgs;
}

void SetAppArgs(const CommandLineArgs &args)
{
    g_appArgs = args;
}

std::string MaskRelayKey(std::string_view text)
{
    const std::size_t slash = text.rfind('/');
    return std::string(text.substr(0, slash == std::string_view::npos ? 0 : slash + 1)) + "****";
}

void CommandLineArgs::TakeRelay(std::string &text)
{
    constexpr std::string_view kName = "-relay ";
    for (std::size_t at = 0; at + kName.size() <= text.size(); ++at) {
        if (at > 0 && text[at - 1] != ' ')
            continue;
        if (::strncasecmp(text.data() + at, kName.data(), kName.size()) != 0)
            continue;
        const std::size_t from = at + kName.size();
        const std::size_t end = std::min(text.find(' ', from), text.size());
        relay = text.substr(from, end - from);
        const std::string masked = relay.empty() ? std::string() : MaskRelayKey(relay);
        text.replace(from, end - from, masked);
        at = from + masked.size();
    }
}

void CommandLineArgs::Store(char *text)
{
    if (text == nullptr)
        return;
    for (char *p = text; *p != '\0'; ++p)
        *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    std::memset(line, 0, sizeof line);
    std::strncpy(line, text, kLineChars);
}

bool CommandLineArgs::Parse()
{
    const char *hyphen = std::strchr(line, '-');
    if (hyphen == nullptr)
        return false;

    while (hyphen != nullptr) {
        char name[kValueChars];
        CopyValue(name, sizeof name, hyphen + 1);
        const char *blank = std::strchr(hyphen + 1, ' ');
        if (blank == nullptr)
            break; // a trailing name without a value is ignored
        const char *value = blank + 1;

        if (std::strcmp(name, "tag") == 0)
            CopyValue(tag, sizeof tag, value);
        else if (std::strcmp(name, "start") == 0)
            start = ToPort(value);
        else if (std::strcmp(name, "lport") == 0)
            lport = ToPort(value);
        else if (std::strcmp(name, "elport") == 0)
            elport = ToPort(value);
        else if (std::strcmp(name, "curl") == 0)
            CopyValue(curl, sizeof curl, value);
        else if (std::strcmp(name, "cport") == 0)
            cport = ToPort(value);
        else if (std::strcmp(name, "ceurl") == 0)
            CopyValue(ceurl, sizeof ceurl, value);
        else if (std::strcmp(name, "ceport") == 0)
            ceport = ToPort(value);
        else if (std::strcmp(name, "onairrul") == 0)
            CopyValue(onairrul, sizeof onairrul, value);
        else if (std::strcmp(name, "offairurl") == 0)
            CopyValue(offairurl, sizeof offairurl, value);

        // The next option is searched from the value's first character, so a
        // hyphen inside a value starts an (unrecognised) option of its own.
        hyphen = std::strchr(value, '-');
    }
    return true;
}
