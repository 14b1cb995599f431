#pragma once
// The field syntax of INF section lines, shared by the engine that writes the
// setup files and the runner that carries them out: fields are separated by
// commas outside double quotes; a quoted part loses its quotes and "" inside
// it stands for one quote; blanks around a field are dropped; ";" outside
// quotes starts a comment.
#include <string>
#include <string_view>
#include <vector>

namespace installengine {

std::vector<std::string> SplitInfFields(std::string_view line);

// `text` in double quotes, its own quotes doubled.
std::string QuoteInfField(std::string_view text);

// `text` as it stands when no quoting is needed, else quoted.
std::string InfField(std::string_view text);

} // namespace installengine
