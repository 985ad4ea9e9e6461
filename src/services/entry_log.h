#pragma once
// The step log's lines about one entry of the list: "<operation> <service>: ...".
// Every method does nothing when the log is off.

#include <cstdint>
#include <string>
#include <string_view>

#include "log/step_log.h"
#include "services/pending_wait.h"
#include "services/scm_handles.h"

namespace vdksvc {

class EntryLog {
 public:
  EntryLog(StepLog& log, const char* operation, const std::string& serviceName);

  bool on() const { return log_.on(); }
  void line(std::string_view text);
  /// "<call> failed: <error>" for a failed open of the manager or the service.
  void openFailed(const ScmHandles& handles);
  /// "<request> accepted", or "<request> refused: <error>".
  void request(std::string_view request, bool accepted, Dword error);
  /// Writes "read <n> at <ms> ms: <state>, checkpoint <c>, wait hint <ms> ms"
  /// for the first read of a wait that finds the service still pending, then
  /// for the first such read of each further second; nothing while off.
  StillPending pollLines();
  /// "waited while <pending state>: <n> reads, last state <state>, <ms> ms",
  /// with the -t seconds when they ended the wait and the error of a failed query.
  void waited(const PollResult& result, Dword pendingState, std::uint64_t startTick);
  std::uint64_t tick() { return log_.tick(); }
  std::string errorText(Dword code) { return log_.errorText(code); }

 private:
  StepLog& log_;
  std::string prefix_;
};

}  // namespace vdksvc
