#pragma once
// Waiting while a service is in a pending state: what the waits of an entry may
// spend, one-second status polls, the rule that tells a hung service from a slow
// one, and how the wait ended.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/platform.h"
#include "services/entry_outcome.h"
#include "services/poll_limit.h"

namespace vdksvc {

/// What the waits of one entry may still spend, counted in polls: without a
/// limit, or what is left of one, until it is used up. The one place that
/// reads the -t value: 0, the value when none was given, is no limit.
class WaitBudget {
 public:
  explicit WaitBudget(PollLimit limit) {
    if (limit != 0) left_ = limit;
  }

  /// Whether the waits have no limit.
  bool unlimited() const { return !left_; }
  /// Whether a wait may go on: always without a limit, while some is left with one.
  bool allowsMore() const { return !left_ || *left_ > 0; }
  /// Spends \a polls of what is left.
  void take(PollLimit polls) {
    if (left_) *left_ -= std::min(*left_, polls);
  }

 private:
  std::optional<PollLimit> left_;  ///< nothing without a limit
};

/// A wait on a stop ends as hung when the service's checkpoint has not risen
/// for longer than the larger of its wait hint and this.
constexpr std::uint64_t kHungAfterMs = 10000;

/// How a wait for a service to leave a pending state ended.
struct PollResult {
  bool queryFailed = false;  ///< a status query failed and ended the wait
  Dword lastState = 0;       ///< dwCurrentState of the last successful query
  PollLimit polls = 0;       ///< successful queries made
  Dword queryError = 0;      ///< the failed query's error
  bool hung = false;         ///< ended because the service showed no progress
  bool usedUp = false;       ///< ended because the budget was used up
  Dword checkPoint = 0;      ///< dwCheckPoint and dwWaitHint of the last query
  Dword waitHint = 0;
  std::uint64_t stalledMs = 0;  ///< how long the checkpoint had not risen then

  /// Done when the last query reported \a targetState; otherwise the failed
  /// query's error, or the state last read.
  EntryOutcome outcomeFor(Dword targetState) const {
    if (queryFailed) return EntryOutcome::failed(queryError);
    return lastState == targetState ? EntryOutcome::done() : EntryOutcome::lastSeenIn(lastState);
  }
};

/// Told of every poll that found the service still in the pending state: the
/// polls made so far and the status read.
using StillPending = std::function<void(PollLimit polls, const ServiceStatus& status)>;

/// Sleeps one second, then queries \a service, for as long as it reports
/// \a pendingState, spending one poll of \a budget on each status read. Stops
/// on a failed query, on another state, or once the budget is used up (a
/// budget used up already makes no query). Given \a hungFrom, the checkpoint
/// the request's answer reported, it also stops when the checkpoint has not
/// risen for longer than the larger of the wait hint and kHungAfterMs: the
/// service is hung, as Microsoft tells a hung service from a slow one.
/// \a stillPending, when given, hears of each poll that did not end the wait
/// by the state.
PollResult pollWhilePending(Platform& platform, RawScHandle service, Dword pendingState,
                            WaitBudget& budget, std::optional<Dword> hungFrom = std::nullopt,
                            const StillPending& stillPending = {});

/// Whether \a state is one of the four pending states.
bool isPending(Dword state);

}  // namespace vdksvc
