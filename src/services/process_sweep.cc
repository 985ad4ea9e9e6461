#include "services/process_sweep.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/handles.h"
#include "services/debug_privilege.h"
#include "services/process_match.h"
#include "services/recovery_actions.h"
#include "services/sweep_log.h"

namespace vdksvc {
namespace {

/// A process of the list's programs that the sweep waits for, and ends if it must.
struct SweptProcess {
  ProcessHandle look;  ///< to identify it and wait on it; held, its id cannot be reused
  ProcessHandle end;   ///< to terminate it; empty when the process refused that right
  Dword id = 0;
  const std::vector<const ServiceEntry*>* entries = nullptr;  ///< the entries it runs for
};

/// The processes of the list's programs among \a candidates, at most 64, each
/// opened first only to look at it and wait on it, and, once it proved to run a
/// program of the list, a second time to end it, with SeDebugPrivilege for the
/// while. A process that refuses to be looked at is a stranger's and is left
/// alone, unless the privilege is not enabled; one that ended since the
/// snapshot is gone. \a leftRunning tells whether a process of the list's
/// programs, or one that may be, could not be taken in.
std::vector<SweptProcess> openListed(Platform& platform, const std::vector<Candidate>& candidates,
                                     SweepLog& log, bool& leftRunning) {
  constexpr Dword kLook = proc::kQueryLimitedInformation | proc::kSynchronize;
  std::vector<SweptProcess> processes;
  const DebugPrivilege privilege(platform);
  log.privilege(privilege.outcome(), privilege.error());
  ProgramCheck check(platform, log);
  for (const Candidate& candidate : candidates) {
    ProcessHandle look(platform, platform.OpenProcess(kLook, false, candidate.id));
    if (!look) {
      const Dword error = platform.GetLastError();
      // Without the privilege, a program of the list that runs under another
      // account, LocalSystem's among them, refuses as a stranger's does: its
      // name matched, so it may be the list's own.
      if (error == winerr::kAccessDenied && !privilege.enabled()) {
        log.refusedWithoutPrivilege(candidate.id, error);
        leftRunning = true;
      } else {
        log.openFailed(candidate.id, error);
      }
      continue;
    }
    if (!check.runsListedProgram(look.get(), candidate)) continue;
    if (processes.size() == proc::kMaximumWaitObjects) {
      leftRunning = true;  // a wait takes no more
      continue;
    }
    ProcessHandle end(platform, platform.OpenProcess(proc::kTerminate, false, candidate.id));
    if (!end) log.endRefused(candidate.id, platform.GetLastError());
    processes.push_back({std::move(look), std::move(end), candidate.id, candidate.entries});
  }
  return processes;
}

/// Whether \a process (a handle that may be waited on) still runs.
bool stillRuns(Platform& platform, RawHandle process) {
  return platform.WaitForMultipleObjects(1, &process, true, 0) == proc::kWaitTimeout;
}

/// Terminates \a processes with exit code 0 and waits, kTerminationWaitMs at
/// most, for them to end; false when one could not be ended and still runs.
/// \a names, when given, receives the service names of the entries of the
/// processes terminated.
bool terminateAll(Platform& platform, const std::vector<SweptProcess>& processes, SweepLog& log,
                  std::unordered_set<std::string>* names) {
  bool allEnded = true;
  std::vector<const SweptProcess*> ending;  ///< terminated, to wait for
  for (const SweptProcess& swept : processes) {
    if (!swept.end) {
      if (!stillRuns(platform, swept.look.get())) continue;
      log.notTerminated(swept.id, true, winerr::kAccessDenied);
      allEnded = false;
      continue;
    }
    const bool terminated = platform.TerminateProcess(swept.end.get(), 0);
    const Dword error = terminated ? 0 : platform.GetLastError();
    if (terminated) {
      log.terminated(swept.id);
      ending.push_back(&swept);
      if (names != nullptr && swept.entries != nullptr) {
        for (const ServiceEntry* entry : *swept.entries) names->insert(entry->serviceName);
      }
      continue;
    }
    // A process that ended meanwhile cannot be terminated either, so one look at
    // its state tells whether it was left running.
    const bool runs = stillRuns(platform, swept.look.get());
    allEnded = allEnded && !runs;
    log.notTerminated(swept.id, runs, error);
  }
  if (ending.empty()) return allEnded;
  // Termination only begins with the call: the files stay locked until each
  // process has ended.
  std::vector<RawHandle> raw;
  raw.reserve(ending.size());
  for (const SweptProcess* swept : ending) raw.push_back(swept->look.get());
  const auto count = static_cast<Dword>(raw.size());
  const std::uint64_t started = log.tick();
  const Dword waited = platform.WaitForMultipleObjects(count, raw.data(), true, kTerminationWaitMs);
  if (waited < proc::kWaitObject0 + count) {
    log.endedAfterTermination(count, started);
    return allEnded;
  }
  for (const SweptProcess* swept : ending) {
    if (!stillRuns(platform, swept->look.get())) continue;
    log.runsAfterTermination(swept->id, kTerminationWaitMs);
    allEnded = false;
  }
  return allEnded;
}

}  // namespace

bool sweepLeftoverProcesses(Platform& platform, const ServiceList& list, StepLog& log,
                            std::unordered_set<std::string>* terminated) {
  SweepLog steps(log);
  const ImageNames names = imageNamesOf(platform, list);
  if (names.empty()) return true;
  const std::vector<Candidate> candidates = matchingProcesses(platform, names, steps);
  if (candidates.empty()) {
    steps.noProcess();
    return true;
  }

  // A process that ended since the snapshot, or that refuses even to be looked
  // at, is left out of the wait: a null handle in it would fail the wait at
  // once and cut every other process's grace.
  bool leftRunning = false;
  const std::vector<SweptProcess> processes = openListed(platform, candidates, steps, leftRunning);
  if (processes.empty()) return !leftRunning;

  std::vector<RawHandle> raw;
  raw.reserve(processes.size());
  for (const SweptProcess& swept : processes) raw.push_back(swept.look.get());
  const Dword count = static_cast<Dword>(raw.size());
  steps.graceBegins(count, kSweepGraceMs);
  const std::uint64_t started = steps.tick();
  const Dword waited = platform.WaitForMultipleObjects(count, raw.data(), true, kSweepGraceMs);
  const bool allEnded = waited < proc::kWaitObject0 + count;
  // Read whether or not the log is on, so that the log changes no call.
  const Dword waitError = waited == proc::kWaitFailed ? platform.GetLastError() : 0;
  steps.waited(waited, count, started, waitError);
  if (allEnded) return !leftRunning;
  // Timed out, or the wait failed: whatever still runs is ended now.
  warnOfRecoveryActions(platform, list, steps);
  if (!terminateAll(platform, processes, steps, terminated)) leftRunning = true;
  return !leftRunning;
}

}  // namespace vdksvc
