#pragma once
// Conversions between the system code page (CP949) that files, logs and wire
// texts use and the UTF-8 the program keeps its text in. Text crosses to CP949
// only where it leaves the program (log file, chat packets, INI files,
// registry store) and comes back to UTF-8 where it enters.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

class QString;

namespace platform {

// CP949 bytes -> UTF-8. Bytes that are not valid CP949 become U+FFFD.
std::string AnsiToUtf8(std::string_view ansi);
// UTF-8 -> CP949 bytes. Characters CP949 cannot hold become '?'.
std::string Utf8ToAnsi(std::string_view utf8);

QString AnsiToQString(std::string_view ansi);
std::string QStringToAnsi(const QString &text);

// The length of `utf8` in CP949 bytes (for the byte limits of names and lines).
std::size_t AnsiLength(std::string_view utf8);

// Converts UTF-8 to CP949 into a caller's buffer of `size` bytes without
// allocating (after the first call on a thread), stopping before a character
// that would not fit. Zero-terminates; returns the bytes written.
std::size_t Utf8ToAnsiBuffer(std::string_view utf8, char *out, std::size_t size);

// The code point of the UTF-8 sequence at `at` in `text` and its length in
// bytes; nothing for bytes that are no UTF-8 (a stray or missing byte, an
// overlong form, a surrogate, beyond U+10FFFF).
std::optional<std::pair<char32_t, std::size_t>> DecodeUtf8At(std::string_view text, std::size_t at);
// Whether all of `text` is UTF-8.
bool IsUtf8(std::string_view text);
// Appends the UTF-8 bytes of `codePoint` (at most U+10FFFF, no surrogate).
void AppendUtf8(std::string &out, char32_t codePoint);

} // namespace platform
