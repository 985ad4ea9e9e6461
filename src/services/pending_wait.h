#pragma once
// Waiting while a service is in a pending state: what the waits of an entry may
// spend, the pauses between two looks at the service, the rule that tells a hung
// service from a slow one, and how the wait ended.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/platform.h"
#include "services/entry_outcome.h"
#include "services/poll_limit.h"

namespace vdksvc {

/// What the waits of one entry may still spend, in milliseconds: without a
/// limit, or what is left of the -t seconds, until it is used up. The one place
/// that reads the -t value: 0, the value when none was given, is no limit.
class WaitBudget {
 public:
  explicit WaitBudget(PollLimit seconds) : seconds_(seconds) {
    if (seconds != 0) left_ = std::uint64_t{seconds} * 1000;
  }

  /// Whether the waits have no limit.
  bool unlimited() const { return !left_; }
  /// Whether a wait may go on: always without a limit, while some is left with one.
  bool allowsMore() const { return !left_ || *left_ > 0; }
  /// What is left, in milliseconds; nothing without a limit.
  std::optional<std::uint64_t> leftMs() const { return left_; }
  /// The -t value the budget was given, in seconds; 0 for none.
  PollLimit seconds() const { return seconds_; }
  /// Spends \a ms of what is left.
  void take(std::uint64_t ms) {
    if (left_) *left_ -= std::min(*left_, ms);
  }

 private:
  PollLimit seconds_;
  std::optional<std::uint64_t> left_;  ///< nothing without a limit
};

/// The pauses of one wait, by the platform's clock: none before the first look
/// at the service, then an eighth of the time waited so far, at least 25 ms and
/// at most 250 ms. A service that gets there at once is seen at once, and a long
/// wait costs four status reads a second. The wait may last what is left of
/// \a budget, or without a limit \a withoutLimitMs when given; the last pause is
/// cut to that end, for one more look there. What the wait took is spent from
/// the budget when it ends.
class Cadence {
 public:
  Cadence(Platform& platform, WaitBudget& budget,
          std::optional<std::uint64_t> withoutLimitMs = std::nullopt);
  ~Cadence();
  Cadence(const Cadence&) = delete;
  Cadence& operator=(const Cadence&) = delete;

  /// How long the wait has taken so far.
  std::uint64_t waitedMs();
  /// Sleeps until the next look; false, without sleeping, once the wait may
  /// last no longer.
  bool pause();

 private:
  Platform& platform_;
  WaitBudget& budget_;
  std::uint64_t startMs_;
  std::optional<std::uint64_t> limitMs_;  ///< nothing: no end
};

/// A wait ends as hung when the service's checkpoint has not risen for longer
/// than the larger of its wait hint and this.
constexpr std::uint64_t kHungAfterMs = 10000;

/// How a wait for a service to leave a pending state ended.
struct PollResult {
  bool queryFailed = false;  ///< a status query failed and ended the wait
  Dword lastState = 0;       ///< dwCurrentState of the last successful query
  unsigned reads = 0;        ///< successful status queries made
  Dword queryError = 0;      ///< the failed query's error
  bool hung = false;         ///< ended because the service showed no progress
  bool usedUp = false;       ///< ended because the budget was used up
  PollLimit limit = 0;       ///< the -t seconds, when they ended the wait
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

/// Told of every status read that found the service still in the pending
/// state: the reads made so far, the time waited and the status read.
using StillPending =
    std::function<void(unsigned reads, std::uint64_t waitedMs, const ServiceStatus& status)>;

/// Queries \a service for as long as it reports \a pendingState, at once and
/// then by the Cadence, within what is left of \a budget. Stops on a failed
/// query, on another state, or once the budget is used up (a budget used up
/// already makes no query). Given \a hungFrom, the checkpoint the request's
/// answer reported, it also stops when the checkpoint has not risen for longer
/// than the larger of the wait hint and kHungAfterMs: the service is hung, as
/// Microsoft tells a hung service from a slow one. \a stillPending, when given,
/// hears of each read that did not end the wait by the state.
PollResult pollWhilePending(Platform& platform, RawScHandle service, Dword pendingState,
                            WaitBudget& budget, std::optional<Dword> hungFrom = std::nullopt,
                            const StillPending& stillPending = {});

/// Whether \a state is one of the four pending states.
bool isPending(Dword state);

}  // namespace vdksvc
