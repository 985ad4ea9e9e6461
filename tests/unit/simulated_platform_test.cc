// The simulated service control manager, handle accounting and the call log.
// The service operations are tested against this manager, so its behaviour has
// to be the real one's: these tests pin it down by virtual time and error code.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/handles.h"
#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::ElementsAre;

constexpr Dword kUntouched = 0xDEADBEEF;

class SimulatedServiceTest : public SimulatedTest {
 protected:
  void SetUp() override {
    manager.reset(sim.OpenSCManagerA(nullptr, nullptr, svc::kManagerAllAccess));
  }
  void TearDown() override {
    manager.reset();
    SimulatedTest::TearDown();
  }

  /// Seeds a service; \a change adjusts the defaults first.
  template <class Change>
  void add(const std::string& name, Dword state, Change change) {
    SimulatedPlatform::ServiceConfig config;
    config.name = name;
    config.binaryPath = "C:\\App\\" + name + ".exe";
    config.state = state;
    change(config);
    sim.addService(config);
  }
  void add(const std::string& name, Dword state = svc::kStopped) {
    add(name, state, [](auto&) {});
  }

  ScHandle open(const char* name, Dword access = svc::kServiceAllAccess) {
    return ScHandle(sim, sim.OpenServiceA(manager.get(), name, access));
  }
  RawScHandle create(const char* name, const char* display, const char* dependencies = nullptr) {
    return sim.CreateServiceA(manager.get(), name, display, svc::kServiceAllAccess,
                              svc::kWin32OwnProcess, svc::kAutoStart, svc::kErrorNormal,
                              "C:\\App\\new.exe", nullptr, nullptr, dependencies, nullptr, nullptr);
  }
  bool control(const ScHandle& service, Dword code, ServiceStatus& status) {
    status.dwCurrentState = kUntouched;
    return sim.ControlService(service.get(), code, &status);
  }
  Dword stateOf(const std::string& name) { return sim.service(name)->currentState; }

  /// The call gave \a result (false or null on failure) and GetLastError says \a error.
  template <class Result>
  ::testing::AssertionResult failsWith(Dword error, const Result& result) {
    if (static_cast<bool>(result)) return ::testing::AssertionFailure() << "the call succeeded";
    if (sim.GetLastError() != error)
      return ::testing::AssertionFailure() << "error " << sim.GetLastError();
    return ::testing::AssertionSuccess();
  }

  ScHandle manager{sim};
};

TEST_F(SimulatedServiceTest, OpenRefusals) {
  add("Svc");
  add("Locked", svc::kStopped, [](auto& c) { c.openRefused = true; });
  ScHandle service = open("sVC");
  EXPECT_TRUE(service) << "names compare without case";
  EXPECT_TRUE(failsWith(winerr::kServiceDoesNotExist, open("Missing")));
  EXPECT_TRUE(failsWith(winerr::kInvalidAddress, open(nullptr)));
  EXPECT_TRUE(failsWith(winerr::kAccessDenied, open("Locked")));
  EXPECT_TRUE(failsWith(winerr::kInvalidHandle,
                        sim.OpenServiceA(service.get(), "Svc", svc::kServiceAllAccess)));

  RawScHandle closed = sim.OpenSCManagerA(nullptr, nullptr, svc::kManagerAllAccess);
  ASSERT_TRUE(sim.CloseServiceHandle(closed));
  EXPECT_TRUE(failsWith(winerr::kInvalidHandle, sim.OpenServiceA(closed, "Svc", 0)));
  EXPECT_TRUE(failsWith(winerr::kInvalidHandle, sim.CloseServiceHandle(closed)));
  sim.setManagerOpenRefused(true);
  EXPECT_TRUE(failsWith(winerr::kAccessDenied, sim.OpenSCManagerA(nullptr, nullptr, 0)));
}

TEST_F(SimulatedServiceTest, StartPendingLastsItsScriptedTime) {
  add("Svc", svc::kStopped, [](auto& c) {
    c.startPendingMs = 3000;
    c.controlsAccepted = svc::kAcceptStop;
  });
  ScHandle service = open("Svc");
  ASSERT_TRUE(sim.StartServiceA(service.get(), 0, nullptr));
  ServiceStatus status;
  ASSERT_TRUE(sim.QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(svc::kStartPending, status.dwCurrentState);
  EXPECT_EQ(0u, status.dwControlsAccepted) << "no controls while pending";
  sim.advance(2999);
  EXPECT_EQ(svc::kStartPending, stateOf("Svc"));
  sim.advance(1);
  ASSERT_TRUE(sim.QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(svc::kRunning, status.dwCurrentState);
  EXPECT_EQ(svc::kAcceptStop, status.dwControlsAccepted);
}

TEST_F(SimulatedServiceTest, PauseContinueAndStopRunThroughTheirPendingStates) {
  add("Svc", svc::kRunning, [](auto& c) {
    c.pausePendingMs = 1000;
    c.continuePendingMs = 2000;
    c.stopPendingMs = 500;
  });
  ScHandle service = open("Svc");
  ServiceStatus status;
  ASSERT_TRUE(control(service, svc::kControlPause, status));
  EXPECT_EQ(svc::kPausePending, status.dwCurrentState);
  sim.advance(1000);
  ASSERT_TRUE(control(service, svc::kControlContinue, status)) << "paused after 1000 ms";
  EXPECT_EQ(svc::kContinuePending, status.dwCurrentState);
  sim.advance(1999);
  EXPECT_EQ(svc::kContinuePending, stateOf("Svc"));
  sim.advance(1);
  ASSERT_TRUE(control(service, svc::kControlStop, status));
  EXPECT_EQ(svc::kStopPending, status.dwCurrentState);
  sim.advance(500);
  ASSERT_TRUE(sim.QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(svc::kStopped, status.dwCurrentState);
  EXPECT_EQ(0u, status.dwControlsAccepted);
}

TEST_F(SimulatedServiceTest, RefusedControlsFillTheStatus) {
  add("Idle");
  add("NoPause", svc::kRunning, [](auto& c) { c.controlsAccepted = svc::kAcceptStop; });
  add("Stuck", svc::kStopped, [](auto& c) { c.startPendingMs = SimulatedPlatform::kForever; });
  ScHandle idle = open("Idle");
  ScHandle pauseless = open("NoPause");
  ScHandle stuck = open("Stuck");
  ASSERT_TRUE(sim.StartServiceA(stuck.get(), 0, nullptr));
  sim.advance(30ull * 24 * 60 * 60 * 1000);

  const struct {
    const ScHandle& service;
    Dword control;
    Dword error;
    Dword reported;
  } cases[] = {
      {idle, svc::kControlStop, winerr::kServiceNotActive, svc::kStopped},
      {idle, svc::kControlContinue, winerr::kServiceNotActive, svc::kStopped},
      {pauseless, svc::kControlPause, winerr::kInvalidServiceControl, svc::kRunning},
      {stuck, svc::kControlStop, winerr::kServiceCannotAcceptCtrl, svc::kStartPending},
  };
  for (const auto& c : cases) {
    ServiceStatus status;
    EXPECT_TRUE(failsWith(c.error, control(c.service, c.control, status))) << c.control;
    EXPECT_EQ(c.reported, status.dwCurrentState) << c.control;
  }
  EXPECT_EQ(svc::kRunning, stateOf("NoPause"));
  EXPECT_EQ(svc::kStartPending, stateOf("Stuck")) << "kForever never settles";
}

TEST_F(SimulatedServiceTest, StartRefusals) {
  add("Busy", svc::kRunning);
  add("Stopping", svc::kRunning, [](auto& c) { c.stopPendingMs = 1000; });
  add("Off", svc::kStopped, [](auto& c) { c.startType = svc::kDisabled; });
  add("Orphan", svc::kStopped, [](auto& c) { c.dependencies = {"Gone"}; });
  add("NeedsOff", svc::kStopped, [](auto& c) { c.dependencies = {"Off"}; });
  ServiceStatus status;
  ASSERT_TRUE(control(open("Stopping"), svc::kControlStop, status));
  const struct {
    const char* name;
    Dword error;
  } cases[] = {{"Busy", winerr::kServiceAlreadyRunning},
               {"Stopping", winerr::kServiceAlreadyRunning},
               {"Off", winerr::kServiceDisabled},
               {"Orphan", winerr::kServiceDependencyDeleted},
               {"NeedsOff", winerr::kServiceDependencyFail}};
  for (const auto& c : cases) {
    EXPECT_TRUE(failsWith(c.error, sim.StartServiceA(open(c.name).get(), 0, nullptr))) << c.name;
  }
  EXPECT_EQ(svc::kStopped, stateOf("Orphan"));
}

TEST_F(SimulatedServiceTest, StartBringsUpStoppedDependenciesFirst) {
  add("Db", svc::kStopped, [](auto& c) { c.startPendingMs = 2000; });
  add("App", svc::kStopped, [](auto& c) {
    c.dependencies = {"DB"};
    c.startPendingMs = 1000;
  });
  ScHandle app = open("App");
  ScHandle db = open("Db");
  ASSERT_TRUE(sim.StartServiceA(app.get(), 0, nullptr));
  EXPECT_EQ(svc::kStartPending, stateOf("Db"));
  sim.advance(2000);
  EXPECT_EQ(svc::kRunning, stateOf("Db"));
  EXPECT_EQ(svc::kStartPending, stateOf("App")) << "its own start begins once Db runs";

  // Db cannot stop while App is active, starting or running; as documented, the
  // status record is not filled on this refusal.
  ServiceStatus status;
  EXPECT_TRUE(failsWith(winerr::kDependentServicesRunning, control(db, svc::kControlStop, status)));
  EXPECT_EQ(kUntouched, status.dwCurrentState);
  sim.advance(1000);
  EXPECT_EQ(svc::kRunning, stateOf("App"));
  EXPECT_TRUE(failsWith(winerr::kDependentServicesRunning, control(db, svc::kControlStop, status)));
  ASSERT_TRUE(control(app, svc::kControlStop, status));
  EXPECT_TRUE(control(db, svc::kControlStop, status));
}

TEST_F(SimulatedServiceTest, DeletedServiceStaysUntilStoppedAndLastHandleClosed) {
  add("Running", svc::kRunning, [](auto& c) { c.stopPendingMs = 5000; });
  add("Idle");
  ScHandle first = open("Running");
  ScHandle second = open("Running");
  ASSERT_TRUE(sim.DeleteService(first.get()));
  EXPECT_TRUE(failsWith(winerr::kServiceMarkedForDelete, sim.DeleteService(second.get())));
  EXPECT_TRUE(sim.service("Running")->markedForDelete);
  EXPECT_TRUE(open("Running")) << "still in the database";
  EXPECT_TRUE(failsWith(winerr::kServiceMarkedForDelete, create("RUNNING", nullptr)));
  EXPECT_TRUE(failsWith(
      winerr::kServiceMarkedForDelete,
      sim.ChangeServiceConfigA(second.get(), svc::kNoChange, svc::kDisabled, svc::kNoChange,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)));
  // Still controllable through its handles; it goes once both closed and stopped.
  ServiceStatus status;
  ASSERT_TRUE(control(first, svc::kControlStop, status));
  first.reset();
  second.reset();
  EXPECT_TRUE(sim.service("Running")) << "closed, but still stopping";
  sim.advance(5000);
  EXPECT_FALSE(sim.service("Running"));
  EXPECT_TRUE(failsWith(winerr::kServiceDoesNotExist, open("Running")));
  EXPECT_TRUE(ScHandle(sim, create("Running", nullptr))) << "the name is free again";

  // The other order: stopped first, gone with its last handle.
  ScHandle idle = open("Idle");
  ASSERT_TRUE(sim.DeleteService(idle.get()));
  EXPECT_TRUE(
      failsWith(winerr::kServiceMarkedForDelete, sim.StartServiceA(idle.get(), 0, nullptr)));
  EXPECT_TRUE(sim.service("Idle")) << "stopped, but a handle is open";
  idle.reset();
  EXPECT_FALSE(sim.service("Idle"));
}

TEST_F(SimulatedServiceTest, FaultsStrikeBeforeTheChosenOccurrenceOfACall) {
  add("Svc", svc::kRunning);
  add("Idle", svc::kStopped);
  std::vector<std::string> seenAtFault;
  sim.beforeCall(
      "QueryServiceStatus Svc",
      [&] {
        seenAtFault = sim.calls();
        sim.deleteService("Svc");
        sim.deleteService("Idle");
      },
      2);
  ScHandle service = open("Svc");
  ServiceStatus status{};
  EXPECT_TRUE(sim.QueryServiceStatus(service.get(), &status));
  EXPECT_FALSE(sim.service("Svc")->markedForDelete);
  EXPECT_TRUE(sim.QueryServiceStatus(service.get(), &status)) << "the call itself still runs";
  EXPECT_EQ("QueryServiceStatus Svc", seenAtFault.back()) << "logged before the fault";
  EXPECT_TRUE(sim.service("Svc")->markedForDelete) << "held open and running: it stays";
  EXPECT_FALSE(sim.service("Idle")) << "stopped and not open: gone at once";
  sim.setQueryFails("Svc", true);
  EXPECT_FALSE(sim.QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(winerr::kAccessDenied, sim.GetLastError());
}

TEST_F(SimulatedServiceTest, CreateRecordsTheConfigurationAndAcceptsMissingDependencies) {
  ScHandle created(sim, create("hubkeep", "Hub Keeper", "MSSQL$SALES\0"));
  ASSERT_TRUE(created);
  const auto view = sim.service("hubkeep");
  EXPECT_EQ("Hub Keeper", view->config.displayName);
  EXPECT_EQ(svc::kAutoStart, view->config.startType);
  EXPECT_EQ("C:\\App\\new.exe", view->config.binaryPath);
  EXPECT_THAT(view->config.dependencies, ElementsAre("MSSQL$SALES"));
  EXPECT_EQ(svc::kStopped, view->currentState);
  EXPECT_TRUE(
      failsWith(winerr::kServiceDependencyDeleted, sim.StartServiceA(created.get(), 0, nullptr)))
      << "a missing dependency surfaces at the start";
  ScHandle plain(sim, create("loomtide", nullptr));
  EXPECT_EQ("loomtide", sim.service("loomtide")->config.displayName);
}

TEST_F(SimulatedServiceTest, CreateRefusals) {
  add("Db", svc::kStopped, [](auto& c) { c.displayName = "Database Engine"; });
  const char* path = "C:\\App\\new.exe";
  const struct {
    const char* name;
    const char* display;
    Dword type, start, errorControl;
    const char* path;
    Dword error;
  } cases[] = {
      {"", nullptr, 0x10, 2, 1, path, winerr::kInvalidName},
      {"a/b", nullptr, 0x10, 2, 1, path, winerr::kInvalidName},
      {"a\\b", nullptr, 0x10, 2, 1, path, winerr::kInvalidName},
      {"New", nullptr, 0x10, 2, 1, nullptr, winerr::kInvalidParameter},
      {"New", nullptr, 0x10, 2, 1, "", winerr::kInvalidParameter},
      {"New", nullptr, 0x40, 2, 1, path, winerr::kInvalidParameter},
      {"New", nullptr, 0x10, svc::kBootStart, 1, path, winerr::kInvalidParameter},
      {"New", nullptr, 0x10, 5, 1, path, winerr::kInvalidParameter},
      {"New", nullptr, 0x10, 2, 4, path, winerr::kInvalidParameter},
      {"DB", nullptr, 0x10, 2, 1, path, winerr::kServiceExists},
      {"New", "db", 0x10, 2, 1, path, winerr::kDuplicateServiceName},
      {"New", "DATABASE engine", 0x10, 2, 1, path, winerr::kDuplicateServiceName},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(failsWith(
        c.error, sim.CreateServiceA(manager.get(), c.name, c.display, svc::kServiceAllAccess,
                                    c.type, c.start, c.errorControl, c.path, nullptr, nullptr,
                                    nullptr, nullptr, nullptr)))
        << c.name << " / " << (c.display ? c.display : "-");
  }
  EXPECT_FALSE(sim.service("New"));
  manager.reset(sim.OpenSCManagerA(nullptr, nullptr, 0x1));  // SC_MANAGER_CONNECT only
  EXPECT_TRUE(failsWith(winerr::kAccessDenied, create("New", nullptr)));
}

TEST_F(SimulatedServiceTest, ChangeConfigChangesOnlyWhatIsGiven) {
  add("Svc", svc::kRunning, [](auto& c) { c.displayName = "Old Name"; });
  add("Other", svc::kStopped, [](auto& c) { c.displayName = "Other Name"; });
  ScHandle service = open("Svc");
  const auto change = [&](Dword start, const char* display) {
    return sim.ChangeServiceConfigA(service.get(), svc::kNoChange, start, svc::kNoChange, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, display);
  };
  ASSERT_TRUE(change(svc::kDisabled, "New Name"));
  const auto view = sim.service("Svc");
  EXPECT_EQ(svc::kDisabled, view->config.startType);
  EXPECT_EQ("New Name", view->config.displayName);
  EXPECT_EQ(svc::kWin32OwnProcess, view->config.serviceType);
  EXPECT_EQ(svc::kErrorNormal, view->config.errorControl);
  EXPECT_EQ("C:\\App\\Svc.exe", view->config.binaryPath);
  EXPECT_EQ(svc::kRunning, view->currentState) << "a disabled service runs on";

  ASSERT_TRUE(change(svc::kNoChange, ""));
  EXPECT_EQ("New Name", sim.service("Svc")->config.displayName) << "empty changes nothing";
  EXPECT_TRUE(failsWith(winerr::kDuplicateServiceName, change(svc::kDemandStart, "other name")));
  EXPECT_TRUE(failsWith(winerr::kDuplicateServiceName, change(svc::kDemandStart, "OTHER")));
  EXPECT_TRUE(failsWith(winerr::kInvalidParameter, change(7, nullptr)));
  EXPECT_EQ(svc::kDisabled, sim.service("Svc")->config.startType) << "refusals change nothing";
}

TEST_F(SimulatedServiceTest, HandlesCarryTheirAccessRightsAndQueriesCanFail) {
  add("Svc", svc::kRunning);
  add("Broken", svc::kRunning, [](auto& c) { c.queryFails = true; });
  ScHandle queryOnly = open("Svc", 0x4);  // SERVICE_QUERY_STATUS
  ServiceStatus status;
  EXPECT_TRUE(sim.QueryServiceStatus(queryOnly.get(), &status));
  EXPECT_TRUE(failsWith(winerr::kAccessDenied, control(queryOnly, svc::kControlStop, status)));
  EXPECT_TRUE(failsWith(winerr::kAccessDenied, sim.DeleteService(queryOnly.get())));
  EXPECT_TRUE(
      failsWith(winerr::kAccessDenied, sim.QueryServiceStatus(open("Broken").get(), &status)));
  EXPECT_TRUE(failsWith(winerr::kInvalidHandle, sim.QueryServiceStatus(manager.get(), &status)));
}

TEST_F(SimulatedServiceTest, OpenResourcesNameEveryUnclosedHandle) {
  add("Svc");
  sim.addKey("SOFTWARE\\Corvane\\Vardeck");
  SimulatedPlatform::ProcessConfig leftover;
  leftover.processId = 1234;
  sim.addProcess(leftover);
  RawScHandle service = sim.OpenServiceA(manager.get(), "Svc", svc::kServiceAllAccess);
  RawKey key = nullptr;
  sim.RegOpenKeyExA(hkeyLocalMachine(), "SOFTWARE\\Corvane\\Vardeck", 0, reg::kKeyRead, &key);
  RawHandle snapshot = sim.CreateToolhelp32Snapshot(proc::kSnapProcess, 0);
  RawHandle process = sim.OpenProcess(proc::kSynchronize, false, 1234);
  EXPECT_THAT(sim.openResources(), ElementsAre("manager handle", "service handle Svc",
                                               "registry key SOFTWARE\\Corvane\\Vardeck",
                                               "process snapshot", "process handle 1234"));
  const std::set<const void*> values{manager.get(), service, key, snapshot, process};
  EXPECT_EQ(5u, values.size()) << "every handle is a distinct token";
  for (const void* value : values) {
    EXPECT_TRUE(value != nullptr && value != invalidHandleValue() && value != hkeyLocalMachine());
  }
  EXPECT_TRUE(sim.CloseHandle(process));
  EXPECT_TRUE(sim.CloseHandle(snapshot));
  EXPECT_EQ(0, sim.RegCloseKey(key));
  EXPECT_TRUE(sim.CloseServiceHandle(service));
  EXPECT_THAT(sim.openResources(), ElementsAre("manager handle"));

  // Tokens are never reused, so a stale handle stays invalid.
  ScHandle reopened = open("Svc");
  EXPECT_EQ(0u, values.count(reopened.get()));
  EXPECT_TRUE(failsWith(winerr::kInvalidHandle, sim.CloseServiceHandle(service)));
}

TEST_F(SimulatedServiceTest, CallLogShowsEachCallInOrder) {
  add("Svc", svc::kRunning);
  manager.reset();
  sim.clearCalls();
  {
    manager.reset(sim.OpenSCManagerA(nullptr, nullptr, svc::kManagerAllAccess));
    ScHandle service = open("Svc");
    ServiceStatus status;
    control(service, svc::kControlStop, status);
    sim.Sleep(1000);
    sim.QueryServiceStatus(service.get(), &status);
  }
  manager.reset();
  EXPECT_THAT(sim.calls(), ElementsAre("OpenSCManagerA", "OpenServiceA Svc", "ControlService Svc 1",
                                       "Sleep 1000", "QueryServiceStatus Svc",
                                       "CloseServiceHandle Svc", "CloseServiceHandle manager"));
}

}  // namespace
}  // namespace vdksvc
