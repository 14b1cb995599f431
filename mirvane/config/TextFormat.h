#pragma once
// Message texts with "%s" places filled in order. The arguments come from
// configuration files and scripts, so a text is never used as a printf
// format: a "%" in a product name stays a "%".
#include <initializer_list>
#include <string>
#include <string_view>

// Replaces the first "%s" of `text` by the first argument, the next by the
// second, and so on; places without an argument stay as they are.
std::string FormatText(std::string_view text, std::initializer_list<std::string_view> arguments);

// Whether two texts are equal when ASCII letters are compared without
// regard to case (the whole texts, NUL bytes included).
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
