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
///
/// Every operation here opens the manager and the service with only the rights
/// its request and wait need. A request refused because the service is on its
/// way elsewhere (a control while it starts or stops, a start while it stops)
/// waits for it to get there, within the same poll limit, and is sent once more.
EntryOutcome stopEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                       StepLog& log = StepLog::off());

/// As stopEntry, for the extended stop: without a poll limit, the wait also ends
/// when the service is hung (its checkpoint has not risen for longer than the
/// larger of its wait hint and ten seconds), so that the sweep that follows ends
/// its processes. Not done then.
EntryOutcome stopBeforeSweepEntry(Platform& platform, const ServiceEntry& entry,
                                  PollLimit pollLimit, StepLog& log = StepLog::off());

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
