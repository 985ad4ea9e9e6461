// The sweep of leftover processes on the simulated process table: what matches,
// who gets the grace period, who is terminated, and what is released.

#include "services/process_sweep.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

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
      if (call.rfind("OpenProcess", 0) == 0 || call.rfind("WaitFor", 0) == 0 ||
          call.rfind("TerminateProcess", 0) == 0) {
        made.push_back(call);
      }
    }
    return made;
  }
  bool terminated(Dword id) const { return sim.process(id)->terminated; }

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
  EXPECT_THAT(processCalls(),
              ElementsAre("OpenProcess 10", "OpenProcess 11", "WaitForMultipleObjects 2 60000",
                          "TerminateProcess 10 0", "TerminateProcess 11 0"));
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
  EXPECT_THAT(processCalls(),
              ElementsAre("OpenProcess 10", "OpenProcess 11", "WaitForMultipleObjects 2 60000"));
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

TEST_F(SweepTest, ProcessThatCannotBeOpenedDoesNotCutTheOthersGrace) {
  process(10, "srv.exe", kForever, /*openRefused=*/true);
  process(11, "srv.exe", 30000);
  entry("C:\\App\\srv.exe");
  sweepLeftoverProcesses(sim, list);
  EXPECT_THAT(processCalls(),
              ElementsAre("OpenProcess 10", "OpenProcess 11", "WaitForMultipleObjects 1 60000"));
  EXPECT_EQ(30000u, sim.nowMs());
  EXPECT_FALSE(terminated(11));
  EXPECT_TRUE(sim.process(10)->running) << "nothing can be done about it";
}

TEST_F(SweepTest, ProcessMatchingTwoEntriesIsWaitedOnOnce) {
  process(10, "srv.exe", 20000);
  entry("C:\\App\\srv.exe");
  entry("\"D:\\Other\\SRV.exe\"");
  sweepLeftoverProcesses(sim, list);
  EXPECT_THAT(processCalls(), ElementsAre("OpenProcess 10", "WaitForMultipleObjects 1 60000"));
  EXPECT_EQ(20000u, sim.nowMs());
  EXPECT_FALSE(terminated(10));
}

TEST_F(SweepTest, OnlyTheFirst64MatchesFoundAreHandled) {
  for (Dword id = 1; id <= 70; ++id) process(id, "srv.exe");
  entry("C:\\App\\srv.exe");
  sweepLeftoverProcesses(sim, list);
  EXPECT_THAT(sim.calls(), Contains("WaitForMultipleObjects 64 60000"));
  EXPECT_THAT(sim.calls(), Not(Contains(HasSubstr("OpenProcess 65"))));
  for (Dword id = 1; id <= 70; ++id) EXPECT_EQ(id <= 64, terminated(id)) << id;
}

TEST_F(SweepTest, EmptyListTakesNoSnapshot) {
  process(10, "srv.exe");
  sweepLeftoverProcesses(sim, list);
  EXPECT_THAT(sim.calls(), ElementsAre());
}

}  // namespace
}  // namespace vdksvc
