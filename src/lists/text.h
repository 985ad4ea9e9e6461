#pragma once
// Small helpers for the 8-bit texts of command lines, list files and the registry.

#include <string>
#include <string_view>

namespace vdksvc {

/// \a text in double quotes.
std::string quoted(std::string_view text);

}  // namespace vdksvc
