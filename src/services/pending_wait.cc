#include "services/pending_wait.h"

#include <algorithm>

namespace vdksvc {
namespace {

constexpr Dword kPollIntervalMs = 1000;

}  // namespace

PollResult pollWhilePending(Platform& platform, RawScHandle service, Dword pendingState,
                            WaitBudget& budget, std::optional<Dword> hungFrom,
                            const StillPending& stillPending) {
  PollResult result;
  Dword lastCheckPoint = hungFrom.value_or(0);
  while (budget.allowsMore()) {
    platform.Sleep(kPollIntervalMs);
    ServiceStatus status;
    if (!platform.QueryServiceStatus(service, &status)) {
      result.queryFailed = true;
      result.queryError = platform.GetLastError();
      return result;
    }
    budget.take(1);
    ++result.polls;
    result.lastState = status.dwCurrentState;
    result.checkPoint = status.dwCheckPoint;
    result.waitHint = status.dwWaitHint;
    if (status.dwCurrentState != pendingState) return result;
    if (stillPending) stillPending(result.polls, status);
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
  result.usedUp = true;
  return result;
}

bool isPending(Dword state) {
  return state == svc::kStartPending || state == svc::kStopPending ||
         state == svc::kContinuePending || state == svc::kPausePending;
}

}  // namespace vdksvc
