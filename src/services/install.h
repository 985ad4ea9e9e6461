#pragma once
// Installation of one service of the product, with its two product rules: the
// TFTP switch that keeps "NetBootCast" disabled, and the dependency of "hubkeep"
// and "loomtide" on the product's database service when that runs here.

#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"
#include "services/entry_outcome.h"
#include "services/entry_request.h"

namespace vdksvc {

/// Creates the entry's service (own process, automatic start or disabled under
/// the TFTP rule, normal error control, local system account, the database
/// dependency where the rule gives one), starts it and waits while it starts.
/// An old service of that name that is marked for deletion is waited for to go
/// first (within -t, without it 30 s at most), as another program's handle keeps
/// it. A service that already exists is left as it is; one created but not started
/// stays installed. Done when the new service was seen running, was created
/// disabled by the TFTP rule, or existed already. The manager is opened with
/// \a request's rights, and the new service is created with them.
EntryOutcome installEntry(Platform& platform, const ServiceEntry& entry,
                          const EntryRequest& request, StepLog& log = StepLog::off());

}  // namespace vdksvc
