#include "services/state_changes.h"

#include "services/scm_handles.h"

namespace vdksvc {
namespace {

/// One row of the state-change table.
struct StateChange {
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

constexpr StateChange kStop{svc::kControlStop, svc::kStopPending, false, 0};
constexpr StateChange kRemove{svc::kControlStop, svc::kStopPending, true, 0};
constexpr StateChange kStart{kStartRequest, svc::kStartPending, false, 0};
constexpr StateChange kPause{svc::kControlPause, svc::kPausePending, false, svc::kPaused};
constexpr StateChange kContinue{svc::kControlContinue, svc::kContinuePending, false, svc::kRunning};

bool sendRequest(Platform& platform, RawScHandle service, Dword control) {
  if (control == kStartRequest) return platform.StartServiceA(service, 0, nullptr);
  ServiceStatus status;
  return platform.ControlService(service, control, &status);
}

bool changeState(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                 const StateChange& change) {
  ScmHandles handles(platform);
  if (!handles.open(platform, entry.serviceName)) return false;

  // No state is checked first: a stop of a stopped service or a start of a
  // running one is the manager's to refuse, and a refusal means no wait.
  PollResult waited;
  const bool accepted = sendRequest(platform, handles.service.get(), change.control);
  if (accepted) {
    waited = pollWhilePending(platform, handles.service.get(), change.pendingState, pollLimit);
  }
  if (change.deleteAfterwards) platform.DeleteService(handles.service.get());

  if (change.requiredState == 0) return true;
  return accepted && waited.endedIn(change.requiredState);
}

}  // namespace

bool stopEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit) {
  return changeState(platform, entry, pollLimit, kStop);
}

bool removeEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit) {
  return changeState(platform, entry, pollLimit, kRemove);
}

bool startEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit) {
  return changeState(platform, entry, pollLimit, kStart);
}

bool pauseEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit) {
  return changeState(platform, entry, pollLimit, kPause);
}

bool continueEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit) {
  return changeState(platform, entry, pollLimit, kContinue);
}

}  // namespace vdksvc
