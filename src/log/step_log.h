#pragma once
// The step log: an opt-in account of what a run did, for the administrator who
// needs the reason a service did not start after a run that returned 0. One line
// per event, each starting with the local time to the millisecond and the process
// id, appended to a file in one write so that runs sharing the file never mix
// within a line.
//
// The log observes and decides nothing: what a run does and its exit status are
// the same with and without it, and a log that cannot be opened or written is
// dropped silently. An off log makes no platform call at all.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vdksvc {

/// The registry key whose "StepLog" value switches the log on when the
/// environment does not.
constexpr const char* kStepLogKey = "SOFTWARE\\Corvane\\Vardeck\\vdksvc";

class StepLog {
 public:
  /// A log that is off.
  StepLog() = default;
  /// A log appending to the file at \a path; the file is opened at the first line.
  StepLog(Platform& platform, std::string path);
  ~StepLog();
  StepLog(StepLog&& other) noexcept;
  StepLog& operator=(StepLog&&) = delete;
  StepLog(const StepLog&) = delete;
  StepLog& operator=(const StepLog&) = delete;

  /// The log the switches ask for: the file named by the environment variable
  /// VDKSVC_LOG, or when that is unset or empty by the value "StepLog" (REG_SZ or
  /// REG_EXPAND_SZ, environment references expanded) under kStepLogKey; off when
  /// neither names a file.
  static StepLog fromSwitches(Platform& platform);
  /// A log that is off, for runs and operations that are given none.
  static StepLog& off();

  bool on() const { return platform_ != nullptr; }
  const std::string& path() const { return path_; }

  /// Appends "<yyyy-mm-dd hh:mm:ss.mmm> [<pid>] <text>" and CR LF in one write;
  /// CR and LF inside \a text become blanks, so an event is always one line.
  void write(std::string_view text);
  /// "<code> (<the system's message text>)", or the code alone when the system
  /// has no text for it.
  std::string errorText(Dword code);
  /// Milliseconds of a steady clock, to time a step; 0 when the log is off.
  std::uint64_t tick();

 private:
  Platform* platform_ = nullptr;
  std::string path_;
  RawHandle file_ = nullptr;
  bool failed_ = false;  ///< the file could not be opened: nothing more is tried
};

/// The service state's name as the documentation writes it ("STOP_PENDING").
const char* stateName(Dword state);

/// \a text in double quotes.
std::string quoted(std::string_view text);

}  // namespace vdksvc
