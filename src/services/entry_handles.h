#pragma once
// The start every per-entry operation shares: the step log's lines about its
// entry, and the manager and service handles it works with, opened with the
// rights its command asks for.

#include <string>

#include "log/step_log.h"
#include "platform/platform.h"
#include "services/access_rights.h"
#include "services/entry_log.h"
#include "services/scm_handles.h"

namespace vdksvc {

class EntryHandles {
 public:
  /// Opens nothing yet; the entry's lines in the step log begin with
  /// \a operation and \a serviceName.
  EntryHandles(Platform& platform, StepLog& log, const char* operation,
               const std::string& serviceName)
      : steps(log, operation, serviceName),
        handles(platform),
        platform_(platform),
        serviceName_(serviceName) {}

  /// Opens the local manager with the manager's part of \a rights. A failure is
  /// told to the step log ("OpenSCManagerA failed: <error>").
  bool openManager(const AccessRights& rights) {
    return handles.openManager(platform_, rights.manager) || failed();
  }
  /// Opens the manager, then the entry's service, each with its part of
  /// \a rights. A failure is told to the step log, and leaves nothing open.
  bool open(const AccessRights& rights) {
    return handles.open(platform_, serviceName_, rights) || failed();
  }

  EntryLog steps;
  ScmHandles handles;

 private:
  bool failed() {
    steps.openFailed(handles);
    return false;
  }

  Platform& platform_;
  const std::string& serviceName_;
};

}  // namespace vdksvc
