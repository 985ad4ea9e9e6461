// The real vdksvc.exe building its service list from operands, list files and the
// product's registry catalogue: every bad source fails the run with 4294967295
// before any service is touched, while the same run with its fault mended is
// accepted and does stop the service.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace vdksvc::e2e {
namespace {

constexpr DWORD kRefused = 4294967295u;
const char* const kProductKey = "SOFTWARE\\Corvane\\Vardeck";
const char* const kServiceName = "VdkListsE2e";

/// A running test service that every run names somewhere; the runs must all be
/// refused before it is touched, so it must still be running afterwards.
class ServiceListsE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ERROR_SUCCESS, deleteRegistryTree(kProductKey));
    ASSERT_EQ(0u, createTestService(kServiceName, {}));
    ASSERT_TRUE(startAndWaitUntilRunning(kServiceName));
  }
  void TearDown() override {
    EXPECT_TRUE(removeServiceCompletely(kServiceName));
    EXPECT_EQ(ERROR_SUCCESS, deleteRegistryTree(kProductKey));
  }

  void expectRefusedAndUntouched(const std::vector<std::string>& arguments) {
    const RunResult run = runVdksvc(arguments);
    ASSERT_TRUE(run.started) << run.startError;
    ASSERT_FALSE(run.timedOut);
    std::string shown;
    for (const std::string& argument : arguments) shown.append(quoteArgument(argument)).append(" ");
    EXPECT_EQ(kRefused, run.exitCode) << shown;
    EXPECT_EQ("", run.out) << shown;
    EXPECT_EQ("", run.err) << shown;
    const auto status = queryStatus(kServiceName);
    ASSERT_TRUE(status.has_value()) << shown;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status->dwCurrentState)
        << shown << " left the service " << stateName(status->dwCurrentState);
  }

  /// The run is accepted (exit status 0, silent) and has stopped the service, so
  /// the refusals before it were the list's doing, not the command's.
  void expectAcceptedAndStopped(const std::vector<std::string>& arguments) {
    const RunResult run = runVdksvc(arguments);
    ASSERT_TRUE(run.started) << run.startError;
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("", run.out);
    EXPECT_EQ("", run.err);
    const auto status = queryStatus(kServiceName);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status->dwCurrentState)
        << stateName(status->dwCurrentState);
  }

  static std::string catalogueString() {
    return std::string("vdk_testsvc.exe,") + kServiceName + ",Vardeck list check";
  }
};

TEST_F(ServiceListsE2e, BadOperandsAreRefused) {
  expectRefusedAndUntouched({"-stop", kServiceName});
  expectRefusedAndUntouched({"-stop", "-c", "x.exe", kServiceName});
  expectRefusedAndUntouched({"-stop", "-t", "0", "-c", "x.exe", kServiceName, "Name"});
  expectRefusedAndUntouched({"-stop", "-t", "abc", "-c", "x.exe", kServiceName, "Name"});
  expectRefusedAndUntouched({"-pause", "-c", "x.exe", kServiceName, "Name", "-t"});
  expectRefusedAndUntouched({"/Stop", "-f"});
  expectAcceptedAndStopped({"-stop", "-t", "30", "-c", "x.exe", kServiceName, "Name"});
}

TEST_F(ServiceListsE2e, MissingOrBrokenCatalogueIsRefused) {
  expectRefusedAndUntouched({"-stop"});  // no key at all
  ASSERT_EQ(ERROR_SUCCESS,
            setRegistryMultiString(kProductKey, "ServicesList", {catalogueString()}));
  expectRefusedAndUntouched({"-stop"});  // no HomeDir
  ASSERT_EQ(ERROR_SUCCESS, setRegistryString(kProductKey, "HomeDir", binDirectory()));
  ASSERT_EQ(ERROR_SUCCESS, setRegistryRaw(kProductKey, "ServicesList", REG_MULTI_SZ, {}));
  expectRefusedAndUntouched({"-stop", "-q"});  // empty catalogue
  ASSERT_EQ(ERROR_SUCCESS,
            setRegistryMultiString(kProductKey, "ServicesList",
                                   {catalogueString(), std::string("x.exe,") + kServiceName}));
  expectRefusedAndUntouched({"-stop"});  // second string lacks its display name
  ASSERT_EQ(ERROR_SUCCESS,
            setRegistryMultiString(kProductKey, "ServicesList", {catalogueString()}));
  expectAcceptedAndStopped({"-stop", "-q"});
}

TEST_F(ServiceListsE2e, ListFileWithoutValidLineIsRefusedDespiteTheCatalogue) {
  ASSERT_EQ(ERROR_SUCCESS, setRegistryString(kProductKey, "HomeDir", binDirectory()));
  ASSERT_EQ(ERROR_SUCCESS,
            setRegistryMultiString(kProductKey, "ServicesList", {catalogueString()}));
  const TempFile comments("# vdk_testsvc.exe,VdkListsE2e,commented out\r\nonly,two\r\n");
  expectRefusedAndUntouched({"-stop", "-f", comments.path()});
  expectRefusedAndUntouched({"-stop", "-f", comments.path() + ".missing"});
  const TempFile valid(std::string("x.exe, ") + kServiceName + " , Name\r\n");
  expectRefusedAndUntouched({"-stop", "-f", valid.path(), "-f", comments.path()});
  expectAcceptedAndStopped({"-stop", "-f", valid.path()});
}

TEST_F(ServiceListsE2e, StartupWithoutAcceptedTripleDoesNothingAndSucceeds) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"-startup"},
                                             {"-startup", "disabled", kServiceName, "Name"},
                                             {"-startup", "-manual", kServiceName, "Name"}}) {
    const RunResult run = runVdksvc(arguments);
    ASSERT_TRUE(run.started) << run.startError;
    EXPECT_EQ(0u, run.exitCode) << arguments.size();
    EXPECT_EQ("", run.out);
    EXPECT_EQ("", run.err);
  }
  const auto status = queryStatus(kServiceName);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status->dwCurrentState);
}

}  // namespace
}  // namespace vdksvc::e2e
