// vdk_run.exe: runs one program inside Windows and prints what a Linux shell
// cannot see through Wine: the full 32-bit exit status (4294967295 for -1) and
// how much the program wrote. It also serves the harness as a well-behaved child
// process, reports services' states for the demo, and prepares and checks the
// services of the load run (scripts/load.sh).
//
//   vdk_run.exe [--timeout-ms N] [--clock] PROGRAM [ARGUMENT...]
//                                   with --clock, also print when the program was
//                                   created and when it ended, in milliseconds of
//                                   QueryPerformanceCounter: the clock of the test
//                                   service's log
//   vdk_run.exe --state SERVICE...  print each service's state, start type, display
//                                   name and dependency, one line each
//   vdk_run.exe --processes IMAGE...  list the running processes of these program
//                                   file names (without regard to case)
//   vdk_run.exe --tally LISTFILE    count the services of a list file (binary path,
//                                   service name, display name a line) by state:
//                                   one "STATE COUNT (first NAME, error N)" line
//                                   each, with the first service in that state and
//                                   its Win32 exit code (or why it could not be
//                                   opened); GONE for a service the manager does
//                                   not know
//   vdk_run.exe --stop-all LISTFILE  stop the services of a list file that are not
//                                   stopped and wait (10 s each at most) until they
//                                   are; exit status 1 if one is not
//   vdk_run.exe --write-catalogue HOMEDIR FILE  set the product catalogue: HomeDir,
//                                   and ServicesList with one string per non-empty
//                                   line of FILE; exit status 1 on a registry error
//   vdk_run.exe --call-cost LISTFILE  make, for each service of a list file, the
//                                   calls vdksvc.exe -start makes (open the manager
//                                   and the service, start it, query it, close both)
//                                   without its one-second sleep, waiting for
//                                   RUNNING untimed; print the mean time of each
//                                   call: the service manager's share of a run
//   vdk_run.exe --hold-service SERVICE MS [EVENT]  open SERVICE, set the named
//                                   event EVENT (made by the caller) once it is
//                                   open, hold the handle MS ms, then close it: the
//                                   other program whose handle keeps a deleted
//                                   service from going; exit status 1 if either
//                                   cannot be opened
//   vdk_run.exe --exit-code N       exit with N at once, printing nothing
//   vdk_run.exe --sleep-ms N        sleep N ms, then exit with 0
//   vdk_run.exe --echo-args ARG...  print each argument as [ARG] on its own line
//
// Exit status when running a program: 0 when it ran (whatever its own status), 1
// when it could not be started or outlived the timeout, 2 for a bad command line.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "wine_differences.h"

namespace e2e = vdksvc::e2e;

namespace {

const char* startTypeName(DWORD startType) {
  switch (startType) {
    case SERVICE_AUTO_START:
      return "auto";
    case SERVICE_DEMAND_START:
      return "demand";
    case SERVICE_DISABLED:
      return "disabled";
    default:
      return "other";
  }
}

void printState(const std::string& name) {
  const std::optional<SERVICE_STATUS> status = e2e::queryStatus(name);
  const std::optional<e2e::ServiceConfig> config = e2e::queryConfig(name);
  if (!status || !config) {
    std::printf("  %-14s %s\n", name.c_str(),
                e2e::serviceExists(name) ? "cannot be queried" : "not installed");
    return;
  }
  const std::vector<std::string> dependencies = e2e::storedDependencies(name);
  const std::string dependency = dependencies.empty() ? std::string() : dependencies.front();
  std::printf("  %-14s %-14s %-9s %-26s%s%s\n", name.c_str(),
              e2e::stateName(status->dwCurrentState), startTypeName(config->startType),
              ("\"" + config->displayName + "\"").c_str(), dependency.empty() ? "" : "depends on ",
              dependency.c_str());
}

void printProcesses(int count, char** images) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int found = 0;
  for (BOOL more = ::Process32First(snapshot, &entry); more;
       more = ::Process32Next(snapshot, &entry)) {
    for (int i = 0; i < count; ++i) {
      if (::lstrcmpiA(entry.szExeFile, images[i]) == 0) {
        std::printf("  process %-14s id %lu\n", entry.szExeFile, entry.th32ProcessID);
        ++found;
      }
    }
  }
  ::CloseHandle(snapshot);
  if (found == 0) std::printf("  no process of these program files runs\n");
}

/// The non-empty lines of \a path without their line ends; nothing if it cannot be read.
std::optional<std::vector<std::string>> readLines(const char* path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string trimBlanks(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

/// The service names of a list file: the second field of each line that is not a
/// comment and has three fields, as vdksvc.exe reads it (plain ASCII names only).
std::optional<std::vector<std::string>> listedServices(const char* path) {
  const std::optional<std::vector<std::string>> lines = readLines(path);
  if (!lines) return std::nullopt;
  std::vector<std::string> names;
  for (const std::string& line : *lines) {
    if (line[0] == '#') continue;
    const std::size_t first = line.find(',');
    const std::size_t second = first == std::string::npos ? first : line.find(',', first + 1);
    if (second == std::string::npos) continue;
    names.push_back(trimBlanks(line.substr(first + 1, second - first - 1)));
  }
  return names;
}

/// How many services of a list are in one state, and the first of them.
struct StateCount {
  int count = 0;
  std::string first;
  DWORD firstExitCode = 0;
};

int tally(const char* listFile) {
  const std::optional<std::vector<std::string>> names = listedServices(listFile);
  const e2e::ScmHandle manager = e2e::openManager();
  if (!names || !manager) return 1;
  std::map<std::string, StateCount> counts;
  auto add = [&counts](const std::string& state, const std::string& name, DWORD exitCode) {
    StateCount& entry = counts[state];
    if (entry.count++ == 0) {
      entry.first = name;
      entry.firstExitCode = exitCode;
    }
  };
  for (const std::string& name : *names) {
    const e2e::ScmHandle service(::OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
    if (!service) {
      const DWORD error = ::GetLastError();
      add(error == ERROR_SERVICE_DOES_NOT_EXIST ? "GONE" : "UNOPENABLE", name, error);
      continue;
    }
    const std::optional<SERVICE_STATUS> status = e2e::queryStatus(service.get());
    if (status)
      add(e2e::stateName(status->dwCurrentState), name, status->dwWin32ExitCode);
    else
      add("UNQUERYABLE", name, ::GetLastError());
  }
  for (const auto& [state, entry] : counts)
    std::printf("%s %d (first %s, error %lu)\n", state.c_str(), entry.count, entry.first.c_str(),
                entry.firstExitCode);
  return 0;
}

int stopAll(const char* listFile) {
  const std::optional<std::vector<std::string>> names = listedServices(listFile);
  if (!names) return 1;
  int notStopped = 0;
  for (const std::string& name : *names) {
    const e2e::ScmHandle service = e2e::openService(name);
    const std::optional<SERVICE_STATUS> status =
        service ? e2e::queryStatus(service.get()) : std::nullopt;
    if (!status) {
      ++notStopped;
      continue;
    }
    if (status->dwCurrentState == SERVICE_STOPPED) continue;
    SERVICE_STATUS ignored{};
    if (status->dwCurrentState != SERVICE_STOP_PENDING)
      ::ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
    if (!e2e::waitForState(service.get(), SERVICE_STOPPED, 10000)) ++notStopped;
  }
  if (notStopped > 0) std::printf("%d services not stopped\n", notStopped);
  return notStopped > 0 ? 1 : 0;
}

int writeCatalogue(const char* homeDir, const char* stringsFile) {
  const char* key = "SOFTWARE\\Corvane\\Vardeck";
  const std::optional<std::vector<std::string>> strings = readLines(stringsFile);
  if (!strings) {
    std::fprintf(stderr, "cannot read %s\n", stringsFile);
    return 1;
  }
  LONG rc = e2e::setRegistryString(key, "HomeDir", homeDir);
  if (rc == ERROR_SUCCESS) rc = e2e::setRegistryMultiString(key, "ServicesList", *strings);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "registry error %ld\n", rc);
    return 1;
  }
  return 0;
}

double nowMsPrecise() {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER counter{};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int holdService(const char* name, const char* milliseconds, const char* eventName) {
  const e2e::ScmHandle manager = e2e::openManager();
  const e2e::ScmHandle service(manager ? ::OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS)
                                       : nullptr);
  if (!service) return 1;
  if (eventName != nullptr) {
    HANDLE event = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName);
    const bool set = event != nullptr && ::SetEvent(event) != FALSE;
    if (event != nullptr) ::CloseHandle(event);
    if (!set) return 1;
  }
  ::Sleep(static_cast<DWORD>(std::strtoul(milliseconds, nullptr, 10)));
  return 0;
}

int callCost(const char* listFile) {
  const std::optional<std::vector<std::string>> names = listedServices(listFile);
  if (!names || names->empty()) return 1;
  double manager = 0, service = 0, start = 0, query = 0, close = 0;
  int opened = 0;
  for (const std::string& name : *names) {
    const double t0 = nowMsPrecise();
    SC_HANDLE managerHandle = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    const double t1 = nowMsPrecise();
    SC_HANDLE serviceHandle =
        managerHandle ? ::OpenServiceA(managerHandle, name.c_str(), SERVICE_ALL_ACCESS) : nullptr;
    const double t2 = nowMsPrecise();
    manager += t1 - t0;
    service += t2 - t1;
    if (serviceHandle != nullptr) {
      ++opened;
      const double t3 = nowMsPrecise();
      ::StartServiceA(serviceHandle, 0, nullptr);
      const double t4 = nowMsPrecise();
      e2e::waitForState(serviceHandle, SERVICE_RUNNING, 10000);
      SERVICE_STATUS status{};
      const double t5 = nowMsPrecise();
      ::QueryServiceStatus(serviceHandle, &status);
      const double t6 = nowMsPrecise();
      start += t4 - t3;
      query += t6 - t5;
    }
    const double t7 = nowMsPrecise();
    if (serviceHandle != nullptr) ::CloseServiceHandle(serviceHandle);
    if (managerHandle != nullptr) ::CloseServiceHandle(managerHandle);
    close += nowMsPrecise() - t7;
  }
  const double count = static_cast<double>(names->size());
  const double started = opened > 0 ? static_cast<double>(opened) : 1.0;
  std::printf(
      "%zu services, %d opened; ms per service: OpenSCManagerA %.3f, OpenServiceA %.3f, "
      "close %.3f; per opened one: StartServiceA %.3f, QueryServiceStatus %.3f\n",
      names->size(), opened, manager / count, service / count, close / count, start / started,
      query / started);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc >= 3 && mode == "--processes") {
    printProcesses(argc - 2, argv + 2);
    return 0;
  }
  if (argc >= 3 && mode == "--state") {
    for (int i = 2; i < argc; ++i) printState(argv[i]);
    return 0;
  }
  if (argc == 3 && mode == "--tally") return tally(argv[2]);
  if (argc == 3 && mode == "--stop-all") return stopAll(argv[2]);
  if (argc == 3 && mode == "--call-cost") return callCost(argv[2]);
  if (argc == 4 && mode == "--write-catalogue") return writeCatalogue(argv[2], argv[3]);
  if ((argc == 4 || argc == 5) && mode == "--hold-service")
    return holdService(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
  if (argc == 3 && mode == "--exit-code")
    return static_cast<int>(std::strtoul(argv[2], nullptr, 10));
  if (argc == 3 && mode == "--sleep-ms") {
    ::Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    return 0;
  }
  if (mode == "--echo-args") {
    for (int i = 2; i < argc; ++i) std::printf("[%s]\n", argv[i]);
    return 0;
  }

  int first = 1;
  DWORD timeoutMs = 120000;
  if (argc > 2 && std::string(argv[1]) == "--timeout-ms") {
    timeoutMs = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    first = 3;
  }
  const bool clock = first < argc && std::string(argv[first]) == "--clock";
  if (clock) ++first;
  if (first >= argc) {
    std::fprintf(
        stderr,
        "usage: vdk_run.exe [--timeout-ms N] [--clock] PROGRAM [ARGUMENT...]\n"
        "       vdk_run.exe --state SERVICE... | --processes IMAGE...\n"
        "       vdk_run.exe --tally LISTFILE | --stop-all LISTFILE | --call-cost LISTFILE\n"
        "       vdk_run.exe --write-catalogue HOMEDIR FILE\n"
        "       vdk_run.exe --hold-service SERVICE MS [EVENT]\n"
        "       vdk_run.exe --exit-code N | --sleep-ms N | --echo-args ARG...\n");
    return 2;
  }

  std::string commandLine;
  for (int i = first; i < argc; ++i) {
    if (i > first) commandLine += ' ';
    commandLine += e2e::quoteArgument(argv[i]);
  }
  const double created = nowMsPrecise();
  const ULONGLONG start = e2e::nowMs();
  const e2e::RunResult result = e2e::runProgram(commandLine, timeoutMs);
  const ULONGLONG took = e2e::nowMs() - start;
  const double ended = nowMsPrecise();
  if (!result.started) {
    std::printf("could not start (error %lu): %s\n", result.startError, commandLine.c_str());
    return 1;
  }
  std::printf("exit status %lu (0x%08lX), %zu bytes on stdout, %zu on stderr, %.3f s%s",
              result.exitCode, result.exitCode, result.out.size(), result.err.size(),
              static_cast<double>(took) / 1000.0,
              result.timedOut ? ", KILLED after the timeout" : "");
  if (clock) std::printf(", created at %.3f ms, ended at %.3f ms", created, ended);
  std::printf("\n");
  return result.timedOut ? 1 : 0;
}
