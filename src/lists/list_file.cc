#include "lists/list_file.h"

#include <cstdio>
#include <memory>
#include <string_view>

#include "lists/line_fields.h"

namespace vdksvc {
namespace {

struct FileCloser {
  // The file is only read: a failing close loses nothing.
  void operator()(std::FILE* file) const noexcept { static_cast<void>(std::fclose(file)); }
};
/// A FILE* closed on every path out of the reader.
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// One read takes at most 1023 bytes of a line plus the terminator; a longer line
// is read in several pieces, and each piece is a record of its own.
constexpr int kPieceBuffer = 1024;

}  // namespace

bool loadListFile(const char* path, ServiceList& list) {
  if (path == nullptr) return false;
  // Text mode, so that CR LF reads as LF on Windows; no locking, so an installer
  // may still hold the file open.
  const UniqueFile file(std::fopen(path, "r"));
  if (!file) return false;

  bool added = false;
  char piece[kPieceBuffer];
  while (std::fgets(piece, kPieceBuffer, file.get()) != nullptr) {
    // Only the very first byte marks a comment; " #x,y,z" is a record.
    if (piece[0] == '#') continue;
    // A NUL byte in the file ends the text as C string handling sees it: the rest
    // of the piece, up to the line end, is not read.
    LineFields fields(std::string_view(piece), ',', true);
    if (fields.count() < 3) continue;
    // The piece ends at its first NUL, so no field holds one: the fields are the
    // entry's texts as they stand.
    list.addEntry(fields.take(0), fields.take(1), fields.take(2));
    added = true;
  }
  return added;
}

}  // namespace vdksvc
