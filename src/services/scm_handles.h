#pragma once
// What every service operation shares: the pair of handles it opens on the local
// service control manager, and the one-second polling while a service is in a
// pending state.

#include <string>

#include "platform/handles.h"
#include "platform/platform.h"
#include "services/entry_outcome.h"
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

  /// Done when the last query reported \a targetState; otherwise the failed
  /// query's error, or the state last read.
  EntryOutcome outcomeFor(Dword targetState) const {
    if (queryFailed) return EntryOutcome::failed(queryError);
    return lastState == targetState ? EntryOutcome::done() : EntryOutcome::lastSeenIn(lastState);
  }
};

/// Sleeps one second, then queries \a service, for as long as it reports
/// \a pendingState. Stops on a failed query, on another state, or once \a limit
/// queries were made (0: no limit).
PollResult pollWhilePending(Platform& platform, RawScHandle service, Dword pendingState,
                            PollLimit limit);

}  // namespace vdksvc
