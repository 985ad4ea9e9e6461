#include "base/text.h"

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

namespace {

/// What the lead byte of a UTF-8 sequence says: the sequence's length (0: no
/// lead byte), the bits it carries, and the smallest code point that length may
/// encode, below which the form is overlong.
struct Utf8Lead {
  std::size_t length;
  char32_t bits;
  char32_t least;
};

Utf8Lead utf8Lead(unsigned char lead) {
  if (lead < 0x80) return {1, lead, 0};
  if (lead >= 0xC2 && lead <= 0xDF) return {2, lead & 0x1Fu, 0x80};
  if (lead >= 0xE0 && lead <= 0xEF) return {3, lead & 0x0Fu, 0x800};
  if (lead >= 0xF0 && lead <= 0xF4) return {4, lead & 0x07u, 0x10000};
  return {0, 0, 0};  // a continuation byte, or a byte no UTF-8 has
}

}  // namespace

std::optional<std::u16string> utf16FromUtf8(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Utf8Lead lead = utf8Lead(static_cast<unsigned char>(bytes[i]));
    const std::size_t length = lead.length;
    if (length == 0) return std::nullopt;
    char32_t code = lead.bits;
    if (bytes.size() - i < length) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0u) != 0x80) return std::nullopt;
      code = code << 6 | (next & 0x3Fu);
    }
    if (code < lead.least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return std::nullopt;
    }
    if (code >= 0x10000) {
      text.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return text;
}

bool isWellFormedUtf16(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit < 0xD800 || unit > 0xDFFF) continue;
    if (unit > 0xDBFF || i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
      return false;
    }
    ++i;
  }
  return true;
}

}  // namespace vdksvc
