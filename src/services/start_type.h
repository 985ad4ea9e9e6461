#pragma once
// The per-entry operation of the "startup" command: a service's start type and
// display name, changed in one call.

#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"
#include "services/entry_outcome.h"
#include "services/entry_request.h"

namespace vdksvc {

/// Sets the start type named by the entry's start-type word ("auto", "demand",
/// "disabled", in any case) and the entry's display name; an empty display name
/// leaves the service's own as it is. Only the configuration changes: a running
/// service set to disabled runs on. Waits one second after the change. Done
/// when the manager accepted the change. The manager and the service are opened
/// with \a request's rights; there is nothing to wait for.
EntryOutcome changeStartType(Platform& platform, const ServiceEntry& entry,
                             const EntryRequest& request, StepLog& log = StepLog::off());

}  // namespace vdksvc
