// The checks the end-to-end tests also run against the real Windows, here on
// the simulated one: the model must agree with what Windows reports.

#include "platform_contract.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vdksvc {
namespace {

using PlatformContractTest = SimulatedTest;

TEST_F(PlatformContractTest, StopThatMakesProgress) {
  SimulatedPlatform::ServiceConfig config = serviceNamed("Svc", svc::kRunning);
  config.stopPendingMs = 3000;
  sim.addService(config);
  contract::stopThatMakesProgress(sim, "Svc");
}

TEST_F(PlatformContractTest, HungStop) {
  SimulatedPlatform::ServiceConfig config = serviceNamed("Svc", svc::kRunning);
  config.stopPendingMs = SimulatedPlatform::kForever;
  config.progressMs = 0;
  sim.addService(config);
  contract::hungStop(sim, "Svc");
}

TEST_F(PlatformContractTest, WaitEndsSoonAfterTheStop) {
  SimulatedPlatform::ServiceConfig config = serviceNamed("Svc", svc::kRunning);
  config.stopPendingMs = 1000;
  sim.addService(config);
  contract::waitEndsSoonAfterTheStop(sim, "Svc", 1000);
}

TEST_F(PlatformContractTest, FileIdentity) {
  sim.addFile("C:\\App\\srv.exe");
  sim.addFile("C:\\App\\other.exe");
  contract::fileIdentity(sim, "C:\\App\\srv.exe", "c:\\APP\\SRV.EXE", "C:\\App\\other.exe");
}

}  // namespace
}  // namespace vdksvc
