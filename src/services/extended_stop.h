#pragma once
// The extended stop's end: once every service of the list was asked to stop,
// the sweep ends their programs' leftover processes, and each service's state
// is read once more, since ending a service's process is what stops a hung one.

#include <cstdint>
#include <vector>

#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"
#include "services/entry_outcome.h"

namespace vdksvc {

/// How long, at most, the services whose program the sweep terminated are read
/// again until they report STOPPED: the manager learns of a process's end
/// through a wait of its own, so the state it reports may lag behind the end.
constexpr std::uint64_t kStoppedAfterTerminationMs = 3000;

/// Sweeps the leftover processes of \a list's programs, then queries each
/// entry's service: an entry is done when its service is STOPPED then, and not
/// done when it is in another state, whatever its stop gave. The service of an
/// entry whose program was terminated is read again until it reports STOPPED,
/// for kStoppedAfterTerminationMs at most, shared by all of them. An entry
/// whose service cannot be queried keeps its outcome in \a outcomes (one per
/// entry, in list order). False when the sweep left a process of the list's
/// programs running.
bool finishExtendedStop(Platform& platform, const ServiceList& list,
                        std::vector<EntryOutcome>& outcomes, StepLog& log = StepLog::off());

}  // namespace vdksvc
