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
  /// The state the service must last be seen in for success; 0 means success
  /// once the service could be opened.
  Dword requiredState;
  /// The state the command sends the service to, and the refusal of the request
  /// that says it is there already (0: none).
  Dword targetState;
  Dword refusalWhenThere;
};

constexpr Dword kStartRequest = 0;

// clang-format off
//                               name        request              pending state           delete required state  target state   refusal when there
constexpr StateChange kStop{    "stop",     svc::kControlStop,     svc::kStopPending,     false, 0,             svc::kStopped, winerr::kServiceNotActive};
constexpr StateChange kRemove{  "remove",   svc::kControlStop,     svc::kStopPending,     true,  0,             0,             0};
constexpr StateChange kStart{   "start",    kStartRequest,         svc::kStartPending,    false, 0,             svc::kRunning, winerr::kServiceAlreadyRunning};
constexpr StateChange kPause{   "pause",    svc::kControlPause,    svc::kPausePending,    false, svc::kPaused,  svc::kPaused,  0};
constexpr StateChange kContinue{"continue", svc::kControlContinue, svc::kContinuePending, false, svc::kRunning, svc::kRunning, 0};
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

EntryResult changeState(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                        const StateChange& change, StepLog& log) {
  EntryLog steps(log, change.name, entry.serviceName);
  EntryResult result;
  ScmHandles handles(platform);
  if (!handles.open(platform, entry.serviceName)) {
    steps.openFailed(handles);
    result.error = handles.error;
    result.done = change.deleteAfterwards && removedAlready(handles.error);
    return result;
  }
  // No state is checked first: a stop of a stopped service or a start of a
  // running one is the manager's to refuse, and a refusal means no wait.
  const std::uint64_t started = steps.tick();
  const bool accepted = sendRequest(platform, handles.service.get(), change.control);
  const Dword refusal = accepted ? 0 : platform.GetLastError();
  steps.request(requestName(change.control), accepted, refusal);
  result.error = refusal;
  PollResult waited;
  if (accepted) {
    waited = pollWhilePending(platform, handles.service.get(), change.pendingState, pollLimit);
    steps.waited(waited, change.pendingState, pollLimit, started);
    result.take(waited);
  }
  result.done = (accepted && waited.endedIn(change.targetState)) ||
                (refusal != 0 && refusal == change.refusalWhenThere);
  if (change.deleteAfterwards) {
    const bool deleted = platform.DeleteService(handles.service.get());
    const Dword error = deleted ? 0 : platform.GetLastError();
    steps.request("DeleteService", deleted, error);
    result.done = deleted || removedAlready(error);
    if (!deleted) result.error = error;
  }
  result.succeeded =
      change.requiredState == 0 || (accepted && waited.endedIn(change.requiredState));
  return result;
}

}  // namespace

EntryResult stopEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                      StepLog& log) {
  return changeState(platform, entry, pollLimit, kStop, log);
}

EntryResult removeEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                        StepLog& log) {
  return changeState(platform, entry, pollLimit, kRemove, log);
}

EntryResult startEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                       StepLog& log) {
  return changeState(platform, entry, pollLimit, kStart, log);
}

EntryResult pauseEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                       StepLog& log) {
  return changeState(platform, entry, pollLimit, kPause, log);
}

EntryResult continueEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                          StepLog& log) {
  return changeState(platform, entry, pollLimit, kContinue, log);
}

}  // namespace vdksvc
