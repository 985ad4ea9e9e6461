#include "services/install.h"

#include <string>

#include "lists/registry_catalogue.h"
#include "services/scm_handles.h"

namespace vdksvc {
namespace {

/// The service names the installation rules apply to, compared with case.
constexpr const char* kTftpServiceName = "NetBootCast";
constexpr const char* kHubServiceName = "hubkeep";
constexpr const char* kLoomServiceName = "loomtide";

constexpr const char* kDefaultDatabaseService = "MSSQL$VDKDBI";
/// SQL Server names a named instance's service "MSSQL$" and the instance name.
constexpr const char* kSqlInstancePrefix = "MSSQL$";

bool tftpDisabled(Platform& platform) {
  Dword noTftp = 0;
  return readRegistryNumber(platform, kProductKey, "NoUseVDKTFTP", noTftp) && noTftp == 1;
}

bool usesDatabaseRule(const std::string& serviceName) {
  return serviceName == kHubServiceName || serviceName == kLoomServiceName;
}

/// The database service this installation would depend on, as the configuration
/// names it: "MSSQL$" and the configured instance name, or "MSSQL$VDKDBI" when no
/// instance is configured. Empty when the database runs on another machine.
std::string databaseServiceCandidate(Platform& platform) {
  Dword remote = 0;
  if (!readRegistryNumber(platform, kProductKey, "DBSrvRemoteFlag", remote)) {
    return kDefaultDatabaseService;
  }
  if (remote == 1) return {};
  // The instance name is only looked at when the flag was read. Any length is
  // kept: SQL Server allows instance names of 16 characters.
  std::string instance;
  if (!readRegistryText(platform, kDatabaseKey, "DBInstanceName", instance)) {
    return kDefaultDatabaseService;
  }
  return kSqlInstancePrefix + instance;
}

/// The candidate when the database service exists on this machine; empty when it
/// does not or cannot be opened.
std::string localDatabaseDependency(Platform& platform, RawScHandle manager) {
  std::string candidate = databaseServiceCandidate(platform);
  if (candidate.empty()) return candidate;
  const ScHandle database(
      platform, platform.OpenServiceA(manager, candidate.c_str(), svc::kServiceAllAccess));
  if (!database) candidate.clear();
  return candidate;
}

}  // namespace

bool installEntry(Platform& platform, const ServiceEntry& entry, PollLimit pollLimit) {
  ScmHandles handles(platform);
  if (!handles.openManager(platform)) return false;

  const Dword startType = entry.serviceName == kTftpServiceName && tftpDisabled(platform)
                              ? svc::kDisabled
                              : svc::kAutoStart;
  std::string dependencies;
  if (usesDatabaseRule(entry.serviceName)) {
    dependencies = localDatabaseDependency(platform, handles.manager.get());
  }
  // A list of one name: the name, its NUL, and the NUL that ends the list (the
  // second comes with c_str()).
  if (!dependencies.empty()) dependencies.push_back('\0');

  handles.service.reset(platform.CreateServiceA(
      handles.manager.get(), entry.serviceName.c_str(), entry.displayName.c_str(),
      svc::kServiceAllAccess, svc::kWin32OwnProcess, startType, svc::kErrorNormal,
      entry.binaryPath.c_str(), nullptr, nullptr,
      dependencies.empty() ? nullptr : dependencies.c_str(), nullptr, nullptr));
  if (!handles.service) return false;

  // A service created disabled is refused here and stays installed.
  if (!platform.StartServiceA(handles.service.get(), 0, nullptr)) return false;
  const PollResult waited =
      pollWhilePending(platform, handles.service.get(), svc::kStartPending, pollLimit);
  return waited.endedIn(svc::kRunning);
}

}  // namespace vdksvc
