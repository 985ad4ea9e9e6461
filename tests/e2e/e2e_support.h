#pragma once
// Helpers for the end-to-end tests: they run inside Windows (Wine here) and talk to
// the real process API, registry and service control manager. Every wait is
// bounded; a helper that gives up says so in its result, it never hangs.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32_include.h"

namespace vdksvc::e2e {

/// What one child process did.
struct RunResult {
  bool started = false;   ///< CreateProcessA succeeded
  bool timedOut = false;  ///< killed because it outlived the timeout
  DWORD exitCode = 0;     ///< GetExitCodeProcess, all 32 bits (4294967295 for -1)
  DWORD startError = 0;   ///< GetLastError of a failed CreateProcessA
  std::string out;        ///< everything written to standard output
  std::string err;        ///< everything written to standard error
};

/// Directory (with a trailing '\') of the running executable; the test programs,
/// vdksvc.exe and the test service are built side by side.
std::string binDirectory();
/// Full path of vdksvc.exe, of the test service program and of vdk_run.exe.
std::string vdksvcPath();
std::string testServicePath();
std::string runnerPath();

/// \a argument quoted so that the C runtime's argv parsing gives it back
/// unchanged (spaces, tabs, quotes, backslashes, the empty string).
std::string quoteArgument(const std::string& argument);

/// Runs \a commandLine with standard output and error captured to files and
/// standard input from NUL; kills the process after \a timeoutMs. Given a
/// \a token, the process runs with it (CreateProcessAsUserA).
RunResult runProgram(const std::string& commandLine, DWORD timeoutMs, HANDLE token = nullptr);

/// Runs vdksvc.exe with \a arguments (each quoted as one argument).
RunResult runVdksvc(const std::vector<std::string>& arguments, DWORD timeoutMs = 120000);

/// Runs vdksvc.exe with \a arguments as from a prompt that is not elevated: with
/// this process's token, the Administrators group for deny only and every
/// privilege but SeChangeNotifyPrivilege removed. Not started (startError set)
/// when that token cannot be made.
RunResult runVdksvcUnelevated(const std::vector<std::string>& arguments, DWORD timeoutMs = 120000);

/// Runs vdksvc.exe with \a tail appended verbatim to its quoted path, for
/// command lines that argument quoting cannot express. An empty tail means no
/// argument at all.
RunResult runVdksvcRaw(const std::string& tail, DWORD timeoutMs = 120000);

// --- Registry, under HKEY_LOCAL_MACHINE; results are Win32 error codes ---

/// Creates \a subKey as needed and sets a REG_SZ (or REG_EXPAND_SZ) value.
LONG setRegistryString(const std::string& subKey, const std::string& name, const std::string& value,
                       DWORD type = REG_SZ);
/// Sets a REG_MULTI_SZ value holding \a values.
LONG setRegistryMultiString(const std::string& subKey, const std::string& name,
                            const std::vector<std::string>& values);
LONG setRegistryDword(const std::string& subKey, const std::string& name, DWORD value);
/// Sets a value of any \a type from raw bytes, for malformed-data cases.
LONG setRegistryRaw(const std::string& subKey, const std::string& name, DWORD type,
                    const std::vector<unsigned char>& data);
/// Deletes \a subKey and everything below it; a missing key is a success.
LONG deleteRegistryTree(const std::string& subKey);

// --- Service control manager ---

/// Owns one SC_HANDLE; closes it with CloseServiceHandle.
class ScmHandle {
 public:
  explicit ScmHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
  ~ScmHandle();
  ScmHandle(const ScmHandle&) = delete;
  ScmHandle& operator=(const ScmHandle&) = delete;
  ScmHandle(ScmHandle&& other) noexcept;
  ScmHandle& operator=(ScmHandle&& other) noexcept;

  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

/// The local service control manager with all access; empty on failure.
ScmHandle openManager();
/// The service \a name with all access; empty on failure (GetLastError says why).
ScmHandle openService(const std::string& name);

/// How the test service should behave; becomes arguments of its binary path.
struct TestServiceOptions {
  DWORD startPendingMs = 0;
  DWORD stopPendingMs = 0;
  DWORD pausePendingMs = 0;
  DWORD continuePendingMs = 0;
  DWORD lingerMs = 0;
  bool noStop = false;
  bool noPause = false;
  bool ignoreStop = false;
  bool hangStop = false;   ///< reports STOP_PENDING once, and its checkpoint never rises
  bool hangStart = false;  ///< reports START_PENDING once, and never RUNNING
};

/// The test service's binary path: its quoted program file plus \a options.
std::string testServiceCommandLine(const TestServiceOptions& options);

/// Creates an own-process, demand-start service running the test service.
/// Returns the Win32 error, 0 on success.
DWORD createTestService(const std::string& name, const TestServiceOptions& options,
                        const std::string& displayName = {});

/// Current status of \a name, or nothing if it cannot be opened or queried.
std::optional<SERVICE_STATUS> queryStatus(const std::string& name);
std::optional<SERVICE_STATUS> queryStatus(SC_HANDLE service);

/// Polls every 50 ms until \a service reports \a state, for at most \a timeoutMs.
bool waitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs);
bool waitForState(const std::string& name, DWORD state, DWORD timeoutMs);

/// Starts \a name and polls until it runs, for at most \a timeoutMs; true once
/// it does.
bool startAndWaitUntilRunning(const std::string& name, DWORD timeoutMs = 20000);

/// The id of the process that runs \a service; 0 when it has none.
DWORD serviceProcessId(SC_HANDLE service);

/// SeDebugPrivilege enabled in this process's token for the object's life, then
/// put back as it was. An administrator needs it to open a LocalSystem process
/// for more than waiting on it.
class DebugPrivilege {
 public:
  DebugPrivilege();
  ~DebugPrivilege();
  DebugPrivilege(const DebugPrivilege&) = delete;
  DebugPrivilege& operator=(const DebugPrivilege&) = delete;

 private:
  HANDLE token_ = nullptr;
  TOKEN_PRIVILEGES previous_{};  ///< what the adjustment changed; count 0 when nothing
};

/// Ends the process of the running service \a service outright (for a service
/// that refuses or ignores stop); true once it is gone (bounded wait).
bool killServiceProcess(SC_HANDLE service);

/// Stops \a name if it runs, deletes it and waits until the manager no longer
/// knows it. A service that refuses stop, or is not stopped after \a stopWaitMs,
/// has its process ended. True when it is gone (or never existed).
bool removeServiceCompletely(const std::string& name, DWORD stopWaitMs = 10000,
                             DWORD timeoutMs = 30000);

/// Whether the service manager knows \a name.
bool serviceExists(const std::string& name);

/// Polls every 50 ms until the manager no longer knows \a name, for at most
/// \a timeoutMs; true once it is gone.
bool waitUntilGone(const std::string& name, DWORD timeoutMs);

/// A service's configuration as QueryServiceConfigA reports it.
struct ServiceConfig {
  DWORD serviceType = 0;
  DWORD startType = 0;
  DWORD errorControl = 0;
  std::string binaryPath;
  std::string displayName;
  std::string account;
};

/// The configuration of \a name, or nothing if it cannot be opened or queried.
std::optional<ServiceConfig> queryConfig(const std::string& name);

/// A text file in the Windows temporary directory, written byte for byte and
/// removed again when the object goes.
class TempFile {
 public:
  explicit TempFile(const std::string& contents);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// A copy of one of our programs under binDirectory() with another \a name,
/// which may hold one folder ("vdk other\\x.exe"); removed again at the end,
/// folder included, once no process runs it any more.
class ProgramCopy {
 public:
  ProgramCopy(const std::string& from, const std::string& name);
  ~ProgramCopy();
  ProgramCopy(const ProgramCopy&) = delete;
  ProgramCopy& operator=(const ProgramCopy&) = delete;

  bool copied() const { return copied_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string folder_;  ///< made for the copy; empty when there is none
  bool copied_ = false;
};

/// Milliseconds since an arbitrary start, for measuring how long a run took.
ULONGLONG nowMs();

/// Text for a SERVICE_STATUS state, for readable failure messages.
const char* stateName(DWORD state);

}  // namespace vdksvc::e2e
