#pragma once
// What a command hands its per-entry operation with each entry of its list:
// one shape for every operation, so that one table holds them all.

#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"
#include "services/access_rights.h"
#include "services/entry_outcome.h"
#include "services/poll_limit.h"

namespace vdksvc {

struct ServiceReport;

/// What the command asks of one entry's operation.
struct EntryRequest {
  /// Asked of the manager and of the entry's service: what the command needs,
  /// and no more.
  AccessRights rights;
  /// The seconds all of the entry's waits may take together; 0 means no limit.
  PollLimit pollLimit = 0;
  /// Where an operation that reads the service writes what it read (-query's
  /// does); null when nobody asks.
  ServiceReport* report = nullptr;
};

/// One command's work on one entry of its list; the run goes on with the next
/// entry whatever it gives.
using EntryOperation = EntryOutcome (*)(Platform& platform, const ServiceEntry& entry,
                                        const EntryRequest& request, StepLog& log);

}  // namespace vdksvc
