#pragma once
// Small helpers for the 8-bit texts of command lines, list files and the registry.

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vdksvc {

/// The last '\\' of the NUL-terminated \a text, walking it character by
/// character in the ANSI code page (CharNextA), so that the second byte of a
/// double-byte character is never taken for one, as _mbsrchr does; null when
/// there is none or \a text is null.
const char* findLastBackslash(Platform& platform, const char* text);

/// A space or a tab: what separates the words of a command line and the parts
/// of a catalogue string.
inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

/// \a c with the ASCII capitals lowered and every other byte as it is, so that
/// double-byte text stays intact.
inline char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

/// \a text with its ASCII capitals lowered. Two names are equal as _stricmp sees
/// them when their lowered forms are equal.
std::string asciiLowered(std::string_view text);

/// \a text in double quotes.
std::string quoted(std::string_view text);

/// The UTF-16 text of the UTF-8 bytes \a bytes; nothing when they are not UTF-8
/// (a stray or missing continuation byte, an overlong form, a surrogate, a
/// code point above U+10FFFF).
std::optional<std::u16string> utf16FromUtf8(std::string_view bytes);

/// Whether every surrogate of \a text is half of a pair.
bool isWellFormedUtf16(std::u16string_view text);

}  // namespace vdksvc
