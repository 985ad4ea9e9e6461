#include "services/scm_handles.h"

#include <algorithm>

namespace vdksvc {
namespace {

constexpr Dword kPollIntervalMs = 1000;

}  // namespace

bool ScmHandles::openManager(Platform& platform, Dword access) {
  manager.reset(platform.OpenSCManagerA(nullptr, nullptr, access));
  if (manager) return true;
  failedCall = "OpenSCManagerA";
  error = platform.GetLastError();
  return false;
}

bool ScmHandles::open(Platform& platform, const std::string& serviceName,
                      const AccessRights& rights) {
  if (!openManager(platform, rights.manager)) return false;
  service.reset(platform.OpenServiceA(manager.get(), serviceName.c_str(), rights.service));
  if (service) return true;
  failedCall = "OpenServiceA";
  error = platform.GetLastError();
  manager.reset();
  return false;
}

PollResult pollWhilePending(Platform& platform, RawScHandle service, Dword pendingState,
                            PollLimit limit, std::optional<Dword> hungFrom,
                            const StillPending& stillPending) {
  PollResult result;
  Dword lastCheckPoint = hungFrom.value_or(0);
  for (;;) {
    platform.Sleep(kPollIntervalMs);
    ServiceStatus status;
    if (!platform.QueryServiceStatus(service, &status)) {
      result.queryFailed = true;
      result.queryError = platform.GetLastError();
      return result;
    }
    ++result.polls;
    result.lastState = status.dwCurrentState;
    result.checkPoint = status.dwCheckPoint;
    result.waitHint = status.dwWaitHint;
    if (status.dwCurrentState != pendingState) return result;
    if (stillPending) stillPending(result.polls, status);
    if (limit > 0 && result.polls >= limit) return result;
    if (!hungFrom) continue;
    // A service making progress raises its checkpoint within its wait hint.
    if (status.dwCheckPoint != lastCheckPoint) {
      lastCheckPoint = status.dwCheckPoint;
      result.stalledMs = 0;
      continue;
    }
    result.stalledMs += kPollIntervalMs;
    if (result.stalledMs > std::max<std::uint64_t>(status.dwWaitHint, kHungAfterMs)) {
      result.hung = true;
      return result;
    }
  }
}

bool isPending(Dword state) {
  return state == svc::kStartPending || state == svc::kStopPending ||
         state == svc::kContinuePending || state == svc::kPausePending;
}

}  // namespace vdksvc
