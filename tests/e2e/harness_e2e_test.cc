// Checks of the harness itself: the child runner sees exit codes and output, the
// registry helpers write what the API reads back, and the test service moves
// through the states the service control manager reports.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_fixture.h"
#include "e2e_support.h"
#include "wine_differences.h"

namespace vdksvc::e2e {
namespace {

TEST(HarnessE2e, RunnerSeesExitCodeAndOutput) {
  const RunResult run = runProgram("cmd.exe /c echo to-out& echo to-err 1>&2& exit 7", 60000);
  ASSERT_TRUE(run.started) << run.startError;
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(7u, run.exitCode);
  EXPECT_NE(std::string::npos, run.out.find("to-out")) << run.out;
  EXPECT_NE(std::string::npos, run.err.find("to-err")) << run.err;
}

TEST(HarnessE2e, RunnerReportsAll32BitsOfTheExitCode) {
  const std::string runner = quoteArgument(runnerPath());
  for (DWORD code : {0u, 1u, 255u, 256u, 4294967295u}) {
    const RunResult run = runProgram(runner + " --exit-code " + std::to_string(code), 60000);
    ASSERT_TRUE(run.started) << run.startError;
    EXPECT_EQ(code, run.exitCode);
    EXPECT_EQ("", run.out);
  }
}

TEST(HarnessE2e, RunnerKillsOnTimeout) {
  const RunResult slow = runProgram(quoteArgument(runnerPath()) + " --sleep-ms 60000", 500);
  ASSERT_TRUE(slow.started) << slow.startError;
  EXPECT_TRUE(slow.timedOut);
  EXPECT_EQ(0xDEADu, slow.exitCode);
}

TEST(HarnessE2e, QuotedArgumentsSurviveTheRuntime) {
  const std::vector<std::string> samples = {"",
                                            "plain",
                                            "two words",
                                            "tab\there",
                                            "-stop now",
                                            "quote\"inside",
                                            "trailing\\",
                                            "c:\\dir with space\\",
                                            "back\\\\\"slashes",
                                            "\"\""};
  std::string commandLine = quoteArgument(runnerPath()) + " --echo-args";
  std::string expected;
  for (const std::string& sample : samples) {
    // Appended piece by piece: GCC 12 misreads `a += "x" + b` with -Wrestrict.
    commandLine.append(" ").append(quoteArgument(sample));
    expected.append("[").append(sample).append("]\r\n");
  }
  const RunResult run = runProgram(commandLine, 60000);
  ASSERT_TRUE(run.started) << run.startError;
  EXPECT_EQ(0u, run.exitCode);
  // The C runtime writes text mode: "\n" arrives as "\r\n".
  EXPECT_EQ(expected, run.out);
}

TEST(HarnessE2e, RegistryValuesReadBack) {
  const std::string key = "SOFTWARE\\Corvane\\HarnessCheck";
  ASSERT_EQ(ERROR_SUCCESS, setRegistryString(key, "Text", "C:\\Vardeck"));
  ASSERT_EQ(ERROR_SUCCESS, setRegistryMultiString(key, "List", {"one", "two"}));
  ASSERT_EQ(ERROR_SUCCESS, setRegistryDword(key, "Number", 42));

  HKEY opened = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened));
  char text[64] = {};
  DWORD type = 0;
  DWORD size = sizeof(text);
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(opened, "Text", nullptr, &type, reinterpret_cast<BYTE*>(text), &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_STREQ("C:\\Vardeck", text);
  char list[64] = {};
  size = sizeof(list);
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(opened, "List", nullptr, &type, reinterpret_cast<BYTE*>(list), &size));
  EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
  EXPECT_EQ(std::string("one\0two\0\0", 9), std::string(list, size));
  DWORD number = 0;
  size = sizeof(number);
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(opened, "Number", nullptr, &type,
                                            reinterpret_cast<BYTE*>(&number), &size));
  EXPECT_EQ(42u, number);
  RegCloseKey(opened);

  ASSERT_EQ(ERROR_SUCCESS, deleteRegistryTree(key));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened));
  EXPECT_EQ(ERROR_SUCCESS, deleteRegistryTree(key));  // already gone is fine
}

/// One test service per test, removed again whatever the test did.
class TestServiceE2e : public ServiceManagerE2e {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    name_ = std::string("VdkE2e") + info->name();
    ServiceManagerE2e::SetUp();
    if (stopped()) return;
    ASSERT_TRUE(removeServiceCompletely(name_));
  }
  void TearDown() override { EXPECT_TRUE(removeServiceCompletely(name_)); }

  /// Polls until \a state or \a timeoutMs; returns the distinct states seen.
  std::vector<DWORD> watchUntil(SC_HANDLE service, DWORD state, DWORD timeoutMs) {
    std::vector<DWORD> seen;
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
      const std::optional<SERVICE_STATUS> status = queryStatus(service);
      if (status && (seen.empty() || seen.back() != status->dwCurrentState)) {
        seen.push_back(status->dwCurrentState);
      }
      if ((status && status->dwCurrentState == state) || ::GetTickCount64() >= deadline) {
        return seen;
      }
      ::Sleep(50);
    }
  }

  static std::string describe(const std::vector<DWORD>& states) {
    std::string text;
    for (DWORD state : states) text += std::string(stateName(state)) + " ";
    return text;
  }

  std::string name_;
};

TEST_F(TestServiceE2e, StartPauseContinueStop) {
  TestServiceOptions options;
  options.startPendingMs = 1500;
  options.pausePendingMs = 600;
  options.continuePendingMs = 600;
  options.stopPendingMs = 1000;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), createTestService(name_, options));
  ScmHandle service = openService(name_);
  ASSERT_TRUE(service);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), queryStatus(service.get())->dwCurrentState);

  ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
  std::vector<DWORD> seen = watchUntil(service.get(), SERVICE_RUNNING, 20000);
  EXPECT_EQ((std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING}), seen) << describe(seen);
  SERVICE_STATUS status = *queryStatus(service.get());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE),
            status.dwControlsAccepted);

  ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_PAUSE, &status)) << GetLastError();
  EXPECT_EQ(static_cast<DWORD>(SERVICE_PAUSE_PENDING), status.dwCurrentState);
  seen = watchUntil(service.get(), SERVICE_PAUSED, 20000);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_PAUSED), seen.back()) << describe(seen);

  ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_CONTINUE, &status)) << GetLastError();
  EXPECT_EQ(static_cast<DWORD>(SERVICE_CONTINUE_PENDING), status.dwCurrentState);
  seen = watchUntil(service.get(), SERVICE_RUNNING, 20000);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), seen.back()) << describe(seen);

  ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), status.dwCurrentState);
  EXPECT_GT(status.dwWaitHint, 0u);
  seen = watchUntil(service.get(), SERVICE_STOPPED, 20000);
  EXPECT_EQ((std::vector<DWORD>{SERVICE_STOP_PENDING, SERVICE_STOPPED}), seen) << describe(seen);
}

TEST_F(TestServiceE2e, RefusedControls) {
  TestServiceOptions options;
  options.noStop = true;
  options.noPause = true;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), createTestService(name_, options));
  ScmHandle service = openService(name_);
  ASSERT_TRUE(service);
  ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
  ASSERT_TRUE(waitForState(service.get(), SERVICE_RUNNING, 20000));
  EXPECT_EQ(0u, queryStatus(service.get())->dwControlsAccepted);

  SERVICE_STATUS status{};
  for (DWORD control :
       {static_cast<DWORD>(SERVICE_CONTROL_PAUSE), static_cast<DWORD>(SERVICE_CONTROL_STOP)}) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ControlService(service.get(), control, &status)) << "control " << control;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL), GetLastError())
        << "control " << control;
  }
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), queryStatus(service.get())->dwCurrentState);
  // TearDown cannot stop it either: it ends the service's process instead, at once
  // because the stop control is refused.
}

TEST_F(TestServiceE2e, IgnoredStopStaysPending) {
  TestServiceOptions options;
  options.ignoreStop = true;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), createTestService(name_, options));
  ScmHandle service = openService(name_);
  ASSERT_TRUE(service);
  ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
  ASSERT_TRUE(waitForState(service.get(), SERVICE_RUNNING, 20000));

  SERVICE_STATUS status{};
  ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
  const std::vector<DWORD> seen = watchUntil(service.get(), SERVICE_STOPPED, 2500);
  EXPECT_EQ(std::vector<DWORD>{SERVICE_STOP_PENDING}, seen) << describe(seen);
  const DWORD firstCheckPoint = status.dwCheckPoint;
  EXPECT_GT(queryStatus(service.get())->dwCheckPoint, firstCheckPoint);

  // It would never stop: end its process rather than let TearDown wait for it.
  EXPECT_TRUE(killServiceProcess(service.get()));
  const DWORD reported = terminatedServiceReportsStopped() ? SERVICE_STOPPED : SERVICE_STOP_PENDING;
  EXPECT_TRUE(waitForState(service.get(), reported, 10000))
      << stateName(queryStatus(service.get())->dwCurrentState);
}

TEST_F(TestServiceE2e, LingersAfterReportingStopped) {
  TestServiceOptions options;
  options.lingerMs = 3000;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), createTestService(name_, options));
  ScmHandle service = openService(name_);
  ASSERT_TRUE(service);
  ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
  ASSERT_TRUE(waitForState(service.get(), SERVICE_RUNNING, 20000));

  SERVICE_STATUS_PROCESS info{};
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                   reinterpret_cast<BYTE*>(&info), sizeof(info), &needed));
  ASSERT_NE(0u, info.dwProcessId);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, info.dwProcessId);
  ASSERT_NE(nullptr, process) << GetLastError();

  SERVICE_STATUS status{};
  ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
  ASSERT_TRUE(waitForState(service.get(), SERVICE_STOPPED, 20000));
  // Reported stopped, yet the program is still there for a while, then goes.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process, 1000));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process, 20000));
  CloseHandle(process);
}

}  // namespace
}  // namespace vdksvc::e2e
