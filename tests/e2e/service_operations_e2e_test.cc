// The real vdksvc.exe driving Wine's service manager: installation from a list
// file and from the product's catalogue, start, pause, continue, start-type
// change, stop and removal, checked through the manager's own view of the
// services. Each test has service names of its own, so the tests can run side
// by side; those that use the product's fixed names and registry keys are kept
// apart by CTest.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "e2e_fixture.h"
#include "e2e_support.h"
#include "wine_differences.h"

namespace vdksvc::e2e {
namespace {

const char* const kProductKey = "SOFTWARE\\Corvane\\Vardeck";
const char* const kDatabaseKey = "SOFTWARE\\Corvane\\Vardeck_DB";
/// Where a 32-bit installer's values are, as the 64-bit view sees them.
const char* const kProductKey32 = "SOFTWARE\\WOW6432Node\\Corvane\\Vardeck";

/// Runs vdksvc.exe and expects it to accept the command line, silently.
void expectAccepted(const std::vector<std::string>& arguments, DWORD timeoutMs = 120000) {
  const RunResult run = runVdksvc(arguments, timeoutMs);
  ASSERT_TRUE(run.started) << run.startError;
  ASSERT_FALSE(run.timedOut) << arguments.at(0);
  EXPECT_EQ(0u, run.exitCode) << arguments.at(0);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("", run.err);
}

/// The state the manager reports for \a name, as text; "gone" when it is unknown.
std::string stateOf(const std::string& name) {
  const std::optional<SERVICE_STATUS> status = queryStatus(name);
  if (status) return stateName(status->dwCurrentState);
  return serviceExists(name) ? "cannot be queried" : "gone";
}

/// The fields of the table's \a line, cut where the \a header's words begin.
std::vector<std::string> tableFields(const std::string& header, const std::string& line) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at < header.size(); at = header.find_first_not_of(' ', at)) {
    starts.push_back(at);
    at = header.find("  ", at);
    if (at == std::string::npos) break;
  }
  std::vector<std::string> fields;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : std::string::npos;
    std::string field = starts[i] < line.size() ? line.substr(starts[i], end - starts[i]) : "";
    field.erase(field.find_last_not_of(' ') + 1);
    fields.push_back(field);
  }
  return fields;
}

/// The records of comma-separated values with every field quoted.
std::vector<std::vector<std::string>> csvRecords(const std::string& text) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      records.back().back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == ',') {
      records.back().emplace_back();
    } else if (!quoted && c == '\n') {
      records.emplace_back(1);
    } else if (quoted || c != '\r') {
      records.back().back() += c;
    }
  }
  if (records.back() == std::vector<std::string>(1)) records.pop_back();
  return records;
}

/// Removes the given services before and after each test, whatever it left:
/// at the end the last taken first, so that dependents go before what they need.
class ServiceOperationsE2e : public ServiceManagerE2e {
 protected:
  void TearDown() override {
    for (auto name = owned_.rbegin(); name != owned_.rend(); ++name) {
      EXPECT_TRUE(removeServiceCompletely(*name)) << *name;
    }
  }

  /// Takes \a name into the test's care: removed now and again at the end.
  std::string own(const std::string& name) {
    EXPECT_TRUE(removeServiceCompletely(name)) << name;
    owned_.push_back(name);
    return name;
  }

 private:
  std::vector<std::string> owned_;
};

TEST_F(ServiceOperationsE2e, WholeLifeFromAListFile) {
  const std::string paced = own("VdkOpsPaced");
  const std::string plain = own("VdkOpsPlain");
  TestServiceOptions pacedOptions;
  pacedOptions.pausePendingMs = 1500;
  pacedOptions.stopPendingMs = 1500;
  TestServiceOptions plainOptions;
  plainOptions.noPause = true;
  const std::string pacedPath = testServiceCommandLine(pacedOptions);
  const std::string plainPath = testServiceCommandLine(plainOptions);
  const TempFile list("# the services of this test\r\n" + pacedPath + ", " + paced +
                      ", Vardeck Paced\r\n" + plainPath + ",\t" + plain + " , Vardeck Plain \r\n");

  expectAccepted({"-install", "-f", list.path()});
  for (const auto& [name, path, display] : {std::tuple{paced, pacedPath, "Vardeck Paced"},
                                            std::tuple{plain, plainPath, "Vardeck Plain"}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ("RUNNING", stateOf(name));
    const std::optional<ServiceConfig> config = queryConfig(name);
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config->serviceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->startType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config->errorControl);
    EXPECT_EQ(path, config->binaryPath) << "stored exactly as the list gives it";
    EXPECT_EQ(display, config->displayName);
    EXPECT_EQ("LocalSystem", config->account);
    EXPECT_TRUE(storedDependencies(name).empty());
  }

  // The plain service refuses the pause; the next entry is handled all the same.
  expectAccepted({"-pause", "-f", list.path()});
  EXPECT_EQ("PAUSED", stateOf(paced));
  EXPECT_EQ("RUNNING", stateOf(plain));
  expectAccepted({"-continue", "-f", list.path()});
  EXPECT_EQ("RUNNING", stateOf(paced));

  expectAccepted({"-startup", "-demand", paced, "Vardeck Paced, renamed"});
  EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), queryConfig(paced)->startType);
  EXPECT_EQ("Vardeck Paced, renamed", queryConfig(paced)->displayName);
  // Without a display name the name stays; only the configuration changes.
  expectAccepted({"-startup", "-DISABLED", paced});
  EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), queryConfig(paced)->startType);
  EXPECT_EQ("Vardeck Paced, renamed", queryConfig(paced)->displayName);
  EXPECT_EQ("RUNNING", stateOf(paced));

  expectAccepted({"-stop", "-f", list.path()});
  EXPECT_EQ("STOPPED", stateOf(paced));
  EXPECT_EQ("STOPPED", stateOf(plain));

  // A disabled service is refused its start; the next one starts.
  expectAccepted({"-start", "-f", list.path()});
  EXPECT_EQ("STOPPED", stateOf(paced));
  EXPECT_EQ("RUNNING", stateOf(plain));

  // One running, one stopped: both are gone afterwards.
  expectAccepted({"-remove", "-f", list.path()});
  EXPECT_TRUE(waitUntilGone(paced, 10000)) << stateOf(paced);
  EXPECT_TRUE(waitUntilGone(plain, 10000)) << stateOf(plain);
}

TEST_F(ServiceOperationsE2e, StopOfAStoppedServiceDoesNotWait) {
  const std::vector<std::string> names = {own("VdkOpsIdle1"), own("VdkOpsIdle2"),
                                          own("VdkOpsIdle3")};
  std::string lines;
  for (const std::string& name : names) {
    ASSERT_EQ(0u, createTestService(name, {}));
    lines += "x.exe," + name + ",Idle\r\n";
  }
  const TempFile list(lines);
  const ULONGLONG start = nowMs();
  expectAccepted({"-stop", "-f", list.path()});
  // A refused stop reads no state and waits for nothing. Starting a Wine
  // process on a busy machine can itself take a second, which a bound for a
  // single service would not leave room for.
  EXPECT_LT(nowMs() - start, 3000u);
  for (const std::string& name : names) EXPECT_EQ("STOPPED", stateOf(name)) << name;
}

TEST_F(ServiceOperationsE2e, PollLimitEndsTheWaitForAStuckStart) {
  const std::string stuck = own("VdkOpsStuck");
  const std::string next = own("VdkOpsAfterStuck");
  TestServiceOptions slow;
  slow.startPendingMs = 60000;
  ASSERT_EQ(0u, createTestService(stuck, slow));
  ASSERT_EQ(0u, createTestService(next, {}));
  const TempFile list("x.exe," + stuck + ",Stuck\r\nx.exe," + next + ",Next\r\n");

  const ULONGLONG start = nowMs();
  expectAccepted({"-start", "-t", "2", "-f", list.path()});
  const ULONGLONG took = nowMs() - start;
  // Two seconds for the stuck service, far less than its minute.
  EXPECT_GE(took, 2000u);
  EXPECT_LT(took, 30000u);
  EXPECT_EQ("START_PENDING", stateOf(stuck));
  EXPECT_EQ("RUNNING", stateOf(next));
}

// A list file as Windows PowerShell's ">" writes it (UTF-16 after its mark),
// naming a program in a folder with a blank, without quotes: stored quoted, so
// that Windows cannot take "...\vdk" for the program.
TEST_F(ServiceOperationsE2e, Utf16ListFileWithAnUnquotedBlankInTheProgramPath) {
  const std::string name = own("VdkUtf16Blank");
  const ProgramCopy program(testServicePath(), "vdk blank\\vdk_testsvc.exe");
  ASSERT_TRUE(program.copied()) << ::GetLastError();
  std::string list = "\xFF\xFE";
  for (const char c :
       "# program, service, display\r\n" + program.path() + ", " + name + ", Vardeck Blank\r\n") {
    list += {c, '\0'};
  }
  const TempFile file(list);
  expectAccepted({"-install", "-f", file.path()});
  ASSERT_TRUE(queryConfig(name).has_value());
  EXPECT_EQ("\"" + program.path() + "\"", queryConfig(name)->binaryPath);
  EXPECT_EQ("RUNNING", stateOf(name));
  EXPECT_TRUE(removeServiceCompletely(name)) << "before its program is removed";
}

// -e: the exit status counts the services that did not end where the command
// sends them; without it a run that was accepted gives 0.
TEST_F(ServiceOperationsE2e, OutcomeStatusCountsTheServicesNotDone) {
  const std::string running = own("VdkOutcomeRunning");
  const std::string stopped = own("VdkOutcomeStopped");
  const std::string stuck = own("VdkOutcomeStuck");
  const std::string missing = own("VdkOutcomeMissing");
  TestServiceOptions slow;
  slow.startPendingMs = 60000;
  ASSERT_EQ(0u, createTestService(running, {}));
  ASSERT_EQ(0u, createTestService(stopped, {}));
  ASSERT_EQ(0u, createTestService(stuck, slow));
  expectAccepted({"-start", "-c", "x", running, "x"});
  const TempFile list("x," + running + ",x\r\nx," + stopped + ",x\r\nx," + missing + ",x\r\n");

  const std::pair<std::vector<std::string>, DWORD> runs[] = {
      {{"-stop", "-e", "-f", list.path()}, 1},  // the missing one
      {{"-stop", "-f", list.path()}, 0},
      {{"-remove", "-e", "-c", "x", missing, "x"}, 0},
      {{"-start", "-e", "-t", "2", "-c", "x", stuck, "x"}, 1},
      {{"-startup", "-e", "-auto", missing, "x"}, 1},
  };
  for (const auto& [arguments, status] : runs) {
    const RunResult run = runVdksvc(arguments);
    EXPECT_EQ(status, run.exitCode) << arguments.at(0) << " " << arguments.at(1);
  }
  EXPECT_EQ("STOPPED", stateOf(running));
}

// A stop cut short by -t leaves the service stopping, and Windows refuses to
// start a stopping service (1056): the start waits for the stop to end, then
// starts it, and it is done.
TEST_F(ServiceOperationsE2e, StartAfterAStopCutShortByTheLimit) {
  const std::string name = own("VdkOpsRestart");
  TestServiceOptions options;
  options.stopPendingMs = 3000;
  ASSERT_EQ(0u, createTestService(name, options));
  expectAccepted({"-start", "-c", "x", name, "x"});
  expectAccepted({"-stop", "-t", "1", "-c", "x", name, "x"});
  ASSERT_EQ("STOP_PENDING", stateOf(name));
  const RunResult run = runVdksvc({"-start", "-e", "-c", "x", name, "x"});
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ("RUNNING", stateOf(name));
}

// A stop while the service starts is refused (1061, or under Wine 1052): the
// stop waits for the start to end, then stops it.
TEST_F(ServiceOperationsE2e, StopWhileStartingWaitsForTheStart) {
  const std::string name = own("VdkOpsStarting");
  TestServiceOptions options;
  options.startPendingMs = 4000;
  ASSERT_EQ(0u, createTestService(name, options));
  {
    const ScmHandle service = openService(name);
    ASSERT_TRUE(service && ::StartServiceA(service.get(), 0, nullptr)) << ::GetLastError();
  }
  const TempFile log("");
  ::SetEnvironmentVariableA("VDKSVC_LOG", log.path().c_str());
  const RunResult run = runVdksvc({"-stop", "-e", "-c", "x", name, "x"});
  ::SetEnvironmentVariableA("VDKSVC_LOG", nullptr);
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ("STOPPED", stateOf(name));
  std::ifstream file(log.path(), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, text.find("ControlService STOP refused: " +
                                         std::to_string(controlRefusalWhileStarting())))
      << text;
  EXPECT_NE(std::string::npos, text.find("ControlService STOP accepted")) << text;
}

// An upgrade's -remove, then -install, while another program holds the old
// service's handle: the creation is refused (1072) until that handle is closed
// and the old service goes; the installation waits for it, then goes on.
TEST_F(ServiceOperationsE2e, InstallationWaitsForTheDeletionAnotherProgramHoldsUp) {
  const std::string name = own("VdkOpsReinstall");
  const std::string path = testServiceCommandLine({});
  expectAccepted({"-install", "-c", path, name, "Vardeck old"});
  HANDLE held = ::CreateEventA(nullptr, TRUE, FALSE, "VdkOpsReinstallHeld");
  std::string holder =
      quoteArgument(runnerPath()) + " --hold-service " + name + " 3000 VdkOpsReinstallHeld";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(held && ::CreateProcessA(nullptr, holder.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                       nullptr, &startup, &info));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(held, 20000));
  expectAccepted({"-remove", "-c", path, name, "x"});
  EXPECT_TRUE(serviceExists(name)) << "marked for deletion, kept by the other handle";
  expectAccepted({"-install", "-c", path, name, "Vardeck new"});
  EXPECT_EQ("RUNNING", stateOf(name));
  EXPECT_EQ("Vardeck new", queryConfig(name).value_or(ServiceConfig{}).displayName);
  for (HANDLE handle : {held, info.hThread, info.hProcess}) ::CloseHandle(handle);
}

// From a prompt that is not elevated every entry is denied access: the run
// fails with -1 instead of reporting a success, and nothing changes.
TEST_F(ServiceOperationsE2e, RunWithoutTheRightsFails) {
  if (const char* why = serviceSecurityNotEnforced()) GTEST_SKIP() << why;
  const std::string name = own("VdkOpsDenied");
  ASSERT_EQ(0u, createTestService(name, {}));
  expectAccepted({"-start", "-c", "x", name, "x"});
  const std::vector<std::string> runs[] = {{"-stop", "-c", "x", name, "x"},
                                           {"-stop", "-e", "-c", "x", name, "x"}};
  for (const std::vector<std::string>& arguments : runs) {
    const RunResult run = runVdksvcUnelevated(arguments);
    ASSERT_TRUE(run.started) << run.startError;
    EXPECT_EQ(4294967295u, run.exitCode) << arguments.at(1);
  }
  EXPECT_EQ("RUNNING", stateOf(name));
}

/// The product's own services, installed from its registry catalogue with the
/// TFTP and database rules. CTest keeps these apart from other users of the
/// product's registry keys.
class ProductCatalogueE2e : public ServiceOperationsE2e {
 protected:
  void SetUp() override {
    ServiceOperationsE2e::SetUp();
    if (stopped()) return;
    for (const char* key : {kProductKey, kDatabaseKey, kProductKey32}) {
      ASSERT_EQ(ERROR_SUCCESS, deleteRegistryTree(key)) << key;
    }
  }
  void TearDown() override {
    ServiceOperationsE2e::TearDown();
    for (const char* key : {kProductKey, kDatabaseKey, kProductKey32}) {
      EXPECT_EQ(ERROR_SUCCESS, deleteRegistryTree(key)) << key;
    }
  }
};

TEST_F(ProductCatalogueE2e, InstallStopAndRemoveWithTheProductRules) {
  // A database instance name of 16 characters, the longest SQL Server allows.
  const std::string database = own("MSSQL$VARDECKPRODUCT01");
  const std::string hub = own("hubkeep");
  const std::string loom = own("loomtide");
  const std::string tftp = own("NetBootCast");
  ASSERT_EQ(0u, createTestService(database, {}));

  std::string home = binDirectory();
  home.pop_back();  // the catalogue adds the backslash
  ASSERT_EQ(ERROR_SUCCESS, setRegistryString(kProductKey, "HomeDir", home));
  ASSERT_EQ(ERROR_SUCCESS,
            setRegistryMultiString(kProductKey, "ServicesList",
                                   {"vdk_testsvc.exe,hubkeep,Vardeck Hub",
                                    " vdk_testsvc.exe, loomtide, Vardeck Loom, weaving",
                                    "vdk_testsvc.exe,NetBootCast,Vardeck Net Boot"}));
  ASSERT_EQ(ERROR_SUCCESS, setRegistryDword(kProductKey, "NoUseVDKTFTP", 1));
  ASSERT_EQ(ERROR_SUCCESS, setRegistryDword(kProductKey, "DBSrvRemoteFlag", 0));
  ASSERT_EQ(ERROR_SUCCESS, setRegistryString(kDatabaseKey, "DBInstanceName", "VARDECKPRODUCT01"));

  expectAccepted({"-install"});
  // Windows starts the stopped database first, for the services that need it.
  const std::string databaseState = managerStartsDependencies() ? "RUNNING" : "STOPPED";
  EXPECT_EQ(databaseState, stateOf(database));
  const std::string binaryPath = "\"" + home + "\\vdk_testsvc.exe\"";
  for (const auto& [name, display] :
       {std::pair{hub, "Vardeck Hub"}, std::pair{loom, "Vardeck Loom, weaving"}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ("RUNNING", stateOf(name));
    const std::optional<ServiceConfig> config = queryConfig(name);
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(binaryPath, config->binaryPath);
    EXPECT_EQ(display, config->displayName);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->startType);
    EXPECT_EQ(std::vector<std::string>{database}, storedDependencies(name));
  }
  // The TFTP switch: created disabled, so its start is refused.
  EXPECT_EQ("STOPPED", stateOf(tftp));
  ASSERT_TRUE(queryConfig(tftp).has_value());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), queryConfig(tftp)->startType);
  EXPECT_TRUE(storedDependencies(tftp).empty());
  // A new start type leaves the dependencies as they are, where Windows keeps them.
  expectAccepted({"-startup", "-auto", hub});
  EXPECT_EQ(changeConfigKeepsDependencies() ? std::vector<std::string>{database}
                                            : std::vector<std::string>{},
            storedDependencies(hub));

  expectAccepted({"-stop"});
  EXPECT_EQ("STOPPED", stateOf(hub));
  EXPECT_EQ("STOPPED", stateOf(loom));

  expectAccepted({"-remove"});
  for (const std::string& name : {hub, loom, tftp}) {
    EXPECT_TRUE(waitUntilGone(name, 10000)) << name << " " << stateOf(name);
  }
  EXPECT_EQ(databaseState, stateOf(database)) << "not in the catalogue, left alone";
}

TEST_F(ProductCatalogueE2e, CatalogueAndSwitchOfA32BitInstaller) {
  const std::string view = own("VdkView32");
  const std::string tftp = own("NetBootCast");
  std::string home = binDirectory();
  home.pop_back();
  // The catalogue and the TFTP switch where a 32-bit installer writes them; the
  // home directory in the 64-bit view only.
  ASSERT_EQ(ERROR_SUCCESS, setRegistryString(kProductKey, "HomeDir", home));
  ASSERT_EQ(ERROR_SUCCESS,
            setRegistryMultiString(kProductKey32, "ServicesList",
                                   {"vdk_testsvc.exe,VdkView32,Vardeck View",
                                    "vdk_testsvc.exe,NetBootCast,Vardeck Net Boot"}));
  ASSERT_EQ(ERROR_SUCCESS, setRegistryDword(kProductKey32, "NoUseVDKTFTP", 1));

  expectAccepted({"-install"});
  EXPECT_EQ("RUNNING", stateOf(view));
  ASSERT_TRUE(queryConfig(tftp).has_value());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), queryConfig(tftp)->startType);
}

// The database service is disabled: only a service that needs it fails to start
// for it, with 1068 on Windows.
TEST_F(ProductCatalogueE2e, DatabaseDependencyFollowsTheRemoteFlag) {
  const std::string database = own("MSSQL$VDKDBI");
  const std::string hub = own("hubkeep");
  ASSERT_EQ(0u, createTestService(database, {}));
  expectAccepted({"-startup", "-disabled", database});
  const std::vector<std::string> install = {
      "-install", "-e", "-c", testServiceCommandLine({}), hub, "Vardeck Hub"};

  ASSERT_EQ(ERROR_SUCCESS, setRegistryDword(kProductKey, "DBSrvRemoteFlag", 1));
  expectAccepted(install);
  EXPECT_EQ("RUNNING", stateOf(hub));
  EXPECT_TRUE(storedDependencies(hub).empty());

  ASSERT_TRUE(removeServiceCompletely(hub));
  ASSERT_EQ(ERROR_SUCCESS, deleteRegistryTree(kProductKey));
  const RunResult run = runVdksvc(install);
  EXPECT_EQ(std::vector<std::string>{database}, storedDependencies(hub));
  if (managerStartsDependencies()) {
    EXPECT_EQ(1u, run.exitCode) << "its start fails with 1068: the one service not done";
    EXPECT_EQ("STOPPED", stateOf(hub));
  } else {
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("RUNNING", stateOf(hub));
  }
  EXPECT_EQ("STOPPED", stateOf(database));
}

// -query reads the manager's view of a running, a stopped and a missing
// service, as a table and as values for scripts; -v shows a run's steps on
// standard error.
TEST_F(ServiceOperationsE2e, QueryShowsTheServicesAndVerboseTheSteps) {
  const std::string running = own("VdkQueryRunning");
  const std::string stopped = own("VdkQueryStopped");
  const std::string missing = own("VdkQueryMissing");
  ASSERT_EQ(0u, createTestService(running, {}, "Vardeck Running"));
  ASSERT_EQ(0u, createTestService(stopped, {}, "Vardeck \"Stopped\""));
  ASSERT_TRUE(startAndWaitUntilRunning(running));
  const std::string path = testServiceCommandLine({});
  const std::string pid = std::to_string(serviceProcessId(openService(running).get()));
  const TempFile list(path + ", " + running + ", x\r\n" + path + ", " + stopped + ", y\r\n" +
                      "C:\\Vardeck\\gone.exe, " + missing + ", Vardeck Missing\r\n");

  const RunResult table = runVdksvc({"-query", "-e", "-f", list.path()});
  EXPECT_EQ(2u, table.exitCode) << "the stopped and the missing service";
  EXPECT_EQ("", table.err);
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = table.out.find("\r\n", at)) != std::string::npos;
       at = end + 2) {
    lines.push_back(table.out.substr(at, end - at));
  }
  ASSERT_EQ(4u, lines.size()) << table.out;
  using Fields = std::vector<std::string>;
  EXPECT_EQ((Fields{"SERVICE", "STATE", "START", "PID", "DISPLAY NAME", "BINARY PATH"}),
            tableFields(lines[0], lines[0]));
  EXPECT_EQ((Fields{running, "RUNNING", "demand", pid, "Vardeck Running", path}),
            tableFields(lines[0], lines[1]));
  EXPECT_EQ((Fields{stopped, "STOPPED", "demand", "", "Vardeck \"Stopped\"", path}),
            tableFields(lines[0], lines[2]));
  EXPECT_EQ((Fields{missing, "NOT_INSTALLED", "", "", "Vardeck Missing",
                    "(list: C:\\Vardeck\\gone.exe)"}),
            tableFields(lines[0], lines[3]));

  const RunResult csv = runVdksvc({"-query", "-o", "csv", "-f", list.path()});
  EXPECT_EQ(0u, csv.exitCode);
  const std::vector<std::vector<std::string>> records = csvRecords(csv.out);
  ASSERT_EQ(4u, records.size()) << csv.out;
  EXPECT_EQ((Fields{"Service", "State", "Start", "PID", "Display name", "Binary path",
                    "Listed binary path"}),
            records[0]);
  EXPECT_EQ((Fields{stopped, "STOPPED", "demand", "", "Vardeck \"Stopped\"", path, ""}),
            records[2]);
  EXPECT_EQ(
      (Fields{missing, "NOT_INSTALLED", "", "", "Vardeck Missing", "", "C:\\Vardeck\\gone.exe"}),
      records[3]);
  EXPECT_EQ("RUNNING", stateOf(running));

  const RunResult verbose = runVdksvc({"-stop", "-v", "-c", "x.exe", missing, "x"});
  EXPECT_EQ(0u, verbose.exitCode);
  EXPECT_EQ("", verbose.out);
  EXPECT_NE(std::string::npos,
            verbose.err.find("] stop " + missing + ": OpenServiceA failed: 1060"))
      << verbose.err;
}

// Asking how a command works never runs it: before, "-stop /?" stopped the
// whole catalogue.
TEST_F(ProductCatalogueE2e, UsageTextAnswersAndNothingIsTouched) {
  const std::string hub = own("VdkHelpHub");
  ASSERT_EQ(0u, createTestService(hub, {}));
  ASSERT_TRUE(startAndWaitUntilRunning(hub));
  std::string home = binDirectory();
  home.pop_back();
  ASSERT_EQ(ERROR_SUCCESS, setRegistryString(kProductKey, "HomeDir", home));
  ASSERT_EQ(ERROR_SUCCESS, setRegistryMultiString(kProductKey, "ServicesList",
                                                  {"vdk_testsvc.exe," + hub + ",Hub"}));
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"/?"}, std::vector<std::string>{"-stop", "/?"}}) {
    SCOPED_TRACE(arguments.back());
    const RunResult run = runVdksvc(arguments);
    EXPECT_EQ(4294967295u, run.exitCode);
    EXPECT_EQ(0u, run.out.rfind("vdksvc: manages the Windows services", 0)) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("\r\n  -query "));
    EXPECT_EQ("", run.err);
    EXPECT_EQ("RUNNING", stateOf(hub));
  }
}

}  // namespace
}  // namespace vdksvc::e2e
