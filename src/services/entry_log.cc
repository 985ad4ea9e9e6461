#include "services/entry_log.h"

#include "services/service_names.h"

namespace vdksvc {

EntryLog::EntryLog(StepLog& log, const char* operation, const std::string& serviceName)
    : log_(log) {
  if (log_.on()) prefix_ = std::string(operation) + " " + serviceName + ": ";
}

void EntryLog::line(std::string_view text) {
  if (!log_.on()) return;
  log_.write(prefix_ + std::string(text));
}

StillPending EntryLog::pollLines() {
  if (!log_.on()) return {};
  // The first read that finds the service pending, then one a second: a long
  // wait reads the status four times a second.
  return [this, nextLineMs = std::uint64_t{0}](unsigned reads, std::uint64_t waitedMs,
                                               const ServiceStatus& status) mutable {
    if (waitedMs < nextLineMs) return;
    nextLineMs = (waitedMs / 1000 + 1) * 1000;
    line("read " + std::to_string(reads) + " at " + std::to_string(waitedMs) + " ms: " +
         stateName(status.dwCurrentState) + ", checkpoint " + std::to_string(status.dwCheckPoint) +
         ", wait hint " + std::to_string(status.dwWaitHint) + " ms");
  };
}

void EntryLog::openFailed(const ScmHandles& handles) {
  if (!log_.on()) return;
  line(std::string(handles.failedCall != nullptr ? handles.failedCall : "open") +
       " failed: " + log_.errorText(handles.error));
}

void EntryLog::request(std::string_view request, bool accepted, Dword error) {
  if (!log_.on()) return;
  line(std::string(request) + (accepted ? " accepted" : " refused: " + log_.errorText(error)));
}

void EntryLog::waited(const PollResult& result, Dword pendingState, std::uint64_t startTick) {
  if (!log_.on()) return;
  std::string text = "waited while " + std::string(stateName(pendingState)) + ": " +
                     std::to_string(result.reads) + (result.reads == 1 ? " read" : " reads");
  if (result.queryFailed) {
    text += ", status query failed: " + log_.errorText(result.queryError);
  } else {
    text += ", last state " + std::string(stateName(result.lastState));
    if (result.hung) {
      text += " (hung: checkpoint " + std::to_string(result.checkPoint) + " has not risen for " +
              std::to_string(result.stalledMs) + " ms, wait hint " +
              std::to_string(result.waitHint) + " ms)";
    } else if (result.usedUp) {
      text += " (limit of " + std::to_string(result.limit) + " s reached)";
    }
  }
  text += ", " + std::to_string(log_.tick() - startTick) + " ms";
  line(text);
}

}  // namespace vdksvc
