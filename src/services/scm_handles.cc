#include "services/scm_handles.h"

namespace vdksvc {
namespace {

constexpr Dword kPollIntervalMs = 1000;

}  // namespace

bool ScmHandles::openManager(Platform& platform) {
  manager.reset(platform.OpenSCManagerA(nullptr, nullptr, svc::kManagerAllAccess));
  if (manager) return true;
  failedCall = "OpenSCManagerA";
  error = platform.GetLastError();
  return false;
}

bool ScmHandles::open(Platform& platform, const std::string& serviceName) {
  if (!openManager(platform)) return false;
  service.reset(platform.OpenServiceA(manager.get(), serviceName.c_str(), svc::kServiceAllAccess));
  if (service) return true;
  failedCall = "OpenServiceA";
  error = platform.GetLastError();
  manager.reset();
  return false;
}

PollResult pollWhilePending(Platform& platform, RawScHandle service, Dword pendingState,
                            PollLimit limit) {
  PollResult result;
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
    if (status.dwCurrentState != pendingState) return result;
    if (limit > 0 && result.polls >= limit) return result;
  }
}

}  // namespace vdksvc
