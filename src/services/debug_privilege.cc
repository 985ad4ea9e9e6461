#include "services/debug_privilege.h"

namespace vdksvc {

DebugPrivilege::DebugPrivilege(Platform& platform) : platform_(platform), token_(platform) {
  outcome_ = enable();
}

DebugPrivilege::~DebugPrivilege() {
  if (restore_) {
    platform_.AdjustTokenPrivileges(token_.get(), false, &previous_, 0, nullptr, nullptr);
  }
}

DebugPrivilegeOutcome DebugPrivilege::enable() {
  RawHandle token = nullptr;
  if (!platform_.OpenProcessToken(platform_.GetCurrentProcess(),
                                  proc::kTokenAdjustPrivileges | proc::kTokenQuery, &token)) {
    return failed();
  }
  token_.reset(token);
  TokenPrivileges wanted;
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = proc::kPrivilegeEnabled;
  Dword size = 0;
  if (!platform_.LookupPrivilegeValueA(nullptr, proc::kDebugPrivilege,
                                       &wanted.Privileges[0].Luid) ||
      !platform_.AdjustTokenPrivileges(token_.get(), false, &wanted, sizeof previous_, &previous_,
                                       &size)) {
    return failed();
  }
  // The adjustment succeeds for a privilege the token does not hold, and says
  // so only through the last error.
  if (platform_.GetLastError() == winerr::kNotAllAssigned) return DebugPrivilegeOutcome::kNotHeld;
  restore_ = previous_.PrivilegeCount > 0;  // it lists only what it changed
  return restore_ ? DebugPrivilegeOutcome::kEnabled : DebugPrivilegeOutcome::kEnabledAlready;
}

DebugPrivilegeOutcome DebugPrivilege::failed() {
  error_ = platform_.GetLastError();
  return DebugPrivilegeOutcome::kFailed;
}

}  // namespace vdksvc
