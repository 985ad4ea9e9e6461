#include "lists/list_file.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
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
constexpr std::size_t kPieceBytes = kPieceBuffer - 1;

/// Adds the entry of one piece of a line; true when it did. Without \a shiftJis
/// the piece is UTF-8 text (the ANSI code page is UTF-8).
bool addRecord(std::string_view piece, ServiceList& list, bool shiftJis) {
  // Only the very first byte marks a comment; " #x,y,z" is a record.
  if (!piece.empty() && piece[0] == '#') return false;
  // A NUL byte ends the text as C string handling sees it: the rest of the piece,
  // up to the line end, is not read. So no field holds one, and the fields are
  // the entry's texts as they stand.
  LineFields fields(piece.substr(0, piece.find('\0')), ',', true, shiftJis);
  if (fields.count() < 3) return false;
  list.addEntry(fields.take(0), fields.take(1), fields.take(2));
  return true;
}

/// The records of an ANSI file, from where \a file stands.
bool addAnsiRecords(std::FILE* file, ServiceList& list, bool shiftJis) {
  bool added = false;
  char piece[kPieceBuffer];
  while (std::fgets(piece, kPieceBuffer, file) != nullptr) {
    if (addRecord(piece, list, shiftJis)) added = true;
  }
  return added;
}

enum class Mark { kNone, kUtf8, kUtf16 };

constexpr std::size_t kUtf8MarkSize = 3;
constexpr std::size_t kUtf16MarkSize = 2;

/// Reads the byte-order mark at the start of \a file and leaves the file after
/// it, or at its start when there is none.
Mark readMark(std::FILE* file) {
  unsigned char head[kUtf8MarkSize] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  if (got >= kUtf16MarkSize && head[0] == 0xFF && head[1] == 0xFE) return Mark::kUtf16;
  if (got == kUtf8MarkSize && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    return Mark::kUtf8;
  }
  std::rewind(file);
  return Mark::kNone;
}

/// The bytes of the file at \a path after its first \a skip bytes (its mark);
/// read in binary, since text mode would take bytes of a character for a line
/// end or for the end of the file.
std::string bytesAfterMark(const char* path, std::size_t skip) {
  std::string bytes;
  const UniqueFile file(std::fopen(path, "rb"));
  if (!file) return bytes;
  char chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) bytes.append(chunk, got);
  bytes.erase(0, std::min(skip, bytes.size()));
  return bytes;
}

/// \a line in the ANSI code page; nothing when a character has no equivalent
/// there, rather than a look-alike or a question mark in a service's name. Where
/// that code page is UTF-8 every character has one, and Windows refuses the
/// flags and the pointer that ask for a stand-in.
std::optional<std::string> toAnsi(Platform& platform, std::u16string_view line, bool utf8) {
  // The ANSI code pages take at most three bytes for a UTF-16 unit (UTF-8 does).
  if (line.size() > INT_MAX / 3) return std::nullopt;
  std::string bytes(line.size() * 3, '\0');
  bool usedDefault = false;
  const int written = platform.WideCharToMultiByte(
      file::kAnsiCodePage, utf8 ? 0 : file::kNoBestFitChars, line.data(),
      static_cast<int>(line.size()), bytes.data(), static_cast<int>(bytes.size()), nullptr,
      utf8 ? nullptr : &usedDefault);
  if (written <= 0 || usedDefault) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(written));
  return bytes;
}

/// One line of a file with a Unicode mark, and its number in the file. Each line
/// is decoded on its own, so that a bad one costs only itself.
struct UnicodeLine {
  std::size_t number = 0;
  std::optional<std::u16string> text;  ///< nothing when its bytes are not UTF-8
};

/// Hands \a take each line of \a text with its number in the file, but for
/// empty lines and comments (a line whose first character is '#').
template <class Char, class Take>
void forEachRecordLine(std::basic_string_view<Char> text, Take take) {
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size(); ++number) {
    const std::size_t end = std::min(text.find(Char('\n'), start), text.size());
    const std::basic_string_view<Char> line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line[0] != Char('#')) take(number + 1, line);
  }
}

/// The lines of the file at \a path, after its \a mark, but for empty lines and
/// comments.
std::vector<UnicodeLine> unicodeLines(const char* path, Mark mark) {
  std::vector<UnicodeLine> lines;
  const std::string bytes =
      bytesAfterMark(path, mark == Mark::kUtf8 ? kUtf8MarkSize : kUtf16MarkSize);
  if (mark == Mark::kUtf8) {
    forEachRecordLine(std::string_view(bytes), [&lines](std::size_t number, std::string_view line) {
      lines.push_back({number, utf16FromUtf8(line)});
    });
    return lines;
  }
  std::u16string text;
  // An odd last byte is no character and is dropped.
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  forEachRecordLine(std::u16string_view(text),
                    [&lines](std::size_t number, std::u16string_view line) {
                      lines.push_back({number, std::u16string(line)});
                    });
  return lines;
}

/// The records of a file with a Unicode mark, converted line by line to the
/// ANSI code page and then read as an ANSI file's lines are, pieces included.
bool addUnicodeRecords(Platform& platform, const char* path, Mark mark, ServiceList& list,
                       StepLog& log) {
  const bool utf8System = platform.GetACP() == file::kUtf8;
  bool added = false;
  for (const UnicodeLine& line : unicodeLines(path, mark)) {
    const std::optional<std::u16string>& text = line.text;
    const std::optional<std::string> ansi =
        text && isWellFormedUtf16(*text) ? toAnsi(platform, *text, utf8System) : std::nullopt;
    if (!ansi) {
      if (log.on()) {
        log.write("list file " + quoted(path) + ": line " + std::to_string(line.number) +
                  (text ? " holds a character the ANSI code page lacks"
                        : " holds bytes that are not UTF-8") +
                  " and is skipped");
      }
      continue;
    }
    for (std::size_t at = 0; at < ansi->size(); at += kPieceBytes) {
      if (addRecord(std::string_view(*ansi).substr(at, kPieceBytes), list, !utf8System)) {
        added = true;
      }
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
  const Mark mark = readMark(file.get());
  if (mark != Mark::kNone) return addUnicodeRecords(platform, path, mark, list, log);
  // Where the ANSI code page is UTF-8, so is the file, and no byte of it is a
  // Shift_JIS character.
  return addAnsiRecords(file.get(), list, platform.GetACP() != file::kUtf8);
}

}  // namespace vdksvc
