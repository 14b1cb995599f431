#include "RelayAddress.h"

#include <algorithm>
#include <cctype>

#include <strings.h>

namespace {

bool IsHostChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

// Printable ASCII without blanks and path separators: the key names the
// relay's files (nginx writes KEY.m3u8 and KEY-N.ts).
bool IsKeyChar(char c)
{
    return c > ' ' && c < 0x7f && c != '/' && c != '\\';
}

} // namespace

bool RelayAddress::Parse(std::string_view url, RelayAddress &out)
{
    constexpr std::string_view kScheme = "rtmp://";
    if (url.size() < kScheme.size() || ::strncasecmp(url.data(), kScheme.data(), kScheme.size()) != 0)
        return false;
    std::string_view rest = url.substr(kScheme.size());
    RelayAddress a;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos || close == 1)
            return false;
        a.host = std::string(rest.substr(1, close - 1));
        if (!std::all_of(a.host.begin(), a.host.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
            }))
            return false;
        rest.remove_prefix(close + 1);
    } else {
        const std::size_t end = rest.find_first_of(":/");
        a.host = std::string(rest.substr(0, end));
        if (a.host.empty() || !std::all_of(a.host.begin(), a.host.end(), IsHostChar))
            return false;
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    if (!rest.empty() && rest.front() == ':') {
        rest.remove_prefix(1);
        const std::size_t end = std::min(rest.find('/'), rest.size());
        if (end == 0 || end > 5)
            return false;
        int port = 0;
        for (char c : rest.substr(0, end)) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return false;
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535)
            return false;
        a.port = port;
        rest.remove_prefix(end);
    }
    if (rest.empty() || rest.front() != '/')
        return false;
    rest.remove_prefix(1);
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos || slash == 0)
        return false;
    a.app = std::string(rest.substr(0, slash));
    a.key = std::string(rest.substr(slash + 1));
    if (!std::all_of(a.app.begin(), a.app.end(), IsKeyChar) || a.key.empty() ||
        !std::all_of(a.key.begin(), a.key.end(), IsKeyChar))
        return false;
    out = std::move(a);
    return true;
}

std::string RelayAddress::Display() const
{
    const bool v6 = host.find(':') != std::string::npos;
    return "rtmp://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/" + app + "/****";
}
