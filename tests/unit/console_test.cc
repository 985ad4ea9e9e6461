// What vdksvc writes for the administrator at a prompt: -query's report, the
// usage text of /?, the step log on standard error with -v, and text as a
// console or a redirected stream takes it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text_output.h"
#include "command/command.h"
#include "command/command_line.h"
#include "command/step_log_switches.h"
#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr Dword kOut = file::kStdOutputHandle;
constexpr Dword kErr = file::kStdErrorHandle;

/// \a text split at CR LF; a missing CR LF at the end is a line of its own.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
    lines.push_back(text.substr(from, end - from));
  }
  if (from < text.size()) lines.push_back(text.substr(from) + "<no CR LF>");
  return lines;
}

class ConsoleTest : public SimulatedTest {
 protected:
  int run(const std::vector<std::string>& operands) {
    Args args(operands);
    StepLog log = stepLogFromSwitches(sim);
    return runCommand(sim, args.argc(), args.argv(), log);
  }
  /// True when the run reached the service control manager at all.
  bool touchedServices() const {
    for (const std::string& call : sim.calls()) {
      if (call.rfind("OpenSCManagerA", 0) == 0) return true;
    }
    return false;
  }
};

// -query over every kind of row: running with its process, stopped, missing,
// moved by an upgrade, and refused. Stored paths differing only in letter case
// or in quotes around the whole path are the list's own.
class QueryTest : public ConsoleTest {
 protected:
  void SetUp() override {
    auto hub = serviceNamed("hubkeep", svc::kRunning);
    hub.displayName = "Vardeck Hub";
    hub.startType = svc::kAutoStart;
    hub.processId = 1200;
    hub.binaryPath = "C:\\App\\hubkeep.exe";
    sim.addService(hub);
    auto loom = serviceNamed("loomtide", svc::kStopped);
    loom.displayName = "Vardeck \"Loom\"";
    loom.processId = 1300;  // none while stopped
    loom.binaryPath = "\"C:\\Program Files\\V\\loom.exe\"";
    sim.addService(loom);
    auto moved = serviceNamed("moved", svc::kRunning);
    moved.startType = svc::kDisabled;
    moved.binaryPath = "C:\\Old\\moved.exe";
    sim.addService(moved);
    auto locked = serviceNamed("locked", svc::kRunning);
    locked.grantedRights = svc::kServiceQueryStatus;  // not SERVICE_QUERY_CONFIG
    sim.addService(locked);
    auto sealed = serviceNamed("sealed", svc::kRunning);
    sealed.grantedRights = 0;  // not even its status
    sim.addService(sealed);
    sim.setFileContents(list,
                        "c:\\app\\HUBKEEP.exe, hubkeep, Hub\n"
                        "C:\\Program Files\\V\\loom.exe, loomtide, Loom\n"
                        "C:\\App\\NetBootCast.exe, NetBootCast, Vardeck Net Boot\n"
                        "C:\\New\\moved.exe, moved, Moved\n"
                        "C:\\App\\locked.exe, locked, Locked\n"
                        "C:\\App\\sealed.exe, sealed, Sealed\n");
  }
  const std::string list = "C:\\Lists\\query.lst";
};

TEST_F(QueryTest, TheTableShowsEachServiceAsTheManagerHoldsIt) {
  EXPECT_EQ(0, run({"-query", "-f", list}));
  EXPECT_THAT(
      linesOf(sim.standardStream(kOut)),
      ElementsAre(
          "SERVICE      STATE          START     PID   DISPLAY NAME      BINARY PATH",
          "hubkeep      RUNNING        auto      1200  Vardeck Hub       C:\\App\\hubkeep.exe",
          "loomtide     STOPPED        demand          Vardeck \"Loom\"    "
          "\"C:\\Program Files\\V\\loom.exe\"",
          "NetBootCast  NOT_INSTALLED                  Vardeck Net Boot  "
          "(list: C:\\App\\NetBootCast.exe)",
          "moved        RUNNING        disabled        moved             "
          "C:\\Old\\moved.exe (list: C:\\New\\moved.exe)",
          "locked       RUNNING        UNKNOWN         Locked",
          "sealed       ERROR 5                        Sealed"));
  EXPECT_EQ("", sim.standardStream(kErr));
}

TEST_F(QueryTest, CsvQuotesEveryFieldAndTheOutcomeStatusCountsWhatDoesNotRun) {
  EXPECT_EQ(3, run({"-QUERY", "-e", "-t", "5", "-o", "CSV", "-f", list}));
  EXPECT_THAT(
      linesOf(sim.standardStream(kOut)),
      ElementsAre(
          R"("Service","State","Start","PID","Display name","Binary path","Listed binary path")",
          R"("hubkeep","RUNNING","auto","1200","Vardeck Hub","C:\App\hubkeep.exe","")",
          R"("loomtide","STOPPED","demand","","Vardeck ""Loom""","""C:\Program Files\V\loom.exe""","")",
          R"("NetBootCast","NOT_INSTALLED","","","Vardeck Net Boot","","C:\App\NetBootCast.exe")",
          R"("moved","RUNNING","disabled","","moved","C:\Old\moved.exe","C:\New\moved.exe")",
          R"("locked","RUNNING","UNKNOWN","","Locked","","")",
          R"("sealed","ERROR 5","","","Sealed","","")"));
}

TEST_F(QueryTest, ItOnlyOpensReadsAndClosesWithTheRightsOfAnOrdinaryUser) {
  sim.setGrantedRights(svc::kManagerConnect, svc::kServiceUserRights);
  EXPECT_EQ(0, run({"-query", "-f", list}));
  // Besides the step log's switches in the registry and the keyword's lowering:
  for (const std::string& call : sim.calls()) {
    EXPECT_THAT(call, ::testing::AnyOf(
                          StartsWith("Reg"), StartsWith("CharLowerA"), StartsWith("OpenSCManagerA"),
                          StartsWith("OpenServiceA "), StartsWith("QueryServiceStatusEx "),
                          StartsWith("QueryServiceConfigA "), StartsWith("CloseServiceHandle "),
                          StartsWith("WriteFile stdout "), HasSubstr(list)));
  }
  EXPECT_EQ(svc::kRunning, sim.service("hubkeep")->currentState);
  EXPECT_EQ(svc::kStopped, sim.service("loomtide")->currentState);
  EXPECT_THAT(sim.standardStream(kOut), HasSubstr("hubkeep      RUNNING"));
}

// Each command line and what it gives: the status, whether standard output got
// the usage text, and whether any service was reached.
struct CommandLineCase {
  const char* what;
  std::vector<std::string> operands;
  int status;
  bool usage;
  bool touched;
};

// Named, not printed byte by byte: the padding after the flags is never set.
void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.what; }

class CommandLineTest : public ConsoleTest,
                        public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLineTest, UsageAndRefusals) {
  const CommandLineCase& c = GetParam();
  sim.addService(serviceNamed("Svc", svc::kRunning));
  EXPECT_EQ(c.status, run(c.operands));
  const std::string out = sim.standardStream(kOut);
  if (c.usage) {
    EXPECT_THAT(out, StartsWith("vdksvc: manages the Windows services"));
    EXPECT_LE(linesOf(out).size(), 40u);
  } else {
    EXPECT_THAT(out, ::testing::Not(HasSubstr("vdksvc: manages")));
  }
  EXPECT_EQ(c.touched, touchedServices());
  EXPECT_EQ(svc::kRunning, sim.service("Svc")->currentState);
}

const CommandLineCase kCommandLines[] = {
    {"slash question mark", {"/?"}, -1, true, false},
    {"dash help in capitals", {"-HELP"}, -1, true, false},
    {"double dash help", {"--help"}, -1, true, false},
    {"slash h", {"/h"}, -1, true, false},
    {"help word later is no help", {"-x", "/?"}, -1, false, false},
    {"stop with slash question mark", {"-stop", "-c", "x", "Svc", "x", "/?"}, -1, true, false},
    {"stop with a help option", {"-stop", "/Help", "-c", "x", "Svc", "x"}, -1, true, false},
    {"help word as an operand of c", {"-stop", "-c", "x", "-h", "x"}, 0, false, true},
    {"question mark inside c operands", {"-stop", "-c", "x", "-?", "x"}, -1, true, false},
    {"startup with question mark", {"-startup", "-disabled", "Svc", "Name", "-?"}, -1, true, false},
    {"query with another format", {"-query", "-o", "xml", "-c", "x", "Svc", "x"}, -1, false, false},
    {"query without a format", {"-query", "-c", "x", "Svc", "x", "-o"}, -1, false, false},
    {"o elsewhere keeps its old meaning",
     {"-stop", "-o", "csv", "-c", "x", "Svc", "x"},
     -1,
     false,
     false},
    {"o table", {"-query", "-o", "Table", "-c", "x", "Svc", "x"}, 0, false, true},
};
INSTANTIATE_TEST_SUITE_P(Table, CommandLineTest, ::testing::ValuesIn(kCommandLines),
                         caseName<CommandLineCase>);

TEST_F(ConsoleTest, RecognisedLikeTheOtherCommands) {
  for (const char* word : {"-query", "/Query", "x -QUERY"}) {
    std::vector<char> text(word, word + std::char_traits<char>::length(word) + 1);
    const CommandRow* row = recogniseCommand(sim, text.data());
    EXPECT_TRUE(row != nullptr && std::string(row->keyword) == "query") << word;
  }
}

TEST_F(ConsoleTest, VerboseWritesTheLogFilesLinesToStandardError) {
  auto svc = serviceNamed("Svc", svc::kRunning);
  svc.stopPendingMs = 1500;
  sim.addService(svc);
  sim.setEnvironmentVariable("VDKSVC_LOG", "C:\\Logs\\vdksvc.log");
  EXPECT_EQ(0, run({"-stop", "-v", "-c", "x", "Svc", "x"}));
  const std::string err = sim.standardStream(kErr);
  EXPECT_EQ(sim.fileContents("C:\\Logs\\vdksvc.log").value_or("?"), err);
  EXPECT_THAT(err, HasSubstr("] stop Svc: read 1 at 0 ms: STOP_PENDING, checkpoint 1, wait hint "
                             "2000 ms\r\n"));
  EXPECT_THAT(err, ::testing::Not(HasSubstr(": read 2 at "))) << "a line a second, not a read";
  EXPECT_THAT(err, HasSubstr("waited while STOP_PENDING: "));
  EXPECT_EQ("", sim.standardStream(kOut));
}

TEST_F(ConsoleTest, VerboseStandsWhereTheOutcomeSwitchMay) {
  sim.addService(serviceNamed("Svc", svc::kRunning));
  sim.addService(serviceNamed("-v", svc::kRunning));
  struct Case {
    std::vector<std::string> operands;
    bool verbose;
  };
  const Case cases[] = {
      {{"-stop", "-c", "x", "Svc", "x", "/V"}, true},
      {{"-startup", "-verbose", "-demand", "Svc", "Svc"}, true},
      {{"-startup", "-demand", "Svc", "Svc", "-v"}, true},
      {{"-stop", "-c", "x", "-v", "x"}, false},  // a service named -v
      {{"-stop", "-t", "-v"}, false},            // a refused poll limit
      {{"-startup", "-demand", "-v", "Svc"}, false},
  };
  for (const Case& c : cases) {
    run(c.operands);
    EXPECT_EQ(c.verbose, !sim.standardStream(kErr).empty()) << c.operands[1];
    sim.setStandardStream(kErr, SimulatedPlatform::Stream::kRedirected);  // empty again
  }
  EXPECT_EQ(svc::kStopped, sim.service("-v")->currentState);
}

TEST_F(ConsoleTest, RunsWithoutTheNewOptionsWriteNothing) {
  sim.addService(serviceNamed("Svc", svc::kRunning));
  EXPECT_EQ(0, run({"-stop", "-c", "x", "Svc", "x"}));
  EXPECT_EQ(-1, run({"-bogus", "/?"}));
  EXPECT_EQ("", sim.standardStream(kOut));
  EXPECT_EQ("", sim.standardStream(kErr));
}

// ANSI text reaches a console converted, with WriteConsoleW, and a redirected
// stream as its bytes; a stream that fails or is missing changes nothing else.
TEST_F(ConsoleTest, TextAsTheConsoleOrTheRedirectedStreamTakesIt) {
  auto cafe = serviceNamed("Cafe", svc::kRunning);
  cafe.displayName = "Caf\xE9 \x80";  // code page 1252: e acute, euro sign
  sim.addService(cafe);
  const std::vector<std::string> query{"-query", "-e", "-o", "csv", "-c", "x", "Cafe", "x"};

  sim.setStandardStream(kOut, SimulatedPlatform::Stream::kConsole);
  EXPECT_EQ(0, run(query));
  EXPECT_THAT(sim.standardStream(kOut), HasSubstr("\"Caf\u00E9 \u20AC\""));
  EXPECT_EQ(0u, countCalls(sim.calls(), "WriteFile stdout"));

  sim.setStandardStream(kOut, SimulatedPlatform::Stream::kRedirected);
  EXPECT_EQ(0, run(query));
  EXPECT_THAT(sim.standardStream(kOut), HasSubstr("\"Caf\xE9 \x80\",\"C:\\App\\Cafe.exe\""));

  for (const auto stream :
       {SimulatedPlatform::Stream::kBrokenPipe, SimulatedPlatform::Stream::kNone}) {
    sim.setStandardStream(kOut, stream);
    EXPECT_EQ(0, run(query));
    EXPECT_EQ(-1, run({"/?"}));
  }
}

// A character beyond U+FFFF is two units; a chunk holds at least one unit.
TEST(ConsoleChunk, NeverCutsASurrogatePair) {
  EXPECT_EQ(2u, consoleChunkOf(u"ab\U0001F600c", 3));
  EXPECT_EQ(4u, consoleChunkOf(u"ab\U0001F600c", 4));
  EXPECT_EQ(1u, consoleChunkOf(u"\U0001F600", 1));
}

}  // namespace
}  // namespace vdksvc
