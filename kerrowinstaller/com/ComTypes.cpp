#include "ComTypes.h"

#include <cstdio>
#include <cstring>

bool IsEqualGUID(const GUID &a, const GUID &b)
{
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

std::string GuidToString(const GUID &g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return text;
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// `digits` hexadecimal digits from `text` at `at`.
std::optional<std::uint32_t> Hex(std::string_view text, std::size_t at, std::size_t digits)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const int d = HexDigit(text[at + i]);
        if (d < 0)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(d);
    }
    return value;
}

} // namespace

std::optional<GUID> GuidFromString(std::string_view text)
{
    if (text.size() == 38 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, 36);
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    GUID g{};
    const auto d1 = Hex(text, 0, 8);
    const auto d2 = Hex(text, 9, 4);
    const auto d3 = Hex(text, 14, 4);
    if (!d1 || !d2 || !d3)
        return std::nullopt;
    g.Data1 = *d1;
    g.Data2 = static_cast<std::uint16_t>(*d2);
    g.Data3 = static_cast<std::uint16_t>(*d3);
    const std::size_t bytes[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 8; ++i) {
        const auto b = Hex(text, bytes[i], 2);
        if (!b)
            return std::nullopt;
        g.Data4[i] = static_cast<std::uint8_t>(*b);
    }
    return g;
}
