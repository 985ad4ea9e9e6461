#include "lists/line_fields.h"

namespace vdksvc {
namespace {

// The lead bytes of code page 932. They are fixed here, not taken from the
// system's code page, so that a list file splits the same way on every machine.
bool isLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool isBlank(unsigned char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

// A byte the split copies into the field as it is.
bool isPlain(unsigned char byte, unsigned char separator) {
  return !isLeadByte(byte) && byte != separator && byte != '\n' && byte != '\r';
}

// 0x81 0x40 is the ideographic (full-width) space.
constexpr unsigned char kWideSpaceLead = 0x81;
constexpr unsigned char kWideSpaceTrail = 0x40;

unsigned char byteAt(std::string_view text, std::size_t index) {
  return static_cast<unsigned char>(text[index]);
}

// The part of \a field left after dropping blanks and ideographic spaces at both
// ends. The back is checked byte by byte, not character by character, so a final
// 0x81 0x40 goes even when that 0x81 is the second byte of the character before it.
std::string_view trimmed(std::string_view field) {
  std::size_t begin = 0;
  std::size_t end = field.size();
  while (begin < end) {
    if (isBlank(byteAt(field, begin))) {
      ++begin;
    } else if (byteAt(field, begin) == kWideSpaceLead && begin + 1 < end &&
               byteAt(field, begin + 1) == kWideSpaceTrail) {
      begin += 2;
    } else {
      break;
    }
  }
  while (end > begin) {
    if (isBlank(byteAt(field, end - 1))) {
      --end;
    } else if (byteAt(field, end - 1) == kWideSpaceTrail && end - 1 > begin &&
               byteAt(field, end - 2) == kWideSpaceLead) {
      end -= 2;
    } else {
      break;
    }
  }
  return field.substr(begin, end - begin);
}

}  // namespace

LineFields::LineFields(std::string_view text, char separator, bool trim)
    : text_(text), separator_(separator) {
  if (text_.empty()) return;

  const auto separatorByte = static_cast<unsigned char>(separator_);
  // Fields are owned strings, so a field of any length is kept whole; the list
  // file reader never hands over more than 1023 bytes anyway.
  std::string field;
  auto endField = [&] {
    fields_.emplace_back(trim ? trimmed(field) : std::string_view(field));
    field.clear();
  };

  std::size_t index = 0;
  while (index < text_.size()) {
    const unsigned char byte = byteAt(text_, index);
    if (isLeadByte(byte)) {
      field.push_back(text_[index]);
      // A lead byte cut off from its second byte (a line split by the 1023-byte
      // read) stays in the field, which ends with the text.
      if (index + 1 == text_.size()) break;
      // The second byte belongs to the character, so it never splits the field or
      // ends the line; when it equals the separator it is dropped altogether.
      if (byteAt(text_, index + 1) != separatorByte) field.push_back(text_[index + 1]);
      index += 2;
    } else if (byte == separatorByte) {
      endField();
      ++index;
    } else if (byte == '\n' || byte == '\r') {
      break;
    } else {
      // Ordinary bytes are taken as a run: most of a line is plain text.
      std::size_t runEnd = index + 1;
      while (runEnd < text_.size() && isPlain(byteAt(text_, runEnd), separatorByte)) ++runEnd;
      field.append(text_, index, runEnd - index);
      index = runEnd;
    }
  }
  endField();
}

const std::string& LineFields::field(std::size_t index) const {
  static const std::string kEmpty;
  return index < fields_.size() ? fields_[index] : kEmpty;
}

}  // namespace vdksvc
