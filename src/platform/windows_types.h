#pragma once
// The Windows types, constants and records that the operations of `Platform`
// take and give, in portable form: the same names and values as the Windows
// headers, the records member for member, so that the logic and the simulated
// Windows compile anywhere and the real platform passes them straight through.

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
using RawHandle = void*;           ///< HANDLE: process, snapshot, token or file

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
constexpr Dword kGenericRead = 0x80000000;        ///< GENERIC_READ
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

}  // namespace vdksvc
