#pragma once
// The updater's command line: "/patch" (letter case ignored) switches on
// patch mode, the start of a temporary copy that installs the updater's
// patch; every other word is handed on. The line is split at blanks.
//
//   Mirvane.exe a /PATCH b   ->  patch mode, pass-through text "a b "
#include <string>

class CMirvaneCommandLine {
public:
    static constexpr const char *kPatchSwitch = "/patch";

    // `line` is the command line as the program received it (its words
    // joined by single blanks).
    explicit CMirvaneCommandLine(std::string line = std::string());

    // The whole line as received; it follows Argument when the program is
    // started.
    const std::string &Line() const { return m_line; }
    bool IsPatch() const { return m_patch; }
    // Every word but "/patch", each followed by one blank: the arguments of
    // the new updater after a self-update.
    const std::string &PassThrough() const { return m_passThrough; }

private:
    std::string m_line;
    std::string m_passThrough;
    bool m_patch = false;
};
