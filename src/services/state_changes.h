#pragma once
// The per-entry operations that change a service's state: stop, remove, start,
// pause and continue. Each opens its own handles, sends one request, waits while
// the service reports the matching pending state, and closes its handles. Only
// the entry's service name is used. The command goes on with the next entry
// whatever the result says.

#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"
#include "services/entry_outcome.h"
#include "services/entry_request.h"

namespace vdksvc {

/// One state change: the request it sends, the state it waits on, and when
/// its entry is done.
struct StateChange {
  /// The operation's name in the step log.
  const char* name;
  /// ControlService code; kStartRequest means StartServiceA.
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
  /// Without -t, every wait ends on a service that shows no progress, in
  /// whichever pending state it hangs, which then leaves its processes to the
  /// extended stop's sweep.
  bool endsWhenHung;
};

/// The control of a StateChange that starts the service instead.
inline constexpr Dword kStartRequest = 0;

namespace change {
// clang-format off
/// Done when the service was last seen stopped, or refused the stop as not running.
inline constexpr StateChange kStop{"stop", svc::kControlStop, svc::kStopPending, false, svc::kStopped, winerr::kServiceNotActive, false};
/// As kStop, for the extended stop: without -t, each wait also ends when the
/// service is hung (its checkpoint has not risen for longer than the larger of
/// its wait hint and ten seconds), the wait for another request's pending state
/// included (a start, pause or continue that hangs), so that the sweep that
/// follows ends its processes. Not done then.
inline constexpr StateChange kStopBeforeSweep{"stop", svc::kControlStop, svc::kStopPending, false, svc::kStopped, winerr::kServiceNotActive, true};
/// As kStop, then marks the service for deletion, whatever the stop gave: a
/// stopped service is deleted all the same. Done when it was marked for deletion
/// now or before, or does not exist.
inline constexpr StateChange kRemove{"remove", svc::kControlStop, svc::kStopPending, true, svc::kStopped, winerr::kServiceNotActive, false};
/// Starts the service without arguments. Done when it was last seen running,
/// or refused the start as running already while a read shows it running or
/// paused.
inline constexpr StateChange kStart{"start", kStartRequest, svc::kStartPending, false, svc::kRunning, winerr::kServiceAlreadyRunning, false};
/// Done only when the service was last seen paused.
inline constexpr StateChange kPause{"pause", svc::kControlPause, svc::kPausePending, false, svc::kPaused, 0, false};
/// Done only when the service was last seen running.
inline constexpr StateChange kContinue{"continue", svc::kControlContinue, svc::kContinuePending, false, svc::kRunning, 0, false};
// clang-format on
}  // namespace change

/// Sends \a change's request to the entry's service and waits while the
/// service reports the change's pending state.
///
/// The manager and the service are opened with \a request's rights. A request
/// refused because the service is on its way elsewhere (a control while it
/// starts or stops, a start while it stops) waits for it to get there, within
/// the same -t, and is sent once more. A start refused as running while the
/// service reports STOPPED is sent again, by the wait's cadence, for a while.
EntryOutcome changeState(Platform& platform, const ServiceEntry& entry, const StateChange& change,
                         const EntryRequest& request, StepLog& log = StepLog::off());

/// changeState with \a kChange, in the shape of every per-entry operation.
template <const StateChange& kChange>
EntryOutcome changeStateTo(Platform& platform, const ServiceEntry& entry,
                           const EntryRequest& request, StepLog& log) {
  return changeState(platform, entry, kChange, request, log);
}

}  // namespace vdksvc
