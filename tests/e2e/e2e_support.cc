#include "e2e_support.h"

#include <cstdio>
#include <utility>

namespace vdksvc::e2e {
namespace {

/// Owns a kernel HANDLE (file, process, thread); null and INVALID_HANDLE_VALUE are empty.
class KernelHandle {
 public:
  explicit KernelHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~KernelHandle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

/// Creates a temporary file the child can inherit as a standard handle. It is
/// deleted when the last handle to it (ours or the child's) is closed.
KernelHandle makeCaptureFile() {
  char dir[MAX_PATH + 1] = {};
  char path[MAX_PATH + 1] = {};
  if (::GetTempPathA(sizeof(dir), dir) == 0) return KernelHandle();
  if (::GetTempFileNameA(dir, "vdk", 0, path) == 0) return KernelHandle();
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return KernelHandle(::CreateFileA(
      path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

/// Everything in \a file from its start. The child shared our file position, so
/// rewind first.
std::string readAll(HANDLE file) {
  std::string text;
  if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    text.append(buffer, got);
  }
  return text;
}

ULONGLONG deadlineAfter(DWORD ms) { return ::GetTickCount64() + ms; }
bool passed(ULONGLONG deadline) { return ::GetTickCount64() >= deadline; }

}  // namespace

std::string binDirectory() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string full(path, length);
  const std::size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
}

std::string vdksvcPath() { return binDirectory() + "vdksvc.exe"; }
std::string testServicePath() { return binDirectory() + "vdk_testsvc.exe"; }
std::string runnerPath() { return binDirectory() + "vdk_run.exe"; }

std::string quoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    return argument;
  }
  // The runtime's rule: 2n backslashes before a quote give n backslashes, 2n+1
  // give n and a literal quote; backslashes elsewhere are literal.
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

RunResult runProgram(const std::string& commandLine, DWORD timeoutMs, HANDLE token) {
  RunResult result;
  KernelHandle out = makeCaptureFile();
  KernelHandle err = makeCaptureFile();
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  KernelHandle in(::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inheritable, OPEN_EXISTING, 0, nullptr));
  if (!out || !err || !in) {
    result.startError = ::GetLastError();
    return result;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in.get();
  startup.hStdOutput = out.get();
  startup.hStdError = err.get();
  PROCESS_INFORMATION info{};
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');  // CreateProcessA may write into its command line
  const BOOL created =
      token != nullptr ? ::CreateProcessAsUserA(token, nullptr, mutableLine.data(), nullptr,
                                                nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)
                       : ::CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, nullptr, &startup, &info);
  if (!created) {
    result.startError = ::GetLastError();
    return result;
  }
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);
  result.started = true;

  if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    result.timedOut = true;
    ::TerminateProcess(process.get(), 0xDEAD);
    ::WaitForSingleObject(process.get(), 10000);
  }
  DWORD code = 0;
  if (::GetExitCodeProcess(process.get(), &code)) result.exitCode = code;
  result.out = readAll(out.get());
  result.err = readAll(err.get());
  return result;
}

RunResult runVdksvc(const std::vector<std::string>& arguments, DWORD timeoutMs) {
  std::string tail;
  for (const std::string& argument : arguments) {
    tail += ' ';
    tail += quoteArgument(argument);
  }
  return runVdksvcRaw(tail, timeoutMs);
}

RunResult runVdksvcUnelevated(const std::vector<std::string>& arguments, DWORD timeoutMs) {
  RunResult result;
  HANDLE own = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(),
                          TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_QUERY, &own)) {
    result.startError = ::GetLastError();
    return result;
  }
  const KernelHandle ownToken(own);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof administrators;
  HANDLE filtered = nullptr;
  SID_AND_ATTRIBUTES denyOnly{administrators, 0};
  // A restricted form of the caller's own token needs no privilege to start a
  // process with.
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) ||
      !::CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 1, &denyOnly, 0, nullptr, 0, nullptr,
                               &filtered)) {
    result.startError = ::GetLastError();
    return result;
  }
  const KernelHandle token(filtered);
  std::string line = quoteArgument(vdksvcPath());
  for (const std::string& argument : arguments) line += ' ' + quoteArgument(argument);
  return runProgram(line, timeoutMs, token.get());
}

RunResult runVdksvcRaw(const std::string& tail, DWORD timeoutMs) {
  return runProgram(quoteArgument(vdksvcPath()) + tail, timeoutMs);
}

// --- Registry ---

namespace {

LONG setValue(const std::string& subKey, const std::string& name, DWORD type, const BYTE* data,
              DWORD size) {
  HKEY key = nullptr;
  LONG rc = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = ::RegSetValueExA(key, name.c_str(), 0, type, data, size);
  ::RegCloseKey(key);
  return rc;
}

}  // namespace

LONG setRegistryString(const std::string& subKey, const std::string& name, const std::string& value,
                       DWORD type) {
  // The stored size includes the terminating NUL, as REG_SZ expects.
  return setValue(subKey, name, type, reinterpret_cast<const BYTE*>(value.c_str()),
                  static_cast<DWORD>(value.size() + 1));
}

LONG setRegistryMultiString(const std::string& subKey, const std::string& name,
                            const std::vector<std::string>& values) {
  std::string block;
  for (const std::string& value : values) {
    block += value;
    block.push_back('\0');
  }
  block.push_back('\0');
  return setValue(subKey, name, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(block.data()),
                  static_cast<DWORD>(block.size()));
}

LONG setRegistryDword(const std::string& subKey, const std::string& name, DWORD value) {
  return setValue(subKey, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG setRegistryRaw(const std::string& subKey, const std::string& name, DWORD type,
                    const std::vector<unsigned char>& data) {
  return setValue(subKey, name, type, data.empty() ? nullptr : data.data(),
                  static_cast<DWORD>(data.size()));
}

LONG deleteRegistryTree(const std::string& subKey) {
  const LONG rc = ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, subKey.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// --- Service control manager ---

ScmHandle::~ScmHandle() {
  if (handle_ != nullptr) ::CloseServiceHandle(handle_);
}

ScmHandle::ScmHandle(ScmHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

ScmHandle& ScmHandle::operator=(ScmHandle&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::CloseServiceHandle(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

ScmHandle openManager() {
  return ScmHandle(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

ScmHandle openService(const std::string& name) {
  ScmHandle manager = openManager();
  if (!manager) return ScmHandle();
  // A service handle stays valid after its manager handle is closed.
  return ScmHandle(::OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
}

std::string testServiceCommandLine(const TestServiceOptions& options) {
  std::string line = quoteArgument(testServicePath());
  auto number = [&line](const char* flag, DWORD value) {
    if (value != 0) line += std::string(" ") + flag + " " + std::to_string(value);
  };
  number("--start-pending-ms", options.startPendingMs);
  number("--stop-pending-ms", options.stopPendingMs);
  number("--pause-pending-ms", options.pausePendingMs);
  number("--continue-pending-ms", options.continuePendingMs);
  number("--linger-ms", options.lingerMs);
  if (options.noStop) line += " --no-stop";
  if (options.noPause) line += " --no-pause";
  if (options.ignoreStop) line += " --ignore-stop";
  if (options.hangStop) line += " --hang-stop";
  if (options.hangStart) line += " --hang-start";
  return line;
}

DWORD createTestService(const std::string& name, const TestServiceOptions& options,
                        const std::string& displayName) {
  ScmHandle manager = openManager();
  if (!manager) return ::GetLastError();
  const std::string binaryPath = testServiceCommandLine(options);
  ScmHandle service(::CreateServiceA(
      manager.get(), name.c_str(), displayName.empty() ? name.c_str() : displayName.c_str(),
      SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
      binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  return service ? ERROR_SUCCESS : ::GetLastError();
}

std::optional<SERVICE_STATUS> queryStatus(SC_HANDLE service) {
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service, &status)) return std::nullopt;
  return status;
}

std::optional<SERVICE_STATUS> queryStatus(const std::string& name) {
  ScmHandle service = openService(name);
  if (!service) return std::nullopt;
  return queryStatus(service.get());
}

bool waitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs) {
  const ULONGLONG deadline = deadlineAfter(timeoutMs);
  for (;;) {
    const std::optional<SERVICE_STATUS> status = queryStatus(service);
    if (status && status->dwCurrentState == state) return true;
    if (passed(deadline)) return false;
    ::Sleep(50);
  }
}

bool waitForState(const std::string& name, DWORD state, DWORD timeoutMs) {
  ScmHandle service = openService(name);
  return service && waitForState(service.get(), state, timeoutMs);
}

bool startAndWaitUntilRunning(const std::string& name, DWORD timeoutMs) {
  ScmHandle service = openService(name);
  return service && ::StartServiceA(service.get(), 0, nullptr) &&
         waitForState(service.get(), SERVICE_RUNNING, timeoutMs);
}

bool serviceExists(const std::string& name) {
  ScmHandle manager = openManager();
  if (!manager) return false;
  ScmHandle service(::OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
  return service || ::GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
}

bool waitUntilGone(const std::string& name, DWORD timeoutMs) {
  const ULONGLONG deadline = deadlineAfter(timeoutMs);
  while (serviceExists(name)) {
    if (passed(deadline)) return false;
    ::Sleep(50);
  }
  return true;
}

std::optional<ServiceConfig> queryConfig(const std::string& name) {
  ScmHandle service = openService(name);
  if (!service) return std::nullopt;
  DWORD needed = 0;
  ::QueryServiceConfigA(service.get(), nullptr, 0, &needed);
  if (needed == 0) return std::nullopt;
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!::QueryServiceConfigA(service.get(), config, needed, &needed)) return std::nullopt;
  auto text = [](const char* value) {
    return value != nullptr ? std::string(value) : std::string();
  };
  ServiceConfig result;
  result.serviceType = config->dwServiceType;
  result.startType = config->dwStartType;
  result.errorControl = config->dwErrorControl;
  result.binaryPath = text(config->lpBinaryPathName);
  result.displayName = text(config->lpDisplayName);
  result.account = text(config->lpServiceStartName);
  return result;
}

TempFile::TempFile(const std::string& contents) {
  static int counter = 0;
  char directory[MAX_PATH + 1] = {};
  ::GetTempPathA(sizeof directory, directory);
  path_ = std::string(directory) + "vdksvc_e2e_" + std::to_string(::GetCurrentProcessId()) + "_" +
          std::to_string(++counter) + ".txt";
  if (std::FILE* file = std::fopen(path_.c_str(), "wb")) {
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);
  }
}

TempFile::~TempFile() { ::DeleteFileA(path_.c_str()); }

ProgramCopy::ProgramCopy(const std::string& from, const std::string& name)
    : path_(binDirectory() + name) {
  const std::size_t backslash = name.find('\\');
  if (backslash != std::string::npos) {
    folder_ = binDirectory() + name.substr(0, backslash);
    ::CreateDirectoryA(folder_.c_str(), nullptr);
  }
  copied_ = ::CopyFileA(from.c_str(), path_.c_str(), FALSE) != FALSE;
}

ProgramCopy::~ProgramCopy() {
  for (int attempt = 0; attempt < 100 && !::DeleteFileA(path_.c_str()); ++attempt) ::Sleep(100);
  if (!folder_.empty()) ::RemoveDirectoryA(folder_.c_str());
}

ULONGLONG nowMs() { return ::GetTickCount64(); }

DWORD serviceProcessId(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed)) {
    return 0;
  }
  return status.dwProcessId;
}

namespace {

/// The process of the running service, opened to wait on and to end; empty
/// when the service has none or it cannot be opened.
KernelHandle openServiceProcess(SC_HANDLE service) {
  const DWORD id = serviceProcessId(service);
  if (id == 0) return KernelHandle();
  // A LocalSystem process grants an administrator no right to end it; the
  // debug privilege does.
  const DebugPrivilege privilege;
  return KernelHandle(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
}

bool hasExited(HANDLE process) { return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

}  // namespace

DebugPrivilege::DebugPrivilege() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return;
  }
  token_ = token;
  TOKEN_PRIVILEGES wanted{};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  DWORD size = 0;
  if (::LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &wanted.Privileges[0].Luid) &&
      ::AdjustTokenPrivileges(token, FALSE, &wanted, sizeof previous_, &previous_, &size) &&
      ::GetLastError() == ERROR_SUCCESS) {
    return;
  }
  previous_.PrivilegeCount = 0;  // nothing changed, nothing to put back
}

DebugPrivilege::~DebugPrivilege() {
  if (token_ == nullptr) return;
  if (previous_.PrivilegeCount != 0) {
    ::AdjustTokenPrivileges(token_, FALSE, &previous_, 0, nullptr, nullptr);
  }
  ::CloseHandle(token_);
}

bool killServiceProcess(SC_HANDLE service) {
  KernelHandle process = openServiceProcess(service);
  if (!process) return false;
  ::TerminateProcess(process.get(), 1);
  return ::WaitForSingleObject(process.get(), 10000) == WAIT_OBJECT_0;
}

bool removeServiceCompletely(const std::string& name, DWORD stopWaitMs, DWORD timeoutMs) {
  const ULONGLONG deadline = deadlineAfter(timeoutMs);
  {
    ScmHandle service = openService(name);
    if (!service) return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    const std::optional<SERVICE_STATUS> status = queryStatus(service.get());
    KernelHandle process = openServiceProcess(service.get());
    // Wine's manager keeps reporting the last state of a service whose process
    // died (terminatedServiceReportsStopped); only a live process is worth stopping.
    if (status && status->dwCurrentState != SERVICE_STOPPED && process &&
        !hasExited(process.get())) {
      SERVICE_STATUS ignored{};
      const bool stopping = status->dwCurrentState == SERVICE_STOP_PENDING ||
                            ::ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
      const ULONGLONG stopDeadline = deadlineAfter(stopping ? stopWaitMs : 0);
      for (;;) {
        const std::optional<SERVICE_STATUS> now = queryStatus(service.get());
        if ((now && now->dwCurrentState == SERVICE_STOPPED) || hasExited(process.get())) break;
        if (passed(stopDeadline)) {
          ::TerminateProcess(process.get(), 1);
          ::WaitForSingleObject(process.get(), 10000);
          break;
        }
        ::Sleep(50);
      }
    }
    ::DeleteService(service.get());
  }
  // The manager drops a deleted service once it is stopped and its last handle
  // is closed.
  const ULONGLONG now = ::GetTickCount64();
  return waitUntilGone(name, deadline > now ? static_cast<DWORD>(deadline - now) : 0);
}

const char* stateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return "STOPPED";
    case SERVICE_START_PENDING:
      return "START_PENDING";
    case SERVICE_STOP_PENDING:
      return "STOP_PENDING";
    case SERVICE_RUNNING:
      return "RUNNING";
    case SERVICE_CONTINUE_PENDING:
      return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING:
      return "PAUSE_PENDING";
    case SERVICE_PAUSED:
      return "PAUSED";
    default:
      return "unknown";
  }
}

}  // namespace vdksvc::e2e
