// The end-to-end test program. CTest runs it one test at a time; the test kit's
// run-tests.cmd runs it twice: first with --kit-check, which decides whether
// this machine may be used at all, then for the whole suite.
//
// The tests create, start, stop and delete services under the product's names
// and write and delete the product's registry keys, so the check refuses a
// machine where the product is installed. A run that was interrupted leaves a
// marker behind; the next check then knows that what it finds is that run's
// own, which the tests remove as they go.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "wine_differences.h"

namespace vdksvc::e2e {
namespace {

/// Present from a passed check until the end of the suite's run.
const char* const kRunMarkerKey = "SOFTWARE\\vdksvc-test-kit";

/// The maker's key, which the tests' keys are made under.
const char* const kVendorKey = "SOFTWARE\\Corvane";

/// The product's keys that the tests write and delete.
const char* const kProductKeys[] = {"SOFTWARE\\Corvane\\Vardeck", "SOFTWARE\\Corvane\\Vardeck_DB"};

/// The product's services that the tests create and delete. Their own services'
/// names all begin with "Vdk".
const char* const kProductServices[] = {"hubkeep", "loomtide", "NetBootCast", "MSSQL$VDKDBI",
                                        "MSSQL$VARDECKPRODUCT01"};

bool elevated() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool known =
      ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != FALSE;
  ::CloseHandle(token);
  return known && elevation.TokenIsElevated != 0;
}

bool keyExists(const char* subKey, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

/// Deletes \a subKey when it holds neither keys nor values.
void deleteIfEmpty(const char* subKey, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
    return;
  }
  DWORD keys = 1;
  DWORD values = 1;
  const LONG rc = ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr,
                                     &values, nullptr, nullptr, nullptr, nullptr);
  ::RegCloseKey(key);
  if (rc == ERROR_SUCCESS && keys == 0 && values == 0) {
    ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subKey, view, 0);
  }
}

bool usedByTheTests(const char* service) {
  for (const char* name : kProductServices) {
    if (::lstrcmpiA(service, name) == 0) return true;
  }
  return ::_strnicmp(service, "Vdk", 3) == 0;
}

/// What of the product, or of a name the tests use, this machine has.
std::vector<std::string> productTraces() {
  std::vector<std::string> found;
  for (const char* key : kProductKeys) {
    if (keyExists(key, KEY_WOW64_64KEY)) found.push_back(std::string("HKLM\\") + key);
    if (keyExists(key, KEY_WOW64_32KEY)) {
      found.push_back(std::string("HKLM\\") + key + " (32-bit view)");
    }
  }
  // The services, a bufferful at a time.
  const ScmHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  std::vector<BYTE> buffer(64 * 1024);
  DWORD resume = 0;
  bool complete = false;
  while (manager && !complete) {
    DWORD needed = 0;
    DWORD count = 0;
    complete =
        ::EnumServicesStatusExA(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32,
                                SERVICE_STATE_ALL, buffer.data(), static_cast<DWORD>(buffer.size()),
                                &needed, &count, &resume, nullptr) != FALSE;
    if (!complete && ::GetLastError() != ERROR_MORE_DATA) break;
    const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSA*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
      if (usedByTheTests(services[i].lpServiceName)) {
        found.push_back(std::string("the service ") + services[i].lpServiceName);
      }
    }
    if (!complete && count == 0) buffer.resize(std::max<std::size_t>(needed, buffer.size() * 2));
  }
  if (!complete) {
    found.push_back("a service list that cannot be read (error " +
                    std::to_string(::GetLastError()) + ")");
  }
  return found;
}

/// 0 when the suite may run here; otherwise says why not in one line.
int kitCheck() {
  if (!elevated()) {
    std::puts("run-tests: this prompt is not elevated; open it with \"Run as administrator\"");
    return 2;
  }
  if (keyExists(kRunMarkerKey, 0)) {
    std::puts("run-tests: an earlier run was interrupted; the tests remove what it left");
  } else {
    const std::vector<std::string> found = productTraces();
    if (!found.empty()) {
      std::string list;
      for (const std::string& trace : found) list += (list.empty() ? "" : ", ") + trace;
      std::printf(
          "run-tests: refused, nothing was touched: this machine has %s. The tests create and "
          "delete the product's services and registry keys: run them on a disposable machine or "
          "virtual machine, never where Vardeck is installed.\n",
          list.c_str());
      return 3;
    }
  }
  HKEY marker = nullptr;
  const LONG rc = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunMarkerKey, 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &marker, nullptr);
  if (rc != ERROR_SUCCESS) {
    std::printf("run-tests: HKLM\\%s cannot be created (error %ld)\n", kRunMarkerKey, rc);
    return 2;
  }
  ::RegCloseKey(marker);
  return 0;
}

}  // namespace
}  // namespace vdksvc::e2e

int main(int argc, char** argv) {
  using namespace vdksvc::e2e;
  if (argc == 2 && std::strcmp(argv[1], "--kit-check") == 0) return kitCheck();
  ::testing::InitGoogleTest(&argc, argv);
  if (const char* version = wineVersion()) {
    std::printf(
        "Under Wine %s: where Wine differs from Windows, the tests expect Wine's "
        "behaviour.\n",
        version);
  }
  const int status = RUN_ALL_TESTS();
  if (keyExists(kRunMarkerKey, 0)) {
    // The kit's run is over: the vendor keys the tests' keys were made under go
    // too, when nothing else is left in them.
    for (const REGSAM view : {REGSAM{KEY_WOW64_64KEY}, REGSAM{KEY_WOW64_32KEY}}) {
      deleteIfEmpty(kVendorKey, view);
    }
    deleteRegistryTree(kRunMarkerKey);
  }
  return status;
}
