#pragma once
// The Windows profile (INI) functions, for the configuration, the scripts and
// the setup files the install engine writes.
//
// Files are CP949 text with CRLF or LF line ends; texts cross this interface
// as UTF-8 (as the program holds them) and are converted at the file edge.
// Bytes the functions do not change are written back exactly as they were
// read, so comments, unknown lines and foreign bytes survive a write.
//
// Semantics kept from Windows:
// - sections and keys are found without regard to letter case (ASCII);
// - a key's name and value have their surrounding blanks removed; a value
//   that starts and ends with a double quote loses those two quotes;
// - buffer sizes are in bytes of the file's text (CP949) and hold the
//   terminating zero: a value longer than `bufferSize` - 1 bytes is cut there
//   (never inside a two-byte character);
// - the first section or key of a name wins when a file holds it twice.
//
// Every write reads the file under an exclusive lock, changes it in memory
// and replaces it through a temporary file in the same folder and a rename, so
// a reader or a crash sees either the old or the new file, never half of one.
// The lock is taken on the folder that holds the file (flock on the folder),
// so no lock file is left beside an INI file: an uninstall that removes a
// folder only when it is empty must find it empty.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// GetPrivateProfileStringA: the value of `key` in `section` of `file`, or
// `defaultValue` when the file, the section or the key is missing; cut to
// `bufferSize` - 1 bytes.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, std::size_t bufferSize,
                                    const std::string &file);

// GetPrivateProfileSectionA: every line of `section` in file order, lines
// without "=" included, each with its surrounding blanks removed; empty lines
// and comment lines (";") are left out. The whole list is limited as the
// Windows buffer is: each line takes its length plus one byte and the list one
// more; a line that does not fit whole ends the list.
std::vector<std::string> GetPrivateProfileSection(std::string_view section, std::size_t bufferSize,
                                                  const std::string &file);

// WritePrivateProfileStringA: sets `key` in `section`, creating the file and
// the section when needed. A null `value` deletes the key; a null `key`
// deletes the whole section. False when the file cannot be written.
bool WritePrivateProfileString(std::string_view section, const char *key, const char *value,
                               const std::string &file);

// WritePrivateProfileSectionA: replaces every line of `section` by `lines`
// (each "key=value" or a plain line), creating file and section when needed.
bool WritePrivateProfileSection(std::string_view section, const std::vector<std::string> &lines,
                                const std::string &file);

// GetProfileStringA / WriteProfileStringA: the same on win.ini in the
// Windows folder stand-in (GetWindowsDirectory(), ShellFolders.h).
std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view defaultValue, std::size_t bufferSize);
bool WriteProfileString(std::string_view section, const char *key, const char *value);

} // namespace platform
