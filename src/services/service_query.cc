#include "services/service_query.h"

#include <cstring>
#include <utility>

#include "services/entry_handles.h"
#include "services/service_names.h"

namespace vdksvc {
namespace {

/// Reads the configuration of the open \a service into \a report; false, the
/// step log told why, when it cannot be read.
bool readConfig(Platform& platform, RawScHandle service, ServiceReport& report, EntryLog& steps) {
  // The documented limit of the configuration's size, so one call reads it.
  alignas(ServiceConfigData) unsigned char buffer[svc::kMaxConfigSize];
  Dword needed = 0;
  if (!platform.QueryServiceConfigA(service, buffer, sizeof buffer, &needed)) {
    if (steps.on()) {
      steps.line("QueryServiceConfigA failed: " + steps.errorText(platform.GetLastError()) +
                 "; the configuration is unknown");
    }
    return false;
  }
  ServiceConfigData config;
  std::memcpy(&config, buffer, sizeof config);
  report.configKnown = true;
  report.startType = config.dwStartType;
  if (config.lpDisplayName != nullptr) report.displayName = config.lpDisplayName;
  if (config.lpBinaryPathName != nullptr) report.binaryPath = config.lpBinaryPathName;
  return true;
}

/// What the manager told of \a entry's service.
ServiceReport readService(Platform& platform, const ServiceEntry& entry, const AccessRights& rights,
                          StepLog& log) {
  EntryHandles opened(platform, log, "query", entry.serviceName);
  EntryLog& entryLog = opened.steps;
  const ScmHandles& handles = opened.handles;
  ServiceReport report;
  // A service whose security grants its status but not its configuration still
  // shows its state.
  const AccessRights statusOnly{rights.manager, rights.service & ~svc::kServiceQueryConfig};
  bool withConfig = true;
  if (!opened.open(rights)) {
    // Only the open of the service gives this error.
    if (handles.error == winerr::kServiceDoesNotExist) {
      report.found = ServiceReport::Found::kNotInstalled;
      return report;
    }
    if (handles.error != winerr::kAccessDenied || statusOnly.service == rights.service ||
        !opened.open(statusOnly)) {
      report.error = handles.error;
      return report;
    }
    withConfig = false;
    entryLog.line("opened for its status alone: the configuration is unknown");
  }

  ServiceStatusProcess status;
  Dword needed = 0;
  if (!platform.QueryServiceStatusEx(handles.service.get(), svc::kStatusProcessInfo,
                                     reinterpret_cast<unsigned char*>(&status), sizeof status,
                                     &needed)) {
    report.error = platform.GetLastError();
    if (entryLog.on()) entryLog.line("QueryServiceStatusEx failed: " + log.errorText(report.error));
    return report;
  }
  report.found = ServiceReport::Found::kInstalled;
  report.state = status.dwCurrentState;
  report.processId = status.dwProcessId;
  if (withConfig) readConfig(platform, handles.service.get(), report, entryLog);
  if (entryLog.on()) {
    entryLog.line(std::string(stateName(report.state)) + ", process " +
                  std::to_string(report.processId) +
                  (report.configKnown ? ", start type " + std::to_string(report.startType) +
                                            ", binary path " + report.binaryPath
                                      : std::string(", configuration unknown")));
  }
  return report;
}

}  // namespace

EntryOutcome queryService(Platform& platform, const ServiceEntry& entry,
                          const EntryRequest& request, StepLog& log) {
  ServiceReport report = readService(platform, entry, request.rights, log);
  using Found = ServiceReport::Found;
  const EntryOutcome outcome =
      report.found == Found::kNotInstalled ? EntryOutcome::failed(winerr::kServiceDoesNotExist)
      : report.found == Found::kUnreadable ? EntryOutcome::failed(report.error)
      : report.state == svc::kRunning      ? EntryOutcome::done()
                                           : EntryOutcome::lastSeenIn(report.state);
  if (request.report != nullptr) *request.report = std::move(report);
  return outcome;
}

}  // namespace vdksvc
