// vdk_run.exe: runs one program inside Windows and prints what a Linux shell
// cannot see through Wine: the full 32-bit exit status (4294967295 for -1) and
// how much the program wrote. It also serves the harness as a well-behaved child
// process and reports a service's state, for the demo.
//
//   vdk_run.exe [--timeout-ms N] PROGRAM [ARGUMENT...]
//   vdk_run.exe --state SERVICE     print the service's current state
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

int printState(const std::string& name) {
  const std::optional<SERVICE_STATUS> status = e2e::queryStatus(name);
  if (status) {
    std::printf("%s: %s\n", name.c_str(), e2e::stateName(status->dwCurrentState));
  } else {
    std::printf("%s: %s\n", name.c_str(),
                e2e::serviceExists(name) ? "cannot be queried" : "not installed");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc == 3 && mode == "--state") return printState(argv[2]);
  if (argc == 3 && mode == "--exit-code") return static_cast<int>(std::strtoul(argv[2], nullptr, 10));
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
    std::fprintf(stderr, "usage: vdk_run.exe [--timeout-ms N] PROGRAM [ARGUMENT...]\n"
                         "       vdk_run.exe --state SERVICE\n"
                         "       vdk_run.exe --exit-code N | --sleep-ms N | --echo-args ARG...\n");
    return 2;
  }

  std::string commandLine;
  for (int i = first; i < argc; ++i) {
    if (i > first) commandLine += ' ';
    commandLine += e2e::quoteArgument(argv[i]);
  }
  const e2e::RunResult result = e2e::runProgram(commandLine, timeoutMs);
  if (!result.started) {
    std::printf("could not start (error %lu): %s\n", result.startError, commandLine.c_str());
    return 1;
  }
  std::printf("exit status %lu (0x%08lX), %zu bytes on stdout, %zu on stderr%s\n",
              result.exitCode, result.exitCode, result.out.size(), result.err.size(),
              result.timedOut ? ", KILLED after the timeout" : "");
  return result.timedOut ? 1 : 0;
}
