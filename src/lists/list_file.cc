#include "lists/list_file.h"

#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lists/line_fields.h"
#include "lists/text.h"

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
constexpr std::size_t kPieceBytes = kPieceBuffer - 1;

/// Adds the entry of one piece of a line; true when it did.
bool addRecord(std::string_view piece, ServiceList& list) {
  // Only the very first byte marks a comment; " #x,y,z" is a record.
  if (!piece.empty() && piece[0] == '#') return false;
  // A NUL byte ends the text as C string handling sees it: the rest of the piece,
  // up to the line end, is not read. So no field holds one, and the fields are
  // the entry's texts as they stand.
  LineFields fields(piece.substr(0, piece.find('\0')), ',', true);
  if (fields.count() < 3) return false;
  list.addEntry(fields.take(0), fields.take(1), fields.take(2));
  return true;
}

/// The records of an ANSI file, from where \a file stands.
bool addAnsiRecords(std::FILE* file, ServiceList& list) {
  bool added = false;
  char piece[kPieceBuffer];
  while (std::fgets(piece, kPieceBuffer, file) != nullptr) {
    if (addRecord(piece, list)) added = true;
  }
  return added;
}

enum class Mark { none, utf8, utf16 };

/// Reads the byte-order mark at the start of \a file and leaves the file after
/// it, or at its start when there is none.
Mark readMark(std::FILE* file) {
  unsigned char head[3] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  if (got >= 2 && head[0] == 0xFF && head[1] == 0xFE) return Mark::utf16;
  if (got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) return Mark::utf8;
  std::rewind(file);
  return Mark::none;
}

/// The UTF-16 little-endian text of the file at \a path, after its mark; read
/// in binary, since text mode would take bytes of a character for a line end or
/// for the end of the file. An odd last byte is no character and is dropped.
std::u16string utf16Text(const char* path) {
  std::u16string text;
  const UniqueFile file(std::fopen(path, "rb"));
  if (!file) return text;
  std::vector<unsigned char> bytes;
  unsigned char chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
  }
  return text;
}

/// \a line in the ANSI code page; nothing when a character has no equivalent
/// there, rather than a look-alike or a question mark in a service's name.
std::optional<std::string> toAnsi(Platform& platform, std::u16string_view line) {
  // An ANSI code page takes at most two bytes for a UTF-16 unit.
  if (line.size() > INT_MAX / 2) return std::nullopt;
  std::string bytes(line.size() * 2, '\0');
  bool usedDefault = false;
  const int written = platform.WideCharToMultiByte(
      file::kAnsiCodePage, file::kNoBestFitChars, line.data(), static_cast<int>(line.size()),
      bytes.data(), static_cast<int>(bytes.size()), nullptr, &usedDefault);
  if (written <= 0 || usedDefault) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(written));
  return bytes;
}

/// The records of a UTF-16 file, converted line by line and then read as an
/// ANSI file's lines are, pieces included.
bool addUtf16Records(Platform& platform, const char* path, ServiceList& list, StepLog& log) {
  const std::u16string text = utf16Text(path);
  bool added = false;
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    const std::u16string_view line(text.data() + start, end - start);
    start = end + 1;
    ++number;
    if (line.empty() || line[0] == u'#') continue;
    const std::optional<std::string> ansi = toAnsi(platform, line);
    if (!ansi) {
      if (log.on()) {
        log.write("list file " + quoted(path) + ": line " + std::to_string(number) +
                  " holds a character the ANSI code page lacks and is skipped");
      }
      continue;
    }
    for (std::size_t at = 0; at < ansi->size(); at += kPieceBytes) {
      if (addRecord(std::string_view(*ansi).substr(at, kPieceBytes), list)) added = true;
    }
  }
  return added;
}

}  // namespace

bool loadListFile(Platform& platform, const char* path, ServiceList& list, StepLog& log) {
  if (path == nullptr) return false;
  // Text mode, so that CR LF reads as LF on Windows; no locking, so an installer
  // may still hold the file open.
  const UniqueFile file(std::fopen(path, "r"));
  if (!file) return false;
  if (readMark(file.get()) == Mark::utf16) return addUtf16Records(platform, path, list, log);
  return addAnsiRecords(file.get(), list);
}

}  // namespace vdksvc
