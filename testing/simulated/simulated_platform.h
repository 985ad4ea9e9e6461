#pragma once
// An in-memory Windows for the unit tests: a service control manager, the
// HKEY_LOCAL_MACHINE registry, a process table and a virtual clock. It models what
// the Win32 operations are documented to do (including the error codes the real
// service manager gives), keeps an account of every handle, key and snapshot it
// hands out, and logs every call.
//
// Time is virtual: Sleep and timed waits advance the clock at once. Waiting longer
// than the hang limit (a day of virtual time by default) throws SimulatedHang, so a
// wait that would never end fails the test instead of spinning forever.
//
// GetLastError keeps the code of the last failing call; a successful call leaves
// it as it was, as the real functions do (they set it only on failure). The
// registry functions return their code and never touch it.
//
// Handles carry the access they were opened with, and each operation checks the
// right it needs as Windows does (SERVICE_STOP to stop, KEY_QUERY_VALUE to read a
// value, SYNCHRONIZE to wait, PROCESS_TERMINATE to terminate...): a handle opened
// with too little access fails with ERROR_ACCESS_DENIED. The process's token is
// granted all rights to the manager and the services unless a test narrows them
// (setGrantedRights): an open asking for more than is granted is refused with
// ERROR_ACCESS_DENIED, as the security descriptors of Windows refuse it.
//
// Seeding mistakes (a duplicate service or live process id, a pending seed state)
// throw std::invalid_argument.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vdksvc {

// Windows constants only the simulation names: codes it reports, states and
// settings it models, which no operation of the logic asks for.
namespace winerr {
constexpr Dword kInvalidHandle = 6;
constexpr Dword kNoMoreFiles = 18;
constexpr Dword kBadLength = 24;
constexpr Dword kInvalidName = 123;
constexpr Dword kMoreData = 234;
constexpr Dword kInvalidAddress = 487;
constexpr Dword kInvalidLevel = 124;
constexpr Dword kInvalidFlags = 1004;
constexpr Dword kDependentServicesRunning = 1051;
constexpr Dword kServiceDisabled = 1058;
constexpr Dword kServiceDependencyFail = 1068;
constexpr Dword kServiceDependencyDeleted = 1075;
constexpr Dword kDuplicateServiceName = 1078;
}  // namespace winerr
namespace svc {
constexpr Dword kManagerAllAccess = 0xF003F;  ///< SC_MANAGER_ALL_ACCESS
constexpr Dword kServiceAllAccess = 0xF01FF;  ///< SERVICE_ALL_ACCESS
constexpr Dword kWin32ShareProcess = 0x20;    ///< SERVICE_WIN32_SHARE_PROCESS
constexpr Dword kErrorCritical = 3;           ///< SERVICE_ERROR_CRITICAL
constexpr Dword kControlInterrogate = 4;      ///< SERVICE_CONTROL_INTERROGATE
constexpr Dword kAcceptStop = 0x1;            ///< SERVICE_ACCEPT_STOP
constexpr Dword kAcceptPauseContinue = 0x2;   ///< SERVICE_ACCEPT_PAUSE_CONTINUE
/// What a service's default security grants a token that is not elevated: to
/// query it, read its configuration, interrogate it and send it its own controls.
constexpr Dword kServiceUserRights = 0x2018D;
}  // namespace svc
namespace reg {
constexpr Dword kBinary = 3;   ///< REG_BINARY
constexpr Dword kDword = 4;    ///< REG_DWORD
constexpr Dword kMultiSz = 7;  ///< REG_MULTI_SZ
constexpr Dword kQword = 11;   ///< REG_QWORD
}  // namespace reg
namespace proc {
constexpr Dword kInfinite = 0xFFFFFFFF;  ///< INFINITE
}  // namespace proc

/// Thrown when the logic waits past the simulated platform's hang limit.
class SimulatedHang : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SimulatedPlatform : public Platform {
 public:
  static constexpr std::uint64_t kForever = UINT64_MAX;

  /// A service as seeded by a test.
  struct ServiceConfig {
    std::string name;
    std::string displayName;  ///< empty: the name
    Dword serviceType = svc::kWin32OwnProcess;
    Dword startType = svc::kDemandStart;
    Dword errorControl = svc::kErrorNormal;
    std::string binaryPath;
    std::vector<std::string> dependencies;
    Dword state = svc::kStopped;  ///< a settled state: stopped, running or paused
    /// Controls the service accepts while running or paused (SERVICE_ACCEPT_*).
    Dword controlsAccepted = svc::kAcceptStop | svc::kAcceptPauseContinue;
    /// How long each pending state lasts once entered, in virtual milliseconds;
    /// kForever: the service never leaves it.
    std::uint64_t startPendingMs = 0;
    std::uint64_t stopPendingMs = 0;
    std::uint64_t pausePendingMs = 0;
    std::uint64_t continuePendingMs = 0;
    bool openRefused = false;  ///< OpenServiceA fails with ERROR_ACCESS_DENIED
    bool queryFails = false;   ///< QueryServiceStatus fails with ERROR_ACCESS_DENIED
    /// The rights its security grants the process's token; an open asking for
    /// more is refused with ERROR_ACCESS_DENIED.
    Dword grantedRights = svc::kServiceAllAccess;
    /// While pending it reports this wait hint, and a checkpoint (from 1) that
    /// rises every second for progressMs into the state, then stays: hung.
    Dword waitHintMs = 2000;
    std::uint64_t progressMs = kForever;
    /// Its process (0: none). Ending it while the service is not STOPPED fails
    /// the service: it is STOPPED, and restarted by a first failure action of
    /// SC_ACTION_RESTART, the only one carried out.
    Dword processId = 0;
    std::vector<ScAction> failureActions{};
    /// Where QueryServiceConfig2A puts their array in its buffer, which Windows
    /// does not document (texts may come first); 0: right after the structure.
    std::size_t failureActionsAt = 0;
  };

  /// A service as the manager holds it now.
  struct ServiceView {
    ServiceConfig config;          ///< current configuration; config.state is stale
    Dword currentState = 0;        ///< state at the current virtual time
    bool markedForDelete = false;  ///< DeleteService was called; handles still open
  };

  /// A process as seeded by a test.
  struct ProcessConfig {
    Dword processId = 0;
    std::string imageName;              ///< szExeFile: file name without directory
    std::uint64_t exitAtMs = kForever;  ///< virtual time at which it ends by itself
    bool openRefused = false;           ///< OpenProcess fails with ERROR_ACCESS_DENIED
    /// What QueryFullProcessImageNameA gives; empty: it fails (ERROR_GEN_FAILURE).
    std::string imagePath{};
    /// Runs as LocalSystem: its default security grants an administrator no more
    /// than waiting on it and querying it, unless SeDebugPrivilege is enabled.
    bool systemOwned = false;
    bool terminateRefused = false;  ///< an open for PROCESS_TERMINATE is refused
    /// How long it takes to end once terminated; kForever: never (stuck).
    std::uint64_t terminationMs = 0;
  };

  struct ProcessView {
    ProcessConfig config;
    bool running = true;
    bool terminated = false;  ///< ended by TerminateProcess
    Dword exitCode = 259;     ///< STILL_ACTIVE while running
  };

  SimulatedPlatform();
  ~SimulatedPlatform() override;

  // --- Seeding and inspection ---
  void addService(const ServiceConfig& config);
  /// Looks the service up as the manager does (names compare without case);
  /// empty once the service is gone.
  std::optional<ServiceView> service(const std::string& name) const;
  /// OpenSCManagerA fails with ERROR_ACCESS_DENIED while set.
  void setManagerOpenRefused(bool refused);
  /// The manager learns that a service's process ended through a wait of its
  /// own: for \a lagMs after the process's end the service still reports the
  /// state it had (0, the default: it is STOPPED at once).
  void setStoppedLagMs(std::uint64_t lagMs);
  /// The rights the process's token is granted on the manager and on every
  /// service (within each service's grantedRights); all access unless set.
  void setGrantedRights(Dword manager, Dword service);

  /// Registry keys are paths under HKEY_LOCAL_MACHINE such as
  /// "SOFTWARE\\Corvane\\Vardeck"; keys and value names compare without case.
  /// Setting a value creates its key (and the keys above it). As on 64-bit
  /// Windows, "SOFTWARE\\WOW6432Node\\..." is the 32-bit view of SOFTWARE: an open
  /// from HKEY_LOCAL_MACHINE with KEY_WOW64_32KEY of "SOFTWARE\\<path>" opens
  /// "SOFTWARE\\WOW6432Node\\<path>" (no key is modelled as shared between views).
  void addKey(const std::string& key);
  void setValue(const std::string& key, const std::string& name, Dword type,
                const std::vector<unsigned char>& bytes);
  /// REG_SZ: the text plus one NUL, or without it when \a terminated is false.
  void setText(const std::string& key, const std::string& name, const std::string& text,
               bool terminated = true);
  /// REG_MULTI_SZ: each string with its NUL, then the closing NUL.
  void setMultiText(const std::string& key, const std::string& name,
                    const std::vector<std::string>& strings);
  /// REG_DWORD, little-endian.
  void setNumber(const std::string& key, const std::string& name, Dword value);
  void removeValue(const std::string& key, const std::string& name);
  /// RegOpenKeyExA on this key fails with ERROR_ACCESS_DENIED while set.
  void setKeyOpenRefused(const std::string& key, bool refused);

  void addProcess(const ProcessConfig& config);
  std::optional<ProcessView> process(Dword processId) const;
  /// SeDebugPrivilege in the process's own token: held and disabled, as in an
  /// elevated administrator's token, unless set.
  void setDebugPrivilege(bool held, bool enabled = false);
  bool debugPrivilegeEnabled() const;

  /// A file at \a path (compared without case). Paths given the same
  /// \a fileIndex are one file under several spellings; 0 gives a file of its own.
  /// \a fileIdHigh is the upper half of its 128-bit id, the index the lower:
  /// ReFS may give two files one index, never one id.
  void addFile(const std::string& path, Dword fileIndex = 0, std::uint64_t fileIdHigh = 0);
  /// FileIdInfo fails with ERROR_INVALID_PARAMETER while unset (Windows 7).
  void setFileIdInfoSupported(bool supported);
  void addDirectory(const std::string& path);

  /// Lead bytes of code page 932 are honoured by CharNextA while set;
  /// otherwise the ANSI code page is single-byte (as 1252).
  void setDoubleByteCodePage(bool doubleByte);
  /// The ANSI code page is UTF-8 (65001) while set.
  void setUtf8CodePage(bool utf8);

  // --- Files, environment, time (what list files and the step log use) ---
  /// Sets (or, with no value, removes) an environment variable of the process.
  void setEnvironmentVariable(const std::string& name, std::optional<std::string> value);
  /// The bytes of the file at \a path (paths compare without case): those it
  /// was seeded with and those written to it; empty when no file is there.
  std::optional<std::string> fileContents(const std::string& path) const;
  /// A file at \a path that holds \a bytes, as another program wrote it.
  void setFileContents(const std::string& path, const std::string& bytes);
  /// CreateFileA on \a path fails with ERROR_ACCESS_DENIED while set.
  void setFileOpenRefused(const std::string& path, bool refused);
  /// WriteFile to \a path fails with ERROR_DISK_FULL (112) while set.
  void setFileWriteFails(const std::string& path, bool fails);
  /// What GetCurrentProcessId gives (4242 unless set).
  void setProcessId(Dword processId);

  /// What the process's standard output or error (STD_OUTPUT_HANDLE or
  /// STD_ERROR_HANDLE) is: a console, a redirected file or pipe (the default),
  /// a pipe whose reader has gone (WriteFile fails with ERROR_NO_DATA, 232), or
  /// none (GetStdHandle gives null). Setting it starts a new, empty stream.
  enum class Stream { kConsole, kRedirected, kBrokenPipe, kNone };
  void setStandardStream(Dword which, Stream stream);
  /// What was written to standard output or error: the bytes written to a
  /// redirected stream, or the console's text in UTF-8.
  std::string standardStream(Dword which) const;

  // --- Faults from outside: another program or the system acting mid-run ---
  /// Runs \a action once, right before the \a occurrence-th call whose call-log
  /// line is \a call takes effect (the call is already logged). The action changes
  /// the world through the functions of this class, as another program would
  /// between two calls of the logic. A fault the action sets up counts from the
  /// next call on.
  void beforeCall(std::string call, std::function<void()> action, unsigned occurrence = 1);
  /// Another program deletes the service: it is marked for deletion and vanishes
  /// once it is stopped and its last handle is closed.
  void deleteService(const std::string& name);
  /// Another program (the Services console, a monitoring agent) holds a handle
  /// to the service until virtual time \a untilMs: marked for deletion, it
  /// stays at least until then.
  void holdService(const std::string& name, std::uint64_t untilMs);
  /// QueryServiceStatus on the service fails with ERROR_ACCESS_DENIED while set.
  void setQueryFails(const std::string& name, bool fails);
  /// Deletes the key and every key below it. Handles still open on them stay
  /// valid to close, but reading through them gives ERROR_KEY_DELETED (1018).
  void removeKey(const std::string& key);
  /// The live process with this id ends now with \a exitCode, by itself.
  void endProcess(Dword processId, Dword exitCode = 0);

  std::uint64_t nowMs() const;
  /// Moves the clock as the test's own step; the hang limit guards only the
  /// waits of the logic (Sleep, WaitForMultipleObjects).
  void advance(std::uint64_t milliseconds);
  /// The virtual time, in ms since the start, that no wait may pass.
  void setHangLimitMs(std::uint64_t limit);

  /// One line per platform call, in order, such as "OpenServiceA Svc",
  /// "ControlService Svc 1", "CloseServiceHandle Svc", "CloseServiceHandle manager",
  /// "RegOpenKeyExA SOFTWARE\\Corvane\\Vardeck", "Sleep 1000". The formats:
  ///  - "OpenSCManagerA"; "OpenServiceA <name>" and "CreateServiceA <name>" with the
  ///    name as passed ("(null)" for none);
  ///  - "ChangeServiceConfigA <svc>", "ControlService <svc> <control>",
  ///    "StartServiceA <svc>", "QueryServiceStatus <svc>", "DeleteService <svc>",
  ///    "CloseServiceHandle <svc>", where <svc> is the service's name, "manager" for
  ///    a manager handle or "(invalid)";
  ///  - "RegOpenKeyExA <path>" with the whole path under HKEY_LOCAL_MACHINE (a
  ///    sub-key of an opened key is joined to that key's path; "(invalid)\\<sub-key>"
  ///    for a bad root), "RegQueryValueExA <value>" ("(default)" for the unnamed
  ///    value), "RegCloseKey <path>", "RegCloseKey HKEY_LOCAL_MACHINE",
  ///    "RegCloseKey (invalid)";
  ///  - "CreateToolhelp32Snapshot", "Process32First", "Process32Next",
  ///    "OpenProcess <id>", "WaitForMultipleObjects <count> <milliseconds>" (INFINITE
  ///    shows as 4294967295), "TerminateProcess <id> <exit code>" ("(invalid)" for a
  ///    bad handle), "CloseHandle process <id>", "CloseHandle snapshot",
  ///    "CloseHandle current process" (INVALID_HANDLE_VALUE, the pseudo-handle),
  ///    "CloseHandle (invalid)";
  ///  - "OpenProcessToken", "AdjustTokenPrivileges", "CloseHandle token";
  ///  - "Sleep <milliseconds>", "CharLowerA".
  /// GetLastError and CharNextA only read and are not logged.
  const std::vector<std::string>& calls() const;
  void clearCalls();
  /// Descriptions of the handles, keys and snapshots handed out and not yet
  /// closed, oldest first: "manager handle", "service handle Svc", "registry key
  /// SOFTWARE\\Corvane\\Vardeck", "process snapshot", "process handle 1234". Empty
  /// when everything was released; HKEY_LOCAL_MACHINE itself is never listed.
  std::vector<std::string> openResources() const;

  // --- Platform ---
  // Choices where the documentation leaves room, made as Windows behaves:
  //  - OpenSCManagerA knows only the local machine (another gives
  //    RPC_S_SERVER_UNAVAILABLE, 1722) and the "ServicesActive" database
  //    (another gives ERROR_DATABASE_DOES_NOT_EXIST, 1065).
  //  - CreateServiceA and ChangeServiceConfigA refuse a tag (drivers only) and
  //    boot/system start for Win32 services with ERROR_INVALID_PARAMETER, and a
  //    dependency loop with ERROR_CIRCULAR_DEPENDENCY (1059). A null or empty
  //    display name at creation is the service's name; an empty one given to
  //    ChangeServiceConfigA changes nothing.
  //  - StartServiceA starts stopped dependencies first; the service reports
  //    start-pending until they run and its own start time has passed. A missing
  //    or deleted dependency gives ERROR_SERVICE_DEPENDENCY_DELETED; a disabled or
  //    stopping one, or one that cannot start, ERROR_SERVICE_DEPENDENCY_FAIL.
  //  - ControlService fills the status record on success and on
  //    ERROR_SERVICE_NOT_ACTIVE, ERROR_SERVICE_CANNOT_ACCEPT_CTRL and
  //    ERROR_INVALID_SERVICE_CONTROL only, as documented; not on
  //    ERROR_DEPENDENT_SERVICES_RUNNING. Pausing a paused service or continuing a
  //    running one succeeds and changes nothing.
  //  - Status records carry dwWin32ExitCode 0; dwCheckPoint and dwWaitHint are
  //    0 but in a pending state.
  //  - ControlService refuses every control with ERROR_SERVICE_CANNOT_ACCEPT_CTRL
  //    while the service is pending, and StartServiceA a service that is not
  //    stopped with ERROR_SERVICE_ALREADY_RUNNING, stop-pending included; so
  //    it refuses a stopped service whose process still runs (its old program,
  //    lingering after it reported STOPPED), as Windows does (Wine starts another).
  //  - QueryServiceConfig2A knows only SERVICE_CONFIG_FAILURE_ACTIONS.
  //  - CreateToolhelp32Snapshot takes TH32CS_SNAPPROCESS alone. Entries report one
  //    thread, normal priority (8) and parent 0.
  RawScHandle OpenSCManagerA(const char* machineName, const char* databaseName,
                             Dword desiredAccess) override;
  RawScHandle OpenServiceA(RawScHandle manager, const char* serviceName,
                           Dword desiredAccess) override;
  RawScHandle CreateServiceA(RawScHandle manager, const char* serviceName, const char* displayName,
                             Dword desiredAccess, Dword serviceType, Dword startType,
                             Dword errorControl, const char* binaryPathName,
                             const char* loadOrderGroup, Dword* tagId, const char* dependencies,
                             const char* serviceStartName, const char* password) override;
  bool ChangeServiceConfigA(RawScHandle handle, Dword serviceType, Dword startType,
                            Dword errorControl, const char* binaryPathName,
                            const char* loadOrderGroup, Dword* tagId, const char* dependencies,
                            const char* serviceStartName, const char* password,
                            const char* displayName) override;
  bool ControlService(RawScHandle handle, Dword control, ServiceStatus* status) override;
  bool StartServiceA(RawScHandle handle, Dword numArgs, const char** args) override;
  bool QueryServiceStatus(RawScHandle handle, ServiceStatus* status) override;
  //  - QueryServiceStatusEx reports the seeded process id while the service is
  //    not STOPPED; QueryServiceConfigA reports an empty load order group and
  //    the account "LocalSystem".
  bool QueryServiceStatusEx(RawScHandle handle, int infoLevel, unsigned char* buffer,
                            Dword bufferSize, Dword* bytesNeeded) override;
  bool QueryServiceConfigA(RawScHandle handle, unsigned char* buffer, Dword bufferSize,
                           Dword* bytesNeeded) override;
  bool QueryServiceConfig2A(RawScHandle handle, Dword infoLevel, unsigned char* buffer,
                            Dword bufferSize, Dword* bytesNeeded) override;
  bool DeleteService(RawScHandle handle) override;
  bool CloseServiceHandle(RawScHandle handle) override;

  Long RegOpenKeyExA(RawKey key, const char* subKey, Dword options, Dword desiredAccess,
                     RawKey* result) override;
  Long RegQueryValueExA(RawKey key, const char* valueName, Dword* reserved, Dword* type,
                        unsigned char* data, Dword* dataSize) override;
  Long RegCloseKey(RawKey key) override;

  RawHandle CreateToolhelp32Snapshot(Dword flags, Dword processId) override;
  bool Process32First(RawHandle snapshot, ProcessEntry32* entry) override;
  bool Process32Next(RawHandle snapshot, ProcessEntry32* entry) override;
  RawHandle OpenProcess(Dword desiredAccess, bool inheritHandle, Dword processId) override;
  Dword WaitForMultipleObjects(Dword count, const RawHandle* handles, bool waitAll,
                               Dword milliseconds) override;
  bool TerminateProcess(RawHandle process, unsigned exitCode) override;
  bool CloseHandle(RawHandle handle) override;
  bool QueryFullProcessImageNameA(RawHandle process, Dword flags, char* exeName,
                                  Dword* size) override;

  //  - The process's own token holds SeDebugPrivilege and no other privilege;
  //    OpenProcessToken takes only the current process's pseudo-handle.
  RawHandle GetCurrentProcess() override;
  bool OpenProcessToken(RawHandle process, Dword desiredAccess, RawHandle* token) override;
  bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) override;
  bool AdjustTokenPrivileges(RawHandle token, bool disableAll, const TokenPrivileges* newState,
                             Dword bufferLength, TokenPrivileges* previousState,
                             Dword* returnLength) override;

  //  - CreateFileA creates missing files with OPEN_ALWAYS and opens seeded or
  //    created ones with OPEN_EXISTING (a directory refuses, as without
  //    FILE_FLAG_BACKUP_SEMANTICS); a path is whatever text is given. An open
  //    whose access or share mode clashes with a handle open on the file fails
  //    with ERROR_SHARING_VIOLATION (32), reading and writing counted apart.
  //    ReadFile needs GENERIC_READ and reads on from where the handle stands;
  //    WriteFile needs FILE_APPEND_DATA and appends.
  //  - WideCharToMultiByte converts to code page 1252, whatever
  //    setDoubleByteCodePage says, and has no best-fit table: a character
  //    outside the code page becomes the default character. To UTF-8 (CP_UTF8,
  //    or CP_ACP under setUtf8CodePage) it refuses flags (ERROR_INVALID_FLAGS;
  //    Windows' WC_ERR_INVALID_CHARS is not modelled) and a default character
  //    or used-default pointer (ERROR_INVALID_PARAMETER), and writes U+FFFD for
  //    a lone surrogate.
  //  - TerminateProcess only starts the end: the process ends terminationMs later.
  //  - FormatMessageA knows the system messages of the errors the service
  //    operations meet, each ended by CR LF as Windows gives them; another code
  //    fails with ERROR_MR_MID_NOT_FOUND (317).
  //  - ExpandEnvironmentStringsA replaces %NAME% by the variable's value and
  //    leaves references to unset variables as they are.
  //  - GetLocalTime is 2026-12-09 08:00:00.000 at virtual time 0; GetTickCount64
  //    is the virtual time.
  // Reads that change nothing (environment, time, messages, process id, file
  // attributes and information, image paths, privilege names, conversions) are
  // not logged; "CreateFileA <path>", "ReadFile <path> <bytes>", "WriteFile
  // <path> <bytes>" and "CloseHandle file <path>" are (the bytes asked for).
  RawHandle CreateFileA(const char* fileName, Dword desiredAccess, Dword shareMode,
                        void* securityAttributes, Dword creationDisposition,
                        Dword flagsAndAttributes, RawHandle templateFile) override;
  bool ReadFile(RawHandle file, void* buffer, Dword bytesToRead, Dword* bytesRead,
                void* overlapped) override;
  bool WriteFile(RawHandle file, const void* buffer, Dword bytesToWrite, Dword* bytesWritten,
                 void* overlapped) override;
  bool GetFileInformationByHandle(RawHandle file, ByHandleFileInformation* info) override;
  bool GetFileInformationByHandleEx(RawHandle file, int infoClass, void* info, Dword size) override;
  Dword GetFileAttributesA(const char* fileName) override;
  Dword GetEnvironmentVariableA(const char* name, char* buffer, Dword size) override;
  Dword ExpandEnvironmentStringsA(const char* source, char* destination, Dword size) override;
  Dword FormatMessageA(Dword flags, const void* source, Dword messageId, Dword languageId,
                       char* buffer, Dword size, void* arguments) override;
  void GetLocalTime(SystemTime* time) override;
  std::uint64_t GetTickCount64() override;
  Dword GetCurrentProcessId() override;

  //  - The standard streams are fixed handles that need no closing. A console
  //    takes WriteConsoleW, and WriteFile whose bytes join its text unconverted
  //    (so ANSI text written that way does not read right); a redirected stream
  //    takes WriteFile only (WriteConsoleW fails with ERROR_INVALID_HANDLE).
  //    Writes are logged as "WriteFile stdout <bytes>" and
  //    "WriteConsoleW stderr <units>".
  //  - MultiByteToWideChar converts from code page 1252 (CP_ACP), whatever
  //    setDoubleByteCodePage and setUtf8CodePage say.
  RawHandle GetStdHandle(Dword stdHandle) override;
  bool GetConsoleMode(RawHandle console, Dword* mode) override;
  bool WriteConsoleW(RawHandle console, const char16_t* text, Dword length, Dword* written,
                     void* reserved) override;

  void Sleep(Dword milliseconds) override;
  Dword GetLastError() override;
  unsigned GetACP() override;
  int WideCharToMultiByte(unsigned codePage, Dword flags, const char16_t* wideText, int wideLength,
                          char* multiByte, int multiByteSize, const char* defaultChar,
                          bool* usedDefaultChar) override;
  int MultiByteToWideChar(unsigned codePage, Dword flags, const char* multiByte,
                          int multiByteLength, char16_t* wideText, int wideSize) override;
  char* CharLowerA(char* text) override;
  const char* CharNextA(const char* text) override;

 private:
  struct State;
  std::unique_ptr<State> state_;  // defined in the .cc to keep this header light
};

}  // namespace vdksvc
