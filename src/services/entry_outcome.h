#pragma once
// What one per-entry operation left its entry at.

#include "platform/platform.h"

namespace vdksvc {

/// Whether the entry ended where its command sends it (the outcome status counts
/// those that did not) and, when it did not, why: the error of the call that
/// failed, or else the state the service was last seen in.
class EntryOutcome {
 public:
  /// The entry is where the command sends it.
  static EntryOutcome done() { return EntryOutcome(true, 0, 0); }
  /// Not done: a call failed with \a error.
  static EntryOutcome failed(Dword error) { return EntryOutcome(false, error, 0); }
  /// Not done: the service was last seen in \a state, 0 when none was read.
  static EntryOutcome lastSeenIn(Dword state) { return EntryOutcome(false, 0, state); }
  /// Not done: the manager or the service refused the rights asked (error 5),
  /// so nothing was touched.
  static EntryOutcome accessDenied() {
    EntryOutcome outcome(false, winerr::kAccessDenied, 0);
    outcome.accessDenied_ = true;
    return outcome;
  }

  bool isDone() const { return done_; }
  /// Whether the entry was refused the rights to the manager or the service.
  bool wasAccessDenied() const { return accessDenied_; }
  /// The failed call's error; 0 when done, and when no call failed.
  Dword error() const { return error_; }
  /// The last state read of a service that is not done; 0 when done, when a call
  /// failed and when no state was read.
  Dword lastState() const { return lastState_; }

  bool operator==(const EntryOutcome&) const = default;

 private:
  EntryOutcome(bool done, Dword error, Dword lastState)
      : done_(done), error_(error), lastState_(lastState) {}

  bool done_;
  Dword error_;
  Dword lastState_;
  bool accessDenied_ = false;
};

}  // namespace vdksvc
