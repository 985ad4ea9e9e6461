// Runs whole command lines through runCommand on the simulated platform: the
// argument vector, the product's registry values, list files on disk, the
// services, the manager and the process table all come from the input.
//
// Input, read front to back; a read past the end gives 0 bytes, so every input
// decodes (see Reader):
//   world     1 byte of flags: 1 manager refused, 2 product key refused,
//             4 database key refused (128: in the 32-bit view rather than the
//             64-bit one), 8 double-byte code page, 16 the same run again with
//             the step log on (32: its file cannot be opened, 64: it cannot be
//             written), which must change nothing but the log file.
//   values    for each of HomeDir, ServicesList, NoUseVDKTFTP, DBSrvRemoteFlag
//             (product key) and DBInstanceName (database key): 1 type byte
//             (0xFF: the value is missing), then a blob (1 length byte, bytes),
//             stored as it is, so unterminated texts and odd sizes occur, then
//             1 view byte (0: in the 64-bit view, 1: in the 32-bit view, 2: in
//             both, empty in the 32-bit one, 3: in the 64-bit view and its key
//             alone in the 32-bit one).
//   services  1 count byte (at most kMaxServices), then per service: name (text),
//             1 state byte (stopped, running, paused), 1 start-type byte (auto,
//             demand, disabled), 1 controls byte (accept stop / pause-continue,
//             open refused, query fails, 16: the token may only query it), 4 bytes of pending
//             durations (start, stop, pause, continue; 250 ms steps up to kMaxPendingMs, always
//             finite), 1 dependency byte (index of an earlier seeded service, or none).
//   processes 1 token byte (SeDebugPrivilege 0: held, 1: not held, 2: enabled),
//             1 count byte (at most kMaxProcessRecords), then per record: 1 id
//             byte, image name (text), 1 exit byte (0xFF: never; else whole
//             seconds), 1 flags byte (bit 0 open refused, bits 1-7 extra copies
//             with ids id * 1000 + n; kMaxProcesses in all), 1 image byte (bits
//             0-1 its image path: C:\App\<name>, unreadable, D:\Other\<name>,
//             or the first under another spelling; 4 LocalSystem's; 8 the first
//             copy ends just before its open and its id goes to "reused.exe";
//             16 it refuses PROCESS_TERMINATE; 32 it ends half a second after
//             its termination, 64 never).
//   files     1 count byte (at most kMaxListFiles), then per file 2 length bytes
//             (little-endian) and its bytes, a file of the simulated Windows.
//   arguments 1 count byte (at most kMaxArguments), then each argument (text).
// A text is 1 selector byte: below 0x80 a word of kWords; 0x80-0xBF the path of
// list file (selector & 3), 3 naming a file that does not exist; 0xC0 and above
// (selector - 0xC0) raw bytes, cut at a NUL.
//
// After each run the target checks: the status is 0 or -1, or with -e at most the
// number of entries plus one (for -query, at most the number of entries); after
// -1 nothing but the catalogue's registry reads, the keyword lowering, opens of
// the manager and services that were all refused, and writes of the usage text
// or the -v lines were called; -query only opens, reads and closes, and lets no
// time pass; every handle, key and snapshot was released; the
// clock moved only by the waits' pauses of at most a quarter second (at most
// the -t seconds per entry, all its waits together, and never more than the
// finite pending durations allow; none for -startup) plus, for -stopex, one
// sweep wait of at most 60 seconds and one wait of at most 10 seconds for the
// processes it terminated; after the sweep, services
// were only queried; the debug privilege ended as it began; no program that
// took over a reused id was terminated.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "command/command.h"
#include "command/command_line.h"
#include "command/step_log_switches.h"
#include "fuzz_support.h"
#include "lists/registry_catalogue.h"
#include "log/step_log.h"
#include "simulated/simulated_platform.h"

namespace vdksvc::fuzz {
namespace {

constexpr std::size_t kMaxServices = 6;
constexpr std::size_t kMaxProcessRecords = 8;
constexpr std::size_t kMaxProcesses = 100;
constexpr std::size_t kMaxListFiles = 3;
constexpr std::size_t kMaxArguments = 16;
constexpr std::uint64_t kPendingStepMs = 250;
constexpr std::uint64_t kMaxPendingMs = 8000;
/// The longest pause of a wait, and how long after its service got there a
/// wait may end.
constexpr std::uint64_t kLongestPauseMs = 250;
constexpr Dword kSweepMs = 60000;
constexpr Dword kTerminationWaitMs = 10000;

// Words that steer the run into the command's paths; raw text still reaches the rest.
// clang-format off
constexpr const char* kWords[] = {
    "-install", "-remove", "-start", "-stop", "-stopex", "-pause", "-continue", "-startup",
    "/STOPEX", "-Start", "x -stop", "-t", "-f", "-c", "/T", "/F", "/C",
    "-auto", "-demand", "-disabled", "/Disabled", "-x", "",
    "0", "1", "2", "3", "5", "-1", " 30", "2147483648", "+4x",
    "NetBootCast", "hubkeep", "loomtide", "MSSQL$VDKDBI", "MSSQL$INST", "INST", "Svc", "svc",
    "C:\\App\\svc.exe", "\"C:\\App\\svc.exe\"", "C:\\App\\hub.exe", "\"C:\\App\\svc.exe\" -x",
    "svc.exe", "SVC.EXE", "hub.exe", "C:\\App", "Display", "Vardeck Hub",
    "C:\\Program Files\\Vardeck\\hub.exe", "-e",
    "-query", "/Query", "-o", "csv", "table", "-v", "/?", "-?", "--help",
};
// clang-format on
constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];

constexpr const char* kValueNames[] = {"HomeDir", "ServicesList", "NoUseVDKTFTP", "DBSrvRemoteFlag",
                                       "DBInstanceName"};

/// Reads the input front to back; past its end every read gives zeros.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::size_t below(std::size_t bound) { return byte() % bound; }
  std::vector<unsigned char> bytes(std::size_t count) {
    count = std::min(count, size_ - pos_);
    std::vector<unsigned char> out(data_ + pos_, data_ + pos_ + count);
    pos_ += count;
    return out;
  }
  std::vector<unsigned char> blob() { return bytes(byte()); }
  std::vector<unsigned char> longBlob() {
    const std::size_t low = byte();
    return bytes(low | static_cast<std::size_t>(byte()) << 8);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

/// The path of list file \a index; index kMaxListFiles is never seeded.
std::string listPath(std::size_t index) {
  return "C:\\Lists\\list" + std::to_string(index) + ".txt";
}

std::string text(Reader& in) {
  const std::uint8_t selector = in.byte();
  if (selector < 0x80) return kWords[selector % kWordCount];
  if (selector < 0xC0) return listPath(selector & 3u);
  const std::vector<unsigned char> raw = in.bytes(std::size_t{selector} - 0xC0);
  const std::string whole(raw.begin(), raw.end());
  return whole.substr(0, whole.find('\0'));
}

std::uint64_t pendingMs(Reader& in) {
  return std::min<std::uint64_t>(std::uint64_t{in.byte()} * kPendingStepMs, kMaxPendingMs);
}

void seedRegistry(Reader& in, SimulatedPlatform& sim, std::uint8_t flags) {
  const std::string product32 = "SOFTWARE\\WOW6432Node\\Corvane\\Vardeck";
  const std::string database32 = product32 + "_DB";
  sim.addKey(kProductKey);
  sim.addKey(kDatabaseKey);
  const bool in32 = (flags & 128u) != 0;
  if ((flags & 2u) != 0) sim.setKeyOpenRefused(in32 ? product32 : kProductKey, true);
  if ((flags & 4u) != 0) sim.setKeyOpenRefused(in32 ? database32 : kDatabaseKey, true);
  for (const char* name : kValueNames) {
    const std::uint8_t type = in.byte();
    const std::vector<unsigned char> bytes = in.blob();
    const std::uint8_t view = in.byte() % 4;
    if (type == 0xFF) continue;
    const bool database = std::string_view(name) == "DBInstanceName";
    const std::string key32 = database ? database32 : product32;
    if (view != 1) sim.setValue(database ? kDatabaseKey : kProductKey, name, type, bytes);
    if (view == 1) sim.setValue(key32, name, type, bytes);
    if (view == 2) sim.setValue(key32, name, type, {});
    if (view == 3) sim.addKey(key32);
  }
}

void seedServices(Reader& in, SimulatedPlatform& sim) {
  constexpr Dword kStates[] = {svc::kStopped, svc::kRunning, svc::kPaused};
  constexpr Dword kStartTypes[] = {svc::kAutoStart, svc::kDemandStart, svc::kDisabled};
  std::vector<std::string> seeded;
  const std::size_t count = in.below(kMaxServices + 1);
  for (std::size_t i = 0; i < count; ++i) {
    SimulatedPlatform::ServiceConfig config;
    config.name = text(in);
    config.binaryPath = "C:\\App\\svc.exe";
    config.state = kStates[in.below(3)];
    config.startType = kStartTypes[in.below(3)];
    const std::uint8_t controls = in.byte();
    config.controlsAccepted = controls & (svc::kAcceptStop | svc::kAcceptPauseContinue);
    config.openRefused = (controls & 4u) != 0;
    config.queryFails = (controls & 8u) != 0;
    if ((controls & 16u) != 0) config.grantedRights = svc::kServiceUserRights;
    config.startPendingMs = pendingMs(in);
    config.stopPendingMs = pendingMs(in);
    config.pausePendingMs = pendingMs(in);
    config.continuePendingMs = pendingMs(in);
    const std::size_t dependency = in.byte();
    if (dependency < seeded.size()) config.dependencies.push_back(seeded[dependency]);
    try {
      sim.addService(config);
      seeded.push_back(config.name);
    } catch (const std::invalid_argument&) {
      // An empty or repeated name: that service is simply not there.
    }
  }
}

/// The program that takes over a reused id; no other process runs it.
/// The folder of the program that takes over a reused id, whose name is longer
/// than any a seeded process can have.
constexpr const char* kReusedFolder = "E:\\Reused\\";

/// Before the logic opens \a id, its process ends and the id goes to another program.
void reuseIdBeforeItsOpen(SimulatedPlatform& sim, Dword id) {
  sim.beforeCall("OpenProcess " + std::to_string(id), [&sim, id] {
    if (!sim.process(id) || !sim.process(id)->running) return;
    sim.endProcess(id);
    const std::string name(70, 'r');
    sim.addProcess({id, name, SimulatedPlatform::kForever, false, kReusedFolder + name});
  });
}

/// Seeds the token and the processes; \a reused gets the ids that go to another
/// program before their open.
void seedProcesses(Reader& in, SimulatedPlatform& sim, std::vector<Dword>& reused) {
  const std::uint8_t token = in.byte() % 3;
  sim.setDebugPrivilege(token != 1, token == 2);
  sim.addFile("C:\\Program Files\\Vardeck\\hub.exe");
  const std::size_t records = in.below(kMaxProcessRecords + 1);
  std::size_t seeded = 0;
  for (std::size_t i = 0; i < records; ++i) {
    SimulatedPlatform::ProcessConfig config;
    const Dword id = in.byte();
    config.imageName = text(in);
    const std::uint8_t exit = in.byte();
    config.exitAtMs = exit == 0xFF ? SimulatedPlatform::kForever : std::uint64_t{exit} * 1000;
    const std::uint8_t flags = in.byte();
    config.openRefused = (flags & 1u) != 0;
    const std::uint8_t image = in.byte();
    // The program in the list's directory, the same file under another
    // spelling, and a file of the same name elsewhere.
    const std::string paths[] = {"C:\\App\\" + config.imageName, "",
                                 "D:\\Other\\" + config.imageName,
                                 "c:\\APP\\\\" + config.imageName};
    sim.addFile(paths[0], static_cast<Dword>(1000 + i));
    sim.addFile(paths[3], static_cast<Dword>(1000 + i));
    sim.addFile(paths[2]);
    config.imagePath = paths[image & 3u];
    config.systemOwned = (image & 4u) != 0;
    config.terminateRefused = (image & 16u) != 0;
    config.terminationMs = (image & 64u) != 0   ? SimulatedPlatform::kForever
                           : (image & 32u) != 0 ? 500
                                                : 0;
    if ((image & 8u) != 0) {
      reuseIdBeforeItsOpen(sim, id);
      reused.push_back(id);
    }
    // Copies with ids of their own reach the sweep's limit of 64 processes.
    const std::size_t copies = std::min<std::size_t>(1 + (flags >> 1), kMaxProcesses - seeded);
    for (std::size_t copy = 0; copy < copies; ++copy, ++seeded) {
      config.processId = copy == 0 ? id : id * 1000 + static_cast<Dword>(copy);
      try {
        sim.addProcess(config);
      } catch (const std::invalid_argument&) {
        // Id 0 or the id of a live process: not seeded.
      }
    }
  }
}

/// Seeds the list files of one input; a file named but not given does not exist.
void seedListFiles(Reader& in, SimulatedPlatform& sim) {
  const std::size_t count = in.below(kMaxListFiles + 1);
  for (std::size_t i = 0; i < count; ++i) {
    const std::vector<unsigned char> bytes = in.longBlob();
    sim.setFileContents(listPath(i), std::string(bytes.begin(), bytes.end()));
  }
}

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

/// After -1 the run may have lowered the keyword, read list files and the
/// catalogue, and, when every entry was denied access, tried to open the manager
/// and the services; nothing else.
void checkRefusedRun(const std::vector<std::string>& calls) {
  const std::string productKey = kProductKey;
  const std::string productKey32 = "SOFTWARE\\WOW6432Node\\Corvane\\Vardeck";
  for (const std::string& call : calls) {
    const bool allowed =
        call == "CharLowerA" || call == "RegOpenKeyExA " + productKey ||
        call == "RegCloseKey " + productKey || call == "RegOpenKeyExA " + productKey32 ||
        call == "RegCloseKey " + productKey32 || call == "RegQueryValueExA HomeDir" ||
        call == "RegQueryValueExA ServicesList" || call == "OpenSCManagerA" ||
        startsWith(call, "OpenServiceA ") || call == "CloseServiceHandle manager" ||
        startsWith(call, "WriteFile stdout ") || startsWith(call, "WriteFile stderr ") ||
        startsWith(call, "CreateFileA ") || startsWith(call, "ReadFile ") ||
        startsWith(call, "CloseHandle file ");
    if (!allowed) std::fprintf(stderr, "call after -1: %s\n", call.c_str());
    require(allowed, "a refused run did more than read the catalogue");
  }
}

/// The clock moves only by the waits' pauses, the sweep's wait and its wait
/// for the processes it terminated. Every entry opens the manager once, so the
/// calls between two OpenSCManagerA belong to one entry, whose waits share its
/// -t seconds.
void checkTime(const SimulatedPlatform& sim, const std::string& keyword, PollLimit limit) {
  const bool startup = keyword == "startup";
  const bool stopex = keyword == "stopex";
  // Pending states are finite here; a start may wait for a chain of
  // dependencies, and an entry waits twice when another request crossed its own.
  const std::uint64_t maxEntryMs = (kMaxServices + 1) * kMaxPendingMs + 2 * kLongestPauseMs;
  std::uint64_t slept = 0;
  std::uint64_t entrySlept = 0;
  std::size_t sweeps = 0;
  bool swept = false;
  for (const std::string& call : sim.calls()) {
    if (call == "OpenSCManagerA") entrySlept = 0;
    if (startsWith(call, "Sleep ")) {
      const std::uint64_t ms = std::strtoull(call.c_str() + 6, nullptr, 10);
      require(ms > 0 && ms <= kLongestPauseMs, "a pause of no time, or longer than the longest");
      require(!startup, "a start-type change that waited");
      slept += ms;
      entrySlept += ms;
      if (limit > 0) require(entrySlept <= std::uint64_t{limit} * 1000, "an entry waited past -t");
      require(entrySlept <= maxEntryMs, "an entry waited past its pending time");
    }  // The sweep's grace, then looks at processes it could not terminate and one
    // wait for those it terminated.
    if (startsWith(call, "WaitForMultipleObjects ") && call != "WaitForMultipleObjects 1 0") {
      const std::string waited = call.substr(call.rfind(' '));
      require(stopex, "a process wait outside the extended stop");
      require(sweeps == 0 ? waited == " 60000" : sweeps == 1 && waited == " 10000",
              "the sweep waits other than 60 s, then 10 s for the processes it terminated");
      ++sweeps;
    }
    if (startsWith(call, "CreateToolhelp32Snapshot") || startsWith(call, "OpenProcess") ||
        startsWith(call, "AdjustTokenPrivileges") || startsWith(call, "TerminateProcess")) {
      require(stopex, "processes looked at outside the extended stop");
    }
    // The sweep runs once, after every entry was asked to stop.
    if (call == "CreateToolhelp32Snapshot") {
      require(!swept, "a second process sweep");
      swept = true;
    }
    // After it, services are only looked at.
    if (startsWith(call, "ControlService ") || startsWith(call, "DeleteService ")) {
      require(!swept, "a service asked to stop after the sweep");
    }
  }
  require(
      sim.nowMs() >= slept && sim.nowMs() <= slept + (stopex ? kSweepMs + kTerminationWaitMs : 0),
      "the clock moved by more than the waits and the sweep");
}

/// Each command makes only its own requests: only install creates, only remove
/// deletes, only startup changes a configuration, only start and install start,
/// and the control sent is the command's. The registry is read under the
/// product's two keys only; the sweep opens each process once, 64 at most, and
/// terminates with exit code 0; and every
/// operation closes its service handle before its manager handle.
void checkRequests(const std::vector<std::string>& calls, const std::string& keyword) {
  const bool stops = keyword == "stop" || keyword == "stopex" || keyword == "remove";
  const char* control = stops                   ? "1"
                        : keyword == "pause"    ? "2"
                        : keyword == "continue" ? "3"
                                                : nullptr;
  const std::string productKey = kProductKey;
  const std::string databaseKey = kDatabaseKey;
  bool managerClosed = false;
  std::set<std::string> openedProcesses;
  for (const std::string& call : calls) {
    const std::string last = call.substr(call.rfind(' ') + 1);
    if (call == "OpenSCManagerA") managerClosed = false;
    if (call == "CloseServiceHandle manager") {
      managerClosed = true;
    } else if (startsWith(call, "CloseServiceHandle ")) {
      require(!managerClosed, "a service handle closed after its manager handle");
    }
    if (startsWith(call, "CreateServiceA "))
      require(keyword == "install", "create outside install");
    if (startsWith(call, "DeleteService ")) require(keyword == "remove", "delete outside remove");
    if (startsWith(call, "ChangeServiceConfigA ")) {
      require(keyword == "startup", "configuration changed outside startup");
    }
    if (startsWith(call, "StartServiceA ")) {
      require(keyword == "start" || keyword == "install", "start outside start and install");
    }
    if (startsWith(call, "ControlService ")) {
      require(control != nullptr && last == control, "a control the command does not send");
    }
    if (startsWith(call, "RegOpenKeyExA ")) {
      std::string key = call.substr(std::string_view("RegOpenKeyExA ").size());
      if (startsWith(key, "SOFTWARE\\WOW6432Node\\")) key.erase(9, 12);  // the 32-bit view
      require(key == productKey || (keyword == "install" && key == databaseKey),
              "a registry key the command does not read");
    }
    if (startsWith(call, "TerminateProcess "))
      require(last == "0", "terminated with a non-zero code");
  }
}

}  // namespace
}  // namespace vdksvc::fuzz

namespace vdksvc::fuzz {
namespace {

/// Seeds everything from \a in; gives the flags byte, and in \a reused the ids
/// that go to another program before their open.
std::uint8_t seedWorld(Reader& in, SimulatedPlatform& sim, std::vector<Dword>& reused) {
  const std::uint8_t flags = in.byte();
  sim.setManagerOpenRefused((flags & 1u) != 0);
  sim.setDoubleByteCodePage((flags & 8u) != 0);
  seedRegistry(in, sim, flags);
  seedServices(in, sim);
  seedProcesses(in, sim, reused);
  seedListFiles(in, sim);
  return flags;
}

/// Mutable copies of \a arguments, as main() gets them: the command lowers
/// words in place.
class ArgumentVector {
 public:
  explicit ArgumentVector(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
      storage_.emplace_back(argument.begin(), argument.end());
      storage_.back().push_back('\0');
    }
    for (std::vector<char>& argument : storage_) pointers_.push_back(argument.data());
    pointers_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(storage_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::vector<char>> storage_;
  std::vector<char*> pointers_;
};

int runGuarded(SimulatedPlatform& sim, const std::vector<std::string>& arguments, StepLog& log) {
  ArgumentVector args(arguments);
  try {
    return runCommand(sim, args.argc(), args.argv(), log);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "exception: %s\n", error.what());
    require(false, "runCommand threw");
  }
  return 0;
}

constexpr const char* kLogPath = "C:\\Logs\\vdksvc.log";

/// The calls of a run without the step log's own file calls.
std::vector<std::string> withoutLogFile(const std::vector<std::string>& calls) {
  std::vector<std::string> kept;
  for (const std::string& call : calls) {
    if (call == std::string("CreateFileA ") + kLogPath ||
        call == std::string("CloseHandle file ") + kLogPath ||
        call.rfind(std::string("WriteFile ") + kLogPath + " ", 0) == 0) {
      continue;
    }
    kept.push_back(call);
  }
  return kept;
}

/// Runs the same command again on an identical world with the step log on: the
/// status, the time and every call but the log's own must be the same, nothing
/// may stay open, and the log must be whole lines ending with the status.
void checkStepLog(const std::uint8_t* data, std::size_t size,
                  const std::vector<std::string>& arguments, int status,
                  const SimulatedPlatform& quiet) {
  Reader in(data, size);
  SimulatedPlatform sim;
  std::vector<Dword> reused;
  const std::uint8_t flags = seedWorld(in, sim, reused);
  sim.setEnvironmentVariable("VDKSVC_LOG", kLogPath);
  sim.setFileOpenRefused(kLogPath, (flags & 32u) != 0);
  sim.setFileWriteFails(kLogPath, (flags & 64u) != 0);
  sim.clearCalls();
  int logged = 0;
  {
    StepLog log = stepLogFromSwitches(sim);
    require(log.on(), "VDKSVC_LOG did not switch the log on");
    logged = runGuarded(sim, arguments, log);
  }
  require(logged == status, "the step log changed the exit status");
  require(sim.nowMs() == quiet.nowMs(), "the step log changed the time a run took");
  require(withoutLogFile(sim.calls()) == quiet.calls(), "the step log changed the calls");
  require(sim.openResources().empty(), "the step log left its file open");
  if ((flags & 96u) != 0) return;

  const std::string text = sim.fileContents(kLogPath).value_or("");
  require(!text.empty(), "a run wrote no step log");
  std::size_t start = 0;
  std::string last;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    require(end != std::string::npos, "a step log line without CR LF");
    last = text.substr(start, end - start);
    require(last.find_first_of("\r\n") == std::string::npos, "a step log line broken in two");
    require(last.size() > 31 && last.compare(0, 5, "2026-") == 0 && last[23] == ' ' &&
                last.compare(24, 7, "[4242] ") == 0,
            "a step log line without its time stamp and process id");
    start = end + 2;
  }
  require(last.substr(31) == "end: exit status " + std::to_string(status),
          "the step log does not end with the exit status");
}

}  // namespace
}  // namespace vdksvc::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vdksvc;
  using namespace vdksvc::fuzz;
  Reader in(data, size);
  SimulatedPlatform sim;
  std::vector<Dword> reused;
  const std::uint8_t flags = seedWorld(in, sim, reused);
  const bool privilegeEnabled = sim.debugPrivilegeEnabled();

  std::vector<std::string> arguments{"vdksvc.exe"};
  const std::size_t count = in.below(kMaxArguments + 1);
  for (std::size_t i = 0; i < count; ++i) arguments.push_back(text(in));
  // The command line as the product reads it, for the checks that depend on it.
  ArgumentVector argv(arguments);
  const CommandLine line = readCommandLine(sim, argv.argc(), argv.argv());

  sim.clearCalls();
  const int status = runGuarded(sim, arguments, StepLog::off());

  // VDKSVC_FUZZ_TRACE=1 shows what an input did, to check that a seed reaches its path.
  static const bool trace = std::getenv("VDKSVC_FUZZ_TRACE") != nullptr;
  if (trace) {
    for (const std::string& argument : arguments) std::fprintf(stderr, "[%s] ", argument.c_str());
    std::fprintf(stderr, "-> %d at %llu ms\n", status,
                 static_cast<unsigned long long>(sim.nowMs()));
    for (const std::string& call : sim.calls()) std::fprintf(stderr, "  %s\n", call.c_str());
  }
  require(status == -1 || status == 0 || (status > 0 && line.outcomeStatus),
          "status other than 0 and -1 without -e");
  const std::vector<std::string> open = sim.openResources();
  for (const std::string& resource : open)
    std::fprintf(stderr, "left open: %s\n", resource.c_str());
  require(open.empty(), "a handle, key or snapshot was left open");
  require(sim.debugPrivilegeEnabled() == privilegeEnabled,
          "the debug privilege did not end as it began");
  for (const Dword id : reused) {
    const auto process = sim.process(id);
    require(
        !process || process->config.imagePath.rfind(kReusedFolder, 0) != 0 || !process->terminated,
        "the sweep terminated a program that took over a reused id");
  }
  if (status == -1) {
    checkRefusedRun(sim.calls());
    require(sim.nowMs() == 0, "a refused run let time pass");
  } else {
    const std::string keyword = line.command != nullptr ? line.command->keyword : "";
    // A service command succeeds only with a list of at least one entry, and
    // every entry opens the manager; the start-type command keeps one triple at most.
    const auto managerOpens = static_cast<std::size_t>(
        std::count(sim.calls().begin(), sim.calls().end(), std::string("OpenSCManagerA")));
    require(static_cast<std::size_t>(status) <= managerOpens + 1,
            "the outcome status counts more than the entries and the sweep");
    if (keyword == "query") {
      require(static_cast<std::size_t>(status) <= managerOpens,
              "-query's outcome status counts more than the entries");
      require(sim.nowMs() == 0, "-query let time pass");
      for (const std::string& call : sim.calls()) {
        require(!startsWith(call, "QueryServiceStatus ") && !startsWith(call, "Sleep ") &&
                    !startsWith(call, "CreateToolhelp32Snapshot"),
                "-query did more than read each service once");
      }
    }
    if (keyword == "startup") {
      require(managerOpens <= 1, "the start-type command applied more than one triple");
    } else {
      require(managerOpens >= 1, "a service command succeeded without an entry");
    }
    checkRequests(sim.calls(), keyword);
    checkTime(sim, keyword, line.pollLimit);
  }
  if ((flags & 16u) != 0) checkStepLog(data, size, arguments, status, sim);
  return 0;
}
