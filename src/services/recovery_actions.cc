#include "services/recovery_actions.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "services/access_rights.h"
#include "services/scm_handles.h"

namespace vdksvc {
namespace {

/// The failure actions of the service \a service, in order (empty: none);
/// nothing when they cannot be read, with \a error the failed query's (0 when
/// the query gave what cannot be actions).
std::optional<std::vector<ScAction>> failureActionsOf(Platform& platform, RawScHandle service,
                                                      Dword& error) {
  const auto failed = [&platform, &error] {
    error = platform.GetLastError();
    return std::nullopt;
  };
  error = 0;
  Dword needed = 0;
  // The first call only sizes the buffer: none cannot hold the structure.
  if (platform.QueryServiceConfig2A(service, svc::kConfigFailureActions, nullptr, 0, &needed)) {
    return std::nullopt;
  }
  if (platform.GetLastError() != winerr::kInsufficientBuffer) return failed();
  if (needed < sizeof(ServiceFailureActions)) return std::nullopt;
  std::vector<unsigned char> buffer(needed);
  if (!platform.QueryServiceConfig2A(service, svc::kConfigFailureActions, buffer.data(), needed,
                                     &needed)) {
    return failed();
  }
  ServiceFailureActions head;
  std::memcpy(&head, buffer.data(), sizeof head);
  if (head.cActions == 0) return std::vector<ScAction>{};
  // The structure points to its array somewhere in the buffer after it; where
  // is not documented. An array that is not wholly there, or not aligned as
  // SC_ACTION is, is none that Windows wrote.
  const auto start = reinterpret_cast<std::uintptr_t>(buffer.data());
  const auto first = reinterpret_cast<std::uintptr_t>(head.lpsaActions);
  if (first < start + sizeof head || first - start > buffer.size() ||
      first % alignof(ScAction) != 0 ||
      head.cActions > (buffer.size() - (first - start)) / sizeof(ScAction)) {
    return std::nullopt;
  }
  std::vector<ScAction> actions(head.cActions);
  std::memcpy(actions.data(), buffer.data() + (first - start), actions.size() * sizeof(ScAction));
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
    Dword error = 0;
    const std::optional<std::vector<ScAction>> actions =
        failureActionsOf(platform, handles.service.get(), error);
    if (!actions) {
      log.recoveryUnknown(name, status.dwCurrentState, error);
      continue;
    }
    const std::string recovery = recoveryOf(*actions);
    if (!recovery.empty()) log.recoveryWarning(name, status.dwCurrentState, recovery);
  }
}

}  // namespace vdksvc
