#include "InfLine.h"

#include "platform/CodePage.h"

#include <cctype>
#include <cstdio>

namespace installengine {
namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool HoldsInCp949(std::string_view text)
{
    return platform::AnsiToUtf8(platform::Utf8ToAnsi(text)) == text;
}

} // namespace

std::vector<std::string> SplitInfFields(std::string_view line)
{
    std::vector<std::string> fields;
    std::string field;
    // Blanks are dropped at both ends of a field but kept between words and
    // inside quotes: `pending` holds blanks not yet known to be inside.
    std::string pending;
    bool inQuotes = false;
    bool started = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inQuotes) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                field += c;
            }
            continue;
        }
        if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
            pending.clear();
            started = false;
            continue;
        }
        if (c == ';')
            break;
        if (IsBlank(c)) {
            if (started)
                pending += c;
            continue;
        }
        field += pending;
        pending.clear();
        started = true;
        if (c == '"')
            inQuotes = true;
        else
            field += c;
    }
    fields.push_back(std::move(field));
    return fields;
}

std::string QuoteInfField(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string InfField(std::string_view text)
{
    // A line that begins with "[" would be read as a section header.
    const bool needsQuotes =
        text.find_first_of(",;\"") != std::string_view::npos ||
        (!text.empty() && (IsBlank(text.front()) || IsBlank(text.back()) || text.front() == '['));
    return needsQuotes ? QuoteInfField(text) : std::string(text);
}

std::optional<std::string> EncodeInfName(std::string_view name)
{
    // Mostly every character fits: then only the syntax characters matter.
    const bool allHeld = HoldsInCp949(name);
    std::string out;
    out.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        const auto next = platform::DecodeUtf8At(name, at);
        if (!next || next->first < 0x20 || next->first == 0x7F)
            return std::nullopt;
        const auto [cp, length] = *next;
        const std::string_view character = name.substr(at, length);
        const bool edgeBlank = cp == ' ' && (at == 0 || at + length == name.size());
        if (cp == '<' || cp == '=' || cp == '%' || edgeBlank ||
            (!allHeld && cp >= 0x80 && !HoldsInCp949(character))) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "<U+%04X>", static_cast<unsigned>(cp));
            out += escaped;
        } else {
            out += character;
        }
        at += length;
    }
    return out;
}

std::optional<std::string> InfNameField(std::string_view name)
{
    std::optional<std::string> encoded = EncodeInfName(name);
    if (encoded)
        *encoded = InfField(*encoded);
    return encoded;
}

std::string DecodeInfName(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (text.compare(at, 3, "<U+") == 0) {
            std::size_t end = at + 3;
            char32_t cp = 0;
            while (end < text.size() && end - at - 3 < 6 &&
                   std::isxdigit(static_cast<unsigned char>(text[end]))) {
                const char c = text[end++];
                cp = cp * 16 + static_cast<char32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
            }
            const std::size_t digits = end - at - 3;
            // Control characters are never written so; a file that holds
            // one so gets the text as it stands, never a line break or a
            // zero inside a name.
            if (digits >= 4 && end < text.size() && text[end] == '>' && cp >= 0x20 && cp != 0x7F &&
                cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
                platform::AppendUtf8(out, cp);
                at = end + 1;
                continue;
            }
        }
        out += text[at++];
    }
    return out;
}

} // namespace installengine
