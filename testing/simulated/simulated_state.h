#pragma once
// The private state of SimulatedPlatform, shared by its source files
// (simulated_platform.cc, simulated_services.cc, simulated_service_control.cc,
// simulated_registry.cc, simulated_processes.cc). Nothing outside those files
// includes it.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulated/simulated_platform.h"

namespace vdksvc {

/// Error codes the simulation reports that the logic never names.
namespace simerr {
constexpr Dword kCircularDependency = 1059;    ///< ERROR_CIRCULAR_DEPENDENCY
constexpr Dword kDatabaseDoesNotExist = 1065;  ///< ERROR_DATABASE_DOES_NOT_EXIST
constexpr Dword kServerUnavailable = 1722;     ///< RPC_S_SERVER_UNAVAILABLE
constexpr Dword kKeyDeleted = 1018;            ///< ERROR_KEY_DELETED
constexpr Dword kGenFailure = 31;              ///< ERROR_GEN_FAILURE
constexpr Dword kNoSuchPrivilege = 1313;       ///< ERROR_NO_SUCH_PRIVILEGE
}  // namespace simerr

/// Access rights the simulation checks (winnt.h, winsvc.h, winreg.h).
namespace access {
constexpr Dword kReadControl = 0x20000;  ///< STANDARD_RIGHTS_READ, _WRITE and _EXECUTE alike
constexpr Dword kSynchronize = 0x100000;
constexpr Dword kMaximumAllowed = 0x02000000;
constexpr Dword kGenericAll = 0x10000000;
constexpr Dword kGenericExecute = 0x20000000;
constexpr Dword kGenericWrite = 0x40000000;
constexpr Dword kGenericRead = 0x80000000;
constexpr Dword kServiceEnumerateDependents = 0x8;
constexpr Dword kServiceInterrogate = 0x80;
constexpr Dword kServiceUserDefinedControl = 0x100;
constexpr Dword kKeyQueryValue = 0x1;
constexpr Dword kProcessAllAccess = 0x1FFFFF;
constexpr Dword kProcessQueryInformation = 0x400;
constexpr Dword kFileBackupSemantics = 0x02000000;  ///< FILE_FLAG_BACKUP_SEMANTICS
constexpr Dword kFileReadData = 0x1;                ///< FILE_READ_DATA
constexpr Dword kFileWriteData = 0x2;               ///< FILE_WRITE_DATA
}  // namespace access

/// Everything the simulated Windows holds. SimulatedPlatform::State is this
/// world; the helpers of the source files take it by this name.
struct SimulatedWorld {
  static constexpr std::uint64_t kForever = SimulatedPlatform::kForever;
  using ServiceConfig = SimulatedPlatform::ServiceConfig;
  using ProcessConfig = SimulatedPlatform::ProcessConfig;

  struct Service {
    std::uint64_t id = 0;         ///< never reused, so a re-created service is a new one
    ServiceConfig config;         ///< config.state is the seeded state, not kept up to date
    Dword state = svc::kStopped;  ///< the state last entered, maybe a pending one
    std::uint64_t pendingUntil = kForever;  ///< when a pending state settles
    std::uint64_t pendingSince = 0;         ///< when the last state was entered
    bool markedForDelete = false;
    int openHandles = 0;
    std::uint64_t heldUntil = 0;  ///< another program's handle is open until then
  };

  struct Value {
    std::string name;  ///< as first set, for nothing but readability in a debugger
    Dword type = reg::kNone;
    std::vector<unsigned char> bytes;
  };

  struct Key {
    std::string path;
    std::map<std::string, Value> values;  ///< by case-folded name
    bool openRefused = false;
  };

  struct Process {
    ProcessConfig config;
    std::uint64_t endAtMs = kForever;  ///< exitAtMs, or the time it was terminated
    bool terminated = false;
    Dword exitCode = 0;
  };

  /// A fault set up with SimulatedPlatform::beforeCall.
  struct Trigger {
    std::string call;
    unsigned occurrence = 1;
    unsigned seen = 0;
    std::function<void()> action;  ///< emptied once it has run
  };

  struct SnapshotRow {
    Dword processId = 0;
    std::string imageName;
  };

  enum class Kind { kManager, kService, kKey, kSnapshot, kProcess, kFile, kToken };

  /// A file the logic reads (a list), appends to (the step log) or identifies,
  /// by case-folded path.
  struct File {
    std::string path;  ///< as first opened or seeded
    std::string bytes;
    Dword index = 0;           ///< the file index: paths of one index are one file
    std::uint64_t idHigh = 0;  ///< the upper half of the 128-bit file id
    bool directory = false;
    bool exists = false;
    bool openRefused = false;
    bool writeFails = false;
  };

  /// Everything a handed-out handle, key or snapshot stands for.
  struct Handle {
    Kind kind = Kind::kManager;
    Dword access = 0;
    std::uint64_t serviceId = 0;    ///< Kind::kService
    std::string keyPath;            ///< Kind::kKey, relative to HKEY_LOCAL_MACHINE
    std::size_t processIndex = 0;   ///< Kind::kProcess, into `processes`
    std::vector<SnapshotRow> rows;  ///< Kind::kSnapshot
    std::size_t cursor = 0;  ///< Kind::kSnapshot: next row Process32Next gives; kFile: next byte
    std::string filePath;    ///< Kind::kFile, case-folded
    Dword share = 0;         ///< Kind::kFile: the share mode it was opened with
  };

  // --- Clock, errors, log ---
  std::uint64_t nowMs = 0;
  std::uint64_t hangLimitMs = 24ull * 60 * 60 * 1000;
  Dword lastError = winerr::kSuccess;
  std::vector<std::string> calls;
  std::vector<Trigger> triggers;
  bool managerOpenRefused = false;
  std::uint64_t stoppedLagMs = 0;  ///< from a process's end to its service's STOPPED
  Dword managerRightsGranted = svc::kManagerAllAccess;
  Dword serviceRightsGranted = svc::kServiceAllAccess;
  bool doubleByteCodePage = false;
  bool utf8CodePage = false;
  bool fileIdInfoSupported = true;

  /// The standard output or error as a test set it up.
  struct StandardStream {
    SimulatedPlatform::Stream kind = SimulatedPlatform::Stream::kRedirected;
    std::string text;  ///< bytes written, or the console's text in UTF-8
  };
  StandardStream standardOutput;
  StandardStream standardError;
  /// The stream behind \a raw when it is a standard stream's handle; null otherwise.
  StandardStream* standardStreamOf(const void* raw);

  // --- Handles: one table for every kind, so a token of one kind passed where
  // another is expected is refused, and tokens are never reused ---
  std::uintptr_t nextToken = 0x1000;
  std::map<std::uintptr_t, Handle> handles;

  std::map<std::uint64_t, Service> services;
  std::uint64_t nextServiceId = 1;
  std::map<std::string, Key> keys;  ///< by case-folded path; "" is HKEY_LOCAL_MACHINE
  std::vector<Process> processes;   ///< in seeding order; ids may repeat once ended
  std::map<std::string, File> files;
  std::map<std::string, std::string> environment;  ///< by case-folded name
  Dword ownProcessId = 4242;                       ///< what GetCurrentProcessId gives
  Dword nextFileIndex = 1;
  bool debugPrivilegeHeld = true;
  bool debugPrivilegeEnabled = false;

  SimulatedWorld();

  // --- Helpers shared by the source files ---
  static std::string foldCase(std::string_view text);
  static bool sameName(std::string_view left, std::string_view right);
  /// \a at plus \a milliseconds, kForever when either is or the sum overflows.
  static std::uint64_t later(std::uint64_t at, std::uint64_t milliseconds);
  static std::uintptr_t tokenOf(const void* raw) { return reinterpret_cast<std::uintptr_t>(raw); }

  /// Logs one call, then runs the faults set up to strike before it.
  void log(std::string line);
  /// Hands out a fresh token for \a handle.
  std::uintptr_t issue(Handle handle);
  /// The handle behind \a raw when it is open and of \a kind; null otherwise.
  Handle* handleOf(const void* raw, Kind kind);
  /// Moves the clock to \a targetMs for a wait of the logic; throws
  /// SimulatedHang when that passes the hang limit.
  void waitUntil(std::uint64_t targetMs, const char* what);

  // Services (simulated_services.cc)
  static bool isPending(Dword state);
  Dword stateOf(const Service& service) const;
  bool gone(const Service& service) const;
  /// When the service's process ended while the service was not STOPPED, since
  /// it entered its last state: the service failed then. Nothing when it did not.
  std::optional<std::uint64_t> failedAt(const Service& service) const;
  /// When the manager restarts a failed service by its recovery action;
  /// kForever when it does not.
  std::uint64_t restartAt(const Service& service) const;
  /// When the service's current pending state began.
  std::uint64_t pendingSinceOf(const Service& service) const;
  /// Enters \a pendingState, which lasts \a durationMs.
  void enter(Service& service, Dword pendingState, std::uint64_t durationMs) const;
  Service* findService(std::string_view name);
  const Service* findService(std::string_view name) const;
  void removeGoneServices();
  std::string describe(const Handle& handle) const;
  /// The call log's name for a manager or service handle.
  std::string scName(const void* handle);
  /// The service behind \a handle when the handle is open and carries
  /// \a right; otherwise sets the error and gives null.
  Service* serviceFor(const void* handle, Dword right);

  // Registry (simulated_registry.cc)
  Key& makeKey(std::string_view path);

  // Files (simulated_system.cc)
  File& makeFile(const std::string& path, Dword index);

  // Processes (simulated_processes.cc)
  bool alive(const Process& process) const { return nowMs < process.endAtMs; }
  const Process* liveProcess(Dword processId) const;
};

struct SimulatedPlatform::State : SimulatedWorld {};

}  // namespace vdksvc
