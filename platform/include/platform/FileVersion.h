#pragma once
// The fixed file version of a program or library (VS_FIXEDFILEINFO's
// dwFileVersionMS / dwFileVersionLS), as the install engine and the updater
// compare it.
//
// Two sources are read:
// - the version resource of a PE file (a Windows .exe, .dll, .ocx);
// - the version note our own build stamps into every program and shared
//   library it makes (an ELF note in ".note.velmor.version", owner "Velmor",
//   type 1, four 32-bit numbers; see cmake/VelmorVersion.cmake:
//   velmor_stamp_version(target VERSION 4.3.0.0)).
// Anything else, or a file that cannot be read, has no version. Every offset
// and size the file states is checked before use: any bytes at all give a
// version or none, never a crash.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

using FileVersion = std::array<std::uint16_t, 4>;

std::optional<FileVersion> ReadFileVersion(const std::string &path);

// The same for a file's bytes already in memory.
std::optional<FileVersion> ReadFileVersionFromBytes(std::string_view bytes);

// "%d.%d.%d.%d".
std::string FormatFileVersion(const FileVersion &version);

} // namespace platform
