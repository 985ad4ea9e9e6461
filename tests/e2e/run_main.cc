// vdk_run.exe: runs one program inside Windows and prints what a Linux shell
// cannot see through Wine: the full 32-bit exit status (4294967295 for -1) and
// how much the program wrote. It also serves the harness as a well-behaved child
// process and reports a service's state, for the demo.
//
//   vdk_run.exe [--timeout-ms N] PROGRAM [ARGUMENT...]
//   vdk_run.exe --state SERVICE...  print each service's state, start type, display
//                                   name and dependency, one line each
//   vdk_run.exe --processes IMAGE...  list the running processes of these program
//                                   file names (without regard to case)
//   vdk_run.exe --exit-code N       exit with N at once, printing nothing
//   vdk_run.exe --sleep-ms N        sleep N ms, then exit with 0
//   vdk_run.exe --echo-args ARG...  print each argument as [ARG] on its own line
//
// Exit status when running a program: 0 when it ran (whatever its own status), 1
// when it could not be started or outlived the timeout, 2 for a bad command line.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "e2e_support.h"

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
  const std::string dependency = e2e::storedDependency(name);
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
  if (first >= argc) {
    std::fprintf(stderr,
                 "usage: vdk_run.exe [--timeout-ms N] PROGRAM [ARGUMENT...]\n"
                 "       vdk_run.exe --state SERVICE... | --processes IMAGE...\n"
                 "       vdk_run.exe --exit-code N | --sleep-ms N | --echo-args ARG...\n");
    return 2;
  }

  std::string commandLine;
  for (int i = first; i < argc; ++i) {
    if (i > first) commandLine += ' ';
    commandLine += e2e::quoteArgument(argv[i]);
  }
  const ULONGLONG start = e2e::nowMs();
  const e2e::RunResult result = e2e::runProgram(commandLine, timeoutMs);
  const ULONGLONG took = e2e::nowMs() - start;
  if (!result.started) {
    std::printf("could not start (error %lu): %s\n", result.startError, commandLine.c_str());
    return 1;
  }
  std::printf("exit status %lu (0x%08lX), %zu bytes on stdout, %zu on stderr, %.1f s%s\n",
              result.exitCode, result.exitCode, result.out.size(), result.err.size(),
              static_cast<double>(took) / 1000.0,
              result.timedOut ? ", KILLED after the timeout" : "");
  return result.timedOut ? 1 : 0;
}
