// The step log as the administrator reads it from the simulated file: how it is
// switched on, the shape of its lines, and what a run tells it.

#include "log/step_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "command/command.h"
#include "command/step_log_switches.h"
#include "lists/registry_catalogue.h"
#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* kLogPath = "C:\\Logs\\vdksvc.log";

class StepLogTest : public SimulatedTest {
 protected:
  /// Runs \a operands with the log the switches of the simulated system ask for.
  int run(const std::vector<std::string>& operands) {
    Args args(operands);
    StepLog log = stepLogFromSwitches(sim);
    return runCommand(sim, args.argc(), args.argv(), log);
  }
  /// The lines of the log file, without their time stamp and process id.
  std::vector<std::string> lines(const std::string& path = kLogPath) const {
    std::vector<std::string> result;
    const std::string text = sim.fileContents(path).value_or("");
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
      EXPECT_EQ('\r', line.empty() ? '\0' : line.back()) << "lines end in CR LF";
      if (!line.empty()) line.pop_back();
      const std::size_t text_start = line.find("] ");
      result.push_back(text_start == std::string::npos ? line : line.substr(text_start + 2));
    }
    return result;
  }
  std::size_t fileCalls() const {
    std::size_t count = 0;
    for (const std::string& call : sim.calls()) {
      if (call.rfind("CreateFileA", 0) == 0 || call.rfind("WriteFile", 0) == 0) ++count;
    }
    return count;
  }
};

TEST_F(StepLogTest, SwitchedOnByTheEnvironmentOrElseTheRegistry) {
  struct Case {
    const char* what;
    const char* environment;  ///< null: unset
    Dword valueType;          ///< 0: no StepLog value
    const char* value;
    const char* expectedPath;  ///< null: the log is off
  };
  // clang-format off
  const Case cases[] = {
      {"variable names the file", kLogPath, 0, "", kLogPath},
      {"variable wins over the registry", kLogPath, reg::kSz, "D:\\other.log", kLogPath},
      {"empty variable leaves it to the registry", "", reg::kSz, "D:\\other.log", "D:\\other.log"},
      {"expandable value is expanded", nullptr, reg::kExpandSz, "%SystemDrive%\\vdk.log", "C:\\vdk.log"},
      {"plain text value is expanded too", nullptr, reg::kSz, "%SystemDrive%\\vdk.log", "C:\\vdk.log"},
      {"a number is no switch", nullptr, reg::kDword, "", nullptr},
      {"an empty value is no switch", nullptr, reg::kSz, "", nullptr},
      {"neither switch", nullptr, 0, "", nullptr},
  };
  // clang-format on
  for (const Case& c : cases) {
    SimulatedPlatform system;
    system.setEnvironmentVariable("SystemDrive", "C:");
    if (c.environment != nullptr) system.setEnvironmentVariable("VDKSVC_LOG", c.environment);
    if (c.valueType == reg::kDword) system.setNumber(kStepLogKey, "StepLog", 1);
    if (c.valueType == reg::kSz || c.valueType == reg::kExpandSz) {
      const std::string text = c.value;
      std::vector<unsigned char> bytes(text.begin(), text.end());
      bytes.push_back(0);
      system.setValue(kStepLogKey, "StepLog", c.valueType, bytes);
    }
    {
      const StepLog log = stepLogFromSwitches(system);
      EXPECT_EQ(c.expectedPath != nullptr, log.on()) << c.what;
      if (c.expectedPath != nullptr) {
        EXPECT_EQ(c.expectedPath, log.path()) << c.what;
      }
    }
    EXPECT_THAT(system.openResources(), ElementsAre()) << c.what;
  }
}

TEST_F(StepLogTest, WithoutASwitchNoFileIsTouched) {
  sim.addService(serviceNamed("Svc", svc::kRunning));
  EXPECT_EQ(0, run({"-stop", "-c", "x", "Svc", "x"}));
  EXPECT_EQ(-1, run({"-bogus"}));
  EXPECT_EQ(0u, fileCalls());
}

TEST_F(StepLogTest, EachLineIsOneWriteStampedWithTimeAndProcessId) {
  sim.setEnvironmentVariable("VDKSVC_LOG", kLogPath);
  sim.setProcessId(777);
  sim.addService(serviceNamed("Svc", svc::kRunning));
  EXPECT_EQ(0, run({"-stop", "-c", "C:\\App\\svc.exe", "Svc", "My Service"}));
  const std::string text = sim.fileContents(kLogPath).value_or("");
  EXPECT_THAT(text, StartsWith("2026-12-09 08:00:00.000 [777] run: "));
  EXPECT_THAT(text, HasSubstr("\r\n2026-12-09 08:00:00.000 [777] end: exit status 0\r\n"));
  std::size_t writes = 0;
  for (const std::string& call : sim.calls()) {
    if (call.rfind("WriteFile ", 0) == 0) ++writes;
  }
  EXPECT_EQ(lines().size(), writes) << "one write per line";
  EXPECT_THAT(
      lines(),
      ElementsAre(
          "run: C:\\Corvane\\Vardeck\\bin\\vdksvc.exe -stop -c C:\\App\\svc.exe Svc \"My Service\"",
          "list: 1 entry from -c; no time limit", "stop Svc: ControlService STOP accepted",
          "stop Svc: waited while STOP_PENDING: 1 read, last state STOPPED, 0 ms",
          "end: exit status 0"));
}

TEST_F(StepLogTest, ARefusedListNamesItsCause) {
  sim.setEnvironmentVariable("VDKSVC_LOG", kLogPath);
  const std::string empty = "C:\\Lists\\empty.lst";
  sim.setFileContents(empty, "# nothing but a comment\n");
  struct Case {
    std::vector<std::string> operands;
    std::string cause;
  };
  const Case cases[] = {
      {{"-stopx"}, "refused: \"-stopx\" is no command"},
      {{"-stop", "svc"}, "list refused: argument 2 \"svc\" is not an option"},
      {{"-stop", "-c", "a", "b"}, "list refused: \"-c\" needs three operands"},
      {{"-stop", "-t", "0", "-c", "a", "b", "c"}, "list refused: \"0\" is no number of seconds"},
      {{"-stop", "-f", empty},
       "list refused: list file \"" + empty + "\" cannot be opened or has no valid line"},
      {{"-stop"},
       "list refused: HKLM\\SOFTWARE\\Corvane\\Vardeck\\HomeDir cannot be read in the 32-bit "
       "view or the 64-bit view"},
  };
  for (const Case& c : cases) {
    sim.clearCalls();
    const std::size_t before = lines().size();
    EXPECT_EQ(-1, run(c.operands)) << c.cause;
    const std::vector<std::string> all = lines();
    const std::vector<std::string> written(all.begin() + static_cast<long>(before), all.end());
    EXPECT_THAT(written, Contains(c.cause));
    EXPECT_EQ("end: exit status -1", written.back());
  }
}

TEST_F(StepLogTest, MissingServiceShowsTheErrorAndItsText) {
  sim.setEnvironmentVariable("VDKSVC_LOG", kLogPath);
  EXPECT_EQ(0, run({"-start", "-c", "x", "Missing", "x"}));
  EXPECT_THAT(lines(), Contains("start Missing: OpenServiceA failed: 1060 (The specified service "
                                "does not exist as an installed service.)"));
}

TEST_F(StepLogTest, StuckStartShowsTheReadsAndTheLimit) {
  sim.setEnvironmentVariable("VDKSVC_LOG", kLogPath);
  SimulatedPlatform::ServiceConfig stuck = serviceNamed("Stuck");
  stuck.startPendingMs = SimulatedPlatform::kForever;
  sim.addService(stuck);
  EXPECT_EQ(0, run({"-start", "-t", "3", "-c", "x", "Stuck", "x"}));
  EXPECT_THAT(lines(), Contains("list: 1 entry from -c; at most 3 s of waiting a service"));
  EXPECT_THAT(lines(), Contains(AllOf(HasSubstr("start Stuck: waited while START_PENDING: "),
                                      HasSubstr(" reads, last state START_PENDING (limit of 3 s "
                                                "reached), 3000 ms"))));
}

TEST_F(StepLogTest, InstallationShowsTheRulesOutcome) {
  sim.setEnvironmentVariable("VDKSVC_LOG", kLogPath);
  sim.setNumber(kProductKey, "NoUseVDKTFTP", 1);
  sim.setNumber(kProductKey, "DBSrvRemoteFlag", 0);
  sim.setText("SOFTWARE\\WOW6432Node\\Corvane\\Vardeck_DB", "DBInstanceName", "SALES");
  sim.addService(serviceNamed("MSSQL$SALES", svc::kRunning));
  sim.setFileContents("list.lst",
                      "boot.exe, NetBootCast, Boot\nhub.exe, hubkeep, Hub\nweb.exe, Web, Web\n");
  EXPECT_EQ(0, run({"-install", "-f", "list.lst"}));
  const std::vector<std::string> written = lines();
  EXPECT_THAT(written, Contains("install NetBootCast: start type disabled (TFTP rule: "
                                "NoUseVDKTFTP is 1 in the 64-bit view); no dependency"));
  EXPECT_THAT(written, Contains("install NetBootCast: StartServiceA refused: 1058 (The service "
                                "cannot be started, either because it is disabled or because it "
                                "has no enabled devices associated with it.)"));
  EXPECT_THAT(written, Contains("install hubkeep: start type auto; dependency MSSQL$SALES "
                                "(database rule: DBSrvRemoteFlag is 0 in the 64-bit view, "
                                "DBInstanceName is \"SALES\" in the 32-bit view; MSSQL$SALES is "
                                "on this machine)"));
  EXPECT_THAT(written, Contains("install Web: start type auto; no dependency"));
  EXPECT_THAT(written, Contains("install Web: CreateServiceA accepted"));
}

TEST_F(StepLogTest, SweepShowsMatchedEndedAndTerminatedProcesses) {
  sim.setEnvironmentVariable("VDKSVC_LOG", kLogPath);
  sim.addService(serviceNamed("Loom", svc::kRunning));
  sim.addProcess({21, "loom.exe"});
  sim.addProcess({22, "LOOM.EXE", SimulatedPlatform::kForever, true});
  sim.addFile("C:\\App\\loom.exe");
  sim.addFile("D:\\Other\\loom.exe");
  sim.addProcess({23, "loom.exe", SimulatedPlatform::kForever, false, "D:\\Other\\loom.exe"});
  EXPECT_EQ(0, run({"-stopex", "-c", "C:\\App\\loom.exe", "Loom", "x"}));
  EXPECT_THAT(lines(),
              testing::IsSupersetOf(
                  {"sweep: process 21 loom.exe runs the program of Loom",
                   "sweep: SeDebugPrivilege enabled for the opens",
                   "sweep: process 23 left alone: it runs D:\\Other\\loom.exe, no program file "
                   "of the list",
                   "sweep: process 22 LOOM.EXE runs the program of Loom",
                   "sweep: process 22 cannot be opened and is left alone: 5 (Access "
                   "is denied.)",
                   "sweep: the grace ran out after 60000 ms; terminating the 1 process waited on",
                   "sweep: process 21 terminated"}));
}

TEST_F(StepLogTest, AnUnwritableLogChangesNeitherStatusNorServiceCalls) {
  const auto serviceCalls = [](const std::vector<std::string>& calls) {
    std::vector<std::string> kept;
    for (const std::string& call : calls) {
      const bool logFile = call.rfind("CreateFileA", 0) == 0 || call.rfind("WriteFile", 0) == 0 ||
                           call.rfind("CloseHandle file", 0) == 0;
      if (!logFile) kept.push_back(call);
    }
    return kept;
  };
  const auto seed = [](SimulatedPlatform& system) {
    SimulatedPlatform::ServiceConfig config = serviceNamed("Svc", svc::kRunning);
    config.stopPendingMs = 2500;
    system.addService(config);
  };
  std::vector<std::string> expected;
  {
    SimulatedPlatform quiet;
    seed(quiet);
    Args args({"-remove", "-c", "x", "Svc", "x", "-t", "2"});
    EXPECT_EQ(0, runCommand(quiet, args.argc(), args.argv()));
    expected = quiet.calls();
  }
  for (const bool openRefused : {true, false}) {
    SimulatedPlatform system;
    seed(system);
    system.setEnvironmentVariable("VDKSVC_LOG", kLogPath);
    system.setFileOpenRefused(kLogPath, openRefused);
    system.setFileWriteFails(kLogPath, !openRefused);
    Args args({"-remove", "-c", "x", "Svc", "x", "-t", "2"});
    {
      StepLog log = stepLogFromSwitches(system);
      EXPECT_EQ(0, runCommand(system, args.argc(), args.argv(), log));
    }
    EXPECT_EQ(expected, serviceCalls(system.calls())) << openRefused;
    EXPECT_EQ(1u, countCalls(system.calls(), std::string("CreateFileA ") + kLogPath))
        << "a log that cannot be opened is tried once";
    EXPECT_THAT(system.openResources(), ElementsAre());
  }
}

}  // namespace
}  // namespace vdksvc
