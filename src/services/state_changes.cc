#include "services/state_changes.h"

#include "services/entry_log.h"
#include "services/scm_handles.h"

namespace vdksvc {
namespace {

/// One row of the state-change table.
struct StateChange {
  /// The operation's name in the step log.
  const char* name;
  /// ControlService code; 0 means StartServiceA.
  Dword control;
  /// The state the service reports while the request is carried out.
  Dword pendingState;
  /// DeleteService after the wait, whatever came before; the entry is done once
  /// the service is marked for deletion.
  bool deleteAfterwards;
  /// The state the command sends the service to, and the refusal of the request
  /// that says it is there already (0: none).
  Dword targetState;
  Dword refusalWhenThere;
};

constexpr Dword kStartRequest = 0;

// clang-format off
//                               name        request              pending state           delete target state   refusal when there
constexpr StateChange kStop{    "stop",     svc::kControlStop,     svc::kStopPending,     false, svc::kStopped, winerr::kServiceNotActive};
constexpr StateChange kRemove{  "remove",   svc::kControlStop,     svc::kStopPending,     true,  0,             0};
constexpr StateChange kStart{   "start",    kStartRequest,         svc::kStartPending,    false, svc::kRunning, winerr::kServiceAlreadyRunning};
constexpr StateChange kPause{   "pause",    svc::kControlPause,    svc::kPausePending,    false, svc::kPaused,  0};
constexpr StateChange kContinue{"continue", svc::kControlContinue, svc::kContinuePending, false, svc::kRunning, 0};
// clang-format on

/// Errors that say a service to remove is as good as gone.
bool removedAlready(Dword error) {
  return error == winerr::kServiceMarkedForDelete || error == winerr::kServiceDoesNotExist;
}

bool sendRequest(Platform& platform, RawScHandle service, Dword control) {
  if (control == kStartRequest) return platform.StartServiceA(service, 0, nullptr);
  ServiceStatus status;
  return platform.ControlService(service, control, &status);
}

/// The request as the step log names it.
const char* requestName(Dword control) {
  switch (control) {
    case svc::kControlStop:
      return "ControlService STOP";
    case svc::kControlPause:
      return "ControlService PAUSE";
    case svc::kControlContinue:
      return "ControlService CONTINUE";
    default:
      return "StartServiceA";
  }
}

/// Sends the change's request and waits while the service carries it out.
EntryOutcome requestAndWait(Platform& platform, RawScHandle service, const StateChange& change,
                            PollLimit pollLimit, EntryLog& steps) {
  // No state is checked first: a stop of a stopped service or a start of a
  // running one is the manager's to refuse, and a refusal means no wait.
  const std::uint64_t started = steps.tick();
  const bool accepted = sendRequest(platform, service, change.control);
  const Dword refusal = accepted ? 0 : platform.GetLastError();
  steps.request(requestName(change.control), accepted, refusal);
  if (!accepted) {
    const bool there = refusal != 0 && refusal == change.refusalWhenThere;
    return there ? EntryOutcome::done() : EntryOutcome::failed(refusal);
  }
  const PollResult waited = pollWhilePending(platform, service, change.pendingState, pollLimit);
  steps.waited(waited, change.pendingState, pollLimit, started);
  return waited.outcomeFor(change.targetState);
}

/// Marks the service for deletion; done when it is marked, now or before.
EntryOutcome markForDeletion(Platform& platform, RawScHandle service, EntryLog& steps) {
  const bool deleted = platform.DeleteService(service);
  const Dword error = deleted ? 0 : platform.GetLastError();
  steps.request("DeleteService", deleted, error);
  return deleted || removedAlready(error) ? EntryOutcome::done() : EntryOutcome::failed(error);
}

EntryOutcome changeState(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                         const StateChange& change, StepLog& log) {
  EntryLog steps(log, change.name, entry.serviceName);
  ScmHandles handles(platform);
  if (!handles.open(platform, entry.serviceName)) {
    steps.openFailed(handles);
    const bool gone = change.deleteAfterwards && removedAlready(handles.error);
    return gone ? EntryOutcome::done() : EntryOutcome::failed(handles.error);
  }
  const EntryOutcome requested =
      requestAndWait(platform, handles.service.get(), change, pollLimit, steps);
  if (!change.deleteAfterwards) return requested;
  // A service to remove is deleted whatever the stop gave, a stopped one all the same.
  return markForDeletion(platform, handles.service.get(), steps);
}

}  // namespace

EntryOutcome stopEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                       StepLog& log) {
  return changeState(platform, entry, pollLimit, kStop, log);
}

EntryOutcome removeEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                         StepLog& log) {
  return changeState(platform, entry, pollLimit, kRemove, log);
}

EntryOutcome startEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                        StepLog& log) {
  return changeState(platform, entry, pollLimit, kStart, log);
}

EntryOutcome pauseEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                        StepLog& log) {
  return changeState(platform, entry, pollLimit, kPause, log);
}

EntryOutcome continueEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                           StepLog& log) {
  return changeState(platform, entry, pollLimit, kContinue, log);
}

}  // namespace vdksvc
