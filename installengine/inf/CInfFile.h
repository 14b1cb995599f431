#pragma once
// An INF file read through the profile functions: section lines, key values
// and the "Strings" section that %name% references resolve through.
#include <string>
#include <string_view>
#include <vector>

namespace installengine {

class CInfFile {
public:
    explicit CInfFile(std::string path) : m_path(std::move(path)) {}

    const std::string &Path() const { return m_path; }
    bool Exists() const;

    // Every line of `section`, whole (INF sections are read without a limit).
    std::vector<std::string> Lines(std::string_view section) const;

    // The value of `key` in `section`, quotes around the whole value removed.
    std::string Value(std::string_view section, std::string_view key) const;

    // The section names a key lists ("CopyFiles=DestGrp0,DestGrp1").
    std::vector<std::string> SectionList(std::string_view section, std::string_view key) const;

    // Replaces every %name% whose name the "Strings" section holds by its
    // value and every "%%" by "%"; other references stay as written. Then the
    // names the engine encoded ("<U+XXXX>", InfLine.h) are decoded.
    std::string SubstituteStrings(std::string_view text) const;

    // A line "key=value" split at its first "=" (key and value trimmed);
    // false for a line without "=".
    static bool SplitKeyValue(std::string_view line, std::string &key, std::string &value);

private:
    std::string Substituted(std::string_view text) const;

    std::string m_path;
};

} // namespace installengine
