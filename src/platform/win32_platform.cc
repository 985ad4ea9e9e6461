// The real platform. Each operation is one call of the ANSI Win32 function of the
// same name; the only work done here is converting between our portable types and
// the Windows ones, so that the logic sees exactly what Windows reports. This file
// holds the service control manager and the registry; win32_system.cc the rest.

#include "platform/win32_platform.h"

#include <cstddef>

#include "platform/win32_dword_slot.h"
#include "platform/win32_include.h"

namespace vdksvc {
namespace {

// Our handle tokens are passed through as the Windows handles, so their sizes agree.
// NOLINTNEXTLINE(bugprone-sizeof-expression): the pointer sizes are what is compared.
static_assert(sizeof(RawScHandle) == sizeof(SC_HANDLE) && sizeof(RawKey) == sizeof(HKEY));
static_assert(sizeof(ServiceStatusProcess) == sizeof(SERVICE_STATUS_PROCESS) &&
              offsetof(ServiceStatusProcess, dwProcessId) ==
                  offsetof(SERVICE_STATUS_PROCESS, dwProcessId));
static_assert(sizeof(ServiceConfigData) == sizeof(QUERY_SERVICE_CONFIGA) &&
              offsetof(ServiceConfigData, lpBinaryPathName) ==
                  offsetof(QUERY_SERVICE_CONFIGA, lpBinaryPathName) &&
              offsetof(ServiceConfigData, dwTagId) == offsetof(QUERY_SERVICE_CONFIGA, dwTagId) &&
              offsetof(ServiceConfigData, lpDisplayName) ==
                  offsetof(QUERY_SERVICE_CONFIGA, lpDisplayName));
static_assert(sizeof(ScAction) == sizeof(SC_ACTION) &&
              offsetof(ScAction, Delay) == offsetof(SC_ACTION, Delay));
static_assert(sizeof(ServiceFailureActions) == sizeof(SERVICE_FAILURE_ACTIONSA) &&
              offsetof(ServiceFailureActions, lpCommand) ==
                  offsetof(SERVICE_FAILURE_ACTIONSA, lpCommand) &&
              offsetof(ServiceFailureActions, cActions) ==
                  offsetof(SERVICE_FAILURE_ACTIONSA, cActions) &&
              offsetof(ServiceFailureActions, lpsaActions) ==
                  offsetof(SERVICE_FAILURE_ACTIONSA, lpsaActions));

SC_HANDLE toWin(RawScHandle handle) { return reinterpret_cast<SC_HANDLE>(handle); }
RawScHandle fromWin(SC_HANDLE handle) { return reinterpret_cast<RawScHandle>(handle); }
HKEY toWin(RawKey key) { return reinterpret_cast<HKEY>(key); }
RawKey fromWin(HKEY key) { return reinterpret_cast<RawKey>(key); }

SERVICE_STATUS toWin(const ServiceStatus& status) {
  SERVICE_STATUS out{};
  out.dwServiceType = status.dwServiceType;
  out.dwCurrentState = status.dwCurrentState;
  out.dwControlsAccepted = status.dwControlsAccepted;
  out.dwWin32ExitCode = status.dwWin32ExitCode;
  out.dwServiceSpecificExitCode = status.dwServiceSpecificExitCode;
  out.dwCheckPoint = status.dwCheckPoint;
  out.dwWaitHint = status.dwWaitHint;
  return out;
}

ServiceStatus fromWin(const SERVICE_STATUS& status) {
  ServiceStatus out;
  out.dwServiceType = static_cast<Dword>(status.dwServiceType);
  out.dwCurrentState = static_cast<Dword>(status.dwCurrentState);
  out.dwControlsAccepted = static_cast<Dword>(status.dwControlsAccepted);
  out.dwWin32ExitCode = static_cast<Dword>(status.dwWin32ExitCode);
  out.dwServiceSpecificExitCode = static_cast<Dword>(status.dwServiceSpecificExitCode);
  out.dwCheckPoint = static_cast<Dword>(status.dwCheckPoint);
  out.dwWaitHint = static_cast<Dword>(status.dwWaitHint);
  return out;
}

/// Runs one status-returning service call on a SERVICE_STATUS copy of \a status.
/// The status is copied back even when the call fails: ControlService documents
/// that it fills the status for several of its errors.
template <class Call>
bool withStatus(ServiceStatus* status, Call call) {
  if (status == nullptr) return call(nullptr) != FALSE;
  SERVICE_STATUS native = toWin(*status);
  const BOOL ok = call(&native);
  *status = fromWin(native);
  return ok != FALSE;
}

}  // namespace

// --- Service control manager ---

RawScHandle Win32Platform::OpenSCManagerA(const char* machineName, const char* databaseName,
                                          Dword desiredAccess) {
  return fromWin(::OpenSCManagerA(machineName, databaseName, desiredAccess));
}

RawScHandle Win32Platform::OpenServiceA(RawScHandle manager, const char* serviceName,
                                        Dword desiredAccess) {
  return fromWin(::OpenServiceA(toWin(manager), serviceName, desiredAccess));
}

RawScHandle Win32Platform::CreateServiceA(RawScHandle manager, const char* serviceName,
                                          const char* displayName, Dword desiredAccess,
                                          Dword serviceType, Dword startType, Dword errorControl,
                                          const char* binaryPathName, const char* loadOrderGroup,
                                          Dword* tagId, const char* dependencies,
                                          const char* serviceStartName, const char* password) {
  DwordSlot tag(tagId);
  return fromWin(::CreateServiceA(
      toWin(manager), serviceName, displayName, desiredAccess, serviceType, startType, errorControl,
      binaryPathName, loadOrderGroup, tag.get(), dependencies, serviceStartName, password));
}

bool Win32Platform::ChangeServiceConfigA(RawScHandle service, Dword serviceType, Dword startType,
                                         Dword errorControl, const char* binaryPathName,
                                         const char* loadOrderGroup, Dword* tagId,
                                         const char* dependencies, const char* serviceStartName,
                                         const char* password, const char* displayName) {
  DwordSlot tag(tagId);
  return ::ChangeServiceConfigA(toWin(service), serviceType, startType, errorControl,
                                binaryPathName, loadOrderGroup, tag.get(), dependencies,
                                serviceStartName, password, displayName) != FALSE;
}

bool Win32Platform::ControlService(RawScHandle service, Dword control, ServiceStatus* status) {
  return withStatus(status, [&](SERVICE_STATUS* native) {
    return ::ControlService(toWin(service), control, native);
  });
}

bool Win32Platform::StartServiceA(RawScHandle service, Dword numArgs, const char** args) {
  return ::StartServiceA(toWin(service), numArgs, args) != FALSE;
}

bool Win32Platform::QueryServiceStatus(RawScHandle service, ServiceStatus* status) {
  return withStatus(
      status, [&](SERVICE_STATUS* native) { return ::QueryServiceStatus(toWin(service), native); });
}

bool Win32Platform::QueryServiceConfig2A(RawScHandle service, Dword infoLevel,
                                         unsigned char* buffer, Dword bufferSize,
                                         Dword* bytesNeeded) {
  DwordSlot needed(bytesNeeded);
  return ::QueryServiceConfig2A(toWin(service), infoLevel, buffer, bufferSize, needed.get()) !=
         FALSE;
}

bool Win32Platform::QueryServiceStatusEx(RawScHandle service, int infoLevel, unsigned char* buffer,
                                         Dword bufferSize, Dword* bytesNeeded) {
  DwordSlot needed(bytesNeeded);
  return ::QueryServiceStatusEx(toWin(service), static_cast<SC_STATUS_TYPE>(infoLevel), buffer,
                                bufferSize, needed.get()) != FALSE;
}

bool Win32Platform::QueryServiceConfigA(RawScHandle service, unsigned char* buffer,
                                        Dword bufferSize, Dword* bytesNeeded) {
  DwordSlot needed(bytesNeeded);
  return ::QueryServiceConfigA(toWin(service), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer),
                               bufferSize, needed.get()) != FALSE;
}

bool Win32Platform::DeleteService(RawScHandle service) {
  return ::DeleteService(toWin(service)) != FALSE;
}

bool Win32Platform::CloseServiceHandle(RawScHandle handle) {
  return ::CloseServiceHandle(toWin(handle)) != FALSE;
}

// --- Registry ---

Long Win32Platform::RegOpenKeyExA(RawKey key, const char* subKey, Dword options,
                                  Dword desiredAccess, RawKey* result) {
  if (result == nullptr) {
    return static_cast<Long>(::RegOpenKeyExA(toWin(key), subKey, options, desiredAccess, nullptr));
  }
  // Start from the caller's value, so that the caller sees whatever Windows left.
  HKEY opened = toWin(*result);
  const LONG rc = ::RegOpenKeyExA(toWin(key), subKey, options, desiredAccess, &opened);
  *result = fromWin(opened);
  return static_cast<Long>(rc);
}

Long Win32Platform::RegQueryValueExA(RawKey key, const char* valueName, Dword* reserved,
                                     Dword* type, unsigned char* data, Dword* dataSize) {
  DwordSlot reservedSlot(reserved);
  DwordSlot typeSlot(type);
  DwordSlot sizeSlot(dataSize);
  return static_cast<Long>(::RegQueryValueExA(toWin(key), valueName, reservedSlot.get(),
                                              typeSlot.get(), data, sizeSlot.get()));
}

Long Win32Platform::RegCloseKey(RawKey key) { return static_cast<Long>(::RegCloseKey(toWin(key))); }

}  // namespace vdksvc
