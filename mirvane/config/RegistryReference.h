#pragma once
// Registry references of "Mirvane.cfg": "ROOT,SubKey,ValueName", for
// instance "HKCU,Software\Quenta\Velmor,install_path". ROOT is one of
// "HKCR", "HKCU", "HKLM", "HKUS" or "HKU", "HKCC" (letter case ignored).
#include <string>
#include <string_view>

// The string value the reference names, or the empty text when a field is
// missing or empty, the root is none of the table, or the value cannot be
// read.
std::string ResolveRegistryReference(std::string_view reference);
