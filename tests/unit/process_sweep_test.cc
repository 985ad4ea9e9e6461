// The sweep of leftover processes on the simulated process table: what matches,
// who gets the grace period, who is terminated, and what is released.

#include "services/process_sweep.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "services/process_match.h"
#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::Contains;
using ::testing::ContainsRegex;
using ::testing::ElementsAre;

constexpr std::uint64_t kForever = SimulatedPlatform::kForever;

class SweepTest : public SimulatedTest {
 protected:
  void process(Dword id, const std::string& image, std::uint64_t exitAtMs = kForever,
               bool openRefused = false) {
    sim.addProcess({id, image, exitAtMs, openRefused});
  }
  void entry(const std::string& binaryPath) { list.addEntry(binaryPath.c_str(), "Svc", "Service"); }
  /// The calls the sweep made that name processes: opens, waits, terminations.
  std::vector<std::string> processCalls() const {
    std::vector<std::string> made;
    for (const std::string& call : sim.calls()) {
      if (call.rfind("OpenProcess ", 0) == 0 || call.rfind("WaitFor", 0) == 0 ||
          call.rfind("TerminateProcess", 0) == 0) {
        made.push_back(call);
      }
    }
    return made;
  }
  bool terminated(Dword id) const { return sim.process(id)->terminated; }
  SweepTest() { log.echoTo(&err); }  // to standard error, as -v does, with no file to close
  TextOutput err{sim, file::kStdErrorHandle};
  StepLog log;

  ServiceList list;
};

TEST_F(SweepTest, ImageNameIsTheFileNameWithoutQuotes) {
  const std::pair<const char*, const char*> samples[] = {
      {"C:\\App\\bin\\srv.exe", "srv.exe"},
      {"\"C:\\App\\bin\\srv.exe\"", "srv.exe"},
      {"srv.exe", "srv.exe"},
      {"\"\"srv.exe\"\"", "srv.exe"},
      {"\"C:\\Program Files\\App\\srv.exe\" -service", "srv.exe\" -service"},
      {"C:\\App\\", ""},
      {"\"\"\"", ""},
      {"", ""},
  };
  for (const auto& [path, name] : samples) EXPECT_EQ(name, imageNameOf(sim, path)) << path;
}

TEST_F(SweepTest, ImageNameKeepsADoubleByteCharacterWhoseSecondByteIsABackslash) {
  // "\x95\x5C" is one Shift_JIS character; under a single-byte code page its
  // second byte is a backslash.
  const std::string path = "C:\\App\\\x95\x5Csrv.exe";
  EXPECT_EQ("srv.exe", imageNameOf(sim, path));
  sim.setDoubleByteCodePage(true);
  EXPECT_EQ("\x95\x5Csrv.exe", imageNameOf(sim, path));
  EXPECT_EQ("srv.exe", imageNameOf(sim, "C:\\\x95\x5C\\srv.exe"));
}

TEST_F(SweepTest, NamesMatchWithoutRegardToAsciiCaseOnly) {
  process(10, "SRV.EXE");
  process(11, "Srv.Exe");
  process(12, "\xC9tat.exe");  // "Etat.exe" with an accented capital E in code page 1252
  process(13, "srv.ex");
  entry("C:\\App\\srv.exe");
  entry("C:\\App\\\xE9tat.exe");  // the same with a small accented e: not ASCII, so unequal
  sweepLeftoverProcesses(sim, list);
  // Each opened to look at it, then to end it; after the grace, terminated and
  // waited for until gone.
  EXPECT_THAT(processCalls(),
              ElementsAre("OpenProcess 10", "OpenProcess 10", "OpenProcess 11", "OpenProcess 11",
                          "WaitForMultipleObjects 2 60000", "TerminateProcess 10 0",
                          "TerminateProcess 11 0", "WaitForMultipleObjects 2 10000"));
}

TEST_F(SweepTest, NoMatchOpensAndWaitsOnNothing) {
  process(10, "other.exe");
  process(11, "srv.exe.bak");
  entry("\"C:\\App\\srv.exe\"");
  entry("\"C:\\App\\srv.exe\" -service");  // quoted with arguments: matches nothing
  sweepLeftoverProcesses(sim, list);
  EXPECT_THAT(processCalls(), ElementsAre());
  EXPECT_EQ("CloseHandle snapshot", sim.calls().back());
  EXPECT_EQ(0u, sim.nowMs());
}

TEST_F(SweepTest, ProcessesEndingWithinTheGraceAreLeftToEnd) {
  process(10, "srv.exe", 10000);
  process(11, "SRV.EXE", 45000);
  process(12, "other.exe");
  entry("\"C:\\App\\bin\\srv.exe\"");
  sweepLeftoverProcesses(sim, list);
  EXPECT_THAT(processCalls(), ElementsAre("OpenProcess 10", "OpenProcess 10", "OpenProcess 11",
                                          "OpenProcess 11", "WaitForMultipleObjects 2 60000"));
  EXPECT_EQ(45000u, sim.nowMs()) << "the wait ends with the last of them";
  EXPECT_FALSE(terminated(10));
  EXPECT_FALSE(terminated(11));
}

TEST_F(SweepTest, ProcessIgnoringTheStopIsTerminatedAfterTheGrace) {
  process(10, "srv.exe");
  process(11, "hub.exe", 5000);
  process(12, "other.exe");
  entry("C:\\App\\srv.exe");
  entry("C:\\App\\hub.exe");
  sweepLeftoverProcesses(sim, list);
  EXPECT_EQ(60000u, sim.nowMs());
  EXPECT_TRUE(terminated(10));
  EXPECT_EQ(0u, sim.process(10)->exitCode);
  EXPECT_FALSE(terminated(11)) << "it had ended by itself";
  EXPECT_TRUE(sim.process(12)->running);
}

// A process that refuses even to be looked at cannot be told to run the list's
// program: a stranger's, left alone and not counted as left running.
TEST_F(SweepTest, ProcessThatCannotBeOpenedDoesNotCutTheOthersGrace) {
  process(10, "srv.exe", kForever, /*openRefused=*/true);
  process(11, "srv.exe", 30000);
  entry("C:\\App\\srv.exe");
  EXPECT_TRUE(sweepLeftoverProcesses(sim, list));
  EXPECT_THAT(processCalls(), ElementsAre("OpenProcess 10", "OpenProcess 11", "OpenProcess 11",
                                          "WaitForMultipleObjects 1 60000"));
  EXPECT_EQ(30000u, sim.nowMs());
  EXPECT_FALSE(terminated(11));
  EXPECT_TRUE(sim.process(10)->running) << "nothing can be done about it";
}

// One of the list's own programs that refuses only PROCESS_TERMINATE keeps its
// grace, and counts as left running only when it outlives it.
TEST_F(SweepTest, ProgramRefusingToBeEndedIsLeftRunningOnlyPastItsGrace) {
  SimulatedPlatform::ProcessConfig ends{10, "srv.exe", 30000};
  ends.terminateRefused = true;
  sim.addProcess(ends);
  entry("C:\\App\\srv.exe");
  EXPECT_TRUE(sweepLeftoverProcesses(sim, list)) << "it ended within its grace";
  SimulatedPlatform::ProcessConfig stays{11, "srv.exe"};
  stays.terminateRefused = true;
  sim.addProcess(stays);
  EXPECT_FALSE(sweepLeftoverProcesses(sim, list));
  EXPECT_TRUE(sim.process(11)->running);
  EXPECT_EQ(30000u + 60000u, sim.nowMs()) << "it had its whole grace";
}

TEST_F(SweepTest, ProcessMatchingTwoEntriesIsWaitedOnOnce) {
  process(10, "srv.exe", 20000);
  entry("C:\\App\\srv.exe");
  entry("\"D:\\Other\\SRV.exe\"");
  sweepLeftoverProcesses(sim, list);
  EXPECT_THAT(processCalls(),
              ElementsAre("OpenProcess 10", "OpenProcess 10", "WaitForMultipleObjects 1 60000"));
  EXPECT_EQ(20000u, sim.nowMs());
  EXPECT_FALSE(terminated(10));
}

TEST_F(SweepTest, OnlyTheFirst64MatchesFoundAreHandled) {
  for (Dword id = 1; id <= 70; ++id) process(id, "srv.exe");
  entry("C:\\App\\srv.exe");
  sweepLeftoverProcesses(sim, list);
  EXPECT_THAT(sim.calls(), Contains("WaitForMultipleObjects 64 60000"));
  for (Dword id = 1; id <= 70; ++id) EXPECT_EQ(id <= 64, terminated(id)) << id;
}

struct PrivilegeCase {
  const char* what;
  bool held;
  bool enabled = false;      ///< before the sweep, and so after it
  bool openRefused = false;  ///< it refuses even to be looked at
  bool terminated = false;
  bool done = true;  ///< the sweep left no process of the list running
};

const PrivilegeCase kPrivilegeCases[] = {
    {.what = "held and enabled for the opens", .held = true, .terminated = true},
    {.what = "enabled already", .held = true, .enabled = true, .terminated = true},
    {.what = "not held, so the process refuses", .held = false, .done = false},
    {.what = "not held, a refusal counts", .held = false, .openRefused = true, .done = false},
};

class SweepPrivilegeTest : public SweepTest, public ::testing::WithParamInterface<PrivilegeCase> {};

TEST_P(SweepPrivilegeTest, LocalSystemProcessNeedsTheDebugPrivilegeWhichEndsAsItWas) {
  const PrivilegeCase& c = GetParam();
  sim.setDebugPrivilege(c.held, c.enabled);
  SimulatedPlatform::ProcessConfig leftover{10, "srv.exe", kForever, c.openRefused};
  leftover.systemOwned = true;
  sim.addProcess(leftover);
  entry("C:\\App\\srv.exe");
  EXPECT_EQ(c.done, sweepLeftoverProcesses(sim, list, log));
  EXPECT_EQ(c.terminated, terminated(10));
  if (c.openRefused) {
    EXPECT_THAT(sim.standardStream(file::kStdErrorHandle),
                ContainsRegex("process 10 [^\r]*may be"));
  }
  EXPECT_EQ(c.enabled, sim.debugPrivilegeEnabled());
  // Put back right after the opens, before the wait.
  const std::vector<std::string>& calls = sim.calls();
  const auto wait = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
    return call.rfind("WaitFor", 0) == 0;
  });
  EXPECT_EQ(std::find(wait, calls.end(), "AdjustTokenPrivileges"), calls.end());
}
INSTANTIATE_TEST_SUITE_P(Table, SweepPrivilegeTest, ::testing::ValuesIn(kPrivilegeCases),
                         caseName<PrivilegeCase>);

struct MatchCase {
  const char* what;
  const char* entry;
  const char* image;  ///< what process 11's image path reads
  bool reused;        ///< its id goes to another program between snapshot and open
  bool swept;
};

const MatchCase kMatchCases[] = {
    {"same file under another spelling", "\"C:\\App\\srv.exe\"", "c:\\APP\\\\SRV.EXE", false, true},
    {"same name in another directory", "\"C:\\App\\srv.exe\"", "D:\\Other\\srv.exe", false, false},
    {"reused id", "srv.exe", "C:\\App\\srv.exe", true, false},
    {"image that cannot be read", "\"C:\\App\\srv.exe\"", "", false, true},
    {"bare file name", "srv.exe", "D:\\Other\\srv.exe", false, true},
};

class SweepMatchTest : public SweepTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(SweepMatchTest, OnlyTheListsOwnProgramIsWaitedOnAndTerminated) {
  const MatchCase& c = GetParam();
  sim.addFile("C:\\App\\srv.exe", 7);
  sim.addFile("c:\\APP\\\\SRV.EXE", 7);  // the same file
  sim.addFile("D:\\Other\\srv.exe");
  sim.addProcess({10, "srv.exe", 30000, false, "C:\\App\\srv.exe"});
  sim.addProcess({11, "srv.exe", kForever, false, c.image});
  if (c.reused) {
    sim.beforeCall("OpenProcess 11", [this] {
      sim.endProcess(11);
      sim.addProcess({11, "other.exe", kForever, false, "D:\\Other\\other.exe"});
    });
  }
  entry(c.entry);
  sweepLeftoverProcesses(sim, list);
  EXPECT_EQ(c.swept, terminated(11));
  EXPECT_EQ(c.swept ? 60000u : 30000u, sim.nowMs()) << "process 10 keeps its whole grace";
  EXPECT_FALSE(terminated(10));
}
INSTANTIATE_TEST_SUITE_P(Table, SweepMatchTest, ::testing::ValuesIn(kMatchCases),
                         caseName<MatchCase>);

// The actions lie where the structure points; off SC_ACTION's alignment is none.
TEST_F(SweepTest, RecoveryActionsAreReadWhereTheirPointerLeads) {
  for (const auto& [name, at] : {std::pair{"Svc", 64u}, std::pair{"Odd", 65u}}) {
    SimulatedPlatform::ServiceConfig config = serviceNamed(name, svc::kRunning);
    config.failureActions = {{svc::kActionRestart, 60000}};
    config.failureActionsAt = at;
    sim.addService(config);
    list.addEntry("C:\\App\\srv.exe", name, name);
  }
  process(10, "srv.exe");
  sweepLeftoverProcesses(sim, list, log);
  const std::string text = sim.standardStream(file::kStdErrorHandle);
  EXPECT_THAT(text, ContainsRegex("Svc is [^\r]*restart the service"));
  EXPECT_THAT(text, ContainsRegex("Odd is [^\r]*cannot be read"));
}

// ReFS may give two files one 64-bit index; the 128-bit file id tells them
// apart. Where Windows or the file system has no such id, the index is all
// there is.
TEST_F(SweepTest, FilesAreToldApartByTheir128BitId) {
  sim.addFile("C:\\App\\srv.exe", 7, 1);
  sim.addFile("D:\\Other\\srv.exe", 7, 2);
  sim.addProcess({10, "srv.exe", kForever, false, "D:\\Other\\srv.exe"});
  entry("C:\\App\\srv.exe");
  EXPECT_TRUE(sweepLeftoverProcesses(sim, list));
  EXPECT_FALSE(terminated(10)) << "another program of the same name";
  sim.setFileIdInfoSupported(false);
  EXPECT_TRUE(sweepLeftoverProcesses(sim, list));
  EXPECT_TRUE(terminated(10)) << "the one index cannot tell them apart";
}

// Some network file systems give every file the id zero, which tells nothing.
TEST_F(SweepTest, AZeroFileIdTellsNothing) {
  struct : SimulatedPlatform {  // the file of index 9 is on such a share
    bool GetFileInformationByHandleEx(RawHandle file, int type, void* id, Dword size) override {
      const bool read = SimulatedPlatform::GetFileInformationByHandleEx(file, type, id, size);
      if (read && static_cast<FileIdInfo*>(id)->FileId[0] == 9) *static_cast<FileIdInfo*>(id) = {};
      return read;
    }
  } share;
  share.addFile("C:\\App\\srv.exe");
  share.addFile("\\\\nas\\srv.exe", 9);
  share.addProcess({10, "srv.exe", kForever, false, "\\\\nas\\srv.exe"});
  entry("C:\\App\\srv.exe");
  sweepLeftoverProcesses(share, list);
  EXPECT_TRUE(share.process(10)->terminated);
}

TEST_F(SweepTest, EmptyListTakesNoSnapshot) {
  process(10, "srv.exe");
  sweepLeftoverProcesses(sim, list);
  EXPECT_THAT(sim.calls(), ElementsAre());
}

}  // namespace
}  // namespace vdksvc
