#include "lists/line_fields.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/text.h"

namespace vdksvc {
namespace {

// The lead bytes of code page 932. They are fixed here, not taken from the
// system's code page, so that a list file splits the same way on every machine.
constexpr bool isLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

/// What a field loses at its ends besides ideographic spaces: blanks, and the
/// line end a read may leave on the last field.
bool isTrimmed(unsigned char byte) {
  return isBlank(static_cast<char>(byte)) || byte == '\n' || byte == '\r';
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
std::string_view trimmed(std::string_view field, bool shiftJis) {
  std::size_t begin = 0;
  std::size_t end = field.size();
  while (begin < end) {
    if (isTrimmed(byteAt(field, begin))) {
      ++begin;
    } else if (shiftJis && byteAt(field, begin) == kWideSpaceLead && begin + 1 < end &&
               byteAt(field, begin + 1) == kWideSpaceTrail) {
      begin += 2;
    } else {
      break;
    }
  }
  while (end > begin) {
    if (isTrimmed(byteAt(field, end - 1))) {
      --end;
    } else if (shiftJis && byteAt(field, end - 1) == kWideSpaceTrail && end - 1 > begin &&
               byteAt(field, end - 2) == kWideSpaceLead) {
      end -= 2;
    } else {
      break;
    }
  }
  return field.substr(begin, end - begin);
}

/// Drops blanks and ideographic spaces at both ends of \a field, in place.
void trimInPlace(std::string& field, bool shiftJis) {
  const std::string_view kept = trimmed(field, shiftJis);
  if (kept.size() == field.size()) return;
  const auto begin = static_cast<std::size_t>(kept.data() - field.data());
  field.erase(begin + kept.size());
  field.erase(0, begin);
}

/// What a byte is to the split, apart from the separator, which varies.
enum class ByteKind : unsigned char { kPlain, kLead, kLineEnd };

constexpr std::array<ByteKind, 256> kByteKinds = [] {
  std::array<ByteKind, 256> kinds{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    if (isLeadByte(static_cast<unsigned char>(byte))) kinds[byte] = ByteKind::kLead;
  }
  kinds['\n'] = ByteKind::kLineEnd;
  kinds['\r'] = ByteKind::kLineEnd;
  return kinds;
}();

/// True when none of the 8 bytes at \a bytes is 0x80 or above, the separator, CR
/// or LF: then all of them are plain. Most of a list-file line is such bytes.
bool plainWord(const char* bytes, unsigned char separator) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHighBits = 0x8080808080808080;
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, sizeof word);
  // Exact test for a zero byte in word ^ (byte in every lane).
  const auto holds = [word](unsigned char byte) {
    const std::uint64_t x = word ^ (kOnes * byte);
    return ((x - kOnes) & ~x & kHighBits) != 0;
  };
  return (word & kHighBits) == 0 && !holds(separator) && !holds('\n') && !holds('\r');
}

/// The end of the run that starts at \a index: plain bytes and whole double-byte
/// characters, which are copied as they are. The run stops at the separator, at
/// CR or LF, at a lead byte that is the last byte of the text and at one whose
/// second byte equals the separator.
std::size_t runEnd(std::string_view text, std::size_t index, unsigned char separator,
                   bool shiftJis) {
  const std::size_t size = text.size();
  for (;;) {
    while (size - index >= 8 && plainWord(text.data() + index, separator)) index += 8;
    // The next eight bytes hold something else: they are taken byte by byte.
    const std::size_t bytewiseEnd = std::min(size, index + 8);
    while (index < bytewiseEnd) {
      const unsigned char byte = byteAt(text, index);
      const ByteKind kind =
          !shiftJis && kByteKinds[byte] == ByteKind::kLead ? ByteKind::kPlain : kByteKinds[byte];
      if (kind == ByteKind::kLead && index + 1 < size && byteAt(text, index + 1) != separator) {
        index += 2;
      } else if (kind == ByteKind::kPlain && byte != separator) {
        ++index;
      } else {
        return index;
      }
    }
    if (index == size) return index;
  }
}

}  // namespace

LineFields::LineFields(std::string_view text, char separator, bool trim, bool shiftJis) {
  if (text.empty()) return;

  const auto separatorByte = static_cast<unsigned char>(separator);
  // Each field is built in place, a run at a time, so the split allocates nothing
  // beyond the fields it returns (and a list for fields after the third). Fields
  // are owned strings, so a field of any length is kept whole; the list file
  // reader never hands over more than 1023 bytes anyway.
  std::string* field = &addField();

  std::size_t index = 0;
  while (index < text.size()) {
    const std::size_t end = runEnd(text, index, separatorByte, shiftJis);
    field->append(text.substr(index, end - index));
    index = end;
    if (index == text.size()) break;

    const unsigned char byte = byteAt(text, index);
    if (shiftJis && isLeadByte(byte)) {
      field->push_back(text[index]);
      // A lead byte cut off from its second byte (a line split by the 1023-byte
      // read) stays in the field, which ends with the text.
      if (index + 1 == text.size()) break;
      // The second byte belongs to the character, so it never splits the field or
      // ends the line; as it equals the separator it is dropped altogether.
      index += 2;
    } else if (byte == separatorByte) {
      if (trim) trimInPlace(*field, shiftJis);
      field = &addField();
      ++index;
    } else {
      break;  // CR or LF ends the line
    }
  }
  if (trim) trimInPlace(*field, shiftJis);
}

std::string& LineFields::addField() {
  ++count_;
  if (count_ <= kInline) return inline_[count_ - 1];
  return more_.emplace_back();
}

std::string LineFields::take(std::size_t index) {
  return index < count_ ? std::move(at(index)) : std::string();
}

const std::string& LineFields::field(std::size_t index) const {
  static const std::string kEmpty;
  if (index >= count_) return kEmpty;
  if (index < kInline) return inline_[index];
  return more_[index - kInline];
}

}  // namespace vdksvc
