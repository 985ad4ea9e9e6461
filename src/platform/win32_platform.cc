// The real platform. Each operation is one call of the ANSI Win32 function of the
// same name; the only work done here is converting between our portable types and
// the Windows ones, so that the logic sees exactly what Windows reports.

#include "platform/win32_platform.h"

#include <cstddef>
#include <cstring>

#include "platform/win32_include.h"

namespace vdksvc {
namespace {

static_assert(sizeof(ProcessEntry32) == sizeof(PROCESSENTRY32),
              "ProcessEntry32 must have the size Process32First expects in dwSize");
static_assert(offsetof(ProcessEntry32, szExeFile) == offsetof(PROCESSENTRY32, szExeFile));
static_assert(sizeof(ProcessEntry32::szExeFile) == sizeof(PROCESSENTRY32::szExeFile));
static_assert(sizeof(Dword) == sizeof(DWORD) && sizeof(Long) == sizeof(LONG));
// Our handle tokens are passed through as the Windows handles, so their sizes agree.
// NOLINTNEXTLINE(bugprone-sizeof-expression): the pointer sizes are what is compared.
static_assert(sizeof(RawScHandle) == sizeof(SC_HANDLE) && sizeof(RawKey) == sizeof(HKEY));
// These pass through as the Windows structures themselves.
static_assert(sizeof(Luid) == sizeof(LUID) && offsetof(Luid, HighPart) == offsetof(LUID, HighPart));
static_assert(sizeof(TokenPrivileges) == sizeof(TOKEN_PRIVILEGES) &&
              offsetof(TokenPrivileges, Privileges) == offsetof(TOKEN_PRIVILEGES, Privileges) &&
              offsetof(LuidAndAttributes, Attributes) == offsetof(LUID_AND_ATTRIBUTES, Attributes));
static_assert(sizeof(ByHandleFileInformation) == sizeof(BY_HANDLE_FILE_INFORMATION) &&
              offsetof(ByHandleFileInformation, nFileIndexLow) ==
                  offsetof(BY_HANDLE_FILE_INFORMATION, nFileIndexLow));
static_assert(sizeof(char16_t) == sizeof(WCHAR));
// FILE_ID_INFO is declared only for Windows 8 targets; we build for Windows 7,
// where GetFileInformationByHandleEx refuses the class, so its layout is ours.
static_assert(sizeof(FileIdInfo) == 24 && offsetof(FileIdInfo, FileId) == 8);
static_assert(sizeof(ServiceStatusProcess) == sizeof(SERVICE_STATUS_PROCESS) &&
              offsetof(ServiceStatusProcess, dwProcessId) ==
                  offsetof(SERVICE_STATUS_PROCESS, dwProcessId));
static_assert(sizeof(ServiceConfigData) == sizeof(QUERY_SERVICE_CONFIGA) &&
              offsetof(ServiceConfigData, lpBinaryPathName) ==
                  offsetof(QUERY_SERVICE_CONFIGA, lpBinaryPathName) &&
              offsetof(ServiceConfigData, dwTagId) == offsetof(QUERY_SERVICE_CONFIGA, dwTagId) &&
              offsetof(ServiceConfigData, lpDisplayName) ==
                  offsetof(QUERY_SERVICE_CONFIGA, lpDisplayName));
static_assert(file::kStdOutputHandle == STD_OUTPUT_HANDLE &&
              file::kStdErrorHandle == STD_ERROR_HANDLE);
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

/// Stands in for a caller's optional Dword* where Windows wants a DWORD*: DWORD is
/// `unsigned long` under mingw-w64 and MSVC, a different type from our uint32_t.
/// A null pointer stays null, so Windows itself decides what a missing argument
/// means; otherwise the caller's value goes in and whatever Windows left comes back.
class DwordSlot {
 public:
  explicit DwordSlot(Dword* caller) : caller_(caller), value_(caller != nullptr ? *caller : 0) {}
  ~DwordSlot() {
    if (caller_ != nullptr) *caller_ = static_cast<Dword>(value_);
  }
  DwordSlot(const DwordSlot&) = delete;
  DwordSlot& operator=(const DwordSlot&) = delete;

  DWORD* get() { return caller_ != nullptr ? &value_ : nullptr; }

 private:
  Dword* caller_;
  DWORD value_;
};

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

PROCESSENTRY32 toWin(const ProcessEntry32& entry) {
  PROCESSENTRY32 out{};
  // dwSize goes through unchanged: a wrong size is for Process32First to refuse.
  out.dwSize = entry.dwSize;
  out.cntUsage = entry.cntUsage;
  out.th32ProcessID = entry.th32ProcessID;
  out.th32DefaultHeapID = entry.th32DefaultHeapID;
  out.th32ModuleID = entry.th32ModuleID;
  out.cntThreads = entry.cntThreads;
  out.th32ParentProcessID = entry.th32ParentProcessID;
  out.pcPriClassBase = entry.pcPriClassBase;
  out.dwFlags = entry.dwFlags;
  std::memcpy(out.szExeFile, entry.szExeFile, sizeof(out.szExeFile));
  return out;
}

ProcessEntry32 fromWin(const PROCESSENTRY32& entry) {
  ProcessEntry32 out;
  out.dwSize = static_cast<Dword>(entry.dwSize);
  out.cntUsage = static_cast<Dword>(entry.cntUsage);
  out.th32ProcessID = static_cast<Dword>(entry.th32ProcessID);
  out.th32DefaultHeapID = static_cast<std::uintptr_t>(entry.th32DefaultHeapID);
  out.th32ModuleID = static_cast<Dword>(entry.th32ModuleID);
  out.cntThreads = static_cast<Dword>(entry.cntThreads);
  out.th32ParentProcessID = static_cast<Dword>(entry.th32ParentProcessID);
  out.pcPriClassBase = static_cast<Long>(entry.pcPriClassBase);
  out.dwFlags = static_cast<Dword>(entry.dwFlags);
  std::memcpy(out.szExeFile, entry.szExeFile, sizeof(out.szExeFile));
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

/// Same pattern for the two snapshot walks.
template <class Call>
bool withEntry(ProcessEntry32* entry, Call call) {
  if (entry == nullptr) return call(nullptr) != FALSE;
  PROCESSENTRY32 native = toWin(*entry);
  const BOOL ok = call(&native);
  *entry = fromWin(native);
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

// --- Processes ---

RawHandle Win32Platform::CreateToolhelp32Snapshot(Dword flags, Dword processId) {
  return ::CreateToolhelp32Snapshot(flags, processId);
}

bool Win32Platform::Process32First(RawHandle snapshot, ProcessEntry32* entry) {
  return withEntry(entry,
                   [&](PROCESSENTRY32* native) { return ::Process32First(snapshot, native); });
}

bool Win32Platform::Process32Next(RawHandle snapshot, ProcessEntry32* entry) {
  return withEntry(entry,
                   [&](PROCESSENTRY32* native) { return ::Process32Next(snapshot, native); });
}

RawHandle Win32Platform::OpenProcess(Dword desiredAccess, bool inheritHandle, Dword processId) {
  return ::OpenProcess(desiredAccess, inheritHandle ? TRUE : FALSE, processId);
}

Dword Win32Platform::WaitForMultipleObjects(Dword count, const RawHandle* handles, bool waitAll,
                                            Dword milliseconds) {
  return static_cast<Dword>(
      ::WaitForMultipleObjects(count, handles, waitAll ? TRUE : FALSE, milliseconds));
}

bool Win32Platform::TerminateProcess(RawHandle process, unsigned exitCode) {
  return ::TerminateProcess(process, exitCode) != FALSE;
}

bool Win32Platform::CloseHandle(RawHandle handle) { return ::CloseHandle(handle) != FALSE; }

bool Win32Platform::QueryFullProcessImageNameA(RawHandle process, Dword flags, char* exeName,
                                               Dword* size) {
  DwordSlot slot(size);
  return ::QueryFullProcessImageNameA(process, flags, exeName, slot.get()) != FALSE;
}

// --- The process's own token ---

RawHandle Win32Platform::GetCurrentProcess() { return ::GetCurrentProcess(); }

bool Win32Platform::OpenProcessToken(RawHandle process, Dword desiredAccess, RawHandle* token) {
  HANDLE opened = nullptr;
  const bool done = ::OpenProcessToken(process, desiredAccess, &opened) != FALSE;
  if (token != nullptr) *token = opened;
  return done;
}

bool Win32Platform::LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) {
  return ::LookupPrivilegeValueA(systemName, name, reinterpret_cast<LUID*>(luid)) != FALSE;
}

bool Win32Platform::AdjustTokenPrivileges(RawHandle token, bool disableAll,
                                          const TokenPrivileges* newState, Dword bufferLength,
                                          TokenPrivileges* previousState, Dword* returnLength) {
  DwordSlot returned(returnLength);
  // NewState is only read, whatever the prototype says.
  return ::AdjustTokenPrivileges(
             token, disableAll ? TRUE : FALSE,
             const_cast<TOKEN_PRIVILEGES*>(reinterpret_cast<const TOKEN_PRIVILEGES*>(newState)),
             bufferLength, reinterpret_cast<TOKEN_PRIVILEGES*>(previousState),
             returned.get()) != FALSE;
}

// --- Files, environment, time, messages ---

RawHandle Win32Platform::CreateFileA(const char* fileName, Dword desiredAccess, Dword shareMode,
                                     void* securityAttributes, Dword creationDisposition,
                                     Dword flagsAndAttributes, RawHandle templateFile) {
  return ::CreateFileA(fileName, desiredAccess, shareMode,
                       static_cast<SECURITY_ATTRIBUTES*>(securityAttributes), creationDisposition,
                       flagsAndAttributes, templateFile);
}

bool Win32Platform::WriteFile(RawHandle file, const void* buffer, Dword bytesToWrite,
                              Dword* bytesWritten, void* overlapped) {
  DWORD written = 0;
  const bool done = ::WriteFile(file, buffer, bytesToWrite, &written,
                                static_cast<OVERLAPPED*>(overlapped)) != FALSE;
  if (bytesWritten != nullptr) *bytesWritten = written;
  return done;
}

bool Win32Platform::GetFileInformationByHandle(RawHandle file, ByHandleFileInformation* info) {
  return ::GetFileInformationByHandle(file, reinterpret_cast<BY_HANDLE_FILE_INFORMATION*>(info)) !=
         FALSE;
}

bool Win32Platform::GetFileInformationByHandleEx(RawHandle file, int infoClass, void* info,
                                                 Dword size) {
  return ::GetFileInformationByHandleEx(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(infoClass),
                                        info, size) != FALSE;
}

Dword Win32Platform::GetFileAttributesA(const char* fileName) {
  return ::GetFileAttributesA(fileName);
}

Dword Win32Platform::GetEnvironmentVariableA(const char* name, char* buffer, Dword size) {
  return ::GetEnvironmentVariableA(name, buffer, size);
}

Dword Win32Platform::ExpandEnvironmentStringsA(const char* source, char* destination, Dword size) {
  return ::ExpandEnvironmentStringsA(source, destination, size);
}

Dword Win32Platform::FormatMessageA(Dword flags, const void* source, Dword messageId,
                                    Dword languageId, char* buffer, Dword size, void* arguments) {
  return ::FormatMessageA(flags, source, messageId, languageId, buffer, size,
                          static_cast<va_list*>(arguments));
}

void Win32Platform::GetLocalTime(SystemTime* time) {
  SYSTEMTIME native{};
  ::GetLocalTime(&native);
  time->wYear = native.wYear;
  time->wMonth = native.wMonth;
  time->wDayOfWeek = native.wDayOfWeek;
  time->wDay = native.wDay;
  time->wHour = native.wHour;
  time->wMinute = native.wMinute;
  time->wSecond = native.wSecond;
  time->wMilliseconds = native.wMilliseconds;
}

std::uint64_t Win32Platform::GetTickCount64() { return ::GetTickCount64(); }

Dword Win32Platform::GetCurrentProcessId() { return ::GetCurrentProcessId(); }

// --- Standard output and standard error ---

RawHandle Win32Platform::GetStdHandle(Dword stdHandle) { return ::GetStdHandle(stdHandle); }

bool Win32Platform::GetConsoleMode(RawHandle console, Dword* mode) {
  DwordSlot slot(mode);
  return ::GetConsoleMode(console, slot.get()) != FALSE;
}

bool Win32Platform::WriteConsoleW(RawHandle console, const char16_t* text, Dword length,
                                  Dword* written, void* reserved) {
  DwordSlot slot(written);
  return ::WriteConsoleW(console, text, length, slot.get(), reserved) != FALSE;
}

// --- Thread, errors, text ---

void Win32Platform::Sleep(Dword milliseconds) { ::Sleep(milliseconds); }

Dword Win32Platform::GetLastError() { return static_cast<Dword>(::GetLastError()); }

unsigned Win32Platform::GetACP() { return ::GetACP(); }

int Win32Platform::WideCharToMultiByte(unsigned codePage, Dword flags, const char16_t* wideText,
                                       int wideLength, char* multiByte, int multiByteSize,
                                       const char* defaultChar, bool* usedDefaultChar) {
  BOOL used = FALSE;
  const int written = ::WideCharToMultiByte(
      codePage, flags, reinterpret_cast<const WCHAR*>(wideText), wideLength, multiByte,
      multiByteSize, defaultChar, usedDefaultChar != nullptr ? &used : nullptr);
  if (usedDefaultChar != nullptr) *usedDefaultChar = used != FALSE;
  return written;
}

int Win32Platform::MultiByteToWideChar(unsigned codePage, Dword flags, const char* multiByte,
                                       int multiByteLength, char16_t* wideText, int wideSize) {
  return ::MultiByteToWideChar(codePage, flags, multiByte, multiByteLength,
                               reinterpret_cast<WCHAR*>(wideText), wideSize);
}

char* Win32Platform::CharLowerA(char* text) { return ::CharLowerA(text); }

const char* Win32Platform::CharNextA(const char* text) { return ::CharNextA(text); }

}  // namespace vdksvc
