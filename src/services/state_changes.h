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
#include "services/poll_limit.h"

namespace vdksvc {

/// Sends the stop control and waits while the service is stopping. Done when it
/// was last seen stopped, or refused the stop as not running.
EntryOutcome stopEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                       StepLog& log = StepLog::off());

/// As stopEntry, then marks the service for deletion, whatever the stop gave: a
/// stopped service is deleted all the same. Done when it was marked for deletion
/// now or before, or does not exist.
EntryOutcome removeEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                         StepLog& log = StepLog::off());

/// Starts the service without arguments and waits while it is starting. Done
/// when it was last seen running, or refused the start as running already.
EntryOutcome startEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                        StepLog& log = StepLog::off());

/// Sends the pause control and waits while the service is pausing. Done only
/// when the service was last seen paused.
EntryOutcome pauseEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                        StepLog& log = StepLog::off());

/// Sends the continue control and waits while the service is resuming. Done only
/// when the service was last seen running.
EntryOutcome continueEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                           StepLog& log = StepLog::off());

}  // namespace vdksvc
