#pragma once
// SeDebugPrivilege, enabled for the while the sweep opens processes, and what
// became of it.

#include "platform/handles.h"
#include "platform/platform.h"

namespace vdksvc {

/// What became of SeDebugPrivilege before the processes were opened.
enum class DebugPrivilegeOutcome { kEnabled, kEnabledAlready, kNotHeld, kFailed };

/// SeDebugPrivilege enabled in the process's own token while the object lives,
/// when the token holds it, and then put back as it was. Without it, processes
/// of other accounts, LocalSystem's among them, refuse PROCESS_TERMINATE even to
/// an elevated administrator. The handles opened meanwhile keep their access.
class DebugPrivilege {
 public:
  explicit DebugPrivilege(Platform& platform);
  ~DebugPrivilege();
  DebugPrivilege(const DebugPrivilege&) = delete;
  DebugPrivilege& operator=(const DebugPrivilege&) = delete;

  DebugPrivilegeOutcome outcome() const { return outcome_; }
  /// Whether the privilege is enabled now, by this object or before it.
  bool enabled() const {
    return outcome_ == DebugPrivilegeOutcome::kEnabled ||
           outcome_ == DebugPrivilegeOutcome::kEnabledAlready;
  }
  /// Why the privilege could not be enabled: the failed call's error.
  Dword error() const { return error_; }

 private:
  /// Enables the privilege when the token holds it; what became of it.
  DebugPrivilegeOutcome enable();
  DebugPrivilegeOutcome failed();

  Platform& platform_;
  TokenHandle token_;
  TokenPrivileges previous_;  ///< the privileges the adjustment changed, as they were
  bool restore_ = false;
  Dword error_ = 0;
  DebugPrivilegeOutcome outcome_ = DebugPrivilegeOutcome::kFailed;
};

}  // namespace vdksvc
