#include "lists/text.h"

namespace vdksvc {

const char* findLastBackslash(Platform& platform, const char* text) {
  if (text == nullptr) return nullptr;
  // 0x5C is a valid trail byte in code page 932: only a whole character that is
  // a backslash counts.
  const char* last = nullptr;
  for (const char* p = text; *p != '\0'; p = platform.CharNextA(p)) {
    if (*p == '\\') last = p;
  }
  return last;
}

std::string asciiLowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = asciiLower(c);
  return lowered;
}

std::string quoted(std::string_view text) {
  std::string result = "\"";
  result.append(text);
  result += '"';
  return result;
}

}  // namespace vdksvc
