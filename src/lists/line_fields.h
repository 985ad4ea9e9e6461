#pragma once
// Splits one line of text into fields at a separator byte, knowing the
// double-byte characters of code page 932 (Shift_JIS): the second byte of such a
// character never splits a field or ends the line.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vdksvc {

class LineFields {
 public:
  /// Splits \a text at \a separator; with \a trim, each field loses leading and
  /// trailing blanks (space, tab, LF, CR and the ideographic space 0x81 0x40).
  LineFields(std::string_view text, char separator, bool trim);

  /// The field at \a index, or empty text at or beyond count().
  const std::string& field(std::size_t index) const;
  std::size_t count() const { return fields_.size(); }
  /// Moves the field at \a index out, leaving it empty; empty text at or beyond
  /// count().
  std::string take(std::size_t index);

 private:
  std::vector<std::string> fields_;
};

}  // namespace vdksvc
