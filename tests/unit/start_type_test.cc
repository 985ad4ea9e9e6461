// The start-type change on the simulated manager.

#include "services/start_type.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::ElementsAre;

class StartTypeTest : public SimulatedTest {
 protected:
  void SetUp() override {
    SimulatedPlatform::ServiceConfig config = serviceNamed("Svc", svc::kRunning);
    config.displayName = "Old name";
    config.startType = svc::kAutoStart;
    sim.addService(config);
  }
  static ServiceEntry entry(const char* word, const char* name, const char* display) {
    return ServiceEntry{{}, name, display, word};
  }
};

TEST_F(StartTypeTest, EachWordSetsItsStartTypeAndTheDisplayName) {
  const std::pair<const char*, Dword> words[] = {{"demand", svc::kDemandStart},
                                                 {"disabled", svc::kDisabled},
                                                 {"auto", svc::kAutoStart},
                                                 {"Demand", svc::kDemandStart},
                                                 {"DISABLED", svc::kDisabled}};
  for (const auto& [word, startType] : words) {
    const std::string display = std::string("Vardeck ") + word;
    EXPECT_EQ(EntryOutcome::done(),
              changeStartType(sim, entry(word, "Svc", display.c_str()), {kEveryRight}))
        << word;
    const auto service = sim.service("Svc");
    EXPECT_EQ(startType, service->config.startType) << word;
    EXPECT_EQ(display, service->config.displayName) << word;
    // Only the configuration changes: a service set to disabled runs on.
    EXPECT_EQ(svc::kRunning, service->currentState) << word;
    EXPECT_EQ("C:\\App\\Svc.exe", service->config.binaryPath) << word;
  }
}

// ChangeServiceConfigA has stored the change when it returns.
TEST_F(StartTypeTest, NoWaitAfterTheChange) {
  EXPECT_EQ(EntryOutcome::done(),
            changeStartType(sim, entry("disabled", "Svc", "New name"), {kEveryRight}));
  EXPECT_THAT(sim.calls(), ElementsAre("OpenSCManagerA", "OpenServiceA Svc", "CharLowerA",
                                       "ChangeServiceConfigA Svc", "CloseServiceHandle Svc",
                                       "CloseServiceHandle manager"));
  EXPECT_EQ(0u, sim.nowMs());
}

TEST_F(StartTypeTest, FailuresChangeNothing) {
  SimulatedPlatform::ServiceConfig other = serviceNamed("Other");
  other.displayName = "Taken name";
  sim.addService(other);
  const std::pair<ServiceEntry, Dword> failing[] = {
      {entry("manual", "Svc", "New name"), winerr::kInvalidParameter},  // not a start-type word
      {entry("disabled", "Missing", "New name"), winerr::kServiceDoesNotExist},
      {entry("disabled", "Svc", "Taken name"), winerr::kDuplicateServiceName},  // refused
  };
  for (const auto& [e, error] : failing) {
    sim.clearCalls();
    EXPECT_EQ(EntryOutcome::failed(error), changeStartType(sim, e, {kEveryRight})) << e.serviceName;
    EXPECT_EQ("CloseServiceHandle manager", sim.calls().back());
    EXPECT_TRUE(managerClosedLast(sim.calls()));
  }
  EXPECT_EQ(svc::kAutoStart, sim.service("Svc")->config.startType);
  EXPECT_EQ("Old name", sim.service("Svc")->config.displayName);
  EXPECT_EQ(0u, sim.nowMs());
}

}  // namespace
}  // namespace vdksvc
