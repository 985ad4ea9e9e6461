#include "services/extended_stop.h"

#include <string>
#include <unordered_set>

#include "services/access_rights.h"
#include "services/entry_handles.h"
#include "services/pending_wait.h"
#include "services/process_sweep.h"
#include "services/service_names.h"

namespace vdksvc {
namespace {

/// The state of the entry's service now; 0 when it cannot be read. Given
/// \a untilStopped, it is read again by that cadence until it reports STOPPED
/// or the cadence's time is up.
Dword stateNow(Platform& platform, const ServiceEntry& entry, StepLog& log, Cadence* untilStopped) {
  EntryHandles opened(platform, log, "stop", entry.serviceName);
  EntryLog& steps = opened.steps;
  if (!opened.open(kQueryRights)) return 0;
  ServiceStatus status;
  unsigned reads = 0;
  do {
    if (!platform.QueryServiceStatus(opened.handles.service.get(), &status)) {
      if (steps.on()) {
        steps.line("status query after the sweep failed: " +
                   steps.errorText(platform.GetLastError()));
      }
      return 0;
    }
    ++reads;
  } while (status.dwCurrentState != svc::kStopped && untilStopped != nullptr &&
           untilStopped->pause());
  std::string text = "after the sweep: " + std::string(stateName(status.dwCurrentState));
  if (reads > 1) {
    text += " (read " + std::to_string(reads) + " times since its program was terminated)";
  }
  steps.line(text);
  return status.dwCurrentState;
}

}  // namespace

bool finishExtendedStop(Platform& platform, const ServiceList& list,
                        std::vector<EntryOutcome>& outcomes, StepLog& log) {
  std::unordered_set<std::string> terminated;
  const bool allEnded = sweepLeftoverProcesses(platform, list, log, &terminated);
  WaitBudget unlimited(0);
  Cadence untilStopped(platform, unlimited, kStoppedAfterTerminationMs);
  for (std::size_t i = 0; i < list.size() && i < outcomes.size(); ++i) {
    const ServiceEntry& entry = list.at(i);
    const bool wasTerminated = terminated.contains(entry.serviceName);
    const Dword state = stateNow(platform, entry, log, wasTerminated ? &untilStopped : nullptr);
    if (state == svc::kStopped) {
      outcomes[i] = EntryOutcome::done();
    } else if (state != 0) {
      outcomes[i] = EntryOutcome::lastSeenIn(state);
    }
  }
  return allEnded;
}

}  // namespace vdksvc
