#pragma once
// What every service operation shares: the pair of handles it opens on the local
// service control manager, and the one-second polling while a service is in a
// pending state.

#include <string>

#include "platform/handles.h"
#include "platform/platform.h"
#include "services/poll_limit.h"

namespace vdksvc {

/// The manager handle and one service handle of one operation. The manager is
/// declared first, so the service handle is always closed before it, on every
/// way out of the operation.
struct ScmHandles {
  explicit ScmHandles(Platform& platform) : manager(platform), service(platform) {}

  /// Opens the local manager's active database with all access.
  bool openManager(Platform& platform);
  /// Opens the manager, then \a serviceName with all access. On failure nothing
  /// stays open.
  bool open(Platform& platform, const std::string& serviceName);

  ScHandle manager;
  ScHandle service;  ///< closed first
  /// After a failed open: the call that failed and the error it gave.
  const char* failedCall = nullptr;
  Dword error = 0;
};

/// How a wait for a service to leave a pending state ended.
struct PollResult {
  bool queryFailed = false;  ///< a status query failed and ended the wait
  Dword lastState = 0;       ///< dwCurrentState of the last successful query
  PollLimit polls = 0;       ///< successful queries made
  Dword queryError = 0;      ///< the failed query's error

  /// True when the last query succeeded and reported \a state.
  bool endedIn(Dword state) const { return !queryFailed && lastState == state; }
};

/// What one per-entry operation did to its entry.
struct EntryResult {
  /// The operation's own flag, as each operation defines it.
  bool succeeded = false;
  /// The entry ended where the command sends it (the outcome status counts those
  /// that did not).
  bool done = false;
  /// Why it did not: the error of the call that failed, 0 for none ...
  Dword error = 0;
  /// ... or the last state read, 0 when none was.
  Dword lastState = 0;

  explicit operator bool() const { return succeeded; }
  /// Takes what a wait ended with: the last state read, or the failed query's error.
  void take(const PollResult& waited) {
    error = waited.queryFailed ? waited.queryError : 0;
    lastState = waited.queryFailed ? 0 : waited.lastState;
  }
};

/// Sleeps one second, then queries \a service, for as long as it reports
/// \a pendingState. Stops on a failed query, on another state, or once \a limit
/// queries were made (0: no limit).
PollResult pollWhilePending(Platform& platform, RawScHandle service, Dword pendingState,
                            PollLimit limit);

}  // namespace vdksvc
