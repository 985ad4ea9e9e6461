#include "services/service_query.h"

#include <cstring>

#include "services/access_rights.h"
#include "services/entry_log.h"
#include "services/scm_handles.h"
#include "services/service_names.h"

namespace vdksvc {
namespace {

ServiceReport unreadable(Dword error) {
  ServiceReport report;
  report.error = error;
  return report;
}

}  // namespace

ServiceReport queryService(Platform& platform, const ServiceEntry& entry, StepLog& log) {
  EntryLog entryLog(log, "query", entry.serviceName);
  ScmHandles handles(platform);
  if (!handles.open(platform, entry.serviceName, kReadServiceRights)) {
    entryLog.openFailed(handles);
    // Only the open of the service gives this error.
    if (handles.error == winerr::kServiceDoesNotExist) {
      ServiceReport report;
      report.found = ServiceReport::Found::kNotInstalled;
      return report;
    }
    return unreadable(handles.error);
  }

  ServiceStatusProcess status;
  Dword needed = 0;
  if (!platform.QueryServiceStatusEx(handles.service.get(), svc::kStatusProcessInfo,
                                     reinterpret_cast<unsigned char*>(&status), sizeof status,
                                     &needed)) {
    const Dword error = platform.GetLastError();
    if (entryLog.on()) entryLog.line("QueryServiceStatusEx failed: " + log.errorText(error));
    return unreadable(error);
  }
  // The documented limit of the configuration's size, so one call reads it.
  alignas(ServiceConfigData) unsigned char buffer[svc::kMaxConfigSize];
  if (!platform.QueryServiceConfigA(handles.service.get(), buffer, sizeof buffer, &needed)) {
    const Dword error = platform.GetLastError();
    if (entryLog.on()) entryLog.line("QueryServiceConfigA failed: " + log.errorText(error));
    return unreadable(error);
  }
  ServiceConfigData config;
  std::memcpy(&config, buffer, sizeof config);
  ServiceReport report;
  report.found = ServiceReport::Found::kInstalled;
  report.state = status.dwCurrentState;
  report.processId = status.dwProcessId;
  report.startType = config.dwStartType;
  if (config.lpDisplayName != nullptr) report.displayName = config.lpDisplayName;
  if (config.lpBinaryPathName != nullptr) report.binaryPath = config.lpBinaryPathName;
  if (entryLog.on()) {
    entryLog.line(std::string(stateName(report.state)) + ", process " +
                  std::to_string(report.processId) + ", start type " +
                  std::to_string(report.startType) + ", binary path " + report.binaryPath);
  }
  return report;
}

}  // namespace vdksvc
