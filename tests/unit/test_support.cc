#include "test_support.h"

#include <gmock/gmock.h>

namespace vdksvc {

void PrintTo(const EntryOutcome& outcome, std::ostream* os) {
  *os << (outcome.isDone() ? "done" : "not done");
  if (outcome.error() != 0) *os << ", error " << outcome.error();
  if (outcome.lastState() != 0) *os << ", last state " << outcome.lastState();
}

void SimulatedTest::TearDown() {
  EXPECT_THAT(sim.openResources(), ::testing::IsEmpty()) << "the test left resources open";
}

SimulatedPlatform::ServiceConfig serviceNamed(const std::string& name, Dword state) {
  SimulatedPlatform::ServiceConfig config;
  config.name = name;
  config.binaryPath = "C:\\App\\" + name + ".exe";
  config.state = state;
  return config;
}

::testing::AssertionResult managerClosedLast(const std::vector<std::string>& calls) {
  bool managerClosed = false;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const std::string& call = calls[i];
    if (call == "OpenSCManagerA") {
      managerClosed = false;
    } else if (call == "CloseServiceHandle manager") {
      managerClosed = true;
    } else if (managerClosed && call.rfind("CloseServiceHandle ", 0) == 0) {
      return ::testing::AssertionFailure()
             << "call " << i << " (" << call << ") comes after the manager handle was closed";
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::Matcher<std::uint64_t> tookAbout(std::uint64_t ms, unsigned waits) {
  return ::testing::AllOf(::testing::Ge(ms), ::testing::Le(ms + waits * kWaitLagMs));
}

std::size_t countCalls(const std::vector<std::string>& calls, const std::string& call) {
  std::size_t count = 0;
  for (const std::string& made : calls) {
    if (made == call) ++count;
  }
  return count;
}

std::string identifierOf(const char* what) {
  std::string name;
  bool wordStart = true;
  for (const char* p = what; *p != '\0'; ++p) {
    const char c = *p;
    const bool lower = c >= 'a' && c <= 'z';
    if (!lower && !(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9')) {
      wordStart = true;
      continue;
    }
    name += wordStart && lower ? static_cast<char>(c - 'a' + 'A') : c;
    wordStart = false;
  }
  return name;
}

Args::Args(std::initializer_list<std::string> operands)
    : Args(std::vector<std::string>(operands)) {}

Args::Args(const std::vector<std::string>& operands) {
  const std::string program = "C:\\Corvane\\Vardeck\\bin\\vdksvc.exe";
  storage_.emplace_back(program.begin(), program.end());
  for (const std::string& operand : operands) storage_.emplace_back(operand.begin(), operand.end());
  for (std::vector<char>& text : storage_) {
    text.push_back('\0');
    pointers_.push_back(text.data());
  }
  pointers_.push_back(nullptr);
}

}  // namespace vdksvc
