#pragma once
// The step log: an opt-in account of what a run did, for the administrator who
// needs the reason a service did not start after a run that returned 0. One line
// per event, each starting with the local time to the millisecond and the process
// id, appended to a file in one write so that runs sharing the file never mix
// within a line. The same lines may also go to standard error as they are made,
// for the administrator watching a run at the console.
//
// The log observes and decides nothing: what a run does and its exit status are
// the same with and without it, and a log that cannot be opened or written is
// dropped silently. An off log makes no platform call at all.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/text_output.h"
#include "platform/handles.h"
#include "platform/platform.h"

namespace vdksvc {

class StepLog {
 public:
  /// A log that is off.
  StepLog() = default;
  /// A log appending to the file at \a path; the file is opened at the first line.
  StepLog(Platform& platform, std::string path);
  /// Also writes every line, as the file gets it, to \a output, until called
  /// with null; turns a log that is off on, with no file.
  void echoTo(TextOutput* output);
  StepLog(StepLog&&) = delete;
  StepLog& operator=(StepLog&&) = delete;
  StepLog(const StepLog&) = delete;
  StepLog& operator=(const StepLog&) = delete;

  /// A log that is off, for runs and operations that are given none.
  static StepLog& off();

  bool on() const { return platform_ != nullptr; }
  const std::string& path() const { return path_; }

  /// Appends "<yyyy-mm-dd hh:mm:ss.mmm> [<pid>] <text>" and CR LF in one write
  /// (and writes the same line to the output given to echoTo); CR and LF inside
  /// \a text become blanks, so an event is always one line.
  void write(std::string_view text);
  /// "<code> (<the system's message text>)", or the code alone when the system
  /// has no text for it.
  std::string errorText(Dword code);
  /// Milliseconds of a steady clock, to time a step; 0 when the log is off.
  std::uint64_t tick();

 private:
  Platform* platform_ = nullptr;
  std::string path_;  ///< empty: no file
  TextOutput* echo_ = nullptr;
  std::optional<FileHandle> file_;  ///< opened at the first line
  bool failed_ = false;             ///< the file could not be opened: nothing more is tried
};

}  // namespace vdksvc
