// Faults that strike in the middle of a run: another program or the system
// changes the world between two calls of the command. Each run must end with
// its usual status, go on to the next entry, and release everything it opened.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "command/command.h"
#include "lists/registry_catalogue.h"
#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

struct FaultCase {
  const char* what;
  std::vector<std::string> operands;
  const char* strikesBefore;  ///< call-log line of the call the fault precedes
  unsigned occurrence;
  std::function<void(SimulatedPlatform&)> fault;
  int status;
  Dword firstState;            ///< state of service "First" afterwards; 0: the service is gone
  Dword nextState;             ///< state of service "Next" afterwards, the entry after the fault
  std::uint64_t virtualMs;     ///< the waits' time, each until its service got there
  const char* logs = nullptr;  ///< a token of the step log
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.what; }

constexpr const char* kList = "C:\\App\\First.exe, First, One\nC:\\App\\Next.exe, Next, Two\n";

// clang-format off
const FaultCase kFaults[] = {
    {"manager refuses access to the first entry only", {"-stop"}, "OpenSCManagerA", 1,
     [](SimulatedPlatform& sim) {
       sim.setManagerOpenRefused(true);
       sim.beforeCall("OpenSCManagerA", [&sim] { sim.setManagerOpenRefused(false); });
     },
     0, svc::kRunning, svc::kStopped, 2500},
    {"service deleted between open and stop", {"-stop"}, "ControlService First 1", 1,
     [](SimulatedPlatform& sim) { sim.deleteService("First"); },
     0, 0, svc::kStopped, 2500 + 2500},
    {"service deleted between open and start", {"-start"}, "StartServiceA First", 1,
     [](SimulatedPlatform& sim) { sim.deleteService("First"); },
     0, 0, svc::kRunning, 2500},
    {"service deleted between open and pause", {"-pause"}, "ControlService First 2", 1,
     [](SimulatedPlatform& sim) { sim.deleteService("First"); },
     0, svc::kPaused, svc::kPaused, 0},
    {"service deleted between open and start-type change", {"-startup", "-disabled"},
     "ChangeServiceConfigA First", 1,
     [](SimulatedPlatform& sim) { sim.deleteService("First"); },
     0, svc::kRunning, svc::kRunning, 0},
    {"service deleted between open and removal", {"-remove"}, "DeleteService First", 1,
     [](SimulatedPlatform& sim) { sim.deleteService("First"); },
     0, 0, 0, 2500 + 2500},
    {"status query fails in the middle of the wait", {"-stop"}, "QueryServiceStatus First", 2,
     [](SimulatedPlatform& sim) { sim.setQueryFails("First", true); },
     0, svc::kStopped, svc::kStopped, 2500},
    {"status query fails at once", {"-start"}, "QueryServiceStatus First", 1,
     [](SimulatedPlatform& sim) { sim.setQueryFails("First", true); },
     0, svc::kRunning, svc::kRunning, 2500},
    {.what = "installation behind a deletion another program's handle holds up", .operands = {"-install"},
     .strikesBefore = "CreateServiceA First", .occurrence = 1,
     .fault = [](SimulatedPlatform& sim) { sim.holdService("First", 2000); sim.deleteService("First"); },
     .status = 0, .firstState = svc::kRunning, .nextState = svc::kStopped, .virtualMs = 2000},
    {.what = "installation behind a deletion that does not finish", .operands = {"-install"},
     .strikesBefore = "CreateServiceA First", .occurrence = 1,
     .fault = [](SimulatedPlatform& sim) { sim.holdService("First", 40000); sim.deleteService("First"); },
     .status = 0, .firstState = svc::kStopped, .nextState = svc::kStopped, .virtualMs = 30000, .logs = "still holds a handle"},
};
// clang-format on

class FaultTest : public SimulatedTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, RunEndsWithItsStatusAndTheNextEntryIsHandled) {
  const FaultCase& c = GetParam();
  const bool startsStopped = c.operands.front() == "-start" || c.operands.front() == "-install";
  for (const char* name : {"First", "Next"}) {
    SimulatedPlatform::ServiceConfig config =
        serviceNamed(name, startsStopped ? svc::kStopped : svc::kRunning);
    config.stopPendingMs = 2500;
    config.startPendingMs = 2500;
    sim.addService(config);
  }
  sim.beforeCall(
      c.strikesBefore, [this, &c] { c.fault(sim); }, c.occurrence);

  sim.setFileContents("list.lst", kList);
  std::vector<std::string> operands = c.operands;
  if (operands.front() == "-startup") {
    operands.insert(operands.end(), {"First", "One", "-disabled", "Next", "Two"});
  } else {
    operands.insert(operands.end(), {"-f", "list.lst"});
  }
  Args args(operands);
  {
    StepLog log(sim, "C:\\Logs\\vdksvc.log");
    EXPECT_EQ(c.status, runCommand(sim, args.argc(), args.argv(), log));
  }

  const auto first = sim.service("First");
  EXPECT_EQ(c.firstState, first ? first->currentState : 0);
  const auto next = sim.service("Next");
  EXPECT_EQ(c.nextState, next ? next->currentState : 0);
  EXPECT_THAT(sim.nowMs(), tookAbout(c.virtualMs, 2));
  EXPECT_THAT(sim.calls(), Contains(AnyOf("OpenServiceA Next", "CreateServiceA Next")))
      << "the next entry was handled";
  if (c.logs != nullptr) {
    EXPECT_THAT(sim.fileContents("C:\\Logs\\vdksvc.log").value_or(""), HasSubstr(c.logs));
  }
  EXPECT_TRUE(managerClosedLast(sim.calls()));
}

INSTANTIATE_TEST_SUITE_P(MidRun, FaultTest, ::testing::ValuesIn(kFaults), caseName<FaultCase>);

// The registry changes while the command reads it.
class RegistryFaultTest : public SimulatedTest {
 protected:
  void SetUp() override {
    sim.setText(kProductKey, "HomeDir", "C:\\Vardeck");
    sim.setMultiText(kProductKey, "ServicesList", {"hub.exe, hubkeep, Hub"});
  }
  int run(std::vector<std::string> operands) {
    Args args(operands);
    return runCommand(sim, args.argc(), args.argv());
  }
};

TEST_F(RegistryFaultTest, CatalogueKeyDeletedBetweenSizeQueryAndReadRefusesTheList) {
  sim.addService(serviceNamed("hubkeep", svc::kRunning));
  sim.beforeCall(
      "RegQueryValueExA ServicesList", [this] { sim.removeKey(kProductKey); }, 2);
  EXPECT_EQ(-1, run({"-stop"}));
  EXPECT_THAT(sim.calls(), Not(Contains("OpenSCManagerA")));
  EXPECT_EQ(svc::kRunning, sim.service("hubkeep")->currentState);
}

TEST_F(RegistryFaultTest, CatalogueValueGrownBetweenSizeQueryAndReadRefusesTheList) {
  sim.beforeCall(
      "RegQueryValueExA ServicesList",
      [this] {
        sim.setMultiText(kProductKey, "ServicesList", {"hub.exe, hubkeep, Hub", "a, b, c"});
      },
      2);
  EXPECT_EQ(-1, run({"-stop"}));
  EXPECT_THAT(sim.calls(), Not(Contains("OpenSCManagerA")));
}

TEST_F(RegistryFaultTest, InstanceKeyDeletedBetweenSizeQueryAndReadFallsBackToTheDefault) {
  // The instance name cannot be read, so the database rule falls back to the
  // default instance, which is installed here.
  sim.setNumber(kProductKey, "DBSrvRemoteFlag", 0);
  sim.setText(kDatabaseKey, "DBInstanceName", "VARDECK01");
  sim.addService(serviceNamed("MSSQL$VDKDBI", svc::kRunning));
  sim.addService(serviceNamed("MSSQL$VARDECK01", svc::kRunning));
  sim.beforeCall(
      "RegQueryValueExA DBInstanceName", [this] { sim.removeKey(kDatabaseKey); }, 2);
  EXPECT_EQ(0, run({"-install"}));
  ASSERT_TRUE(sim.service("hubkeep"));
  EXPECT_EQ(std::vector<std::string>{"MSSQL$VDKDBI"}, sim.service("hubkeep")->config.dependencies);
  EXPECT_EQ(svc::kRunning, sim.service("hubkeep")->currentState);
}

// Processes end on their own while the extended stop sweeps.
class SweepFaultTest : public SimulatedTest {
 protected:
  void SetUp() override {
    sim.addService(serviceNamed("Loom", svc::kRunning));
    sim.addProcess({21, "Loom.exe"});
    sim.addProcess({22, "Loom.exe"});
  }
  int run() {
    Args args({"-stopex", "-c", "C:\\App\\Loom.exe", "Loom", "Loom"});
    return runCommand(sim, args.argc(), args.argv());
  }
};

TEST_F(SweepFaultTest, ProcessEndedBetweenSnapshotAndOpenIsLeftOut) {
  sim.beforeCall("OpenProcess 21", [this] { sim.endProcess(21, 7); });
  EXPECT_EQ(0, run());
  EXPECT_THAT(sim.calls(), Contains("WaitForMultipleObjects 1 60000"));
  EXPECT_EQ(7u, sim.process(21)->exitCode) << "its own exit, not a termination";
  EXPECT_FALSE(sim.process(21)->terminated);
  EXPECT_TRUE(sim.process(22)->terminated);
  EXPECT_EQ(60000u, sim.nowMs()) << "a stop that ends at once, then the whole grace";
}

TEST_F(SweepFaultTest, EveryProcessEndedBetweenOpenAndWaitEndsTheWaitAtOnce) {
  sim.beforeCall("WaitForMultipleObjects 2 60000", [this] {
    sim.endProcess(21);
    sim.endProcess(22);
  });
  EXPECT_EQ(0, run());
  EXPECT_THAT(sim.calls(), Not(Contains(::testing::StartsWith("TerminateProcess"))));
  EXPECT_EQ(0u, sim.nowMs()) << "a stop that ends at once, no grace spent";
}

}  // namespace
}  // namespace vdksvc
