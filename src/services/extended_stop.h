#pragma once
// The extended stop's end: once every service of the list was asked to stop,
// the sweep ends their programs' leftover processes, and each service's state
// is read once more, since ending a service's process is what stops a hung one.

#include <vector>

#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"
#include "services/entry_outcome.h"

namespace vdksvc {

/// Sweeps the leftover processes of \a list's programs, then queries each
/// entry's service once: an entry is done when its service is STOPPED then,
/// and not done when it is in another state, whatever its stop gave. An entry
/// whose service cannot be queried keeps its outcome in \a outcomes (one per
/// entry, in list order). False when the sweep left a process of the list's
/// programs running.
bool finishExtendedStop(Platform& platform, const ServiceList& list,
                        std::vector<EntryOutcome>& outcomes, StepLog& log = StepLog::off());

}  // namespace vdksvc
