#include "InfLine.h"

namespace installengine {
namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
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
    const bool needsQuotes = text.find_first_of(",;\"") != std::string_view::npos ||
                             (!text.empty() && (IsBlank(text.front()) || IsBlank(text.back())));
    return needsQuotes ? QuoteInfField(text) : std::string(text);
}

} // namespace installengine
