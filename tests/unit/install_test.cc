// Installation on the simulated manager: the creation settings, the TFTP rule,
// the database dependency rule with every way its registry values can be stored,
// and the start that follows.

#include "services/install.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lists/registry_catalogue.h"
#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

/// A registry value as a test stores it, or its absence.
struct Stored {
  bool present = false;
  Dword type = reg::kNone;
  std::vector<unsigned char> bytes;
};

const Stored kMissing{};
Stored number(Dword value) {
  return {true,
          reg::kDword,
          {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
           static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)}};
}
Stored text(const std::string& value) {
  std::vector<unsigned char> bytes(value.begin(), value.end());
  bytes.push_back(0);
  return {true, reg::kSz, bytes};
}
Stored raw(Dword type, std::vector<unsigned char> bytes) { return {true, type, std::move(bytes)}; }

ServiceEntry entryFor(const std::string& name) {
  return ServiceEntry{
      "\"C:\\Corvane\\Vardeck\\bin\\" + name + ".exe\" -service", name, "Vardeck " + name, {}};
}

class InstallTest : public SimulatedTest {
 protected:
  void store(const char* key, const char* name, const Stored& value) {
    if (value.present) sim.setValue(key, name, value.type, value.bytes);
  }
  void addService(const std::string& name, bool openRefused = false) {
    SimulatedPlatform::ServiceConfig config = serviceNamed(name);
    config.openRefused = openRefused;
    sim.addService(config);
  }
  bool registryRead() const {
    for (const std::string& call : sim.calls()) {
      if (call.rfind("RegOpenKeyExA", 0) == 0) return true;
    }
    return false;
  }
};

TEST_F(InstallTest, CreatesWithTheProductSettingsAndStarts) {
  const ServiceEntry entry = entryFor("VdkWeb");
  EXPECT_EQ(EntryOutcome::done(), installEntry(sim, entry, {kEveryRight}));

  const auto service = sim.service("VdkWeb");
  ASSERT_TRUE(service.has_value());
  EXPECT_EQ(entry.binaryPath, service->config.binaryPath) << "taken exactly as given";
  EXPECT_EQ("Vardeck VdkWeb", service->config.displayName);
  EXPECT_EQ(svc::kWin32OwnProcess, service->config.serviceType);
  EXPECT_EQ(svc::kAutoStart, service->config.startType);
  EXPECT_EQ(svc::kErrorNormal, service->config.errorControl);
  EXPECT_THAT(service->config.dependencies, IsEmpty());
  EXPECT_EQ(svc::kRunning, service->currentState);
  // No rule applies to this name, so the configuration is not even read.
  EXPECT_THAT(sim.calls(), ElementsAre("OpenSCManagerA", "CreateServiceA VdkWeb",
                                       "StartServiceA VdkWeb", "QueryServiceStatus VdkWeb",
                                       "CloseServiceHandle VdkWeb", "CloseServiceHandle manager"));
}

TEST_F(InstallTest, ExistingServiceIsLeftAsItWas) {
  SimulatedPlatform::ServiceConfig existing = serviceNamed("VdkWeb");
  existing.displayName = "Old name";
  sim.addService(existing);

  EXPECT_EQ(EntryOutcome::done(), installEntry(sim, entryFor("VdkWeb"), {kEveryRight}))
      << "where it should be";
  const auto service = sim.service("VdkWeb");
  EXPECT_EQ("C:\\App\\VdkWeb.exe", service->config.binaryPath);
  EXPECT_EQ("Old name", service->config.displayName);
  EXPECT_EQ(svc::kDemandStart, service->config.startType);
  EXPECT_EQ(svc::kStopped, service->currentState);
  EXPECT_THAT(sim.calls(),
              ElementsAre("OpenSCManagerA", "CreateServiceA VdkWeb", "CloseServiceHandle manager"));
}

TEST_F(InstallTest, RefusedManagerCreatesNothing) {
  sim.setManagerOpenRefused(true);
  EXPECT_EQ(EntryOutcome::accessDenied(), installEntry(sim, entryFor("hubkeep"), {kEveryRight}));
  EXPECT_THAT(sim.calls(), ElementsAre("OpenSCManagerA"));
}

TEST_F(InstallTest, ServiceStillStartingAtTheLimitStaysInstalled) {
  // hubkeep depends on the database service, which never finishes starting.
  SimulatedPlatform::ServiceConfig database = serviceNamed("MSSQL$VDKDBI");
  database.startPendingMs = SimulatedPlatform::kForever;
  sim.addService(database);

  EXPECT_EQ(EntryOutcome::lastSeenIn(svc::kStartPending),
            installEntry(sim, entryFor("hubkeep"), {kEveryRight, 2}));
  EXPECT_EQ(2000u, sim.nowMs());
  EXPECT_EQ(svc::kStartPending, sim.service("hubkeep")->currentState);
  EXPECT_TRUE(managerClosedLast(sim.calls()));
}

struct TftpCase {
  const char* what;
  const char* serviceName;
  Stored noUseTftp;
  Dword startType;
};

// Failure messages name the case rather than dump its bytes.
void PrintTo(const TftpCase& c, std::ostream* os) { *os << c.what; }

// clang-format off
const TftpCase kTftpCases[] = {
    // what, service name, NoUseVDKTFTP, start type
    {"ValueMissing", "NetBootCast", kMissing, svc::kAutoStart},
    {"ValueZero", "NetBootCast", number(0), svc::kAutoStart},
    {"ValueOne", "NetBootCast", number(1), svc::kDisabled},
    {"ValueTwo", "NetBootCast", number(2), svc::kAutoStart},
    {"OneStoredAsBinary", "NetBootCast", raw(reg::kBinary, {1}), svc::kDisabled},
    {"OneStoredAsText", "NetBootCast", text("1") /* bytes 0x31 0x00 */, svc::kAutoStart},
    {"OneStoredInEightBytes", "NetBootCast", raw(reg::kQword, {1, 0, 0, 0, 0, 0, 0, 0}), svc::kAutoStart},
    {"OtherCaseOfTheName", "netbootcast", number(1), svc::kAutoStart},
    {"OtherService", "hubkeep", number(1), svc::kAutoStart},
};
// clang-format on

class TftpRuleTest : public InstallTest, public ::testing::WithParamInterface<TftpCase> {};

TEST_P(TftpRuleTest, StartType) {
  const TftpCase& c = GetParam();
  store(kProductKey, "NoUseVDKTFTP", c.noUseTftp);
  const bool disabled = c.startType == svc::kDisabled;

  // Created disabled, as the rule wants, it is done though its start is refused.
  EXPECT_EQ(EntryOutcome::done(), installEntry(sim, entryFor(c.serviceName), {kEveryRight}));
  const auto service = sim.service(c.serviceName);
  ASSERT_TRUE(service.has_value()) << "a service whose start is refused stays installed";
  EXPECT_EQ(c.startType, service->config.startType);
  EXPECT_EQ(disabled ? svc::kStopped : svc::kRunning, service->currentState);
  EXPECT_EQ(disabled ? 0u : 1u,
            countCalls(sim.calls(), "QueryServiceStatus " + std::string(c.serviceName)))
      << "no wait after a refusal";
  EXPECT_TRUE(managerClosedLast(sim.calls()));
}

INSTANTIATE_TEST_SUITE_P(Table, TftpRuleTest, ::testing::ValuesIn(kTftpCases), caseName<TftpCase>);

struct DatabaseCase {
  const char* what;
  const char* serviceName;
  Stored remoteFlag;
  Stored instanceName;
  std::vector<std::string> existing;  ///< services on this machine before the install
  const char* dependency;             ///< empty for none
};

// Failure messages name the case rather than dump its bytes.
void PrintTo(const DatabaseCase& c, std::ostream* os) { *os << c.what; }

// clang-format off
const DatabaseCase kDatabaseCases[] = {
    // what, service name, DBSrvRemoteFlag, DBInstanceName, services present, dependency
    {"NoFlagDefaultInstance", "loomtide", kMissing, kMissing,
     {"MSSQL$VDKDBI"}, "MSSQL$VDKDBI"},
    {"NoFlagIgnoresTheInstanceName", "hubkeep", kMissing, text("SALES"),
     {"MSSQL$VDKDBI", "MSSQL$SALES"}, "MSSQL$VDKDBI"},
    {"NoFlagNoDatabaseService", "hubkeep", kMissing, kMissing,
     {}, ""},
    {"RemoteDatabase", "hubkeep", number(1), text("SALES"),
     {"MSSQL$VDKDBI", "MSSQL$SALES"}, ""},
    {"RemoteFlagStoredAsBinary", "hubkeep", raw(reg::kBinary, {1}), kMissing,
     {"MSSQL$VDKDBI"}, ""},
    {"LocalNamedInstance", "hubkeep", number(0), text("SALES"),
     {"MSSQL$SALES"}, "MSSQL$SALES"},
    {"LocalNamedInstanceNotInstalled", "hubkeep", number(0), text("SALES"),
     {"MSSQL$VDKDBI"}, ""},
    {"LocalWithoutInstanceName", "loomtide", number(0), kMissing,
     {"MSSQL$VDKDBI"}, "MSSQL$VDKDBI"},
    {"LocalWithoutAnyDatabaseService", "hubkeep", number(0), kMissing,
     {}, ""},
    {"FlagOtherThanOneIsLocal", "hubkeep", number(2), text("SALES"),
     {"MSSQL$SALES"}, "MSSQL$SALES"},
    {"FlagOneStoredAsTextIsLocal", "hubkeep", text("1") /* bytes 0x31 0x00 */, text("SALES"),
     {"MSSQL$SALES"}, "MSSQL$SALES"},
    {"InstanceNameOfSixteenCharacters", "loomtide", number(0), text("VARDECKPRODUCT01"),
     {"MSSQL$VARDECKPRODUCT01"}, "MSSQL$VARDECKPRODUCT01"},
    {"InstanceNameStoredAsExpandableText", "hubkeep", number(0), raw(reg::kExpandSz, {'S', 'A', 'L', 'E', 'S', 0}),
     {"MSSQL$SALES"}, "MSSQL$SALES"},
    {"NameWithCapitals", "HubKeep", number(0), kMissing,
     {"MSSQL$VDKDBI"}, ""},
    {"OtherService", "VdkWeb", kMissing, kMissing,
     {"MSSQL$VDKDBI"}, ""},
};
// clang-format on

class DatabaseRuleTest : public InstallTest, public ::testing::WithParamInterface<DatabaseCase> {};

TEST_P(DatabaseRuleTest, Dependency) {
  const DatabaseCase& c = GetParam();
  store(kProductKey, "DBSrvRemoteFlag", c.remoteFlag);
  store(kDatabaseKey, "DBInstanceName", c.instanceName);
  for (const std::string& name : c.existing) addService(name);

  EXPECT_EQ(EntryOutcome::done(), installEntry(sim, entryFor(c.serviceName), {kEveryRight}));
  const auto service = sim.service(c.serviceName);
  ASSERT_TRUE(service.has_value());
  const std::string expected = c.dependency;
  if (expected.empty()) {
    EXPECT_THAT(service->config.dependencies, IsEmpty());
  } else {
    EXPECT_THAT(service->config.dependencies, ElementsAre(expected));
    EXPECT_EQ(svc::kRunning, sim.service(expected)->currentState) << "started with its dependent";
  }
  const std::string name = c.serviceName;
  EXPECT_EQ(name == "hubkeep" || name == "loomtide", registryRead());
  EXPECT_TRUE(managerClosedLast(sim.calls()));
}

INSTANTIATE_TEST_SUITE_P(Table, DatabaseRuleTest, ::testing::ValuesIn(kDatabaseCases),
                         caseName<DatabaseCase>);

// The database service is only looked for: one that refuses even a query is
// there all the same.
TEST_F(InstallTest, DatabaseServiceThatRefusesToBeOpenedIsStillTheDependency) {
  addService("MSSQL$VDKDBI", /*openRefused=*/true);
  EXPECT_EQ(EntryOutcome::done(), installEntry(sim, entryFor("hubkeep"), {kEveryRight}));
  EXPECT_THAT(sim.service("hubkeep")->config.dependencies, ElementsAre("MSSQL$VDKDBI"));
}

struct PathCase {
  const char* what;
  const char* binaryPath;
  const char* stored;
};

const PathCase kPathCases[] = {
    {"blank and existing file", "C:\\Program Files\\Vardeck\\hub.exe",
     "\"C:\\Program Files\\Vardeck\\hub.exe\""},
    {"blank with arguments", "C:\\Program Files\\Vardeck\\hub.exe -s",
     "C:\\Program Files\\Vardeck\\hub.exe -s"},
    {"quoted already", "\"C:\\Program Files\\Vardeck\\hub.exe\"",
     "\"C:\\Program Files\\Vardeck\\hub.exe\""},
    {"no blank", "C:\\Vardeck\\hub.exe", "C:\\Vardeck\\hub.exe"},
    {"a directory", "C:\\Program Files\\Vardeck", "C:\\Program Files\\Vardeck"},
};

class InstallPathTest : public SimulatedTest, public ::testing::WithParamInterface<PathCase> {};

// Unquoted, "C:\Program Files\Vardeck\hub.exe" would first run C:\Program.exe.
TEST_P(InstallPathTest, OnlyAnExistingFileWithABlankIsQuoted) {
  sim.addFile("C:\\Program Files\\Vardeck\\hub.exe");
  sim.addFile("C:\\Vardeck\\hub.exe");
  sim.addDirectory("C:\\Program Files\\Vardeck");
  installEntry(sim, ServiceEntry{GetParam().binaryPath, "Hub", "Hub", {}}, {kEveryRight});
  ASSERT_TRUE(sim.service("Hub").has_value());
  EXPECT_EQ(GetParam().stored, sim.service("Hub")->config.binaryPath);
}
INSTANTIATE_TEST_SUITE_P(Table, InstallPathTest, ::testing::ValuesIn(kPathCases),
                         caseName<PathCase>);

}  // namespace
}  // namespace vdksvc
