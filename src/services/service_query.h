#pragma once
// Reading one service as the manager holds it, for -query: its state, its
// process, its start type, its display name and its stored binary path. Asks
// only for rights a prompt that is not elevated has, and changes nothing.

#include <string>

#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"
#include "services/entry_outcome.h"
#include "services/entry_request.h"

namespace vdksvc {

/// What the manager told of one entry's service.
struct ServiceReport {
  enum class Found { kInstalled, kNotInstalled, kUnreadable };
  Found found = Found::kUnreadable;
  Dword error = 0;  ///< unreadable: the error of the call that failed
  // Installed:
  Dword state = 0;      ///< dwCurrentState
  Dword processId = 0;  ///< 0 while the service has no process
  /// Whether the configuration below was read: a service may grant its status
  /// and refuse its configuration.
  bool configKnown = false;
  Dword startType = 0;
  std::string displayName;
  std::string binaryPath;  ///< as the manager stores it
};

/// Reads \a entry's service, with \a request's rights, into \a request.report
/// when it is given. A service the manager does not know is kNotInstalled. One
/// whose configuration cannot be read (its security refuses it, or the query
/// fails) is read for its status alone, its configuration unknown; any other
/// failure (error 5 for a token without even the right to the status) makes it
/// unreadable.
/// Done when the service runs: the entries of -query's outcome status are those
/// whose service does not.
EntryOutcome queryService(Platform& platform, const ServiceEntry& entry,
                          const EntryRequest& request, StepLog& log = StepLog::off());

}  // namespace vdksvc
