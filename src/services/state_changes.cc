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
  /// DeleteService after the wait, whatever came before.
  bool deleteAfterwards;
  /// The state the service must last be seen in for success; 0 means success
  /// once the service could be opened.
  Dword requiredState;
};

constexpr Dword kStartRequest = 0;

constexpr StateChange kStop{"stop", svc::kControlStop, svc::kStopPending, false, 0};
constexpr StateChange kRemove{"remove", svc::kControlStop, svc::kStopPending, true, 0};
constexpr StateChange kStart{"start", kStartRequest, svc::kStartPending, false, 0};
constexpr StateChange kPause{"pause", svc::kControlPause, svc::kPausePending, false, svc::kPaused};
constexpr StateChange kContinue{"continue", svc::kControlContinue, svc::kContinuePending, false,
                                svc::kRunning};

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

bool changeState(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                 const StateChange& change, StepLog& log) {
  EntryLog steps(log, change.name, entry.serviceName);
  ScmHandles handles(platform);
  if (!handles.open(platform, entry.serviceName)) {
    steps.openFailed(handles);
    return false;
  }
  // No state is checked first: a stop of a stopped service or a start of a
  // running one is the manager's to refuse, and a refusal means no wait.
  PollResult waited;
  const std::uint64_t started = steps.tick();
  const bool accepted = sendRequest(platform, handles.service.get(), change.control);
  steps.request(platform, requestName(change.control), accepted);
  if (accepted) {
    waited = pollWhilePending(platform, handles.service.get(), change.pendingState, pollLimit);
    steps.waited(waited, change.pendingState, pollLimit, started);
  }
  if (change.deleteAfterwards) {
    const bool deleted = platform.DeleteService(handles.service.get());
    steps.request(platform, "DeleteService", deleted);
  }
  if (change.requiredState == 0) return true;
  return accepted && waited.endedIn(change.requiredState);
}

}  // namespace

bool stopEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit, StepLog& log) {
  return changeState(platform, entry, pollLimit, kStop, log);
}

bool removeEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit, StepLog& log) {
  return changeState(platform, entry, pollLimit, kRemove, log);
}

bool startEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit, StepLog& log) {
  return changeState(platform, entry, pollLimit, kStart, log);
}

bool pauseEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit, StepLog& log) {
  return changeState(platform, entry, pollLimit, kPause, log);
}

bool continueEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                   StepLog& log) {
  return changeState(platform, entry, pollLimit, kContinue, log);
}

bool stopEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit) {
  return stopEntry(platform, entry, pollLimit, StepLog::off());
}

bool removeEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit) {
  return removeEntry(platform, entry, pollLimit, StepLog::off());
}

bool startEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit) {
  return startEntry(platform, entry, pollLimit, StepLog::off());
}

bool pauseEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit) {
  return pauseEntry(platform, entry, pollLimit, StepLog::off());
}

bool continueEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit) {
  return continueEntry(platform, entry, pollLimit, StepLog::off());
}

}  // namespace vdksvc
