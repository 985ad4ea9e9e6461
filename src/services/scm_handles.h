#pragma once
// What every service operation shares: the pair of handles it opens on the local
// service control manager.

#include <string>

#include "platform/handles.h"
#include "platform/platform.h"
#include "services/access_rights.h"
#include "services/entry_outcome.h"

namespace vdksvc {

/// The manager handle and one service handle of one operation. The manager is
/// declared first, so the service handle is always closed before it, on every
/// way out of the operation.
struct ScmHandles {
  explicit ScmHandles(Platform& platform) : manager(platform), service(platform) {}

  /// Opens the local manager's active database with the rights \a access.
  bool openManager(Platform& platform, Dword access);
  /// Opens the manager, then \a serviceName, each with its part of \a rights.
  /// On failure nothing stays open.
  bool open(Platform& platform, const std::string& serviceName, const AccessRights& rights);
  /// The entry's outcome after a failed open: refused rights, or the error.
  EntryOutcome openFailure() const {
    return error == winerr::kAccessDenied ? EntryOutcome::accessDenied()
                                          : EntryOutcome::failed(error);
  }

  ScHandle manager;
  ScHandle service;  ///< closed first
  /// After a failed open: the call that failed and the error it gave.
  const char* failedCall = nullptr;
  Dword error = 0;
};

}  // namespace vdksvc
