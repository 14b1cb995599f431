#include "CInfFile.h"

#include "InfLine.h"

#include "platform/Profile.h"

#include <filesystem>

namespace installengine {
namespace {

constexpr std::size_t kWhole = std::size_t{1} << 24;

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

bool CInfFile::Exists() const
{
    std::error_code ec;
    return std::filesystem::is_regular_file(m_path, ec);
}

std::vector<std::string> CInfFile::Lines(std::string_view section) const
{
    return platform::GetPrivateProfileSection(section, kWhole, m_path);
}

std::string CInfFile::Value(std::string_view section, std::string_view key) const
{
    return platform::GetPrivateProfileString(section, key, "", kWhole, m_path);
}

std::vector<std::string> CInfFile::SectionList(std::string_view section, std::string_view key) const
{
    std::vector<std::string> names;
    for (std::string &name : SplitInfFields(Value(section, key)))
        if (!name.empty())
            names.push_back(std::move(name));
    return names;
}

std::string CInfFile::SubstituteStrings(std::string_view text) const
{
    return DecodeInfName(Substituted(text));
}

std::string CInfFile::Substituted(std::string_view text) const
{
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('%', at);
        if (open == std::string_view::npos) {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, open - at));
        const std::size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(open));
            break;
        }
        const std::string_view name = text.substr(open + 1, close - open - 1);
        if (name.empty()) {
            out += '%';
            at = close + 1;
            continue;
        }
        // A missing string and a present one differ: the default marks it.
        const std::string value = platform::GetPrivateProfileString("Strings", name, "\x01", kWhole, m_path);
        if (value == "\x01") {
            out.append(text.substr(open, close - open));
            at = close;
        } else {
            out += value;
            at = close + 1;
        }
    }
    return out;
}

bool CInfFile::SplitKeyValue(std::string_view line, std::string &key, std::string &value)
{
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return true;
}

} // namespace installengine
