#include "services/extended_stop.h"

#include "services/access_rights.h"
#include "services/entry_handles.h"
#include "services/process_sweep.h"
#include "services/service_names.h"

namespace vdksvc {
namespace {

/// The state of the entry's service now; 0 when it cannot be read.
Dword stateNow(Platform& platform, const ServiceEntry& entry, StepLog& log) {
  EntryHandles opened(platform, log, "stop", entry.serviceName);
  EntryLog& steps = opened.steps;
  if (!opened.open(kQueryRights)) return 0;
  ServiceStatus status;
  if (!platform.QueryServiceStatus(opened.handles.service.get(), &status)) {
    if (steps.on()) {
      steps.line("status query after the sweep failed: " +
                 steps.errorText(platform.GetLastError()));
    }
    return 0;
  }
  steps.line("after the sweep: " + std::string(stateName(status.dwCurrentState)));
  return status.dwCurrentState;
}

}  // namespace

bool finishExtendedStop(Platform& platform, const ServiceList& list,
                        std::vector<EntryOutcome>& outcomes, StepLog& log) {
  const bool allEnded = sweepLeftoverProcesses(platform, list, log);
  for (std::size_t i = 0; i < list.size() && i < outcomes.size(); ++i) {
    const Dword state = stateNow(platform, list.at(i), log);
    if (state == svc::kStopped) {
      outcomes[i] = EntryOutcome::done();
    } else if (state != 0) {
      outcomes[i] = EntryOutcome::lastSeenIn(state);
    }
  }
  return allEnded;
}

}  // namespace vdksvc
