// Stop, remove, start, pause and continue on the simulated manager: the request
// each sends, how long it waits, and what it reports.

#include "services/state_changes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/handles.h"
#include "services/pending_wait.h"
#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::ElementsAre;

using Operation = const StateChange*;

constexpr Dword kAll = svc::kAcceptStop | svc::kAcceptPauseContinue;
constexpr std::uint64_t kForever = SimulatedPlatform::kForever;
constexpr Dword kGone = 0;
const EntryOutcome kDone = EntryOutcome::done();
EntryOutcome failed(Dword error) { return EntryOutcome::failed(error); }
EntryOutcome seen(Dword state) { return EntryOutcome::lastSeenIn(state); }

/// How the service "Svc" is seeded.
struct Seed {
  Dword state = svc::kRunning;
  std::uint64_t pendingMs = 0;  ///< every pending state lasts this long
  Dword accepted = kAll;
  Dword startType = svc::kDemandStart;
  bool queryFails = false;
};

struct StateChangeCase {
  const char* what;
  Operation operation;
  Seed seed;
  PollLimit limit;
  EntryOutcome outcome;
  const char* request;     ///< the one request the operation sends
  std::uint64_t waitedMs;  ///< until the service got there or -t ran out; 0: no wait
  Dword finalState;        ///< kGone once the service has left the manager
};

// Failure messages name the case rather than dump its bytes.
void PrintTo(const StateChangeCase& c, std::ostream* os) { *os << c.what; }

// clang-format off
const StateChangeCase kCases[] = {
    // what, operation, seed {state, pending ms, accepted, start type, query fails}, limit,
    // outcome, request, waited ms, final state
    {"stop waits while stopping", &change::kStop, {svc::kRunning, 2500}, 0,
     kDone, "ControlService Svc 1", 2500, svc::kStopped},
    {"stop of a stopped service is refused, no wait", &change::kStop, {svc::kStopped}, 0,
     kDone, "ControlService Svc 1", 0, svc::kStopped},
    {"stop not accepted by the service", &change::kStop, {svc::kRunning, 0, svc::kAcceptPauseContinue}, 0,
     failed(winerr::kInvalidServiceControl), "ControlService Svc 1", 0, svc::kRunning},
    {"stop of a stuck service ends at the limit", &change::kStop, {svc::kRunning, kForever}, 3,
     seen(svc::kStopPending), "ControlService Svc 1", 3000, svc::kStopPending},
    {"stop without a limit waits as long as it takes", &change::kStop, {svc::kRunning, 3600000}, 0,
     kDone, "ControlService Svc 1", 3600000, svc::kStopped},
    {"a failed query ends the wait", &change::kStop, {svc::kRunning, 5000, kAll, svc::kDemandStart, true}, 0,
     failed(winerr::kAccessDenied), "ControlService Svc 1", 0, svc::kStopPending},
    {"remove of a running service stops it first", &change::kRemove, {svc::kRunning, 1500}, 0,
     kDone, "ControlService Svc 1", 1500, kGone},
    {"remove of a stopped service deletes at once", &change::kRemove, {svc::kStopped}, 0,
     kDone, "ControlService Svc 1", 0, kGone},
    {"remove of a service refusing stop only marks it", &change::kRemove, {svc::kRunning, 0, svc::kAcceptPauseContinue}, 0,
     kDone, "ControlService Svc 1", 0, svc::kRunning},
    {"remove still stopping at the limit", &change::kRemove, {svc::kRunning, kForever}, 2,
     kDone, "ControlService Svc 1", 2000, svc::kStopPending},
    {"start waits while starting", &change::kStart, {svc::kStopped, 500}, 0,
     kDone, "StartServiceA Svc", 500, svc::kRunning},
    {"start of a disabled service", &change::kStart, {svc::kStopped, 0, kAll, svc::kDisabled}, 0,
     failed(winerr::kServiceDisabled), "StartServiceA Svc", 0, svc::kStopped},
    {"start of a stuck service ends at the limit", &change::kStart, {svc::kStopped, kForever}, 2,
     seen(svc::kStartPending), "StartServiceA Svc", 2000, svc::kStartPending},
    {"the limit is unsigned: -1 is 4294967295 s", &change::kStart, {svc::kStopped, 5500}, 4294967295u,
     kDone, "StartServiceA Svc", 5500, svc::kRunning},
    {"pause waits while pausing", &change::kPause, {svc::kRunning, 1200}, 0,
     kDone, "ControlService Svc 2", 1200, svc::kPaused},
    {"pause not accepted", &change::kPause, {svc::kRunning, 0, svc::kAcceptStop}, 0,
     failed(winerr::kInvalidServiceControl), "ControlService Svc 2", 0, svc::kRunning},
    {"pause still pending at the limit", &change::kPause, {svc::kRunning, kForever}, 2,
     seen(svc::kPausePending), "ControlService Svc 2", 2000, svc::kPausePending},
    {"pause whose query fails", &change::kPause, {svc::kRunning, 500, kAll, svc::kDemandStart, true}, 0,
     failed(winerr::kAccessDenied), "ControlService Svc 2", 0, svc::kPausePending},
    {"continue waits while resuming", &change::kContinue, {svc::kPaused, 700}, 0,
     kDone, "ControlService Svc 3", 700, svc::kRunning},
    {"continue of a stopped service", &change::kContinue, {svc::kStopped}, 0,
     failed(winerr::kServiceNotActive), "ControlService Svc 3", 0, svc::kStopped},
    {"continue still pending at the limit", &change::kContinue, {svc::kPaused, kForever}, 1,
     seen(svc::kContinuePending), "ControlService Svc 3", 1000, svc::kContinuePending},
};
// clang-format on

class StateChangeTest : public SimulatedTest,
                        public ::testing::WithParamInterface<StateChangeCase> {
 protected:
  void seed(const Seed& seed) {
    SimulatedPlatform::ServiceConfig config = serviceNamed("Svc", seed.state);
    config.controlsAccepted = seed.accepted;
    config.startType = seed.startType;
    config.queryFails = seed.queryFails;
    config.startPendingMs = config.stopPendingMs = seed.pendingMs;
    config.pausePendingMs = config.continuePendingMs = seed.pendingMs;
    sim.addService(config);
  }
};

ServiceEntry entryFor(const std::string& name) {
  return ServiceEntry{"C:\\App\\svc.exe", name, "Service", {}};
}

TEST_P(StateChangeTest, RequestWaitAndResult) {
  const StateChangeCase& c = GetParam();
  seed(c.seed);
  EXPECT_EQ(c.outcome, changeState(sim, entryFor("Svc"), *c.operation, {kEveryRight, c.limit}));

  const std::vector<std::string>& calls = sim.calls();
  EXPECT_EQ(1u, countCalls(calls, c.request));
  if (c.waitedMs == 0 && !c.seed.queryFails) {
    EXPECT_EQ(0u, countCalls(calls, "QueryServiceStatus Svc")) << "no wait";
  }
  EXPECT_THAT(sim.nowMs(), tookAbout(c.waitedMs));
  const bool removes = c.operation == &change::kRemove;
  EXPECT_EQ(removes ? 1u : 0u, countCalls(calls, "DeleteService Svc"));
  if (removes) {
    EXPECT_EQ("DeleteService Svc", calls.at(calls.size() - 3)) << "after the wait";
  }
  EXPECT_THAT(calls.back(), "CloseServiceHandle manager");
  EXPECT_TRUE(managerClosedLast(calls));

  const auto service = sim.service("Svc");
  if (c.finalState == kGone) {
    EXPECT_FALSE(service.has_value()) << "still there";
  } else {
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(c.finalState, service->currentState);
    EXPECT_EQ(removes, service->markedForDelete);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, StateChangeTest, ::testing::ValuesIn(kCases),
                         caseName<StateChangeCase>);

// A request that another program's request crosses: the manager refuses it
// while the service is on its way elsewhere, so the operation waits for it to
// get there and asks once more, all within one -t.
struct CrossingCase {
  const char* what;
  Operation operation;
  const char* request;    ///< the operation's request in the call log
  Dword seedState;        ///< settled
  Dword otherRequest;     ///< what another program asks first: a control, or 0 to start
  std::uint64_t otherMs;  ///< how long the pending state it causes lasts
  std::uint64_t ownMs;    ///< how long the operation's own pending state lasts
  PollLimit limit;
  EntryOutcome outcome;
  std::size_t requests;    ///< how often the operation sends its request
  std::uint64_t waitedMs;  ///< all its waits together, each until the service got there
  Dword finalState;
  std::uint64_t progressMs = kForever;  ///< how long the checkpoint rises while pending
  std::uint64_t lingersMs = 0;          ///< its old program runs on this long, though STOPPED
};

void PrintTo(const CrossingCase& c, std::ostream* os) { *os << c.what; }

constexpr Dword kNobody = 0xFFFFFFFF;
constexpr Dword kStart = 0;
/// Sent again and again, by the wait's cadence.
constexpr std::size_t kRepeatedly = 0;

// clang-format off
const CrossingCase kCrossingCases[] = {
    // what, operation, request, seed, other request, its ms, own ms, limit, outcome, requests, waited ms, final state
    {"stop while a start is pending", &change::kStop, "ControlService Svc 1", svc::kStopped, kStart, 3000, 500, 0,
     kDone, 2, 3500, svc::kStopped},
    {"stop while a start is pending past the limit", &change::kStop, "ControlService Svc 1", svc::kStopped, kStart, 5000, 500, 2,
     seen(svc::kStartPending), 1, 2000, svc::kStartPending},
    {"the second wait takes what is left of the limit", &change::kStop, "ControlService Svc 1", svc::kStopped, kStart, 2000, kForever, 3,
     seen(svc::kStopPending), 2, 3000, svc::kStopPending},
    {"stop while a stop is pending waits on it", &change::kStop, "ControlService Svc 1", svc::kRunning, svc::kControlStop, 1500, 0, 0,
     kDone, 1, 1500, svc::kStopped},
    {"start while a stop is pending", &change::kStart, "StartServiceA Svc", svc::kRunning, svc::kControlStop, 2000, 500, 0,
     kDone, 2, 2500, svc::kRunning},
    {"start of a running service is refused, no wait", &change::kStart, "StartServiceA Svc", svc::kRunning, kNobody, 0, 0, 0,
     kDone, 1, 0, svc::kRunning},
    {"start of a paused service is refused, no wait", &change::kStart, "StartServiceA Svc", svc::kPaused, kNobody, 0, 0, 0,
     kDone, 1, 0, svc::kPaused},
    {"pause while a start is pending", &change::kPause, "ControlService Svc 2", svc::kStopped, kStart, 1000, 0, 0,
     kDone, 2, 1000, svc::kPaused},
    {"continue while a pause is pending", &change::kContinue, "ControlService Svc 3", svc::kRunning, svc::kControlPause, 1000, 0, 0,
     kDone, 2, 1000, svc::kRunning},
    {"pause while a stop is pending meets a stopped service", &change::kPause, "ControlService Svc 2", svc::kRunning, svc::kControlStop, 1000, 0, 0,
     failed(winerr::kServiceNotActive), 2, 1000, svc::kStopped},
    {.what = "a hung start before the sweep is given up", .operation = &change::kStopBeforeSweep, .request = "ControlService Svc 1",
     .seedState = svc::kStopped, .otherRequest = kStart, .otherMs = kForever, .ownMs = 0, .limit = 0, .outcome = seen(svc::kStartPending),
     .requests = 1, .waitedMs = kHungAfterMs, .finalState = svc::kStartPending, .progressMs = 0},
    {.what = "a hung pause before the sweep is given up", .operation = &change::kStopBeforeSweep, .request = "ControlService Svc 1",
     .seedState = svc::kRunning, .otherRequest = svc::kControlPause, .otherMs = kForever, .ownMs = 0, .limit = 0, .outcome = seen(svc::kPausePending),
     .requests = 1, .waitedMs = kHungAfterMs, .finalState = svc::kPausePending, .progressMs = 0},
    {.what = "a start refused while the old program still runs is sent again", .operation = &change::kStart, .request = "StartServiceA Svc",
     .seedState = svc::kStopped, .otherRequest = kNobody, .otherMs = 0, .ownMs = 500, .limit = 0, .outcome = kDone,
     .requests = kRepeatedly, .waitedMs = 3000 + 500, .finalState = svc::kRunning, .lingersMs = 3000},
    {.what = "an old program running past the hung rule's time", .operation = &change::kStart, .request = "StartServiceA Svc",
     .seedState = svc::kStopped, .otherRequest = kNobody, .otherMs = 0, .ownMs = 500, .limit = 0, .outcome = seen(svc::kStopped),
     .requests = kRepeatedly, .waitedMs = kHungAfterMs, .finalState = svc::kStopped, .lingersMs = 20000},
    {.what = "an old program running past the limit", .operation = &change::kStart, .request = "StartServiceA Svc",
     .seedState = svc::kStopped, .otherRequest = kNobody, .otherMs = 0, .ownMs = 500, .limit = 2, .outcome = seen(svc::kStopped),
     .requests = kRepeatedly, .waitedMs = 2000, .finalState = svc::kStopped, .lingersMs = 5000},
};
// clang-format on

class CrossingTest : public SimulatedTest, public ::testing::WithParamInterface<CrossingCase> {
 protected:
  /// Seeds "Svc" and lets another program send its request.
  void seed(const CrossingCase& c) {
    SimulatedPlatform::ServiceConfig config = serviceNamed("Svc", c.seedState);
    config.startPendingMs = config.stopPendingMs = c.ownMs;
    config.pausePendingMs = config.continuePendingMs = c.ownMs;
    config.progressMs = c.progressMs;
    switch (c.otherRequest) {
      case kStart:
        config.startPendingMs = c.otherMs;
        break;
      case svc::kControlStop:
        config.stopPendingMs = c.otherMs;
        break;
      case svc::kControlPause:
        config.pausePendingMs = c.otherMs;
        break;
      default:
        break;
    }
    config.processId = c.lingersMs != 0 ? 10 : 0;
    if (c.lingersMs != 0) sim.addProcess({10, "Svc.exe", c.lingersMs});
    sim.addService(config);
    if (c.otherRequest == kNobody) return;
    const ScHandle manager(sim, sim.OpenSCManagerA(nullptr, nullptr, svc::kManagerAllAccess));
    const ScHandle other(sim, sim.OpenServiceA(manager.get(), "Svc", svc::kServiceAllAccess));
    ServiceStatus status;
    ASSERT_TRUE(c.otherRequest == kStart
                    ? sim.StartServiceA(other.get(), 0, nullptr)
                    : sim.ControlService(other.get(), c.otherRequest, &status));
  }
};

TEST_P(CrossingTest, WaitsForTheServiceThenAsksAgain) {
  const CrossingCase& c = GetParam();
  seed(c);
  sim.clearCalls();
  EXPECT_EQ(c.outcome, changeState(sim, entryFor("Svc"), *c.operation, {kEveryRight, c.limit}));
  const std::size_t requests = countCalls(sim.calls(), c.request);
  EXPECT_TRUE(c.requests == kRepeatedly ? requests > 2 : requests == c.requests) << requests;
  EXPECT_THAT(sim.nowMs(), tookAbout(c.waitedMs, 2));
  EXPECT_EQ(c.finalState, sim.service("Svc")->currentState);
  EXPECT_TRUE(managerClosedLast(sim.calls()));
}

INSTANTIATE_TEST_SUITE_P(Table, CrossingTest, ::testing::ValuesIn(kCrossingCases),
                         caseName<CrossingCase>);

using StateChangeCallsTest = SimulatedTest;

TEST_F(StateChangeCallsTest, StopOfARunningService) {
  sim.addService(serviceNamed("Svc", svc::kRunning));
  EXPECT_EQ(kDone, changeState(sim, entryFor("Svc"), change::kStop, {kEveryRight}));
  EXPECT_THAT(sim.calls(), ElementsAre("OpenSCManagerA", "OpenServiceA Svc", "ControlService Svc 1",
                                       "QueryServiceStatus Svc", "CloseServiceHandle Svc",
                                       "CloseServiceHandle manager"));
}

TEST_F(StateChangeCallsTest, ServiceThatCannotBeOpenedIsLeftAlone) {
  const Operation operations[] = {&change::kStop, &change::kRemove, &change::kStart,
                                  &change::kPause, &change::kContinue};
  SimulatedPlatform::ServiceConfig locked = serviceNamed("Locked", svc::kRunning);
  locked.openRefused = true;
  sim.addService(locked);
  for (Operation operation : operations) {
    // A service to remove that is not there is as good as removed.
    const bool removes = operation == &change::kRemove;
    const std::pair<const char*, EntryOutcome> refusals[] = {
        {"Missing", removes ? kDone : failed(winerr::kServiceDoesNotExist)},
        {"Locked", EntryOutcome::accessDenied()}};
    for (const auto& [name, outcome] : refusals) {
      sim.clearCalls();
      EXPECT_EQ(outcome, changeState(sim, entryFor(name), *operation, {kEveryRight})) << name;
      EXPECT_THAT(sim.calls(), ElementsAre("OpenSCManagerA", std::string("OpenServiceA ") + name,
                                           "CloseServiceHandle manager"));
    }
    sim.setManagerOpenRefused(true);
    sim.clearCalls();
    EXPECT_EQ(EntryOutcome::accessDenied(),
              changeState(sim, entryFor("Locked"), *operation, {kEveryRight}));
    EXPECT_THAT(sim.calls(), ElementsAre("OpenSCManagerA"));
    sim.setManagerOpenRefused(false);
  }
  EXPECT_EQ(svc::kRunning, sim.service("Locked")->currentState);
}

}  // namespace
}  // namespace vdksvc
