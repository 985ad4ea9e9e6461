#pragma once
// The rights each operation asks of the service control manager and of a
// service. Each asks for only what its calls need, so that an operator who was
// granted exactly those rights (a service's security set with "sc sdset") is
// served, and a prompt that is not elevated is refused only what it lacks.

#include <string>

#include "platform/platform.h"

namespace vdksvc {

struct AccessRights {
  Dword manager = 0;  ///< asked of the service control manager
  Dword service = 0;  ///< asked of each service of the list
};

// clang-format off
constexpr AccessRights kStopRights{svc::kManagerConnect, svc::kServiceStop | svc::kServiceQueryStatus};
constexpr AccessRights kRemoveRights{svc::kManagerConnect, kStopRights.service | svc::kDelete};
constexpr AccessRights kStartRights{svc::kManagerConnect, svc::kServiceStart | svc::kServiceQueryStatus};
constexpr AccessRights kPauseContinueRights{svc::kManagerConnect, svc::kServicePauseContinue | svc::kServiceQueryStatus};
constexpr AccessRights kStartTypeRights{svc::kManagerConnect, svc::kServiceChangeConfig};
/// The installation creates the service and asks of it what its start and the
/// wait need.
constexpr AccessRights kInstallRights{svc::kManagerConnect | svc::kManagerCreateService, kStartRights.service};
/// Enough to find a service and read its state.
constexpr AccessRights kQueryRights{svc::kManagerConnect, svc::kServiceQueryStatus};
/// Enough to read a service's state and configuration, which a prompt that is
/// not elevated is granted: what -query asks, and the sweep to read recovery
/// actions.
constexpr AccessRights kReadServiceRights{svc::kManagerConnect, svc::kServiceQueryStatus | svc::kServiceQueryConfig};
// clang-format on

/// The rights by their Windows names: "SC_MANAGER_CONNECT on the manager and
/// SERVICE_STOP, SERVICE_QUERY_STATUS on each service".
std::string rightsText(const AccessRights& rights);

}  // namespace vdksvc
