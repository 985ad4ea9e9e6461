// The step log written by the real vdksvc.exe under Wine: switched on by
// VDKSVC_LOG or by the StepLog registry value, read back as the administrator
// would read it.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_fixture.h"
#include "e2e_support.h"

namespace vdksvc::e2e {
namespace {

const char* const kProductKey = "SOFTWARE\\Corvane\\Vardeck";
const char* const kStepLogKey = "SOFTWARE\\Corvane\\Vardeck\\vdksvc";

std::string fileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

/// A path in the temporary directory that no file has yet; removed at the end.
class LogFile {
 public:
  explicit LogFile(const char* name) {
    char directory[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, directory);
    path_ = std::string(directory) + name + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(path_.c_str());
  }
  ~LogFile() { DeleteFileA(path_.c_str()); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Sets VDKSVC_LOG for the runs this process starts, while it lives.
class LogVariable {
 public:
  explicit LogVariable(const std::string& path) {
    SetEnvironmentVariableA("VDKSVC_LOG", path.c_str());
  }
  ~LogVariable() { SetEnvironmentVariableA("VDKSVC_LOG", nullptr); }
  LogVariable(const LogVariable&) = delete;
  LogVariable& operator=(const LogVariable&) = delete;
};

class StepLogE2e : public ServiceManagerE2e {
 protected:
  void SetUp() override {
    ServiceManagerE2e::SetUp();
    if (stopped()) return;
    // A service of each test's own, as the tests run side by side.
    working_ =
        std::string("VdkLog") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(removeServiceCompletely(working_));
    ASSERT_EQ(0u, createTestService(working_, {}));
  }
  void TearDown() override {
    if (!working_.empty()) {
      EXPECT_TRUE(removeServiceCompletely(working_));
    }
  }

  std::string working_;
};

TEST_F(StepLogE2e, LogNamesTheMissingServiceWithItsErrorAndTheWorkingOne) {
  const LogFile log("vdk_steplog_");
  const TempFile list("x.exe, VdkLogMissing, Missing\nx.exe, " + working_ + ", Working\n");
  {
    const LogVariable variable(log.path());
    const RunResult run = runVdksvc({"-start", "-t", "10", "-f", list.path()});
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("", run.out + run.err) << "the log goes to its file only";
  }
  EXPECT_EQ("RUNNING", std::string(stateName(queryStatus(working_)->dwCurrentState)));
  const std::string text = fileText(log.path());
  EXPECT_NE(std::string::npos, text.find("start VdkLogMissing: OpenServiceA failed: 1060")) << text;
  EXPECT_NE(std::string::npos, text.find("start " + working_ + ": StartServiceA accepted")) << text;
  EXPECT_NE(std::string::npos, text.find("last state RUNNING")) << text;
  EXPECT_NE(std::string::npos, text.find("end: exit status 0\r\n")) << text;
}

TEST_F(StepLogE2e, TwoRunsAppendingToOneLogKeepBothWhole) {
  const LogFile log("vdk_steplog_shared_");
  {
    const LogVariable variable(log.path());
    const RunResult first = runVdksvc({"-stop", "-c", "x", working_, "x"});
    const RunResult second = runVdksvc({"-bogus"});
    EXPECT_EQ(0u, first.exitCode);
    EXPECT_EQ(4294967295u, second.exitCode);
  }
  const std::vector<std::string> lines = linesOf(fileText(log.path()));
  int runs = 0;
  int ends = 0;
  for (const std::string& line : lines) {
    // "yyyy-mm-dd hh:mm:ss.mmm [pid] text\r"
    ASSERT_GT(line.size(), 26u) << line;
    EXPECT_EQ('-', line[4]) << line;
    EXPECT_EQ('.', line[19]) << line;
    EXPECT_EQ('[', line[24]) << line;
    EXPECT_EQ('\r', line.back()) << line;
    if (line.find("] run: ") != std::string::npos) ++runs;
    if (line.find("] end: exit status") != std::string::npos) ++ends;
  }
  EXPECT_EQ(2, runs);
  EXPECT_EQ(2, ends);
  EXPECT_NE(std::string::npos, fileText(log.path()).find("refused: \"-bogus\" is no command"));
}

TEST_F(StepLogE2e, RegistrySwitchIsExpandedAndNothingIsWrittenOnceItIsGone) {
  char drive[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableA("SystemDrive", drive, MAX_PATH), 0u);
  const std::string name = "vdk_steplog_registry_" + std::to_string(GetCurrentProcessId()) + ".log";
  const std::string expanded = std::string(drive) + "\\" + name;
  DeleteFileA(expanded.c_str());
  ASSERT_EQ(ERROR_SUCCESS,
            setRegistryString(kStepLogKey, "StepLog", "%SystemDrive%\\" + name, REG_EXPAND_SZ));
  const RunResult logged = runVdksvc({"-stop", "-c", "x", working_, "first"});
  // The product's key goes with it: on a clean machine this test made it.
  ASSERT_EQ(ERROR_SUCCESS, deleteRegistryTree(kProductKey));
  const RunResult quiet = runVdksvc({"-stop", "-c", "x", working_, "second"});
  EXPECT_EQ(0u, logged.exitCode);
  EXPECT_EQ(0u, quiet.exitCode);

  const std::string text = fileText(expanded);
  DeleteFileA(expanded.c_str());
  EXPECT_NE(std::string::npos, text.find(working_ + " first")) << text;
  EXPECT_EQ(std::string::npos, text.find(working_ + " second")) << text;
}

}  // namespace
}  // namespace vdksvc::e2e
