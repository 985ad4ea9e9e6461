#pragma once
// The recovery actions of the list's services: what Windows does when a
// service's process ends before the service reported STOPPED, read before the
// sweep terminates processes so that the step log can warn of it.

#include "lists/service_list.h"
#include "platform/platform.h"
#include "services/sweep_log.h"

namespace vdksvc {

/// Before processes are terminated: warns in the step log of each list service
/// that has not STOPPED and whose recovery actions Windows takes when its
/// process ends, or whose recovery actions cannot be read. Changes nothing; it
/// reads the same with the log off, so that the log changes no call a run makes.
void warnOfRecoveryActions(Platform& platform, const ServiceList& list, SweepLog& log);

}  // namespace vdksvc
