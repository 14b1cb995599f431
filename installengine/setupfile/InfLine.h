#pragma once
// The field syntax of INF section lines, shared by the engine that writes the
// setup files and the runner that carries them out: fields are separated by
// commas outside double quotes; a quoted part loses its quotes and "" inside
// it stands for one quote; blanks around a field are dropped; ";" outside
// quotes starts a comment.
//
// Names (paths, file names, registry keys and value names, INI sections and
// keys) are written so that the runner reads back exactly the name. The
// files are CP949 text: a character CP949 cannot hold is written as
// "<U+XXXX>", its code point in hex. So are "<" itself, "=" and "%" (which
// the profile syntax and the INF string references take), and a blank at
// either end of the name (which the profile syntax drops). The runner turns
// every "<U+XXXX>" back into its character; any other text stays as written.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installengine {

std::vector<std::string> SplitInfFields(std::string_view line);

// `text` in double quotes, its own quotes doubled.
std::string QuoteInfField(std::string_view text);

// `text` as it stands when no quoting is needed, else quoted.
std::string InfField(std::string_view text);

// `name` as the setup files hold it (above), not yet quoted. Nothing when
// no line can hold it: a control character (a line break, a tab) or bytes
// that are no UTF-8.
std::optional<std::string> EncodeInfName(std::string_view name);

// `name` encoded and made one field of a line (quoted where needed).
std::optional<std::string> InfNameField(std::string_view name);

// The name an encoded text stands for.
std::string DecodeInfName(std::string_view text);

} // namespace installengine
