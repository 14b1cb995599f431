#pragma once
// Paths as scripts and setup files write them and as this system needs them.
// In a script path "\" and "/" both separate components (scripts were written
// for Windows); what the engine hands to the file system is native.
#include <string>
#include <string_view>

namespace installengine {

// One trailing "\" or "/" removed ("/opt/x/" -> "/opt/x").
std::string RemoveTrailingSeparator(std::string_view path);

// "%INSTALL_DIR%\Skin\Main.skn" after expansion -> "/opt/x/Skin/Main.skn".
std::string NativePath(std::string_view scriptPath);

// The folder joined with a name by one separator, both made native.
std::string JoinPath(std::string_view folder, std::string_view name);

// The native path with "." and ".." resolved by text alone and repeated
// separators folded; "" for an empty path.
std::string NormalPath(std::string_view scriptPath);

// Whether `path` lies inside `folder` after both are normalised (never
// through ".."); `orEqual` also accepts the folder itself. Both must be
// absolute.
bool IsInsideFolder(std::string_view path, std::string_view folder, bool orEqual = false);

} // namespace installengine
