#pragma once
// The per-entry operations that change a service's state: stop, remove, start,
// pause and continue. Each opens its own handles, sends one request, waits while
// the service reports the matching pending state, and closes its handles. Only
// the entry's service name is used. The result flag is for the caller's
// information; the command itself goes on with the next entry either way.

#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"
#include "services/poll_limit.h"

namespace vdksvc {

/// Sends the stop control and waits while the service is stopping. True when the
/// service could be opened, whether or not it accepted the stop.
bool stopEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit);
bool stopEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit, StepLog& log);

/// As stopEntry, then marks the service for deletion, whatever the stop gave: a
/// stopped service is deleted all the same. True when the service could be opened.
bool removeEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit);
bool removeEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit, StepLog& log);

/// Starts the service without arguments and waits while it is starting. True when
/// the service could be opened, whether or not it accepted the start.
bool startEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit);
bool startEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit, StepLog& log);

/// Sends the pause control and waits while the service is pausing. True only when
/// the service was last seen paused.
bool pauseEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit);
bool pauseEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit, StepLog& log);

/// Sends the continue control and waits while the service is resuming. True only
/// when the service was last seen running.
bool continueEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit);
bool continueEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit,
                   StepLog& log);

}  // namespace vdksvc
