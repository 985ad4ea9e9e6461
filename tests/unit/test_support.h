#pragma once
// Shared helpers of the unit tests.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "services/access_rights.h"
#include "services/entry_outcome.h"
#include "simulated/simulated_platform.h"

namespace vdksvc {

/// Every right, for the operations a test calls without the command that gives them theirs.
constexpr AccessRights kEveryRight{svc::kManagerAllAccess, svc::kServiceAllAccess};

/// "done", or "not done" with the error or the last state, for failure messages.
void PrintTo(const EntryOutcome& outcome, std::ostream* os);

/// A fixture owning one simulated Windows; every test fails that leaves a
/// handle, key or snapshot open.
class SimulatedTest : public ::testing::Test {
 protected:
  void TearDown() override;

  SimulatedPlatform sim;
};

/// A service to seed: \a name in \a state, run by "C:\App\<name>.exe"; the test
/// adjusts the rest before handing it to SimulatedPlatform::addService.
SimulatedPlatform::ServiceConfig serviceNamed(const std::string& name, Dword state = svc::kStopped);

/// Checks the call log of service operations: within each stretch that begins with
/// "OpenSCManagerA", no service handle is closed after the manager handle.
::testing::AssertionResult managerClosedLast(const std::vector<std::string>& calls);

/// A wait ends at most this long after the service left its pending state.
constexpr std::uint64_t kWaitLagMs = 250;

/// The virtual time of a run whose waits end when their services get there: at
/// least \a ms, and at most kWaitLagMs more for each of its \a waits.
::testing::Matcher<std::uint64_t> tookAbout(std::uint64_t ms, unsigned waits = 1);

/// How often \a call appears in \a calls, exactly.
std::size_t countCalls(const std::vector<std::string>& calls, const std::string& call);

/// \a what as a test name: its letters and digits, each word capitalised.
std::string identifierOf(const char* what);

/// Names the cases of a table-driven test after their `what` member.
template <class Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
  return identifierOf(info.param.what);
}

/// A mutable argument vector, as main() receives it: argv[0] is the program path,
/// argv[argc] is null. The texts may be changed in place by the code under test.
class Args {
 public:
  /// \a operands are the arguments after the program path.
  Args(std::initializer_list<std::string> operands);
  explicit Args(const std::vector<std::string>& operands);

  int argc() const { return static_cast<int>(storage_.size()); }
  char** argv() { return pointers_.data(); }
  std::string at(int index) const {
    return std::string(storage_.at(static_cast<std::size_t>(index)).data());
  }

 private:
  std::vector<std::vector<char>> storage_;
  std::vector<char*> pointers_;
};

}  // namespace vdksvc
