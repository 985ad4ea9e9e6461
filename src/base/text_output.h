#pragma once
// Standard output or standard error, written a line at a time as Windows shows
// text. The names, paths and log lines vdksvc writes are ANSI text: to a console
// they are converted from the ANSI code page and written with WriteConsoleW, so
// that accented or Japanese names read right whatever code page the console
// uses; redirected to a file or a pipe, the ANSI bytes go out unchanged. Every
// line ends with CR LF.
//
// Nothing is asked of the system before the first line, and a write that fails
// (a closed pipe, a full disk) is dropped: what the run does never depends on it.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vdksvc {

/// How many of the first units of \a text one WriteConsoleW is handed: at most
/// \a limit, and one fewer when the last of them would be the first half of a
/// surrogate pair, so that a character beyond U+FFFF (which a UTF-8 code page
/// can give) is never cut in two; with a \a limit of 1, one all the same.
std::size_t consoleChunkOf(std::u16string_view text, std::size_t limit);

class TextOutput {
 public:
  /// The stream \a stdHandle names: file::kStdOutputHandle or kStdErrorHandle.
  TextOutput(Platform& platform, Dword stdHandle) : platform_(platform), which_(stdHandle) {}
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;

  Platform& platform() { return platform_; }
  /// Writes \a text and CR LF.
  void writeLine(std::string_view text);

 private:
  /// Looks, once, at what the stream is.
  void find();
  void writeToConsole(const std::string& text);
  void writeBytes(const std::string& bytes);

  Platform& platform_;
  Dword which_;
  bool found_ = false;
  RawHandle handle_ = nullptr;  ///< null when the process has no such stream
  bool console_ = false;
};

}  // namespace vdksvc
