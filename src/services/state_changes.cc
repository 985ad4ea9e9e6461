#include "services/state_changes.h"

#include "services/entry_handles.h"
#include "services/entry_log.h"
#include "services/pending_wait.h"
#include "services/scm_handles.h"
#include "services/service_names.h"

namespace vdksvc {
namespace {

/// Errors that say a service to remove is as good as gone.
bool removedAlready(Dword error) {
  return error == winerr::kServiceMarkedForDelete || error == winerr::kServiceDoesNotExist;
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

/// One entry's request and waits: the service, the change, and the budget that
/// all the entry's waits share.
class Request {
 public:
  Request(Platform& platform, RawScHandle service, const StateChange& change, PollLimit limit,
          EntryLog& steps)
      : platform_(platform), service_(service), change_(change), budget_(limit), steps_(steps) {}

  /// Sends the change's request and waits while the service carries it out. A
  /// request refused while the service is on its way elsewhere (1061 for a
  /// control while it starts or stops, 1056 for a start while it stops) waits
  /// for it to get there and is sent once more. So does a control refused as one
  /// the service does not take (1052) while it is pending, when services take
  /// none: Wine refuses a stop to a starting service so.
  EntryOutcome run() {
    // No state is checked first: a stop of a stopped service or a start of a
    // running one is the manager's to refuse, and a refusal means no wait.
    const std::uint64_t started = steps_.tick();
    ServiceStatus answer;
    Dword refusal = 0;
    if (send(answer, refusal)) return waitFor(change_.pendingState, answer.dwCheckPoint, started);
    const bool maybePending = change_.control == kStartRequest
                                  ? refusal == winerr::kServiceAlreadyRunning
                                  : refusal == winerr::kServiceCannotAcceptCtrl ||
                                        refusal == winerr::kInvalidServiceControl;
    if (maybePending) return afterPendingRefusal(refusal, answer);
    return refused(refusal);
  }

 private:
  bool send(ServiceStatus& answer, Dword& refusal, bool logged = true) {
    const bool accepted = change_.control == kStartRequest
                              ? platform_.StartServiceA(service_, 0, nullptr)
                              : platform_.ControlService(service_, change_.control, &answer);
    refusal = accepted ? 0 : platform_.GetLastError();
    if (logged) steps_.request(requestName(change_.control), accepted, refusal);
    return accepted;
  }

  EntryOutcome refused(Dword refusal) const {
    const bool there = refusal != 0 && refusal == change_.refusalWhenThere;
    return there ? EntryOutcome::done() : EntryOutcome::failed(refusal);
  }

  /// Waits while the service reports \a pendingState, within what is left of
  /// the budget.
  PollResult poll(Dword pendingState, Dword checkPoint, std::uint64_t started) {
    // Without a limit, the waits of a stop before the sweep end on a hung
    // service, whichever pending state it hangs in.
    const bool hungRule = change_.endsWhenHung && budget_.unlimited();
    const PollResult waited =
        pollWhilePending(platform_, service_, pendingState, budget_,
                         hungRule ? std::optional(checkPoint) : std::nullopt, steps_.pollLines());
    steps_.waited(waited, pendingState, started);
    return waited;
  }

  /// Waits on the request's own pending state, not at all when the budget is
  /// used up; done when the service got to where the command sends it.
  EntryOutcome waitFor(Dword pendingState, Dword checkPoint, std::uint64_t started) {
    if (!budget_.allowsMore()) return EntryOutcome::lastSeenIn(pendingState);
    return poll(pendingState, checkPoint, started).outcomeFor(change_.targetState);
  }

  /// After a refusal that a pending state may explain: where the service is on
  /// its way to decides what follows. ControlService's \a answer gives the
  /// state for these refusals, as documented; a start's refusal needs a query,
  /// and so does an answer that holds no state (Wine's holds stray bytes).
  EntryOutcome afterPendingRefusal(Dword refusal, ServiceStatus status) {
    if ((change_.control == kStartRequest || !isServiceState(status.dwCurrentState)) &&
        !platform_.QueryServiceStatus(service_, &status)) {
      return refused(refusal);
    }
    Dword state = status.dwCurrentState;
    if (state == change_.pendingState) {
      steps_.line("the service is " + std::string(stateName(state)) +
                  " already: waiting while it is");
      return waitFor(state, status.dwCheckPoint, steps_.tick());
    }
    const bool wasPending = isPending(state);
    if (wasPending) {
      steps_.line("the service is " + std::string(stateName(state)) +
                  ": waiting for it to leave that state, then asking again");
      const PollResult waited = poll(state, status.dwCheckPoint, steps_.tick());
      if (waited.queryFailed) return EntryOutcome::failed(waited.queryError);
      state = waited.lastState;
      if (isPending(state)) return EntryOutcome::lastSeenIn(state);
    }
    if (state == change_.targetState) return EntryOutcome::done();
    // An instance that runs, paused or not, is what a start asks for; a stopped
    // one is started once it can be.
    if (change_.control == kStartRequest) {
      return state == svc::kStopped ? startOnceStartable() : refused(refusal);
    }
    // A control that a service which was not pending does not take stays refused.
    if (refusal == winerr::kInvalidServiceControl && !wasPending) return refused(refusal);
    const std::uint64_t started = steps_.tick();
    ServiceStatus answer;
    if (!send(answer, refusal)) return refused(refusal);
    return waitFor(change_.pendingState, answer.dwCheckPoint, started);
  }

  /// Starts a service that reports STOPPED, sending the start at once and
  /// then by the Cadence while the manager refuses it as running (1056) and a
  /// fresh read still finds it STOPPED: on Windows the program of a service
  /// that has just stopped may still run. That lasts what is left of the
  /// budget; without a limit, as long as the hung rule would allow (a stopped
  /// service gives no wait hint). Done only when a read shows the service
  /// running, or starting and then running.
  EntryOutcome startOnceStartable() {
    const std::uint64_t began = steps_.tick();
    std::uint64_t sentAt = began;
    ServiceStatus status;
    Dword refusal = 0;
    bool accepted = false;
    unsigned sent = 0;
    {
      Cadence cadence(platform_, budget_, kHungAfterMs);
      do {
        sentAt = steps_.tick();
        accepted = send(status, refusal, ++sent == 1);
        if (accepted || refusal != winerr::kServiceAlreadyRunning) break;
        if (!platform_.QueryServiceStatus(service_, &status)) {
          return EntryOutcome::failed(platform_.GetLastError());
        }
      } while (status.dwCurrentState == svc::kStopped && cadence.pause());
    }
    if (sent > 1) {
      steps_.request("StartServiceA, sent " + std::to_string(sent) + " times,", accepted, refusal);
    }
    if (accepted) return waitFor(change_.pendingState, 0, sentAt);
    if (refusal != winerr::kServiceAlreadyRunning) return refused(refusal);
    Dword state = status.dwCurrentState;
    if (state == svc::kStopped) {
      steps_.line("still STOPPED after " + std::to_string(steps_.tick() - began) +
                  " ms, each start refused with 1056: an earlier program of the service may "
                  "still run; not started");
      return EntryOutcome::lastSeenIn(state);
    }
    // Someone else's request got there first.
    if (isPending(state)) {
      if (!budget_.allowsMore()) return EntryOutcome::lastSeenIn(state);
      const PollResult waited = poll(state, status.dwCheckPoint, steps_.tick());
      if (waited.queryFailed) return EntryOutcome::failed(waited.queryError);
      state = waited.lastState;
    }
    return state == svc::kRunning || state == svc::kPaused ? EntryOutcome::done()
                                                           : EntryOutcome::lastSeenIn(state);
  }

  Platform& platform_;
  RawScHandle service_;
  const StateChange& change_;
  WaitBudget budget_;  ///< what the entry's waits may still take
  EntryLog& steps_;
};

/// Marks the service for deletion; done when it is marked, now or before.
EntryOutcome markForDeletion(Platform& platform, RawScHandle service, EntryLog& steps) {
  const bool deleted = platform.DeleteService(service);
  const Dword error = deleted ? 0 : platform.GetLastError();
  steps.request("DeleteService", deleted, error);
  return deleted || removedAlready(error) ? EntryOutcome::done() : EntryOutcome::failed(error);
}

}  // namespace

EntryOutcome changeState(Platform& platform, const ServiceEntry& entry, const StateChange& change,
                         const EntryRequest& request, StepLog& log) {
  EntryHandles opened(platform, log, change.name, entry.serviceName);
  ScmHandles& handles = opened.handles;
  if (!opened.open(request.rights)) {
    if (change.deleteAfterwards && removedAlready(handles.error)) return EntryOutcome::done();
    return handles.openFailure();
  }
  const EntryOutcome requested =
      Request(platform, handles.service.get(), change, request.pollLimit, opened.steps).run();
  if (!change.deleteAfterwards) return requested;
  // A service to remove is deleted whatever the stop gave, a stopped one all the same.
  return markForDeletion(platform, handles.service.get(), opened.steps);
}

}  // namespace vdksvc
