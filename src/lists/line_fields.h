#pragma once
// Splits one line of text into fields at a separator byte, knowing the
// double-byte characters of code page 932 (Shift_JIS): the second byte of such a
// character never splits a field or ends the line.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vdksvc {

class LineFields {
 public:
  /// Splits \a text at \a separator; with \a trim, each field loses leading and
  /// trailing blanks (space, tab, LF, CR and the ideographic space 0x81 0x40).
  /// Without \a shiftJis the text is UTF-8, whose bytes are no Shift_JIS
  /// characters: every separator splits, and 0x81 0x40 is no space.
  LineFields(std::string_view text, char separator, bool trim, bool shiftJis = true);

  /// The field at \a index, or empty text at or beyond count().
  const std::string& field(std::size_t index) const;
  std::size_t count() const { return count_; }
  /// Moves the field at \a index out, leaving it empty; empty text at or beyond
  /// count().
  std::string take(std::size_t index);

 private:
  /// The field at \a index, which must be below count().
  std::string& at(std::size_t index) {
    if (index < kInline) return inline_[index];
    return more_[index - kInline];
  }
  /// Appends an empty field and gives it.
  std::string& addField();

  // A list-file line has three fields: they need no list of their own.
  static constexpr std::size_t kInline = 3;
  std::array<std::string, kInline> inline_;
  std::vector<std::string> more_;  ///< the fields after the third
  std::size_t count_ = 0;
};

}  // namespace vdksvc
