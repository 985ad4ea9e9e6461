#include "lists/list_file.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "lists/line_fields.h"
#include "platform/handles.h"

namespace vdksvc {
namespace {

// A record is a piece of a line of at most 1023 bytes, as one read of fgets
// with a buffer of 1024 gives it: a longer line is read in several pieces, and
// each piece is a record of its own.
constexpr std::size_t kPieceBytes = 1023;

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

// --- Files without a mark ---

// A file without a mark is text as msvcrt's text mode (mode "r") reads it,
// which is how list files have always been read on Windows:
//  - CR LF is read as LF, wherever the reads of the file split the pair; every
//    other CR stays: a lone one (which ends the line's text for LineFields, so
//    the rest of that line is lost), the first of CR CR LF, one right before a
//    Ctrl-Z and one at the very end of the file.
//  - The first Ctrl-Z (0x1A) ends the text, even within a line: what comes
//    before it on that line is its last record, and nothing after it is read.
//  - Every other byte stays as it is, NUL included; a piece is then cut at its
//    first NUL (addRecord), as the C string that fgets fills ends there.
constexpr char kCtrlZ = '\x1A';

/// The records of a file without a mark, from its bytes as they are read: the
/// text mode's rules first, then the pieces of lines as fgets reads them.
class TextModeRecords {
 public:
  TextModeRecords(ServiceList& list, bool shiftJis) : list_(list), shiftJis_(shiftJis) {}

  /// Takes the next bytes of the file; false once a Ctrl-Z ended the text, so
  /// that nothing more need be read.
  bool take(std::string_view bytes) {
    if (ended_) return false;
    if (crHeld_ && !bytes.empty()) {
      crHeld_ = false;
      if (bytes[0] != '\n') text_ += '\r';
    }
    const auto special = [](char c) { return c == '\r' || c == kCtrlZ; };
    const char* const end = bytes.data() + bytes.size();
    for (const char* at = bytes.data(); at != end;) {
      const char* const stop = std::find_if(at, end, special);
      text_.append(at, static_cast<std::size_t>(stop - at));
      if (stop == end) break;
      if (*stop == kCtrlZ) {
        ended_ = true;
        break;
      }
      // A CR before LF goes, any other stays; after the last byte read, the
      // next read tells.
      at = stop + 1;
      if (at == end) {
        crHeld_ = true;
      } else if (*at != '\n') {
        text_ += '\r';
      }
    }
    addPieces(false);
    return !ended_;
  }

  /// Takes the end of the file; true when a record was added.
  bool finish() {
    if (crHeld_) text_ += '\r';
    crHeld_ = false;
    addPieces(true);
    return added_;
  }

 private:
  /// Adds the records of the whole pieces of the text read so far; \a atEnd,
  /// of the rest too.
  void addPieces(bool atEnd) {
    std::string_view rest = text_;
    while (!rest.empty()) {
      const std::size_t lineEnd = rest.substr(0, kPieceBytes).find('\n');
      const bool ended = lineEnd != std::string_view::npos;
      const std::size_t length = ended ? lineEnd + 1 : std::min(rest.size(), kPieceBytes);
      // Before the end of the file, a piece without LF may still grow.
      if (!atEnd && !ended && length < kPieceBytes) break;
      if (addRecord(rest.substr(0, length), list_, shiftJis_)) added_ = true;
      rest.remove_prefix(length);
    }
    text_.erase(0, text_.size() - rest.size());
  }

  ServiceList& list_;
  bool shiftJis_;
  std::string text_;     ///< read and translated, not yet cut into pieces
  bool crHeld_ = false;  ///< the last byte read is a CR, which the next byte decides on
  bool ended_ = false;   ///< a Ctrl-Z ended the text
  bool added_ = false;
};

// --- Files with a Unicode mark ---

enum class Mark { kNone, kUtf8, kUtf16 };

constexpr std::size_t kUtf8MarkSize = 3;
constexpr std::size_t kUtf16MarkSize = 2;

/// The byte-order mark \a head begins with.
Mark markOf(std::string_view head) {
  if (head.starts_with("\xFF\xFE")) return Mark::kUtf16;
  if (head.starts_with("\xEF\xBB\xBF")) return Mark::kUtf8;
  return Mark::kNone;
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

/// The lines of \a bytes, a file's bytes after its \a mark, but for empty lines
/// and comments.
std::vector<UnicodeLine> unicodeLines(std::string_view bytes, Mark mark) {
  std::vector<UnicodeLine> lines;
  if (mark == Mark::kUtf8) {
    forEachRecordLine(bytes, [&lines](std::size_t number, std::string_view line) {
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
bool addUnicodeRecords(Platform& platform, const char* path, std::string_view bytes, Mark mark,
                       ServiceList& list, StepLog& log) {
  const bool utf8System = platform.GetACP() == file::kUtf8;
  bool added = false;
  for (const UnicodeLine& line : unicodeLines(bytes, mark)) {
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

// --- Reading ---

// Reads of 4096 bytes, as msvcrt's stream buffer reads a file.
constexpr Dword kChunkBytes = 4096;

/// Reads on from \a file into \a bytes until they hold at least \a wanted bytes;
/// false when the file ended first. A failed read ends the file, as it ended
/// the C library's reads.
bool readAtLeast(Platform& platform, RawHandle file, std::string& bytes, std::size_t wanted) {
  while (bytes.size() < wanted) {
    const std::size_t before = bytes.size();
    bytes.resize(before + kChunkBytes);
    Dword got = 0;
    if (!platform.ReadFile(file, bytes.data() + before, kChunkBytes, &got, nullptr)) got = 0;
    bytes.resize(before + std::min<std::size_t>(got, kChunkBytes));
    if (got == 0) return false;
  }
  return true;
}

}  // namespace

bool loadListFile(Platform& platform, const char* path, ServiceList& list, StepLog& log) {
  if (path == nullptr) return false;
  // Shared for reading and writing, as msvcrt opens a file to read: an
  // installer may still hold the file open, and reading it locks nobody out.
  const FileHandle opened(
      platform,
      platform.CreateFileA(path, file::kGenericRead, file::kShareRead | file::kShareWrite, nullptr,
                           file::kOpenExisting, file::kAttributeNormal, nullptr));
  if (!opened) return false;
  std::string bytes;
  readAtLeast(platform, opened.get(), bytes, kUtf8MarkSize);
  const Mark mark = markOf(bytes);
  if (mark != Mark::kNone) {
    // The whole file, raw: text mode would take bytes of a character for a line
    // end or for the end of the file.
    readAtLeast(platform, opened.get(), bytes, std::string::npos);
    const std::size_t markSize = mark == Mark::kUtf8 ? kUtf8MarkSize : kUtf16MarkSize;
    return addUnicodeRecords(platform, path, std::string_view(bytes).substr(markSize), mark, list,
                             log);
  }
  // Where the ANSI code page is UTF-8, so is the file, and no byte of it is a
  // Shift_JIS character.
  TextModeRecords records(list, platform.GetACP() != file::kUtf8);
  while (records.take(bytes)) {
    bytes.clear();
    if (!readAtLeast(platform, opened.get(), bytes, 1)) break;
  }
  return records.finish();
}

}  // namespace vdksvc
