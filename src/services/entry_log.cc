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
  return [this](PollLimit polls, const ServiceStatus& status) {
    line("poll " + std::to_string(polls) + ": " + stateName(status.dwCurrentState) +
         ", checkpoint " + std::to_string(status.dwCheckPoint) + ", wait hint " +
         std::to_string(status.dwWaitHint) + " ms");
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
                     std::to_string(result.polls) + (result.polls == 1 ? " poll" : " polls");
  if (result.queryFailed) {
    text += ", status query failed: " + log_.errorText(result.queryError);
  } else {
    text += ", last state " + std::string(stateName(result.lastState));
    if (result.hung) {
      text += " (hung: checkpoint " + std::to_string(result.checkPoint) + " has not risen for " +
              std::to_string(result.stalledMs) + " ms, wait hint " +
              std::to_string(result.waitHint) + " ms)";
    } else if (result.usedUp) {
      // A wait that used up its budget made as many polls as it was allowed.
      text += " (limit of " + std::to_string(result.polls) + " polls reached)";
    }
  }
  text += ", " + std::to_string(log_.tick() - startTick) + " ms";
  line(text);
}

}  // namespace vdksvc
