// Win32Platform against the real Windows (Wine here): each operation must hand the
// logic exactly what the Win32 call reports, through our portable types.

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "base/text.h"
#include "e2e_fixture.h"
#include "e2e_support.h"
#include "platform/handles.h"
#include "platform/win32_platform.h"
#include "platform_contract.h"
#include "wine_differences.h"

namespace vdksvc::e2e {
namespace {

TEST(Win32PlatformE2e, CharLowerLowersInPlace) {
  Win32Platform platform;
  char text[] = "-STOP /Continue x";
  EXPECT_EQ(text, platform.CharLowerA(text));
  EXPECT_STREQ("-stop /continue x", text);
}

TEST(Win32PlatformE2e, FindLastBackslash) {
  Win32Platform platform;
  const char* path = "C:\\Program Files\\Vardeck\\bin\\server.exe";
  EXPECT_EQ(std::strrchr(path, '\\'), findLastBackslash(platform, path));
  EXPECT_EQ(nullptr, findLastBackslash(platform, "server.exe"));
  EXPECT_EQ(nullptr, findLastBackslash(platform, ""));
  const char* trailing = "C:\\dir\\";
  EXPECT_EQ(trailing + 6, findLastBackslash(platform, trailing));
  if (::GetACP() == 932) {
    // "\x95\x5C" is one Shift_JIS character whose trail byte is 0x5C.
    const char* sjis = "C:\\a\\\x95\x5C.exe";
    EXPECT_EQ(sjis + 4, findLastBackslash(platform, sjis));
  }
}

TEST(Win32PlatformE2e, RegistryThroughThePlatform) {
  const std::string key = "SOFTWARE\\Corvane\\PlatformCheck";
  ASSERT_EQ(ERROR_SUCCESS, setRegistryString(key, "HomeDir", "C:\\Vardeck"));
  Win32Platform platform;
  {
    RegKey opened(platform);
    ASSERT_EQ(
        static_cast<Long>(winerr::kSuccess),
        platform.RegOpenKeyExA(hkeyLocalMachine(), key.c_str(), 0, reg::kKeyRead, opened.put()));
    ASSERT_TRUE(opened);

    Dword type = 0;
    Dword size = 0;
    EXPECT_EQ(static_cast<Long>(winerr::kSuccess),
              platform.RegQueryValueExA(opened.get(), "HomeDir", nullptr, &type, nullptr, &size));
    EXPECT_EQ(reg::kSz, type);
    EXPECT_EQ(11u, size);  // "C:\Vardeck" and its NUL

    unsigned char small[4] = {};
    size = sizeof(small);
    EXPECT_EQ(static_cast<Long>(ERROR_MORE_DATA),
              platform.RegQueryValueExA(opened.get(), "HomeDir", nullptr, &type, small, &size));
    EXPECT_EQ(11u, size);

    unsigned char data[32] = {};
    size = sizeof(data);
    EXPECT_EQ(static_cast<Long>(winerr::kSuccess),
              platform.RegQueryValueExA(opened.get(), "HomeDir", nullptr, &type, data, &size));
    EXPECT_STREQ("C:\\Vardeck", reinterpret_cast<const char*>(data));

    EXPECT_EQ(static_cast<Long>(winerr::kFileNotFound),
              platform.RegQueryValueExA(opened.get(), "Missing", nullptr, &type, data, &size));
  }
  RawKey missing = nullptr;
  EXPECT_EQ(static_cast<Long>(winerr::kFileNotFound),
            platform.RegOpenKeyExA(hkeyLocalMachine(), "SOFTWARE\\Corvane\\NoSuchKey", 0,
                                   reg::kKeyRead, &missing));
  EXPECT_EQ(ERROR_SUCCESS, deleteRegistryTree(key));
}

TEST(Win32PlatformE2e, SnapshotRefusesWrongSizeAndListsThisProcess) {
  Win32Platform platform;
  Snapshot snapshot(platform, platform.CreateToolhelp32Snapshot(proc::kSnapProcess, 0));
  ASSERT_TRUE(snapshot);

  ProcessEntry32 entry;
  entry.dwSize = sizeof(entry) - 1;
  EXPECT_FALSE(platform.Process32First(snapshot.get(), &entry));
  EXPECT_EQ(snapshotEntrySizeError(), platform.GetLastError());

  entry.dwSize = sizeof(entry);
  bool foundSelf = false;
  for (bool more = platform.Process32First(snapshot.get(), &entry); more;
       more = platform.Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == ::GetCurrentProcessId()) {
      foundSelf = true;
      EXPECT_STREQ("vdksvc_e2e.exe", entry.szExeFile);
    }
  }
  EXPECT_TRUE(foundSelf);
  EXPECT_EQ(static_cast<Dword>(ERROR_NO_MORE_FILES), platform.GetLastError());
}

TEST(Win32PlatformE2e, OpenWaitAndTerminateProcess) {
  // A child that would sleep for a minute, started by hand so that we own it.
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::string line = quoteArgument(runnerPath()) + " --sleep-ms 60000";
  ASSERT_TRUE(::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
  ::CloseHandle(info.hThread);

  Win32Platform platform;
  ProcessHandle child(platform, platform.OpenProcess(proc::kTerminate | proc::kSynchronize, false,
                                                     static_cast<Dword>(info.dwProcessId)));
  ASSERT_TRUE(child);
  RawHandle handles[] = {child.get()};
  EXPECT_EQ(proc::kWaitTimeout, platform.WaitForMultipleObjects(1, handles, true, 100));
  EXPECT_TRUE(platform.TerminateProcess(child.get(), 9));
  EXPECT_EQ(proc::kWaitObject0, platform.WaitForMultipleObjects(1, handles, true, 10000));
  DWORD code = 0;
  EXPECT_TRUE(::GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(9u, code);
  ::CloseHandle(info.hProcess);

  ::SetLastError(0xdeadbeef);
  EXPECT_EQ(nullptr, platform.OpenProcess(proc::kTerminate, false, 0xFFFFFFF0u));
  EXPECT_NE(0xdeadbeefu, platform.GetLastError());
}

TEST(Win32PlatformE2e, FileIdentity) {
  Win32Platform platform;
  std::string spelling = testServicePath();
  for (char& c : spelling) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
  contract::fileIdentity(platform, testServicePath(), spelling, runnerPath());
}

class Win32PlatformServiceE2e : public ServiceManagerE2e {
 protected:
  void SetUp() override {
    ServiceManagerE2e::SetUp();
    if (stopped()) return;
    ASSERT_TRUE(removeServiceCompletely(name_));
  }
  void TearDown() override { EXPECT_TRUE(removeServiceCompletely(name_)); }

  // A name of each test's own, as CTest runs the tests side by side.
  const std::string name_ = std::string("VdkE2ePlatform") +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
  Win32Platform platform_;
};

TEST_F(Win32PlatformServiceE2e, MissingServiceReportsItsError) {
  ScHandle manager(platform_, platform_.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager);
  ::SetLastError(0xdeadbeef);
  ScHandle service(platform_,
                   platform_.OpenServiceA(manager.get(), name_.c_str(), SERVICE_ALL_ACCESS));
  EXPECT_FALSE(service);
  EXPECT_EQ(winerr::kServiceDoesNotExist, platform_.GetLastError());
}

TEST_F(Win32PlatformServiceE2e, CreateStartStopDelete) {
  ScHandle manager(platform_, platform_.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager);
  TestServiceOptions options;
  options.stopPendingMs = 500;
  const std::string binaryPath = testServiceCommandLine(options);
  const char dependencies[] = "\0";  // an empty double-NUL list
  ScHandle service(
      platform_, platform_.CreateServiceA(manager.get(), name_.c_str(), "Vardeck platform check",
                                          SERVICE_ALL_ACCESS, svc::kWin32OwnProcess,
                                          svc::kDemandStart, svc::kErrorNormal, binaryPath.c_str(),
                                          nullptr, nullptr, dependencies, nullptr, nullptr));
  ASSERT_TRUE(service) << platform_.GetLastError();

  ::SetLastError(0xdeadbeef);
  EXPECT_FALSE(platform_.CreateServiceA(manager.get(), name_.c_str(), "again", SERVICE_ALL_ACCESS,
                                        svc::kWin32OwnProcess, svc::kDemandStart, svc::kErrorNormal,
                                        binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr,
                                        nullptr));
  EXPECT_EQ(winerr::kServiceExists, platform_.GetLastError());

  EXPECT_TRUE(platform_.ChangeServiceConfigA(service.get(), svc::kNoChange, svc::kAutoStart,
                                             svc::kNoChange, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, "Vardeck platform check 2"));

  ServiceStatus status;
  ASSERT_TRUE(platform_.QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(svc::kStopped, status.dwCurrentState);
  EXPECT_EQ(svc::kWin32OwnProcess, status.dwServiceType);

  ASSERT_TRUE(platform_.StartServiceA(service.get(), 0, nullptr)) << platform_.GetLastError();
  ASSERT_TRUE(waitForState(name_, SERVICE_RUNNING, 20000));
  EXPECT_FALSE(platform_.StartServiceA(service.get(), 0, nullptr));
  EXPECT_EQ(winerr::kServiceAlreadyRunning, platform_.GetLastError());

  ASSERT_TRUE(platform_.ControlService(service.get(), svc::kControlStop, &status));
  EXPECT_EQ(svc::kStopPending, status.dwCurrentState);
  EXPECT_GT(status.dwWaitHint, 0u);
  ASSERT_TRUE(waitForState(name_, SERVICE_STOPPED, 20000));

  EXPECT_FALSE(platform_.ControlService(service.get(), svc::kControlStop, &status));
  EXPECT_EQ(winerr::kServiceNotActive, platform_.GetLastError());

  EXPECT_TRUE(platform_.DeleteService(service.get()));
  EXPECT_FALSE(platform_.DeleteService(service.get()));
  EXPECT_EQ(winerr::kServiceMarkedForDelete, platform_.GetLastError());
}

/// Creates the service with \a options and starts it; false when it does not run.
bool startTestService(const std::string& name, const TestServiceOptions& options) {
  if (createTestService(name, options) != ERROR_SUCCESS) return false;
  const ScmHandle service = openService(name);
  return service && ::StartServiceA(service.get(), 0, nullptr) &&
         waitForState(service.get(), SERVICE_RUNNING, 20000);
}

TEST_F(Win32PlatformServiceE2e, StopThatMakesProgress) {
  TestServiceOptions options;
  options.stopPendingMs = 3000;
  ASSERT_TRUE(startTestService(name_, options));
  contract::stopThatMakesProgress(platform_, name_);
}

TEST_F(Win32PlatformServiceE2e, WaitEndsSoonAfterTheStop) {
  TestServiceOptions options;
  options.stopPendingMs = 1000;
  ASSERT_TRUE(startTestService(name_, options));
  contract::waitEndsSoonAfterTheStop(platform_, name_, 1000);
}

TEST_F(Win32PlatformServiceE2e, HungStop) {
  TestServiceOptions options;
  options.hangStop = true;
  ASSERT_TRUE(startTestService(name_, options));
  contract::hungStop(platform_, name_);
  EXPECT_TRUE(removeServiceCompletely(name_, 500)) << "a hung service waits for no stop";
}

}  // namespace
}  // namespace vdksvc::e2e
