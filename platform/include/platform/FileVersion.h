#pragma once
// The fixed file version of a program or library (VS_FIXEDFILEINFO's
// dwFileVersionMS / dwFileVersionLS), as the install engine and the updater
// compare it.
//
// Two sources are read:
// - the version resource of a PE file (a Windows .exe, .dll, .ocx);
// - the version note our own build stamps into every program and shared
//   library it makes (an ELF note, owner "Velmor", see
//   cmake/VelmorVersion.cmake: velmor_stamp_version(target 4.3.0.0)).
// Anything else, or a file that cannot be read, has no version.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

using FileVersion = std::array<std::uint16_t, 4>;

std::optional<FileVersion> ReadFileVersion(const std::string &path);

// "%d.%d.%d.%d".
std::string FormatFileVersion(const FileVersion &version);

} // namespace platform
