// The simulated registry, process table, virtual clock and text functions.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/handles.h"
#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

constexpr const char* kProduct = "SOFTWARE\\Corvane\\Vardeck";

Dword code(Long result) { return static_cast<Dword>(result); }

class SimulatedRegistryTest : public SimulatedTest {
 protected:
  RegKey open(const char* path, RawKey root = hkeyLocalMachine()) {
    RegKey key(sim);
    EXPECT_EQ(0, sim.RegOpenKeyExA(root, path, 0, reg::kKeyRead, key.put())) << path;
    return key;
  }
  Dword query(const RegKey& key, const char* name, unsigned char* data, Dword* size) {
    return code(sim.RegQueryValueExA(key.get(), name, nullptr, nullptr, data, size));
  }
};

TEST_F(SimulatedRegistryTest, OpenFindsKeysWithoutCaseAndRefusesTheRest) {
  sim.setText(kProduct, "HomeDir", "C:\\App");
  sim.setKeyOpenRefused("SOFTWARE\\Corvane\\Secret", true);
  const RawKey stale = open("SOFTWARE").get();  // closed again at once
  const struct {
    RawKey root;
    const char* path;
    Dword error;
  } cases[] = {{hkeyLocalMachine(), "SOFTWARE\\Corvane\\Missing", winerr::kFileNotFound},
               {hkeyLocalMachine(), "SOFTWARE\\Corvane\\Secret", winerr::kAccessDenied},
               {stale, "Corvane", winerr::kInvalidHandle},
               {nullptr, kProduct, winerr::kInvalidHandle}};
  for (const auto& c : cases) {
    RawKey key = hkeyLocalMachine();
    EXPECT_EQ(c.error, code(sim.RegOpenKeyExA(c.root, c.path, 0, reg::kKeyRead, &key))) << c.path;
    EXPECT_EQ(nullptr, key) << "a failed open hands out no key";
  }
  EXPECT_TRUE(open("software\\CORVANE\\vardeck"));
  EXPECT_TRUE(open("SOFTWARE\\Corvane")) << "keys above a seeded one exist";
  RegKey software = open("SOFTWARE");
  Dword size = 0;
  EXPECT_EQ(0u, query(open("Corvane\\Vardeck", software.get()), "HomeDir", nullptr, &size))
      << "a sub-key of an opened key";
  EXPECT_EQ(7u, size);

  EXPECT_EQ(0, sim.RegCloseKey(hkeyLocalMachine())) << "closing the root is allowed";
  RawKey bare = nullptr;
  ASSERT_EQ(0,
            sim.RegOpenKeyExA(hkeyLocalMachine(), kProduct, 0, 0x20000 /* READ_CONTROL */, &bare));
  EXPECT_EQ(winerr::kAccessDenied,
            code(sim.RegQueryValueExA(bare, "HomeDir", nullptr, nullptr, nullptr, &size)))
      << "reading a value needs KEY_QUERY_VALUE";
  EXPECT_EQ(0, sim.RegCloseKey(bare));
  EXPECT_EQ(winerr::kInvalidHandle, code(sim.RegCloseKey(bare)));
}

TEST_F(SimulatedRegistryTest, QueryFollowsTheDocumentedSizeProtocol) {
  sim.setText(kProduct, "HomeDir", "C:\\App");  // 6 characters and the NUL
  RegKey key = open(kProduct);
  Dword type = 0;
  Dword size = 0;
  ASSERT_EQ(0, sim.RegQueryValueExA(key.get(), "homedir", nullptr, &type, nullptr, &size));
  EXPECT_EQ(7u, size);
  EXPECT_EQ(reg::kSz, type);

  unsigned char buffer[16];
  std::memset(buffer, 0xAA, sizeof buffer);
  size = 6;
  EXPECT_EQ(winerr::kMoreData, query(key, "HomeDir", buffer, &size));
  EXPECT_EQ(7u, size) << "the size needed";
  EXPECT_THAT(buffer, ::testing::Each(0xAA)) << "a too-small buffer is left alone";
  size = sizeof buffer;
  ASSERT_EQ(0u, query(key, "HomeDir", buffer, &size));
  EXPECT_EQ(7u, size);
  EXPECT_EQ(0, std::memcmp(buffer, "C:\\App", 7));
  EXPECT_EQ(0xAA, buffer[7]) << "nothing is written past the value";

  Dword reserved = 0;
  EXPECT_EQ(winerr::kInvalidParameter,
            code(sim.RegQueryValueExA(key.get(), "HomeDir", &reserved, nullptr, nullptr, &size)));
  EXPECT_EQ(winerr::kInvalidParameter, query(key, "HomeDir", buffer, nullptr));
  sim.removeValue(kProduct, "HOMEDIR");
  EXPECT_EQ(winerr::kFileNotFound, query(key, "HomeDir", nullptr, &size));
}

TEST_F(SimulatedRegistryTest, ValuesAreTheirStoredBytes) {
  sim.setText(kProduct, "Bare", "abc", false);
  sim.setNumber(kProduct, "Flag", 0x01020304);
  sim.setMultiText(kProduct, "List", {"a,b", "c"});
  sim.setValue(kProduct, "Wide", reg::kQword, {1, 0, 0, 0, 0, 0, 0, 0});
  RegKey key = open(kProduct);
  const auto read = [&](const char* name) {
    std::vector<unsigned char> bytes(32, 0xAA);
    auto size = static_cast<Dword>(bytes.size());
    EXPECT_EQ(0u, query(key, name, bytes.data(), &size)) << name;
    bytes.resize(size);
    return bytes;
  };
  EXPECT_THAT(read("Bare"), ElementsAre('a', 'b', 'c')) << "no terminator is added";
  EXPECT_THAT(read("Flag"), ElementsAre(4, 3, 2, 1));
  EXPECT_THAT(read("List"), ElementsAre('a', ',', 'b', 0, 'c', 0, 0));
  Dword number = 0;
  Dword size = sizeof number;
  EXPECT_EQ(winerr::kMoreData, query(key, "Wide", reinterpret_cast<unsigned char*>(&number), &size))
      << "a number is read only when it fits";
}

TEST_F(SimulatedRegistryTest, KeyRemovedWhileOpenReadsAsDeleted) {
  sim.setText(kProduct, "HomeDir", "C:\\App");
  sim.setText("SOFTWARE\\Corvane\\Vardeck\\Sub", "Value", "x");
  RegKey key = open(kProduct);
  sim.removeKey("SOFTWARE\\Corvane");
  Dword size = 0;
  EXPECT_EQ(1018u, query(key, "HomeDir", nullptr, &size)) << "ERROR_KEY_DELETED";
  RawKey sub = nullptr;
  EXPECT_EQ(1018u, code(sim.RegOpenKeyExA(key.get(), "Sub", 0, reg::kKeyRead, &sub)));
  EXPECT_EQ(winerr::kFileNotFound,
            code(sim.RegOpenKeyExA(hkeyLocalMachine(), "SOFTWARE\\Corvane\\Vardeck\\Sub", 0,
                                   reg::kKeyRead, &sub)))
      << "the keys below went too";
  EXPECT_TRUE(open("SOFTWARE")) << "the keys above stay";
}

class SimulatedProcessTest : public SimulatedTest {
 protected:
  static constexpr Dword kSweepAccess = proc::kSynchronize | proc::kTerminate;

  void add(Dword id, const std::string& name, std::uint64_t exitAtMs = SimulatedPlatform::kForever,
           bool openRefused = false) {
    sim.addProcess({id, name, exitAtMs, openRefused});
  }
  ProcessHandle open(Dword id, Dword access = kSweepAccess) {
    return ProcessHandle(sim, sim.OpenProcess(access, false, id));
  }
  std::vector<std::pair<Dword, std::string>> walk(const Snapshot& snapshot) {
    std::vector<std::pair<Dword, std::string>> found;
    ProcessEntry32 entry;
    entry.dwSize = sizeof entry;
    for (bool more = sim.Process32First(snapshot.get(), &entry); more;
         more = sim.Process32Next(snapshot.get(), &entry)) {
      found.emplace_back(entry.th32ProcessID, entry.szExeFile);
    }
    EXPECT_EQ(winerr::kNoMoreFiles, sim.GetLastError());
    return found;
  }
  Dword wait(std::vector<RawHandle> handles, bool waitAll, Dword milliseconds) {
    return sim.WaitForMultipleObjects(static_cast<Dword>(handles.size()), handles.data(), waitAll,
                                      milliseconds);
  }
};

TEST_F(SimulatedProcessTest, SnapshotHoldsTheProcessesAliveWhenTaken) {
  add(10, "a.exe", 5000);
  add(20, "b.exe", 1000);
  add(30, "c.exe");
  sim.advance(1000);
  Snapshot snapshot(sim, sim.CreateToolhelp32Snapshot(proc::kSnapProcess, 0));
  add(40, "late.exe");
  sim.advance(10000);
  EXPECT_THAT(walk(snapshot), ElementsAre(Pair(10u, "a.exe"), Pair(30u, "c.exe")));
  EXPECT_THAT(walk(snapshot), ElementsAre(Pair(10u, "a.exe"), Pair(30u, "c.exe")))
      << "Process32First starts over";
}

TEST_F(SimulatedProcessTest, SnapshotChecksFlagsAndEntrySize) {
  add(10, std::string(300, 'x'));
  for (Dword flags : {0x4u, 0x8u, 0xFu}) {
    EXPECT_EQ(invalidHandleValue(), sim.CreateToolhelp32Snapshot(flags, 0)) << flags;
    EXPECT_EQ(winerr::kInvalidParameter, sim.GetLastError());
  }
  Snapshot snapshot(sim, sim.CreateToolhelp32Snapshot(proc::kSnapProcess, 0));
  ProcessEntry32 entry;
  for (Dword size : {Dword{0}, Dword{sizeof entry - 8}, Dword{sizeof entry + 1}}) {
    entry.dwSize = size;
    EXPECT_FALSE(sim.Process32First(snapshot.get(), &entry)) << size;
    EXPECT_EQ(winerr::kBadLength, sim.GetLastError());
    EXPECT_EQ(0u, entry.th32ProcessID) << "the entry is left alone";
  }
  entry.dwSize = sizeof entry;
  std::memset(entry.szExeFile, 'y', sizeof entry.szExeFile);
  ASSERT_TRUE(sim.Process32First(snapshot.get(), &entry));
  EXPECT_EQ(std::string(259, 'x'), entry.szExeFile) << "cut to 259 bytes and terminated";
}

TEST_F(SimulatedProcessTest, OpenRefusals) {
  add(10, "ended.exe", 0);
  add(20, "guarded.exe", SimulatedPlatform::kForever, true);
  for (auto [id, error] :
       {std::pair{99u, winerr::kInvalidParameter}, std::pair{10u, winerr::kInvalidParameter},
        std::pair{20u, winerr::kAccessDenied}}) {
    EXPECT_EQ(nullptr, sim.OpenProcess(kSweepAccess, false, id)) << id;
    EXPECT_EQ(error, sim.GetLastError()) << id;
  }
}

TEST_F(SimulatedProcessTest, WaitAllEndsAtTheLastExitOrAfterTheTimeout) {
  add(1, "a.exe", 10000);
  add(2, "b.exe", 25000);
  add(3, "c.exe");
  ProcessHandle a = open(1), b = open(2), c = open(3);
  EXPECT_EQ(proc::kWaitObject0, wait({a.get(), b.get()}, true, 60000));
  EXPECT_EQ(25000u, sim.nowMs()) << "the clock stands at the last exit";
  EXPECT_EQ(proc::kWaitTimeout, wait({a.get(), c.get()}, true, 60000));
  EXPECT_EQ(85000u, sim.nowMs()) << "the whole timeout passed";
  EXPECT_TRUE(sim.process(3)->running);
}

TEST_F(SimulatedProcessTest, WaitAnyReportsTheLowestSignalledIndex) {
  add(1, "a.exe", 30000);
  add(2, "b.exe", 20000);
  add(3, "c.exe");
  ProcessHandle a = open(1), b = open(2), c = open(3);
  EXPECT_EQ(proc::kWaitObject0 + 2, wait({c.get(), a.get(), b.get()}, false, proc::kInfinite));
  EXPECT_EQ(20000u, sim.nowMs());
  sim.advance(10000);
  EXPECT_EQ(proc::kWaitObject0 + 1, wait({c.get(), a.get(), b.get()}, false, 1000))
      << "both have ended: the lower index wins, not the earlier exit";
  EXPECT_EQ(proc::kWaitObject0, wait({a.get(), a.get()}, false, 0)) << "twice is fine for any";
}

TEST_F(SimulatedProcessTest, BadWaitsFailAtOnce) {
  add(1, "a.exe", 10000);
  ProcessHandle a = open(1), second = open(1), noSync = open(1, proc::kTerminate);
  Snapshot snapshot(sim, sim.CreateToolhelp32Snapshot(proc::kSnapProcess, 0));
  const struct {
    std::vector<RawHandle> handles;
    Dword error;
  } cases[] = {{{a.get(), nullptr}, winerr::kInvalidHandle},
               {{a.get(), snapshot.get()}, winerr::kInvalidHandle},
               {{a.get(), second.get()}, winerr::kInvalidParameter},
               {{noSync.get()}, winerr::kAccessDenied},
               {{}, winerr::kInvalidParameter},
               {std::vector<RawHandle>(65, a.get()), winerr::kInvalidParameter}};
  for (const auto& c : cases) {
    EXPECT_EQ(proc::kWaitFailed, wait(c.handles, true, 60000)) << c.handles.size();
    EXPECT_EQ(c.error, sim.GetLastError()) << c.handles.size();
  }
  EXPECT_EQ(0u, sim.nowMs()) << "no failed wait lets time pass";
}

TEST_F(SimulatedProcessTest, TerminateEndsTheProcessNow) {
  add(1, "a.exe");
  EXPECT_FALSE(sim.TerminateProcess(open(1, proc::kSynchronize).get(), 0));
  EXPECT_EQ(winerr::kAccessDenied, sim.GetLastError());
  ProcessHandle handle = open(1);
  sim.advance(500);
  ASSERT_TRUE(sim.TerminateProcess(handle.get(), 7));
  const auto view = sim.process(1);
  EXPECT_TRUE(!view->running && view->terminated && view->exitCode == 7u);
  EXPECT_EQ(proc::kWaitObject0, wait({handle.get()}, true, proc::kInfinite));
  EXPECT_EQ(500u, sim.nowMs());
  EXPECT_FALSE(sim.TerminateProcess(handle.get(), 0)) << "it has ended already";
  EXPECT_EQ(winerr::kAccessDenied, sim.GetLastError());

  RawHandle raw = handle.release();
  EXPECT_TRUE(sim.CloseHandle(raw));
  EXPECT_FALSE(sim.CloseHandle(raw));
  EXPECT_EQ(winerr::kInvalidHandle, sim.GetLastError());
}

TEST_F(SimulatedProcessTest, CallLogLines) {
  add(1234, "srv.exe");
  sim.addKey(kProduct);
  {
    RegKey key(sim);
    sim.RegOpenKeyExA(hkeyLocalMachine(), kProduct, 0, reg::kKeyRead, key.put());
    sim.RegQueryValueExA(key.get(), "HomeDir", nullptr, nullptr, nullptr, nullptr);
    Snapshot snapshot(sim, sim.CreateToolhelp32Snapshot(proc::kSnapProcess, 0));
    walk(snapshot);
    ProcessHandle process = open(1234);
    wait({process.get()}, true, 0);
    sim.TerminateProcess(process.get(), 0);
  }
  EXPECT_THAT(sim.calls(),
              ElementsAre("RegOpenKeyExA SOFTWARE\\Corvane\\Vardeck", "RegQueryValueExA HomeDir",
                          "CreateToolhelp32Snapshot", "Process32First", "Process32Next",
                          "OpenProcess 1234", "WaitForMultipleObjects 1 0",
                          "TerminateProcess 1234 0", "CloseHandle process 1234",
                          "CloseHandle snapshot", "RegCloseKey SOFTWARE\\Corvane\\Vardeck"));
}

class SimulatedClockTest : public SimulatedTest {};

TEST_F(SimulatedClockTest, HangLimitEndsAnEndlessPollLoop) {
  SimulatedPlatform::ServiceConfig stuck;
  stuck.name = "Stuck";
  stuck.binaryPath = "stuck.exe";
  stuck.startPendingMs = SimulatedPlatform::kForever;
  sim.addService(stuck);
  ScHandle manager(sim, sim.OpenSCManagerA(nullptr, nullptr, svc::kManagerAllAccess));
  ScHandle service(sim, sim.OpenServiceA(manager.get(), "Stuck", svc::kServiceAllAccess));
  ASSERT_TRUE(sim.StartServiceA(service.get(), 0, nullptr));
  const auto pollForever = [&] {
    ServiceStatus status;
    do {
      sim.Sleep(1000);
    } while (sim.QueryServiceStatus(service.get(), &status) &&
             status.dwCurrentState == svc::kStartPending);
  };
  EXPECT_THROW(pollForever(), SimulatedHang);
  EXPECT_EQ(24ull * 60 * 60 * 1000, sim.nowMs()) << "a day of one-second polls";
}

TEST_F(SimulatedClockTest, WaitsUpToTheLimitPassAndBeyondItThrow) {
  sim.setHangLimitMs(10000);
  sim.Sleep(4000);
  sim.Sleep(6000);
  EXPECT_EQ(10000u, sim.nowMs());
  EXPECT_THROW(sim.Sleep(1), SimulatedHang);
  EXPECT_THROW(sim.Sleep(proc::kInfinite), SimulatedHang);
  sim.addProcess({7, "endless.exe", SimulatedPlatform::kForever, false});
  ProcessHandle process(sim, sim.OpenProcess(proc::kSynchronize, false, 7));
  RawHandle raw = process.get();
  EXPECT_THROW(sim.WaitForMultipleObjects(1, &raw, true, proc::kInfinite), SimulatedHang);
}

class SimulatedTextTest : public SimulatedTest {};

TEST_F(SimulatedTextTest, CharLowerLowersOnlyAsciiLetters) {
  char text[] = "StopEX-\xC4\x83Z@[";
  EXPECT_EQ(text, sim.CharLowerA(text));
  EXPECT_STREQ("stopex-\xC4\x83z@[", text);
}

TEST_F(SimulatedTextTest, LastBackslashSkipsTrailBytesInDoubleByteText) {
  const struct {
    const char* text;
    bool doubleByte;
    int expected;  // offset, -1 for none
  } cases[] = {
      {"C:\\App\\srv.exe", false, 6},
      {"srv.exe", false, -1},
      {"", true, -1},
      {"C:\\\x83\\", false, 4},  // single-byte: 0x5C is a backslash
      {"C:\\\x83\\", true, 2},   // Shift_JIS: 0x83 0x5C is one character
      {"C:\\dir\\\x83\\"
       "a.exe",
       true, 6},
      {"a\\\x83", true, 1},  // a lead byte before the terminator stands alone
      {"\xE0\\\\", true, 2},
      {"\x81\\", true, -1},
      {"\x9F\\", true, -1},
      {"\xFC\\", true, -1},
      {"\x80\\", true, 1},
      {"\xA0\\", true, 1},
      {"\xFD\\", true, 1},
  };
  for (const auto& c : cases) {
    sim.setDoubleByteCodePage(c.doubleByte);
    const char* found = findLastBackslash(sim, c.text);
    EXPECT_EQ(c.expected, found == nullptr ? -1 : static_cast<int>(found - c.text))
        << ::testing::PrintToString(std::string(c.text)) << (c.doubleByte ? " (932)" : "");
  }
}

}  // namespace
}  // namespace vdksvc
