#pragma once
// A freedesktop desktop entry ("Name.desktop"), the form shortcuts take
// here: "Type=Application" for a program link (the ".lnk" of a shell link),
// "Type=Link" with "URL" for an internet shortcut (the ".url").
//
//   CDesktopEntry entry;
//   entry.Set("Type", "Application");
//   entry.Set("Exec", CDesktopEntry::ExecLine("/opt/x/Velmor.exe", "/u -start 1"));
//   entry.Save("/home/u/Desktop/Velmor.desktop");
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace installengine {

class CDesktopEntry {
public:
    // Adds a key of the "[Desktop Entry]" group; the value as the program
    // means it (escaped when written).
    void Set(std::string key, std::string value);
    const std::vector<std::pair<std::string, std::string>> &Keys() const { return m_keys; }

    // The file's text.
    std::string Text() const;

    // Writes the entry through a new file in the same folder and a rename,
    // with the execute bits desktops want before they start an entry from
    // the desktop folder. False when it cannot be written.
    bool Save(const std::string &path) const;

    // A value in the escapes of the format: "\\", "\n", "\t", "\r", and "\s"
    // for a leading blank.
    static std::string EscapeValue(std::string_view value);

    // The "Exec" value of `program` started with `arguments`, a command-line
    // text (split into words as Windows splits it): every word that needs it
    // is double-quoted with '"', '`', '$' and '\' escaped, and "%" is
    // written "%%". The result still goes through EscapeValue when saved.
    static std::string ExecLine(std::string_view program, std::string_view arguments);
    static std::string QuoteExecArgument(std::string_view argument);

private:
    std::vector<std::pair<std::string, std::string>> m_keys;
};

} // namespace installengine
