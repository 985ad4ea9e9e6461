#include "command/command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "command/command_line.h"
#include "command/usage.h"
#include "lists/registry_catalogue.h"
#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

class RecogniseCommandTest : public SimulatedTest {
 protected:
  /// The keyword of the command \a text names; empty for none.
  std::string recognise(std::string text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    const CommandRow* row = recogniseCommand(sim, buffer.data());
    lastText = buffer.data();
    return row != nullptr ? row->keyword : "";
  }
  std::string lastText;
};

TEST_F(RecogniseCommandTest, EveryKeywordWithDashOrSlashAndInTheUsageText) {
  TextOutput out(sim, file::kStdOutputHandle);
  writeUsage(out);
  for (const CommandRow& row : commandTable()) {
    EXPECT_EQ(row.keyword, recognise(std::string("-") + row.keyword));
    EXPECT_EQ(row.keyword, recognise(std::string("/") + row.keyword));
    EXPECT_THAT(sim.standardStream(file::kStdOutputHandle),
                HasSubstr(std::string("\n  -") + row.keyword + " "));
  }
}

TEST_F(RecogniseCommandTest, CaseDoesNotMatterAndTheTextIsLoweredInPlace) {
  EXPECT_EQ("stop", recognise("-STOP"));
  EXPECT_EQ("-stop", lastText);
  EXPECT_EQ("stop", recognise("/Stop"));
  EXPECT_EQ("start", recognise("-Start"));
  EXPECT_EQ("pause", recognise("/pause"));
  EXPECT_EQ("continue", recognise("-CoNtInUe"));
  EXPECT_EQ("install", recognise("/INSTALL"));
  EXPECT_EQ("remove", recognise("-Remove"));
  EXPECT_EQ("stopex", recognise("-StopEx"));
  EXPECT_EQ("startup", recognise("-STARTUP"));
}

TEST_F(RecogniseCommandTest, LongerAndShorterKeywordsAreDistinct) {
  EXPECT_EQ("startup", recognise("-startup"));
  EXPECT_EQ("stopex", recognise("-stopex"));
  EXPECT_EQ("", recognise("-stopx"));
  EXPECT_EQ("", recognise("-st"));
  EXPECT_EQ("", recognise("-starts"));
  EXPECT_EQ("", recognise("-pauses"));
  EXPECT_EQ("", recognise("-s"));
}

TEST_F(RecogniseCommandTest, OnlyTheLastWordOfTheArgumentCounts) {
  EXPECT_EQ("remove", recognise("x -remove"));
  EXPECT_EQ("remove", recognise("\t -stop  -remove"));
  EXPECT_EQ("pause", recognise("anything at all /pause"));
  // The comparison runs to the end of the argument, so a keyword followed by
  // another word, or by a blank, is not recognised.
  EXPECT_EQ("", recognise("-stop now"));
  EXPECT_EQ("", recognise("-stop "));
  EXPECT_EQ("", recognise("-remove x"));
}

TEST_F(RecogniseCommandTest, NearMissesAndOtherTextGiveNone) {
  EXPECT_EQ("", recognise(""));
  EXPECT_EQ("", recognise("stop"));
  EXPECT_EQ("", recognise("--stop"));
  EXPECT_EQ("", recognise("-"));
  EXPECT_EQ("", recognise("/"));
  EXPECT_EQ("", recognise("   "));
  EXPECT_EQ("", recognise("-x"));
  EXPECT_EQ("", recognise("-installer"));
  EXPECT_EQ("", recognise("-continu"));
  EXPECT_EQ("", recognise("-st\xC3op"));
  EXPECT_EQ(nullptr, recogniseCommand(sim, nullptr));
}

TEST_F(RecogniseCommandTest, OnlyLettersOfOtherCommandsLeaveTheTextAlone) {
  recognise("-XYZ");
  EXPECT_EQ("-XYZ", lastText);
  recognise("-SOMETHING");
  EXPECT_EQ("-something", lastText);
}

class RunCommandTest : public SimulatedTest {
 protected:
  int run(Args args) { return runCommand(sim, args.argc(), args.argv()); }
  /// True when the run reached the service control manager at all.
  bool touchedServices() const {
    for (const std::string& call : sim.calls()) {
      if (call.rfind("OpenSCManagerA", 0) == 0 || call.rfind("CreateServiceA", 0) == 0) return true;
    }
    return false;
  }
};

TEST_F(RunCommandTest, NoArgumentOrNoCommandFails) {
  EXPECT_EQ(-1, run({}));
  EXPECT_EQ(-1, run({""}));
  EXPECT_EQ(-1, run({"stop"}));
  EXPECT_EQ(-1, run({"-stopx"}));
  EXPECT_EQ(-1, run({"-stop now"}));
  EXPECT_EQ(-1, runCommand(sim, 0, nullptr));
  EXPECT_FALSE(touchedServices());
}

TEST_F(RunCommandTest, OperandErrorsFailBeforeAnyServiceIsTouched) {
  EXPECT_EQ(-1, run({"-stop", "svc"}));
  EXPECT_EQ(-1, run({"-start", "-c", "a", "b"}));
  EXPECT_EQ(-1, run({"-pause", "-t", "0", "-c", "a", "b", "c"}));
  EXPECT_EQ(-1, run({"-remove"}));  // no catalogue in this registry
  EXPECT_FALSE(touchedServices());
}

TEST_F(RunCommandTest, StartupWithNothingToDoSucceeds) {
  EXPECT_EQ(0, run({"-startup"}));
  EXPECT_EQ(0, run({"-startup", "auto", "Svc", "Name"}));
  EXPECT_EQ(0, run({"-startup", "-manual", "Svc", "Name"}));
  EXPECT_FALSE(touchedServices());
  EXPECT_THAT(sim.calls(), Not(Contains(HasSubstr("RegOpenKeyExA"))));
}

TEST_F(RunCommandTest, EachCommandAppliesItsOperation) {
  sim.addService(serviceNamed("Svc", svc::kRunning));
  const std::pair<std::vector<std::string>, std::string> commands[] = {
      {{"-pause", "-c", "x", "Svc", "x"}, "ControlService Svc 2"},
      {{"-continue", "-c", "x", "Svc", "x"}, "ControlService Svc 3"},
      {{"-stop", "-c", "x", "Svc", "x"}, "ControlService Svc 1"},
      {{"-start", "-c", "x", "Svc", "x"}, "StartServiceA Svc"},
      {{"-startup", "-demand", "Svc", "Name"}, "ChangeServiceConfigA Svc"},
      {{"-remove", "-c", "x", "Svc", "x"}, "DeleteService Svc"},
      {{"-install", "-c", "C:\\App\\svc.exe", "Svc", "Name"}, "CreateServiceA Svc"},
  };
  for (const auto& [operands, request] : commands) {
    sim.clearCalls();
    EXPECT_EQ(0, run(Args(operands))) << operands[0];
    EXPECT_EQ(1u, countCalls(sim.calls(), request)) << operands[0];
  }
  EXPECT_EQ(svc::kRunning, sim.service("Svc")->currentState) << "installed anew and started";
}

TEST_F(RunCommandTest, AFailingEntryDoesNotStopTheNext) {
  for (const char* name : {"First", "Last"}) {
    SimulatedPlatform::ServiceConfig config = serviceNamed(name, svc::kRunning);
    config.stopPendingMs = 500;
    sim.addService(config);
  }
  sim.setFileContents("list.lst", "x.exe, First, One\nx.exe, Missing, Gone\nx.exe, Last, Two\n");
  EXPECT_EQ(0, run({"-stop", "-f", "list.lst"}));
  EXPECT_EQ(svc::kStopped, sim.service("First")->currentState);
  EXPECT_EQ(svc::kStopped, sim.service("Last")->currentState);
  std::vector<std::string> opened;
  for (const std::string& call : sim.calls()) {
    if (call.rfind("OpenServiceA ", 0) == 0) opened.push_back(call.substr(13));
  }
  EXPECT_EQ((std::vector<std::string>{"First", "Missing", "Last"}), opened) << "in list order";
  EXPECT_TRUE(managerClosedLast(sim.calls()));
}

TEST_F(RunCommandTest, ExtendedStopStopsEveryEntryThenSweepsOnce) {
  for (const char* name : {"Hub", "Loom"}) {
    SimulatedPlatform::ServiceConfig config = serviceNamed(name, svc::kRunning);
    config.stopPendingMs = 500;
    sim.addService(config);
  }
  sim.addProcess({10, "Hub.exe", 30000, false});  // ends within the grace
  sim.addProcess({11, "Loom.exe"});               // never ends by itself
  sim.setFileContents("list.lst", "C:\\App\\Hub.exe, Hub, Hub\nC:\\App\\Loom.exe, Loom, Loom\n");
  EXPECT_EQ(0, run({"-stopex", "-f", "list.lst"}));

  EXPECT_EQ(svc::kStopped, sim.service("Hub")->currentState);
  EXPECT_EQ(svc::kStopped, sim.service("Loom")->currentState);
  const std::vector<std::string>& calls = sim.calls();
  EXPECT_EQ(1u, countCalls(calls, "CreateToolhelp32Snapshot"));
  const auto lastStop = std::find(calls.rbegin(), calls.rend(), "ControlService Loom 1");
  const auto sweep = std::find(calls.rbegin(), calls.rend(), "CreateToolhelp32Snapshot");
  EXPECT_LT(sweep - calls.rbegin(), lastStop - calls.rbegin()) << "the sweep follows the stops";
  EXPECT_FALSE(sim.process(10)->terminated);
  EXPECT_TRUE(sim.process(11)->terminated);
  EXPECT_THAT(sim.nowMs(), tookAbout(500 + 500 + 60000, 2)) << "the stops, then the whole grace";
}

// Each command asks for only the rights it uses: an operator granted exactly
// those is served, and with any one of them less every entry is refused, which
// fails the run as a refused list does.
struct RightsCase {
  const char* what;
  std::vector<std::string> arguments;  ///< acting on the service "Svc" with -e
  Dword seedState;
  Dword managerRights;  ///< exactly what the command needs
  Dword serviceRights;
};

void PrintTo(const RightsCase& c, std::ostream* os) { *os << c.what; }

constexpr Dword kConnect = svc::kManagerConnect;
constexpr Dword kQueryStatus = svc::kServiceQueryStatus;

// clang-format off
const RightsCase kRightsCases[] = {
    {"stop", {"-stop", "-e", "-c", "x", "Svc", "x"}, svc::kRunning, kConnect, svc::kServiceStop | kQueryStatus},
    {"stopex", {"-stopex", "-e", "-c", "x", "Svc", "x"}, svc::kRunning, kConnect, svc::kServiceStop | kQueryStatus},
    {"remove", {"-remove", "-e", "-c", "x", "Svc", "x"}, svc::kRunning, kConnect, svc::kServiceStop | kQueryStatus | svc::kDelete},
    {"start", {"-start", "-e", "-c", "x", "Svc", "x"}, svc::kStopped, kConnect, svc::kServiceStart | kQueryStatus},
    {"pause", {"-pause", "-e", "-c", "x", "Svc", "x"}, svc::kRunning, kConnect, svc::kServicePauseContinue | kQueryStatus},
    {"continue", {"-continue", "-e", "-c", "x", "Svc", "x"}, svc::kPaused, kConnect, svc::kServicePauseContinue | kQueryStatus},
    {"startup", {"-startup", "-e", "-disabled", "Svc", "x"}, svc::kRunning, kConnect, svc::kServiceChangeConfig},
    {"install", {"-install", "-e", "-c", "C:\\App\\New.exe", "New", "New"}, svc::kStopped, kConnect | svc::kManagerCreateService, 0},
};
// clang-format on

class RightsTest : public ::testing::TestWithParam<RightsCase> {
 protected:
  /// The run's exit status in a world whose token holds \a manager and \a service.
  static int runGranted(const RightsCase& c, Dword manager, Dword service) {
    SimulatedPlatform world;
    world.addService(serviceNamed("Svc", c.seedState));
    world.setGrantedRights(manager, service);
    Args args(c.arguments);
    const int status = runCommand(world, args.argc(), args.argv());
    EXPECT_THAT(world.openResources(), ::testing::IsEmpty());
    return status;
  }
};

TEST_P(RightsTest, ExactlyTheRightsItUses) {
  const RightsCase& c = GetParam();
  EXPECT_EQ(0, runGranted(c, c.managerRights, c.serviceRights)) << "granted exactly its rights";
  for (Dword right = 1; right != 0; right <<= 1) {
    if ((c.managerRights & right) != 0) {
      EXPECT_EQ(-1, runGranted(c, c.managerRights & ~right, c.serviceRights))
          << "without manager right " << right;
    }
    if ((c.serviceRights & right) != 0) {
      EXPECT_EQ(-1, runGranted(c, c.managerRights, c.serviceRights & ~right))
          << "without service right " << right;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, RightsTest, ::testing::ValuesIn(kRightsCases),
                         caseName<RightsCase>);

TEST_F(RunCommandTest, OnlyARunWhoseEveryEntryIsDeniedFails) {
  for (const char* name : {"Locked", "Barred", "Open"}) {
    SimulatedPlatform::ServiceConfig config = serviceNamed(name, svc::kRunning);
    config.openRefused = std::string(name) != "Open";
    sim.addService(config);
  }
  sim.addProcess({10, "Locked.exe"});
  sim.setFileContents("denied.lst",
                      "C:\\App\\Locked.exe, Locked, x\nC:\\App\\Barred.exe, Barred, x\n");
  sim.setFileContents("some.lst", "x, Locked, x\nx, Missing, x\nx, Open, x\n");
  {
    StepLog log(sim, "C:\\Logs\\vdksvc.log");
    Args args({"-stopex", "-f", "denied.lst"});
    EXPECT_EQ(-1, runCommand(sim, args.argc(), args.argv(), log));
  }
  EXPECT_EQ(0u, countCalls(sim.calls(), "CreateToolhelp32Snapshot")) << "no sweep";
  EXPECT_EQ(-1, run({"-stop", "-e", "-f", "denied.lst"}));
  EXPECT_EQ(0, run({"-stop", "-f", "some.lst"}));
  EXPECT_EQ(2, run({"-stop", "-e", "-f", "some.lst"}));
  EXPECT_EQ(svc::kStopped, sim.service("Open")->currentState);

  const std::string text = sim.fileContents("C:\\Logs\\vdksvc.log").value_or("");
  const std::string hint =
      "access denied: the prompt may not be elevated (\"Run as administrator\"), or the account "
      "lacks rights; the command needs SC_MANAGER_CONNECT on the manager and "
      "SERVICE_QUERY_STATUS, SERVICE_STOP on each service\r\n";
  EXPECT_NE(std::string::npos, text.find(hint)) << text;
  EXPECT_EQ(text.find("access denied:"), text.rfind("access denied:")) << "for the first only";
  EXPECT_NE(std::string::npos, text.find("end: exit status -1"));
}

// The extended stop without -t: a stop whose checkpoint does not rise for
// longer than the larger of its wait hint and ten seconds is hung, and goes to
// the sweep, which waits for the processes it terminates to be gone (ten
// seconds at most); after the sweep, an entry is done only when its service is
// STOPPED. The service "Svc" runs process 10, which ignores the stop.
struct ExtendedStopCase {
  const char* what;
  std::vector<std::string> options;  ///< besides -stopex -e and the entry
  std::uint64_t stopPendingMs;
  std::uint64_t progressMs;  ///< how long the checkpoint rises
  Dword waitHintMs;
  bool restartedByRecovery;
  std::uint64_t terminationMs;
  int status;
  std::uint64_t tookMs;
  std::uint64_t stoppedLagMs = 0;  ///< the manager's STOPPED after the process's end
};

void PrintTo(const ExtendedStopCase& c, std::ostream* os) { *os << c.what; }

constexpr std::uint64_t kNever = SimulatedPlatform::kForever;

// clang-format off
const ExtendedStopCase kExtendedStopCases[] = {
    {"a hung stop goes to the sweep", {}, kNever, 0, 2000, false, 400, 0, 10000 + 60000 + 400},
    {"a long wait hint is waited out", {}, kNever, 0, 30000, false, 0, 0, 30000 + 60000},
    {"a slow stop that makes progress is waited for", {}, 40000, kNever, 2000, false, 0, 0, 40000 + 60000},
    {"with -t the hung rule does not apply", {"-t", "20"}, kNever, 0, 2000, false, 0, 0, 20000 + 60000},
    {"a service its recovery restarts is not done", {}, kNever, 0, 2000, true, 0, 1, 10000 + 60000 + 3000},
    {"a process that never ends is left running", {}, kNever, 0, 2000, false, kNever, 2, 10000 + 60000 + 10000 + 3000},
    {"STOPPED reported after the process's end is read", {}, kNever, 0, 2000, false, 0, 0, 10000 + 60000 + 500, 500},
};
// clang-format on

class ExtendedStopTest : public SimulatedTest,
                         public ::testing::WithParamInterface<ExtendedStopCase> {};

TEST_P(ExtendedStopTest, StopsSweepsAndReadsTheStateOnceMore) {
  const ExtendedStopCase& c = GetParam();
  SimulatedPlatform::ServiceConfig config = serviceNamed("Svc", svc::kRunning);
  config.stopPendingMs = c.stopPendingMs;
  config.progressMs = c.progressMs;
  config.waitHintMs = c.waitHintMs;
  config.processId = 10;
  if (c.restartedByRecovery) config.failureActions = {{svc::kActionRestart, 0}};
  sim.addService(config);
  SimulatedPlatform::ProcessConfig process{10, "Svc.exe"};
  process.terminationMs = c.terminationMs;
  sim.addProcess(process);
  sim.setStoppedLagMs(c.stoppedLagMs);

  std::vector<std::string> arguments{"-stopex", "-e", "-c", "C:\\App\\Svc.exe", "Svc", "x"};
  arguments.insert(arguments.end(), c.options.begin(), c.options.end());
  Args args(arguments);
  {
    StepLog log(sim, "C:\\Logs\\vdksvc.log");
    EXPECT_EQ(c.status, runCommand(sim, args.argc(), args.argv(), log));
  }
  EXPECT_THAT(sim.nowMs(), tookAbout(c.tookMs));
  const std::string text = sim.fileContents("C:\\Logs\\vdksvc.log").value_or("");
  EXPECT_EQ(
      c.restartedByRecovery,
      text.find("sweep: warning: Svc is STOP_PENDING: terminating its process is a failure "
                "of the service, on which Windows will restart the service") != std::string::npos)
      << text;
  if (c.progressMs == 0 && c.options.empty()) {
    EXPECT_THAT(text, HasSubstr("(hung: checkpoint 1 has not risen for "));
    EXPECT_THAT(text, HasSubstr(" ms, wait hint " + std::to_string(c.waitHintMs) + " ms)"));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ExtendedStopTest, ::testing::ValuesIn(kExtendedStopCases),
                         caseName<ExtendedStopCase>);

// -e: the exit status counts the entries that did not end where the command
// sends them (and one for a leftover process the extended stop left running).
struct OutcomeCase {
  const char* what;
  std::vector<std::string> operands;  ///< after -f: the names a list file holds
  int status;
};

// Failure messages name the case rather than dump its bytes.
void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.what; }

// clang-format off
const OutcomeCase kOutcomeCases[] = {
    {"stop: stopped now, refused as stopped, missing", {"-stop", "-e", "-f", "Running Stopped Missing"}, 1},
    {"stop refused by the service", {"-stop", "-c", "x", "NoStop", "x", "/E"}, 1},
    {"remove: missing, marked for deletion, removed", {"-remove", "-f", "Missing Marked Stopped", "-e"}, 0},
    {"start: running already, stuck past -t, disabled", {"-start", "-e", "-t", "2", "-f", "Running Stuck Disabled"}, 2},
    {"pause: paused now, refused as stopped", {"-pause", "-errorlevel", "-f", "Running Stopped"}, 1},
    {"continue of a paused service", {"-continue", "-e", "-c", "x", "Paused", "x"}, 0},
    {"install: new, existing, created disabled", {"-install", "-e", "-f", "New Running NetBootCast"}, 0},
    {"startup of a missing service", {"-startup", "-e", "-auto", "Missing", "x"}, 1},
    {"startup with -e after a triple", {"-startup", "-auto", "Missing", "x", "/E", "-demand", "Gone", "x"}, 1},
    {"startup: -e as the display name is one", {"-startup", "-auto", "Missing", "-e"}, 0},
    {"-e inside the operands of -c is one", {"-stop", "-c", "x", "-e", "x"}, 0},
    {"stopex: a leftover process that refuses adds one", {"-stopex", "-e", "-c", "C:\\App\\left.exe", "Running", "x"}, 1},
    {"without -e", {"-stop", "-f", "Missing Stopped"}, 0},
};
// clang-format on

class OutcomeStatusTest : public SimulatedTest, public ::testing::WithParamInterface<OutcomeCase> {
 protected:
  void SetUp() override {
    SimulatedPlatform::ServiceConfig stuck = serviceNamed("Stuck");
    SimulatedPlatform::ServiceConfig noStop = serviceNamed("NoStop", svc::kRunning);
    SimulatedPlatform::ServiceConfig disabled = serviceNamed("Disabled");
    stuck.startPendingMs = SimulatedPlatform::kForever;
    noStop.controlsAccepted = svc::kAcceptPauseContinue;
    disabled.startType = svc::kDisabled;
    for (const auto& config : {serviceNamed("Running", svc::kRunning), serviceNamed("Stopped"),
                               serviceNamed("Paused", svc::kPaused),
                               serviceNamed("Marked", svc::kRunning), stuck, noStop, disabled}) {
      sim.addService(config);
    }
    sim.deleteService("Marked");
    sim.setNumber(kProductKey, "NoUseVDKTFTP", 1);
    sim.setDebugPrivilege(false);
    SimulatedPlatform::ProcessConfig leftover{30, "left.exe"};
    leftover.systemOwned = true;
    sim.addProcess(leftover);
  }
  /// Runs \a operands, the names after -f written to a list file.
  int run(std::vector<std::string> operands, StepLog& log = StepLog::off()) {
    for (std::size_t i = 1; i < operands.size(); ++i) {
      if (operands[i - 1] != "-f") continue;
      std::istringstream names(operands[i]);
      std::string lines;
      for (std::string name; names >> name;)
        lines += "C:\\App\\" + name + ".exe," + name + "," + name + "\n";
      operands[i] = "list.lst";
      sim.setFileContents(operands[i], lines);
    }
    Args args(operands);
    return runCommand(sim, args.argc(), args.argv(), log);
  }
};

TEST_P(OutcomeStatusTest, CountsTheEntriesNotDone) {
  EXPECT_EQ(GetParam().status, run(GetParam().operands));
}
INSTANTIATE_TEST_SUITE_P(Table, OutcomeStatusTest, ::testing::ValuesIn(kOutcomeCases),
                         caseName<OutcomeCase>);

TEST_F(OutcomeStatusTest, TheStepLogSaysWhetherEachEntryIsDoneAndWhyNot) {
  {
    StepLog log(sim, "C:\\Logs\\vdksvc.log");
    EXPECT_EQ(2, run({"-start", "-e", "-t", "2", "-f", "Running Stuck Missing"}, log));
  }
  const std::string text = sim.fileContents("C:\\Logs\\vdksvc.log").value_or("");
  for (const char* line :
       {"entry 1 Running: done\r\n", "entry 2 Stuck: not done, last state START_PENDING\r\n",
        "entry 3 Missing: not done, 1060 (The specified service does not "
        "exist as an installed service.)\r\n",
        "end: exit status 2\r\n"}) {
    EXPECT_NE(std::string::npos, text.find(line)) << line;
  }
}

}  // namespace
}  // namespace vdksvc
