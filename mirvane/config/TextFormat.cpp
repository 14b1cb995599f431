#include "TextFormat.h"

std::string FormatText(std::string_view text, std::initializer_list<std::string_view> arguments)
{
    std::string out;
    out.reserve(text.size());
    auto next = arguments.begin();
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t place = text.find("%s", at);
        if (place == std::string_view::npos || next == arguments.end()) {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, place - at));
        out.append(*next++);
        at = place + 2;
    }
    return out;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}
