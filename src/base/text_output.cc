#include "base/text_output.h"

#include <algorithm>
#include <string>
#include <vector>

namespace vdksvc {
namespace {

/// The most WriteConsoleW is handed at once: older consoles refuse writes much
/// beyond 64 KB.
constexpr Dword kConsoleChunk = 8192;

}  // namespace

std::size_t consoleChunkOf(std::u16string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  const char16_t last = text[limit - 1];
  return limit > 1 && last >= 0xD800 && last <= 0xDBFF ? limit - 1 : limit;
}

void TextOutput::find() {
  found_ = true;
  handle_ = platform_.GetStdHandle(which_);
  if (handle_ == invalidHandleValue()) handle_ = nullptr;
  if (handle_ == nullptr) return;
  // Only a console has a console mode; a file, a pipe and NUL have none.
  Dword mode = 0;
  console_ = platform_.GetConsoleMode(handle_, &mode);
}

void TextOutput::writeLine(std::string_view text) {
  if (!found_) find();
  if (handle_ == nullptr) return;
  std::string line(text);
  line += "\r\n";
  if (console_) {
    writeToConsole(line);
  } else {
    writeBytes(line);
  }
}

void TextOutput::writeToConsole(const std::string& text) {
  const int length = static_cast<int>(text.size());
  const int needed =
      platform_.MultiByteToWideChar(file::kAnsiCodePage, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return;
  std::vector<char16_t> wide(static_cast<std::size_t>(needed));
  const int converted = platform_.MultiByteToWideChar(file::kAnsiCodePage, 0, text.data(), length,
                                                      wide.data(), needed);
  if (converted <= 0) return;
  const std::u16string_view all(wide.data(), static_cast<std::size_t>(converted));
  for (std::size_t at = 0; at < all.size();) {
    const auto chunk = static_cast<Dword>(consoleChunkOf(all.substr(at), kConsoleChunk));
    Dword written = 0;
    if (!platform_.WriteConsoleW(handle_, all.data() + at, chunk, &written, nullptr) ||
        written == 0) {
      return;
    }
    // A console that took fewer units than it was handed may have taken the
    // first half of a pair alone: the next write begins with the second, as
    // what was written cannot be taken back and nothing may be lost.
    at += std::min<Dword>(written, chunk);
  }
}

void TextOutput::writeBytes(const std::string& bytes) {
  // A pipe may take less than it was given; the rest follows.
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t left = bytes.size() - at;
    Dword written = 0;
    if (!platform_.WriteFile(handle_, bytes.data() + at, static_cast<Dword>(left), &written,
                             nullptr) ||
        written == 0) {
      return;
    }
    at += std::min<std::size_t>(written, left);
  }
}

}  // namespace vdksvc
