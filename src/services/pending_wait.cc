#include "services/pending_wait.h"

#include <algorithm>

namespace vdksvc {
namespace {

constexpr std::uint64_t kShortestPauseMs = 25;
constexpr std::uint64_t kLongestPauseMs = 250;

}  // namespace

Cadence::Cadence(Platform& platform, WaitBudget& budget,
                 std::optional<std::uint64_t> withoutLimitMs)
    : platform_(platform),
      budget_(budget),
      startMs_(platform.GetTickCount64()),
      limitMs_(budget.unlimited() ? withoutLimitMs : budget.leftMs()) {}

Cadence::~Cadence() { budget_.take(waitedMs()); }

std::uint64_t Cadence::waitedMs() {
  const std::uint64_t now = platform_.GetTickCount64();
  return now > startMs_ ? now - startMs_ : 0;
}

bool Cadence::pause() {
  const std::uint64_t waited = waitedMs();
  std::uint64_t pauseMs = std::clamp(waited / 8, kShortestPauseMs, kLongestPauseMs);
  if (limitMs_) {
    if (waited >= *limitMs_) return false;
    pauseMs = std::min(pauseMs, *limitMs_ - waited);
  }
  platform_.Sleep(static_cast<Dword>(pauseMs));
  return true;
}

PollResult pollWhilePending(Platform& platform, RawScHandle service, Dword pendingState,
                            WaitBudget& budget, std::optional<Dword> hungFrom,
                            const StillPending& stillPending) {
  PollResult result;
  if (!budget.allowsMore()) {
    result.usedUp = true;
    result.limit = budget.seconds();
    return result;
  }
  Cadence cadence(platform, budget);
  Dword lastCheckPoint = hungFrom.value_or(0);
  std::uint64_t risenAtMs = 0;
  do {
    ServiceStatus status;
    if (!platform.QueryServiceStatus(service, &status)) {
      result.queryFailed = true;
      result.queryError = platform.GetLastError();
      return result;
    }
    const std::uint64_t waited = cadence.waitedMs();
    ++result.reads;
    result.lastState = status.dwCurrentState;
    result.checkPoint = status.dwCheckPoint;
    result.waitHint = status.dwWaitHint;
    if (status.dwCurrentState != pendingState) return result;
    if (stillPending) stillPending(result.reads, waited, status);
    if (!hungFrom) continue;
    // A service making progress raises its checkpoint within its wait hint.
    if (status.dwCheckPoint != lastCheckPoint) {
      lastCheckPoint = status.dwCheckPoint;
      risenAtMs = waited;
    }
    result.stalledMs = waited - risenAtMs;
    if (result.stalledMs > std::max<std::uint64_t>(status.dwWaitHint, kHungAfterMs)) {
      result.hung = true;
      return result;
    }
  } while (cadence.pause());
  result.usedUp = true;
  result.limit = budget.seconds();
  return result;
}

bool isPending(Dword state) {
  return state == svc::kStartPending || state == svc::kStopPending ||
         state == svc::kContinuePending || state == svc::kPausePending;
}

}  // namespace vdksvc
