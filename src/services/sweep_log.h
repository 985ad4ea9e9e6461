#pragma once
// The step log's lines about the extended stop's sweep: "sweep: ...". Every
// method does nothing when the log is off.

#include <cstdint>
#include <string>

#include "log/step_log.h"
#include "platform/platform.h"
#include "services/debug_privilege.h"

namespace vdksvc {

class SweepLog {
 public:
  explicit SweepLog(StepLog& log) : log_(log) {}

  bool on() const { return log_.on(); }
  std::uint64_t tick() { return log_.tick(); }

  void noProcess();
  /// Process \a id runs \a image, the program of the entry \a serviceName.
  void matched(Dword id, const std::string& image, const std::string& serviceName);
  /// \a error is the failed call's when the privilege could not be enabled.
  void privilege(DebugPrivilegeOutcome outcome, Dword error);
  void openFailed(Dword id, Dword error);
  /// Process \a id refused to be looked at, with \a error, while SeDebugPrivilege
  /// was not enabled, and so counts as left running.
  void refusedWithoutPrivilege(Dword id, Dword error);
  /// Process \a id runs a program of the list but refused PROCESS_TERMINATE.
  void endRefused(Dword id, Dword error);
  /// The id of process \a id went to another program, which runs \a image.
  void idReused(Dword id, const std::string& image);
  /// Process \a id runs \a image, a file of that name that is no program of the list.
  void otherProgram(Dword id, const std::string& image);
  /// The grace of \a milliseconds begins for \a count processes.
  void graceBegins(Dword count, Dword milliseconds);
  /// How the wait for \a count processes, begun at \a startTick, ended with
  /// \a waited; \a error is the failed wait's.
  void waited(Dword waited, Dword count, std::uint64_t startTick, Dword error);
  /// Service \a serviceName is in \a state, and Windows will take \a recovery
  /// when its process ends.
  void recoveryWarning(const std::string& serviceName, Dword state, const std::string& recovery);
  /// Service \a serviceName is in \a state, and its recovery actions cannot be
  /// read: the query failed with \a error, or, with 0, gave no actions in its buffer.
  void recoveryUnknown(const std::string& serviceName, Dword state, Dword error);
  void terminated(Dword id);
  /// The \a count processes terminated have ended, waited for since \a startTick.
  void endedAfterTermination(Dword count, std::uint64_t startTick);
  /// Process \a id still ran when the wait of \a milliseconds after its
  /// termination ended.
  void runsAfterTermination(Dword id, Dword milliseconds);
  /// \a runs: whether the process still runs after TerminateProcess failed with \a error.
  void notTerminated(Dword id, bool runs, Dword error);
  /// The outcome status's line: the sweep is not done.
  void leftRunning();

 private:
  void line(const std::string& text);
  static std::string process(Dword id) { return "process " + std::to_string(id); }

  StepLog& log_;
};

}  // namespace vdksvc
