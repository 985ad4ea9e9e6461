#include "services/recovery_actions.h"

#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "services/access_rights.h"
#include "services/scm_handles.h"

namespace vdksvc {
namespace {

/// The failure actions of the service \a service, in order; empty when there
/// are none or they cannot be read.
std::vector<ScAction> failureActionsOf(Platform& platform, RawScHandle service) {
  Dword needed = 0;
  if (platform.QueryServiceConfig2A(service, svc::kConfigFailureActions, nullptr, 0, &needed) ||
      platform.GetLastError() != winerr::kInsufficientBuffer ||
      needed < sizeof(ServiceFailureActions)) {
    return {};
  }
  std::vector<unsigned char> buffer(needed);
  if (!platform.QueryServiceConfig2A(service, svc::kConfigFailureActions, buffer.data(), needed,
                                     &needed)) {
    return {};
  }
  ServiceFailureActions head;
  std::memcpy(&head, buffer.data(), sizeof head);
  // The actions lie in the buffer after the structure, which points to them.
  const auto* first = reinterpret_cast<const unsigned char*>(head.lpsaActions);
  const std::size_t room = buffer.size() - sizeof head;
  if (head.cActions == 0 || first != buffer.data() + sizeof head ||
      head.cActions > room / sizeof(ScAction)) {
    return {};
  }
  std::vector<ScAction> actions(head.cActions);
  std::memcpy(actions.data(), first, actions.size() * sizeof(ScAction));
  return actions;
}

/// What Windows does for \a actions when a service's process ends before the
/// service reported STOPPED: "restart the service, run a program"; empty when
/// it does nothing.
std::string recoveryOf(const std::vector<ScAction>& actions) {
  std::string what;
  const auto add = [&what](const char* action) {
    if (what.find(action) != std::string::npos) return;
    what += (what.empty() ? "" : ", ") + std::string(action);
  };
  for (const ScAction& action : actions) {
    if (action.Type == svc::kActionRestart) add("restart the service");
    if (action.Type == svc::kActionRunCommand) add("run a program");
    if (action.Type == svc::kActionReboot) add("restart the computer");
  }
  return what;
}

}  // namespace

void warnOfRecoveryActions(Platform& platform, const ServiceList& list, SweepLog& log) {
  std::unordered_set<std::string> seen;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string& name = list.at(i).serviceName;
    if (!seen.insert(name).second) continue;
    ScmHandles handles(platform);
    ServiceStatus status;
    if (!handles.open(platform, name, kReadServiceRights) ||
        !platform.QueryServiceStatus(handles.service.get(), &status) ||
        status.dwCurrentState == svc::kStopped) {
      continue;
    }
    const std::string recovery = recoveryOf(failureActionsOf(platform, handles.service.get()));
    if (!recovery.empty()) log.recoveryWarning(name, status.dwCurrentState, recovery);
  }
}

}  // namespace vdksvc
