// The real vdksvc.exe's extended stop against Wine's processes: every service is
// stopped, then the processes still running one of the list's program files get
// their grace period and are terminated when it is over. The services run copies
// of the test service under file names of this test's own, so that the sweep
// never touches another test's processes.

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "wine_differences.h"

namespace vdksvc::e2e {
namespace {

/// The whole text of the file at \a path; empty when there is none.
std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class ExtendedStopE2e : public ::testing::Test {
 protected:
  void TearDown() override {
    for (HANDLE process : processes_) ::CloseHandle(process);
    for (const std::string& name : services_) EXPECT_TRUE(removeServiceCompletely(name)) << name;
  }

  /// Installs and starts \a name running \a program with \a arguments, until
  /// it reports \a state (a service that never runs is waited for a second).
  void startService(const std::string& name, const std::string& program,
                    const std::string& arguments, DWORD state = SERVICE_RUNNING) {
    ASSERT_TRUE(removeServiceCompletely(name));
    services_.push_back(name);
    const std::string binaryPath = quoteArgument(program) + " " + arguments;
    std::vector<std::string> install{"-install", "-c", binaryPath, name, name};
    if (state != SERVICE_RUNNING) install.insert(install.begin() + 1, {"-t", "1"});
    const RunResult run = runVdksvc(install);
    ASSERT_EQ(0u, run.exitCode);
    ASSERT_TRUE(waitForState(name, state, 20000)) << name;
  }

  /// Starts \a commandLine as a plain process, kept open by the test until its end.
  HANDLE launch(std::string commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
      return nullptr;
    }
    ::CloseHandle(info.hThread);
    return keep(info.hProcess);
  }
  /// \a process, kept open by the test until its end.
  HANDLE keep(HANDLE process) {
    if (process != nullptr) processes_.push_back(process);
    return process;
  }
  /// The service's process, opened to wait on and read its exit code, and kept
  /// open by the test until its end; null when it has none.
  HANDLE processOf(const std::string& name) {
    ScmHandle service = openService(name);
    const DWORD id = service ? serviceProcessId(service.get()) : 0;
    if (id == 0) return nullptr;
    return keep(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  }

 private:
  std::vector<std::string> services_;
  std::vector<HANDLE> processes_;
};

/// The process id the log at \a path gives after \a marker, once it is written
/// (at most ten seconds); 0 when it never is.
DWORD idAfter(const std::string& path, const std::string& marker) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    const std::string log = readFile(path);
    const std::size_t at = log.find(marker);
    if (at != std::string::npos)
      return static_cast<DWORD>(std::stoul(log.substr(at + marker.size())));
    ::Sleep(50);
  }
  return 0;
}

// Without -t, a service whose checkpoint stays for longer than the larger of its
// wait hint and ten seconds is hung, whether it hangs stopping or starting (its
// stop refused meanwhile): the wait for it ends, and the sweep ends its process
// with the other leftovers.
TEST_F(ExtendedStopE2e, LingeringProcessEndsInItsGraceLeftoverWorkerAndHungServiceAreTerminated) {
  const ProgramCopy lingerProgram(testServicePath(), "vdk_sweep_linger.exe");
  const ProgramCopy spawnerProgram(testServicePath(), "vdk_sweep_spawner.exe");
  const ProgramCopy hungProgram(testServicePath(), "vdk_sweep_hung.exe");
  const ProgramCopy startingProgram(testServicePath(), "vdk_sweep_starting.exe");
  ASSERT_TRUE(lingerProgram.copied() && spawnerProgram.copied() && hungProgram.copied() &&
              startingProgram.copied())
      << ::GetLastError();
  const TempFile lingerLog("");
  const TempFile spawnerLog("");
  // Reports stopped at once, then keeps its process ten seconds longer.
  startService("VdkSweepLinger", lingerProgram.path(),
               "--linger-ms 10000 --log " + quoteArgument(lingerLog.path()));
  // Stops cleanly, but leaves behind a worker running the same program file.
  startService("VdkSweepSpawner", spawnerProgram.path(),
               "--spawn-worker --log " + quoteArgument(spawnerLog.path()));
  // Reports STOP_PENDING once when asked to stop, and nothing more.
  startService("VdkSweepHung", hungProgram.path(), "--hang-stop");
  // Reports START_PENDING once when started, and nothing more.
  startService("VdkSweepStarting", startingProgram.path(), "--hang-start", SERVICE_START_PENDING);
  HANDLE linger = processOf("VdkSweepLinger");
  ASSERT_NE(nullptr, linger);
  HANDLE hung = processOf("VdkSweepHung");
  ASSERT_NE(nullptr, hung);
  HANDLE starting = processOf("VdkSweepStarting");
  ASSERT_NE(nullptr, starting);
  const DWORD workerId = idAfter(spawnerLog.path(), "spawned worker ");
  ASSERT_NE(0u, workerId) << readFile(spawnerLog.path());
  HANDLE worker =
      keep(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, workerId));
  ASSERT_NE(nullptr, worker) << ::GetLastError();
  // A program of the same name in another folder is no leftover of the list.
  const ProgramCopy strangerProgram(testServicePath(), "vdk stranger\\vdk_sweep_spawner.exe");
  ASSERT_TRUE(strangerProgram.copied()) << ::GetLastError();
  HANDLE stranger =
      launch(quoteArgument(strangerProgram.path()) + " --worker --max-life-ms 150000");
  ASSERT_NE(nullptr, stranger) << ::GetLastError();

  // The list's own program files, one of them spelt otherwise.
  std::string lingerSpelling = lingerProgram.path();
  for (char& c : lingerSpelling) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
  const TempFile list("\"" + lingerSpelling + "\", VdkSweepLinger, Linger\r\n" +
                      spawnerProgram.path() + ", VdkSweepSpawner, Spawner\r\n" +
                      hungProgram.path() + ", VdkSweepHung, Hung\r\n" + startingProgram.path() +
                      ", VdkSweepStarting, Starting\r\n");
  const ULONGLONG start = nowMs();
  const RunResult run = runVdksvc({"-stopex", "-f", list.path()}, 180000);
  const ULONGLONG took = nowMs() - start;
  ASSERT_TRUE(run.started) << run.startError;
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("", run.err);

  for (const char* name : {"VdkSweepLinger", "VdkSweepSpawner"}) {
    const std::optional<SERVICE_STATUS> status = queryStatus(name);
    ASSERT_TRUE(status.has_value()) << name;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status->dwCurrentState)
        << name << " " << stateName(status->dwCurrentState);
  }
  // The lingering process ended by itself, within its grace.
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(linger, 0));
  EXPECT_NE(std::string::npos, readFile(lingerLog.path()).find("exit"))
      << "terminated rather than left to end:\n"
      << readFile(lingerLog.path());
  // The hung stop and the hung start were each given up after about ten
  // seconds; the worker then had the whole grace, and was terminated with exit
  // code 0 (by itself it could only end through its life limit, with 3).
  EXPECT_GE(took, 10000u + 10000u + 60000u);
  EXPECT_LT(took, 10000u + 10000u + 60000u + 30000u);
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(worker, 0));
  DWORD exitCode = 1;
  ASSERT_TRUE(::GetExitCodeProcess(worker, &exitCode));
  EXPECT_EQ(0u, exitCode);
  EXPECT_EQ(std::string::npos, readFile(spawnerLog.path()).find("worker life limit"));
  for (HANDLE ended : {hung, starting}) {
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(ended, 0));
    ASSERT_TRUE(::GetExitCodeProcess(ended, &exitCode));
    EXPECT_EQ(0u, exitCode) << "the hung services' processes were terminated";
  }
  if (terminatedServiceReportsStopped()) {
    EXPECT_TRUE(waitForState("VdkSweepHung", SERVICE_STOPPED, 10000));
    EXPECT_TRUE(waitForState("VdkSweepStarting", SERVICE_STOPPED, 10000));
  }
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(stranger, 0))
      << "the sweep ended a program of the same name in another folder";
  ::TerminateProcess(stranger, 0);
  ::WaitForSingleObject(stranger, 10000);
}

// A LocalSystem service's process that ignores the stop: an administrator's own
// rights do not reach it, so the sweep ends it only with the debug privilege.
// Windows then reports the service stopped.
TEST_F(ExtendedStopE2e, LocalSystemProcessIsEndedWithTheDebugPrivilege) {
  if (const char* why = processSecurityNotEnforced()) GTEST_SKIP() << why;
  const ProgramCopy program(testServicePath(), "vdk_sweep_system.exe");
  ASSERT_TRUE(program.copied()) << ::GetLastError();
  startService("VdkSweepSystem", program.path(), "--ignore-stop");
  HANDLE process = processOf("VdkSweepSystem");
  ASSERT_NE(nullptr, process);
  HANDLE unprivileged = ::OpenProcess(PROCESS_TERMINATE, FALSE, ::GetProcessId(process));
  if (unprivileged != nullptr) {
    ::CloseHandle(unprivileged);
    GTEST_SKIP() << "this account may end LocalSystem processes without the debug privilege";
  }
  ASSERT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());

  const RunResult run =
      runVdksvc({"-stopex", "-t", "2", "-c", program.path(), "VdkSweepSystem", "x"}, 180000);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(0u, run.exitCode);
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(process, 10000));
  DWORD exitCode = 1;
  ASSERT_TRUE(::GetExitCodeProcess(process, &exitCode));
  EXPECT_EQ(0u, exitCode) << "ended by the sweep";
  EXPECT_TRUE(waitForState("VdkSweepSystem", SERVICE_STOPPED, 10000));
}

// Under code page 932 the byte 0x5C after a lead byte is the second half of a
// character, not a backslash: the image name of this path is that character
// followed by vdk_sweep_victim.exe, which no process has. A byte-wise search
// would take vdk_sweep_victim.exe and end the process of that name. (Program
// files with such names cannot be started under Wine, so the case that does
// match is left to the unit tests.) CTest runs this test with LC_ALL=ja_JP.UTF-8,
// and fails it when it skips.
TEST_F(ExtendedStopE2e, DoubleByteBinaryPathMatchesNoWrongProcess) {
  if (::GetACP() != 932) GTEST_SKIP() << "needs the Japanese ANSI code page 932";
  const ProgramCopy victimProgram(runnerPath(), "vdk_sweep_victim.exe");
  ASSERT_TRUE(victimProgram.copied()) << ::GetLastError();
  HANDLE victim = launch(quoteArgument(victimProgram.path()) + " --sleep-ms 120000");
  ASSERT_NE(nullptr, victim) << ::GetLastError();

  const TempFile list("C:\\App\\\x95\x5Cvdk_sweep_victim.exe, VdkSweepNoSuchService, Victim\r\n");
  const RunResult run = runVdksvc({"-stopex", "-f", list.path()}, 180000);
  ASSERT_TRUE(run.started) << run.startError;
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(victim, 0))
      << "the sweep ended a process it does not match";
  ::TerminateProcess(victim, 0);
  ::WaitForSingleObject(victim, 10000);
}

}  // namespace
}  // namespace vdksvc::e2e
