#pragma once
// Small helpers for the 8-bit texts of command lines, list files and the registry.

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vdksvc {

/// The last '\\' of the NUL-terminated \a text, walking it character by
/// character in the ANSI code page (CharNextA), so that the second byte of a
/// double-byte character is never taken for one, as _mbsrchr does; null when
/// there is none or \a text is null.
const char* findLastBackslash(Platform& platform, const char* text);

/// \a text in double quotes.
std::string quoted(std::string_view text);

}  // namespace vdksvc
