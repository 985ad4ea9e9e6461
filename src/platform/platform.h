#pragma once
// The seam between vdksvc's logic and the operating system.
//
// The logic never includes <windows.h>: it reaches the service control manager,
// the registry and the process table only through `Platform`. The operations keep
// their Windows names and ANSI variants, and their arguments and results follow
// the Win32 documentation, expressed in the small types below so that the logic
// compiles anywhere. `Win32Platform` forwards each call to the real API;
// `SimulatedPlatform` is the in-memory Windows the unit tests run against.

#include <cstddef>
#include <cstdint>

namespace vdksvc {

using Dword = std::uint32_t;
using Long = std::int32_t;

// Opaque handle types. Their values are the real Win32 handles in Win32Platform
// and small tokens in SimulatedPlatform; the logic only stores and passes them.
struct ScHandleTag;
struct RegKeyTag;
using RawScHandle = ScHandleTag*;  ///< SC_HANDLE: manager or service
using RawKey = RegKeyTag*;         ///< HKEY
using RawHandle = void*;           ///< HANDLE: process or snapshot

/// HKEY_LOCAL_MACHINE: the predefined key, sign-extended as Windows defines it.
inline RawKey hkeyLocalMachine() {
  return reinterpret_cast<RawKey>(static_cast<std::intptr_t>(static_cast<Long>(0x80000002u)));
}
/// INVALID_HANDLE_VALUE, what CreateToolhelp32Snapshot returns on failure.
inline RawHandle invalidHandleValue() {
  return reinterpret_cast<RawHandle>(static_cast<std::intptr_t>(-1));
}

/// Win32 error codes, as GetLastError and the registry calls report them.
namespace winerr {
constexpr Dword kSuccess = 0;
constexpr Dword kFileNotFound = 2;
constexpr Dword kAccessDenied = 5;
constexpr Dword kInvalidParameter = 87;
constexpr Dword kInsufficientBuffer = 122;
constexpr Dword kInvalidServiceControl = 1052;  ///< a control the service does not take now
constexpr Dword kServiceAlreadyRunning = 1056;
constexpr Dword kServiceDoesNotExist = 1060;
constexpr Dword kServiceCannotAcceptCtrl = 1061;  ///< refused while start- or stop-pending
constexpr Dword kServiceNotActive = 1062;
constexpr Dword kServiceMarkedForDelete = 1072;
constexpr Dword kServiceExists = 1073;
constexpr Dword kNotAllAssigned = 1300;  ///< ERROR_NOT_ALL_ASSIGNED: a privilege not held
}  // namespace winerr

/// Service manager constants (winsvc.h).
namespace svc {
// Access rights to the manager and to a service; every operation asks for only
// those its calls need.
constexpr Dword kManagerConnect = 0x1;         ///< SC_MANAGER_CONNECT
constexpr Dword kManagerCreateService = 0x2;   ///< SC_MANAGER_CREATE_SERVICE
constexpr Dword kServiceQueryConfig = 0x1;     ///< SERVICE_QUERY_CONFIG
constexpr Dword kServiceChangeConfig = 0x2;    ///< SERVICE_CHANGE_CONFIG
constexpr Dword kServiceQueryStatus = 0x4;     ///< SERVICE_QUERY_STATUS
constexpr Dword kServiceStart = 0x10;          ///< SERVICE_START
constexpr Dword kServiceStop = 0x20;           ///< SERVICE_STOP
constexpr Dword kServicePauseContinue = 0x40;  ///< SERVICE_PAUSE_CONTINUE
constexpr Dword kDelete = 0x10000;             ///< DELETE

constexpr Dword kWin32OwnProcess = 0x10;  ///< SERVICE_WIN32_OWN_PROCESS
constexpr Dword kAutoStart = 2;           ///< SERVICE_AUTO_START
constexpr Dword kDemandStart = 3;         ///< SERVICE_DEMAND_START
constexpr Dword kDisabled = 4;            ///< SERVICE_DISABLED
constexpr Dword kErrorNormal = 1;         ///< SERVICE_ERROR_NORMAL
constexpr Dword kNoChange = 0xFFFFFFFF;   ///< SERVICE_NO_CHANGE

// dwCurrentState
constexpr Dword kStopped = 1;
constexpr Dword kStartPending = 2;
constexpr Dword kStopPending = 3;
constexpr Dword kRunning = 4;
constexpr Dword kContinuePending = 5;
constexpr Dword kPausePending = 6;
constexpr Dword kPaused = 7;

// ControlService codes
constexpr Dword kControlStop = 1;
constexpr Dword kControlPause = 2;
constexpr Dword kControlContinue = 3;

// QueryServiceStatusEx
constexpr int kStatusProcessInfo = 0;  ///< SC_STATUS_PROCESS_INFO

// dwStartType
constexpr Dword kBootStart = 0;    ///< SERVICE_BOOT_START
constexpr Dword kSystemStart = 1;  ///< SERVICE_SYSTEM_START

/// What QueryServiceConfigA may need at most: its documented limit of 8K bytes.
constexpr Dword kMaxConfigSize = 8192;

// QueryServiceConfig2A
constexpr Dword kConfigFailureActions = 2;  ///< SERVICE_CONFIG_FAILURE_ACTIONS
constexpr Dword kActionRestart = 1;         ///< SC_ACTION_RESTART
constexpr Dword kActionReboot = 2;          ///< SC_ACTION_REBOOT
constexpr Dword kActionRunCommand = 3;      ///< SC_ACTION_RUN_COMMAND
}  // namespace svc

/// Registry constants (winreg.h / winnt.h).
namespace reg {
constexpr Dword kKeyRead = 0x20019;     ///< KEY_READ
constexpr Dword kWow64_64Key = 0x0100;  ///< KEY_WOW64_64KEY: the 64-bit view of SOFTWARE
constexpr Dword kWow64_32Key = 0x0200;  ///< KEY_WOW64_32KEY: the 32-bit view (WOW6432Node)
constexpr Dword kNone = 0;              ///< REG_NONE
constexpr Dword kSz = 1;                ///< REG_SZ
constexpr Dword kExpandSz = 2;          ///< REG_EXPAND_SZ
}  // namespace reg

/// Process and wait constants (winnt.h, winbase.h, tlhelp32.h).
namespace proc {
constexpr Dword kSnapProcess = 0x2;                 ///< TH32CS_SNAPPROCESS
constexpr Dword kTerminate = 0x0001;                ///< PROCESS_TERMINATE
constexpr Dword kQueryLimitedInformation = 0x1000;  ///< PROCESS_QUERY_LIMITED_INFORMATION
constexpr Dword kSynchronize = 0x100000;            ///< SYNCHRONIZE
constexpr Dword kMaximumWaitObjects = 64;           ///< MAXIMUM_WAIT_OBJECTS
constexpr Dword kWaitObject0 = 0;                   ///< WAIT_OBJECT_0
constexpr Dword kWaitTimeout = 258;                 ///< WAIT_TIMEOUT
constexpr Dword kWaitFailed = 0xFFFFFFFF;           ///< WAIT_FAILED
// Access tokens (winnt.h)
constexpr Dword kTokenAdjustPrivileges = 0x0020;             ///< TOKEN_ADJUST_PRIVILEGES
constexpr Dword kTokenQuery = 0x0008;                        ///< TOKEN_QUERY
constexpr Dword kPrivilegeEnabled = 0x2;                     ///< SE_PRIVILEGE_ENABLED
constexpr const char* kDebugPrivilege = "SeDebugPrivilege";  ///< SE_DEBUG_NAME
}  // namespace proc

/// Files, environment and messages (winbase.h, winnt.h).
namespace file {
constexpr Dword kAppendData = 0x0004;             ///< FILE_APPEND_DATA
constexpr Dword kShareRead = 0x1;                 ///< FILE_SHARE_READ
constexpr Dword kShareWrite = 0x2;                ///< FILE_SHARE_WRITE
constexpr Dword kShareDelete = 0x4;               ///< FILE_SHARE_DELETE
constexpr Dword kOpenExisting = 3;                ///< OPEN_EXISTING
constexpr Dword kOpenAlways = 4;                  ///< OPEN_ALWAYS
constexpr Dword kAttributeDirectory = 0x10;       ///< FILE_ATTRIBUTE_DIRECTORY
constexpr Dword kAttributeNormal = 0x80;          ///< FILE_ATTRIBUTE_NORMAL
constexpr Dword kInvalidAttributes = 0xFFFFFFFF;  ///< INVALID_FILE_ATTRIBUTES
constexpr Dword kFormatFromSystem = 0x1000;       ///< FORMAT_MESSAGE_FROM_SYSTEM
constexpr Dword kFormatIgnoreInserts = 0x200;     ///< FORMAT_MESSAGE_IGNORE_INSERTS
constexpr unsigned kAnsiCodePage = 0;             ///< CP_ACP
constexpr unsigned kUtf8 = 65001;                 ///< CP_UTF8
constexpr Dword kNoBestFitChars = 0x400;          ///< WC_NO_BEST_FIT_CHARS
constexpr int kFileIdInfo = 18;                   ///< FileIdInfo (FILE_INFO_BY_HANDLE_CLASS)
constexpr Dword kStdOutputHandle = 0xFFFFFFF5;    ///< STD_OUTPUT_HANDLE, (DWORD)-11
constexpr Dword kStdErrorHandle = 0xFFFFFFF4;     ///< STD_ERROR_HANDLE, (DWORD)-12
}  // namespace file

/// SYSTEMTIME, member for member.
struct SystemTime {
  std::uint16_t wYear = 0;
  std::uint16_t wMonth = 0;
  std::uint16_t wDayOfWeek = 0;
  std::uint16_t wDay = 0;
  std::uint16_t wHour = 0;
  std::uint16_t wMinute = 0;
  std::uint16_t wSecond = 0;
  std::uint16_t wMilliseconds = 0;
};

/// LUID, LUID_AND_ATTRIBUTES and TOKEN_PRIVILEGES with room for the one
/// privilege the sweep changes, laid out as the Windows headers lay them out.
struct Luid {
  Dword LowPart = 0;
  Long HighPart = 0;
};
struct LuidAndAttributes {
  vdksvc::Luid Luid;
  Dword Attributes = 0;
};
struct TokenPrivileges {
  Dword PrivilegeCount = 0;
  LuidAndAttributes Privileges[1];
};

/// BY_HANDLE_FILE_INFORMATION, member for member (the times as two halves each).
struct ByHandleFileInformation {
  Dword dwFileAttributes = 0;
  Dword ftCreationTime[2] = {};
  Dword ftLastAccessTime[2] = {};
  Dword ftLastWriteTime[2] = {};
  Dword dwVolumeSerialNumber = 0;
  Dword nFileSizeHigh = 0;
  Dword nFileSizeLow = 0;
  Dword nNumberOfLinks = 0;
  Dword nFileIndexHigh = 0;
  Dword nFileIndexLow = 0;
};

/// FILE_ID_INFO: the volume serial number and the 128-bit file identifier,
/// which tell one file from another on every file system, ReFS included.
struct FileIdInfo {
  std::uint64_t VolumeSerialNumber = 0;
  unsigned char FileId[16] = {};
};

/// SERVICE_STATUS, member for member.
struct ServiceStatus {
  Dword dwServiceType = 0;
  Dword dwCurrentState = 0;
  Dword dwControlsAccepted = 0;
  Dword dwWin32ExitCode = 0;
  Dword dwServiceSpecificExitCode = 0;
  Dword dwCheckPoint = 0;
  Dword dwWaitHint = 0;
};

/// SERVICE_STATUS_PROCESS, member for member: the status and the process that
/// runs the service (0 while it has none).
struct ServiceStatusProcess {
  Dword dwServiceType = 0;
  Dword dwCurrentState = 0;
  Dword dwControlsAccepted = 0;
  Dword dwWin32ExitCode = 0;
  Dword dwServiceSpecificExitCode = 0;
  Dword dwCheckPoint = 0;
  Dword dwWaitHint = 0;
  Dword dwProcessId = 0;
  Dword dwServiceFlags = 0;
};

/// QUERY_SERVICE_CONFIGA, laid out as the Windows headers lay it out:
/// QueryServiceConfigA writes it at the start of its buffer, its texts after it,
/// and points to them.
struct ServiceConfigData {
  Dword dwServiceType = 0;
  Dword dwStartType = 0;
  Dword dwErrorControl = 0;
  char* lpBinaryPathName = nullptr;
  char* lpLoadOrderGroup = nullptr;
  Dword dwTagId = 0;
  char* lpDependencies = nullptr;
  char* lpServiceStartName = nullptr;
  char* lpDisplayName = nullptr;
};

/// SC_ACTION and SERVICE_FAILURE_ACTIONSA, laid out as the Windows headers lay
/// them out: QueryServiceConfig2A writes the structure at the start of its
/// buffer, its texts and actions after it, and points to them.
struct ScAction {
  Dword Type = 0;   ///< SC_ACTION_NONE (0), _RESTART, _REBOOT or _RUN_COMMAND
  Dword Delay = 0;  ///< milliseconds before the action
};
struct ServiceFailureActions {
  Dword dwResetPeriod = 0;
  char* lpRebootMsg = nullptr;
  char* lpCommand = nullptr;
  Dword cActions = 0;
  ScAction* lpsaActions = nullptr;
};

/// PROCESSENTRY32 (ANSI), laid out as the Windows headers lay it out, so that its
/// size is the build's sizeof(PROCESSENTRY32): 296 bytes for 32-bit code, 304 for
/// 64-bit code. Process32First refuses any other dwSize.
struct ProcessEntry32 {
  Dword dwSize = 0;
  Dword cntUsage = 0;
  Dword th32ProcessID = 0;
  std::uintptr_t th32DefaultHeapID = 0;
  Dword th32ModuleID = 0;
  Dword cntThreads = 0;
  Dword th32ParentProcessID = 0;
  Long pcPriClassBase = 0;
  Dword dwFlags = 0;
  char szExeFile[260] = {};
};

/// The operations vdksvc needs from Windows. Every method behaves as its Win32
/// namesake is documented to; "BOOL" results are true for non-zero.
class Platform {
 public:
  virtual ~Platform() = default;

  // --- Service control manager (advapi32) ---
  virtual RawScHandle OpenSCManagerA(const char* machineName, const char* databaseName,
                                     Dword desiredAccess) = 0;
  virtual RawScHandle OpenServiceA(RawScHandle manager, const char* serviceName,
                                   Dword desiredAccess) = 0;
  /// \a dependencies is a double-NUL-terminated list of names, or null.
  virtual RawScHandle CreateServiceA(RawScHandle manager, const char* serviceName,
                                     const char* displayName, Dword desiredAccess,
                                     Dword serviceType, Dword startType, Dword errorControl,
                                     const char* binaryPathName, const char* loadOrderGroup,
                                     Dword* tagId, const char* dependencies,
                                     const char* serviceStartName, const char* password) = 0;
  virtual bool ChangeServiceConfigA(RawScHandle service, Dword serviceType, Dword startType,
                                    Dword errorControl, const char* binaryPathName,
                                    const char* loadOrderGroup, Dword* tagId,
                                    const char* dependencies, const char* serviceStartName,
                                    const char* password, const char* displayName) = 0;
  virtual bool ControlService(RawScHandle service, Dword control, ServiceStatus* status) = 0;
  virtual bool StartServiceA(RawScHandle service, Dword numArgs, const char** args) = 0;
  virtual bool QueryServiceStatus(RawScHandle service, ServiceStatus* status) = 0;
  /// Only the SC_STATUS_PROCESS_INFO level; \a buffer receives a
  /// ServiceStatusProcess. Fails with ERROR_INSUFFICIENT_BUFFER when it is too small.
  virtual bool QueryServiceStatusEx(RawScHandle service, int infoLevel, unsigned char* buffer,
                                    Dword bufferSize, Dword* bytesNeeded) = 0;
  /// \a buffer (aligned for ServiceConfigData) receives the configuration and
  /// its texts; fails with ERROR_INSUFFICIENT_BUFFER and the size needed in
  /// \a bytesNeeded when it is too small.
  virtual bool QueryServiceConfigA(RawScHandle service, unsigned char* buffer, Dword bufferSize,
                                   Dword* bytesNeeded) = 0;
  /// Fails with ERROR_INSUFFICIENT_BUFFER and the size needed in \a bytesNeeded
  /// when \a buffer is too small.
  virtual bool QueryServiceConfig2A(RawScHandle service, Dword infoLevel, unsigned char* buffer,
                                    Dword bufferSize, Dword* bytesNeeded) = 0;
  virtual bool DeleteService(RawScHandle service) = 0;
  virtual bool CloseServiceHandle(RawScHandle handle) = 0;

  // --- Registry (advapi32); results are Win32 error codes, 0 on success ---
  virtual Long RegOpenKeyExA(RawKey key, const char* subKey, Dword options, Dword desiredAccess,
                             RawKey* result) = 0;
  virtual Long RegQueryValueExA(RawKey key, const char* valueName, Dword* reserved, Dword* type,
                                unsigned char* data, Dword* dataSize) = 0;
  virtual Long RegCloseKey(RawKey key) = 0;

  // --- Processes (kernel32) ---
  virtual RawHandle CreateToolhelp32Snapshot(Dword flags, Dword processId) = 0;
  virtual bool Process32First(RawHandle snapshot, ProcessEntry32* entry) = 0;
  virtual bool Process32Next(RawHandle snapshot, ProcessEntry32* entry) = 0;
  virtual RawHandle OpenProcess(Dword desiredAccess, bool inheritHandle, Dword processId) = 0;
  virtual Dword WaitForMultipleObjects(Dword count, const RawHandle* handles, bool waitAll,
                                       Dword milliseconds) = 0;
  virtual bool TerminateProcess(RawHandle process, unsigned exitCode) = 0;
  virtual bool CloseHandle(RawHandle handle) = 0;
  /// The image file of the process, as a Win32 path; \a size is the buffer's size
  /// in, the length copied (without NUL) out.
  virtual bool QueryFullProcessImageNameA(RawHandle process, Dword flags, char* exeName,
                                          Dword* size) = 0;

  // --- The process's own token (kernel32, advapi32) ---
  /// The pseudo-handle of the current process; it needs no closing.
  virtual RawHandle GetCurrentProcess() = 0;
  virtual bool OpenProcessToken(RawHandle process, Dword desiredAccess, RawHandle* token) = 0;
  virtual bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) = 0;
  /// Succeeds with GetLastError ERROR_NOT_ALL_ASSIGNED when the token lacks a
  /// privilege of \a newState, ERROR_SUCCESS otherwise. \a previousState receives
  /// the privileges it changed, as they were.
  virtual bool AdjustTokenPrivileges(RawHandle token, bool disableAll,
                                     const TokenPrivileges* newState, Dword bufferLength,
                                     TokenPrivileges* previousState, Dword* returnLength) = 0;

  // --- Files, environment, time, messages (kernel32); the step log's needs ---
  /// A handle for CloseHandle, or INVALID_HANDLE_VALUE on failure.
  virtual RawHandle CreateFileA(const char* fileName, Dword desiredAccess, Dword shareMode,
                                void* securityAttributes, Dword creationDisposition,
                                Dword flagsAndAttributes, RawHandle templateFile) = 0;
  virtual bool WriteFile(RawHandle file, const void* buffer, Dword bytesToWrite,
                         Dword* bytesWritten, void* overlapped) = 0;
  /// The volume serial number and file index tell one file from another,
  /// whatever path it was opened by.
  virtual bool GetFileInformationByHandle(RawHandle file, ByHandleFileInformation* info) = 0;
  /// Only the FileIdInfo class is used; a file system or a Windows that does not
  /// know it fails the call.
  virtual bool GetFileInformationByHandleEx(RawHandle file, int infoClass, void* info,
                                            Dword size) = 0;
  /// The attributes of the file or directory, or INVALID_FILE_ATTRIBUTES.
  virtual Dword GetFileAttributesA(const char* fileName) = 0;
  /// The length copied (without NUL), the size needed when \a size is too small,
  /// or 0 when the variable is not set.
  virtual Dword GetEnvironmentVariableA(const char* name, char* buffer, Dword size) = 0;
  /// The size needed or copied, NUL included; 0 on failure.
  virtual Dword ExpandEnvironmentStringsA(const char* source, char* destination, Dword size) = 0;
  /// The length of the message text written to \a buffer, 0 when there is none.
  virtual Dword FormatMessageA(Dword flags, const void* source, Dword messageId, Dword languageId,
                               char* buffer, Dword size, void* arguments) = 0;
  virtual void GetLocalTime(SystemTime* time) = 0;
  virtual std::uint64_t GetTickCount64() = 0;
  virtual Dword GetCurrentProcessId() = 0;

  // --- Standard output and standard error (kernel32) ---
  /// STD_OUTPUT_HANDLE or STD_ERROR_HANDLE as the process received it: a
  /// console, a file, a pipe; null or INVALID_HANDLE_VALUE when it has none.
  virtual RawHandle GetStdHandle(Dword stdHandle) = 0;
  /// Succeeds for a console handle only, so it tells a console from a
  /// redirected stream.
  virtual bool GetConsoleMode(RawHandle console, Dword* mode) = 0;
  virtual bool WriteConsoleW(RawHandle console, const char16_t* text, Dword length, Dword* written,
                             void* reserved) = 0;

  // --- Thread, errors, text ---
  virtual void Sleep(Dword milliseconds) = 0;
  virtual Dword GetLastError() = 0;
  /// The ANSI code page: 1252, 932 and the like, or 65001 where the system uses
  /// UTF-8 for it.
  virtual unsigned GetACP() = 0;
  /// Converts UTF-16 to \a codePage; the bytes written, or the size needed when
  /// \a multiByteSize is 0; 0 on failure. \a usedDefaultChar tells whether a
  /// character had no equivalent.
  virtual int WideCharToMultiByte(unsigned codePage, Dword flags, const char16_t* wideText,
                                  int wideLength, char* multiByte, int multiByteSize,
                                  const char* defaultChar, bool* usedDefaultChar) = 0;
  /// Converts from \a codePage to UTF-16; the units written, or the size needed
  /// when \a wideSize is 0; 0 on failure.
  virtual int MultiByteToWideChar(unsigned codePage, Dword flags, const char* multiByte,
                                  int multiByteLength, char16_t* wideText, int wideSize) = 0;
  /// Lowers \a text in place in the ANSI code page; returns \a text.
  virtual char* CharLowerA(char* text) = 0;
  /// The character after the one at \a text in the ANSI code page: two bytes on
  /// after a lead byte of a double-byte code page that is not the last byte,
  /// one byte on otherwise; \a text itself at its terminating NUL.
  virtual const char* CharNextA(const char* text) = 0;
};

}  // namespace vdksvc
