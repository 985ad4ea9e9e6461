#include "services/install.h"

#include <string>

#include "base/registry_value.h"
#include "base/text.h"
#include "lists/registry_catalogue.h"
#include "services/access_rights.h"
#include "services/entry_handles.h"
#include "services/entry_log.h"
#include "services/pending_wait.h"
#include "services/scm_handles.h"
#include "services/service_names.h"

namespace vdksvc {
namespace {

/// The service names the installation rules apply to, compared with case.
constexpr const char* kTftpServiceName = "NetBootCast";
constexpr const char* kHubServiceName = "hubkeep";
constexpr const char* kLoomServiceName = "loomtide";

constexpr const char* kDefaultDatabaseService = "MSSQL$VDKDBI";
/// SQL Server names a named instance's service "MSSQL$" and the instance name.
constexpr const char* kSqlInstancePrefix = "MSSQL$";

/// "<name> is <value> in the <view>", or "<name> not read ..." when \a read failed.
std::string reading(const char* name, bool read, const std::string& value,
                    const RegistryValueInfo& info) {
  if (!read) return std::string(name) + " not read " + kBothViews;
  return std::string(name) + " is " + value + " in the " + viewName(info.view);
}

/// True when the configuration turns the product's TFTP service off; \a why says
/// what was read.
bool tftpDisabled(Platform& platform, std::string& why) {
  Dword noTftp = 0;
  RegistryValueInfo info;
  const bool read = readRegistryNumber(platform, kProductKey, "NoUseVDKTFTP", noTftp, &info);
  why = "TFTP rule: " + reading("NoUseVDKTFTP", read, std::to_string(noTftp), info);
  return read && noTftp == 1;
}

bool usesDatabaseRule(const std::string& serviceName) {
  return serviceName == kHubServiceName || serviceName == kLoomServiceName;
}

/// The database service this installation would depend on, as the configuration
/// names it: "MSSQL$" and the configured instance name, or "MSSQL$VDKDBI" when no
/// instance is configured. Empty when the database runs on another machine.
std::string databaseServiceCandidate(Platform& platform, std::string& why) {
  Dword remote = 0;
  RegistryValueInfo info;
  const bool flagRead = readRegistryNumber(platform, kProductKey, "DBSrvRemoteFlag", remote, &info);
  why = reading("DBSrvRemoteFlag", flagRead, std::to_string(remote), info);
  if (!flagRead) {
    why += ", so the default instance";
    return kDefaultDatabaseService;
  }
  if (remote == 1) {
    why += ", the database runs on another machine";
    return {};
  }
  // The instance name is only looked at when the flag was read. Any length is
  // kept: SQL Server allows instance names of 16 characters.
  std::string instance;
  const bool nameRead = readRegistryText(platform, kDatabaseKey, "DBInstanceName", instance, &info);
  why += ", " + reading("DBInstanceName", nameRead, quoted(instance), info);
  if (!nameRead) {
    why += ", so the default instance";
    return kDefaultDatabaseService;
  }
  return kSqlInstancePrefix + instance;
}

/// The candidate when the database service exists on this machine; empty when it
/// does not. It is only looked for: a service that refuses even to be queried
/// exists all the same.
std::string localDatabaseDependency(Platform& platform, RawScHandle manager, std::string& why) {
  std::string candidate = databaseServiceCandidate(platform, why);
  why = "database rule: " + why;
  if (candidate.empty()) return candidate;
  const ScHandle database(platform,
                          platform.OpenServiceA(manager, candidate.c_str(), kQueryRights.service));
  const Dword error = database ? 0 : platform.GetLastError();
  if (database) {
    why += "; " + candidate + " is on this machine";
  } else if (error == winerr::kAccessDenied) {
    why += "; " + candidate + " is on this machine, though it refuses to be queried";
  } else {
    why += "; " + candidate + " cannot be opened here: error " + std::to_string(error);
    candidate.clear();
  }
  return candidate;
}

/// The binary path to create the service with. A path that holds a blank, has no
/// quotes and names an existing file as a whole gets them: it cannot carry
/// arguments, and unquoted Windows would first try each of its prefixes ending
/// at a blank as a program ("C:\Program.exe" for "C:\Program Files\..."), which
/// whoever may write there could plant. Any other path is stored as given.
std::string servicePath(Platform& platform, const std::string& path, EntryLog& steps) {
  if (path.find_first_of(" \t") == std::string::npos || path.front() == '"') return path;
  const Dword attributes = platform.GetFileAttributesA(path.c_str());
  if (attributes != file::kInvalidAttributes && (attributes & file::kAttributeDirectory) == 0) {
    steps.line("binary path " + quoted(path) + " is a file whose name holds a blank: quoted");
    return '"' + path + '"';
  }
  steps.line("warning: binary path " + quoted(path) +
             " holds a blank without quotes; stored as given, so Windows may run a program "
             "named by the part before a blank");
  return path;
}

/// What a service of the product is created with.
struct NewService {
  Dword startType = svc::kAutoStart;
  /// The database dependency as a list of one name: the name and its NUL, the
  /// NUL that ends the list coming with c_str(). Empty for none.
  std::string dependencies;
  std::string binaryPath;
};

/// What the installation rules give the entry's service: its start type (the
/// TFTP rule), its dependency (the database rule) and the binary path to store.
NewService newServiceFor(Platform& platform, RawScHandle manager, const ServiceEntry& entry,
                         EntryLog& steps) {
  NewService service;
  std::string tftpWhy;
  if (entry.serviceName == kTftpServiceName && tftpDisabled(platform, tftpWhy)) {
    service.startType = svc::kDisabled;
  }
  std::string dependency;
  std::string dependencyWhy;
  if (usesDatabaseRule(entry.serviceName)) {
    dependency = localDatabaseDependency(platform, manager, dependencyWhy);
  }
  if (steps.on()) {
    std::string choice = std::string("start type ") + startTypeName(service.startType);
    if (!tftpWhy.empty()) choice += " (" + tftpWhy + ")";
    choice += dependency.empty() ? "; no dependency" : "; dependency " + dependency;
    if (!dependencyWhy.empty()) choice += " (" + dependencyWhy + ")";
    steps.line(choice);
  }
  if (!dependency.empty()) service.dependencies = dependency + '\0';
  service.binaryPath = servicePath(platform, entry.binaryPath, steps);
  return service;
}

/// How long an installation waits, without -t, for an old service of the same
/// name that is marked for deletion to go.
constexpr std::uint64_t kDeletionWaitMs = 30000;

/// Creates \a service under the entry's names on the open manager of \a handles,
/// asking \a access of it; the error when it could not. A service of that name
/// that is marked for deletion goes only once the last handle to it is closed,
/// and until then the manager refuses with 1072: the creation is tried again by
/// the Cadence, within \a budget, without -t for kDeletionWaitMs.
Dword create(Platform& platform, ScmHandles& handles, const ServiceEntry& entry,
             const NewService& service, Dword access, WaitBudget& budget, EntryLog& steps) {
  const std::uint64_t started = steps.tick();
  unsigned tries = 0;
  Dword error = 0;
  {
    Cadence cadence(platform, budget, kDeletionWaitMs);
    do {
      handles.service.reset(platform.CreateServiceA(
          handles.manager.get(), entry.serviceName.c_str(), entry.displayName.c_str(), access,
          svc::kWin32OwnProcess, service.startType, svc::kErrorNormal, service.binaryPath.c_str(),
          nullptr, nullptr, service.dependencies.empty() ? nullptr : service.dependencies.c_str(),
          nullptr, nullptr));
      error = handles.service ? 0 : platform.GetLastError();
      if (++tries == 1) {
        steps.request("CreateServiceA", error == 0, error);
        if (error == winerr::kServiceMarkedForDelete) {
          steps.line("an old service of that name is marked for deletion: waiting for it to go");
        }
      }
    } while (error == winerr::kServiceMarkedForDelete && cadence.pause());
  }
  if (tries == 1) return error;
  const std::string waited = std::to_string(steps.tick() - started) + " ms";
  if (error == 0) {
    steps.line("CreateServiceA accepted after " + waited + ", try " + std::to_string(tries));
  } else if (error == winerr::kServiceMarkedForDelete) {
    steps.line("CreateServiceA still refused with 1072 after " + waited +
               ": another program (the Services console, a monitoring agent, an earlier run) "
               "still holds a handle to the old service marked for deletion");
  } else {
    steps.request("CreateServiceA", false, error);
  }
  return error;
}

/// Creates \a service under the entry's names on the open manager of \a handles,
/// asking \a access of it, starts it and waits while it starts, all its waits
/// within \a pollLimit.
EntryOutcome createAndStart(Platform& platform, ScmHandles& handles, const ServiceEntry& entry,
                            const NewService& service, Dword access, PollLimit pollLimit,
                            EntryLog& steps) {
  WaitBudget budget(pollLimit);
  const Dword createError = create(platform, handles, entry, service, access, budget, steps);
  if (createError != 0) {
    // A service that exists already is left as it is, which is where it should be.
    return createError == winerr::kServiceExists ? EntryOutcome::done()
                                                 : EntryOutcome::failed(createError);
  }

  // A service created disabled is refused here and stays installed, as the rule wants.
  const std::uint64_t started = steps.tick();
  const bool accepted = platform.StartServiceA(handles.service.get(), 0, nullptr);
  const Dword startError = accepted ? 0 : platform.GetLastError();
  steps.request("StartServiceA", accepted, startError);
  const bool disabled = service.startType == svc::kDisabled;
  if (!accepted) return disabled ? EntryOutcome::done() : EntryOutcome::failed(startError);
  const PollResult waited = pollWhilePending(platform, handles.service.get(), svc::kStartPending,
                                             budget, std::nullopt, steps.pollLines());
  steps.waited(waited, svc::kStartPending, started);
  return disabled ? EntryOutcome::done() : waited.outcomeFor(svc::kRunning);
}

}  // namespace

EntryOutcome installEntry(Platform& platform, const ServiceEntry& entry,
                          const EntryRequest& request, StepLog& log) {
  EntryHandles opened(platform, log, "install", entry.serviceName);
  if (!opened.openManager(request.rights)) return opened.handles.openFailure();
  const NewService service =
      newServiceFor(platform, opened.handles.manager.get(), entry, opened.steps);
  return createAndStart(platform, opened.handles, entry, service, request.rights.service,
                        request.pollLimit, opened.steps);
}

}  // namespace vdksvc
