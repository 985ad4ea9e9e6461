#include "lists/registry_catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/registry_value.h"
#include "test_support.h"

namespace vdksvc {
namespace {

using ::testing::ElementsAre;

std::vector<unsigned char> bytesOf(const std::string& text) {
  return std::vector<unsigned char>(text.begin(), text.end());
}

class RegistryReadTest : public SimulatedTest {};

TEST_F(RegistryReadTest, TextEndsAtFirstNul) {
  sim.setText(kProductKey, "HomeDir", "C:\\App");
  std::string text;
  ASSERT_TRUE(readRegistryText(sim, kProductKey, "HomeDir", text));
  EXPECT_EQ("C:\\App", text);

  sim.setValue(kProductKey, "Odd", reg::kBinary, bytesOf(std::string("ab\0cd", 5)));
  ASSERT_TRUE(readRegistryText(sim, kProductKey, "Odd", text));
  EXPECT_EQ("ab", text);
}

TEST_F(RegistryReadTest, TextWithoutTerminatorEndsWithItsLastByte) {
  sim.setText(kProductKey, "HomeDir", "D:\\Vardeck", /*terminated=*/false);
  std::string text = "previous";
  ASSERT_TRUE(readRegistryText(sim, kProductKey, "HomeDir", text));
  EXPECT_EQ("D:\\Vardeck", text);
}

TEST_F(RegistryReadTest, EmptyValueGivesEmptyText) {
  sim.setValue(kProductKey, "HomeDir", reg::kSz, {});
  std::string text = "previous";
  ASSERT_TRUE(readRegistryText(sim, kProductKey, "HomeDir", text));
  EXPECT_EQ("", text);
}

TEST_F(RegistryReadTest, MissingKeyOrValueOrRefusedKeyFails) {
  std::string text;
  EXPECT_FALSE(readRegistryText(sim, kProductKey, "HomeDir", text));
  sim.addKey(kProductKey);
  EXPECT_FALSE(readRegistryText(sim, kProductKey, "HomeDir", text));
  sim.setText(kProductKey, "HomeDir", "C:\\App");
  sim.setKeyOpenRefused(kProductKey, true);
  EXPECT_FALSE(readRegistryText(sim, kProductKey, "HomeDir", text));
  Dword number = 7;
  EXPECT_FALSE(readRegistryNumber(sim, kProductKey, "HomeDir", number));
  EXPECT_EQ(7u, number);
}

TEST_F(RegistryReadTest, NumberOfUpToFourBytes) {
  sim.setNumber(kProductKey, "DBSrvRemoteFlag", 1);
  Dword number = 0;
  ASSERT_TRUE(readRegistryNumber(sim, kProductKey, "DBSrvRemoteFlag", number));
  EXPECT_EQ(1u, number);

  sim.setNumber(kProductKey, "Big", 0x12345678);
  ASSERT_TRUE(readRegistryNumber(sim, kProductKey, "Big", number));
  EXPECT_EQ(0x12345678u, number);

  sim.setValue(kProductKey, "Short", reg::kBinary, {0x01});
  number = 0xFFFFFFFF;
  ASSERT_TRUE(readRegistryNumber(sim, kProductKey, "Short", number));
  EXPECT_EQ(1u, number);
}

TEST_F(RegistryReadTest, NumberLongerThanFourBytesFails) {
  sim.setValue(kProductKey, "Wide", reg::kQword, {1, 0, 0, 0, 0, 0, 0, 0});
  Dword number = 5;
  EXPECT_FALSE(readRegistryNumber(sim, kProductKey, "Wide", number));
  EXPECT_EQ(5u, number);
  EXPECT_FALSE(readRegistryNumber(sim, kProductKey, "Missing", number));
}

TEST_F(RegistryReadTest, EveryKeyIsClosed) {
  sim.setText(kProductKey, "HomeDir", "C:\\App");
  std::string text;
  Dword number = 0;
  readRegistryText(sim, kProductKey, "HomeDir", text);
  readRegistryText(sim, kProductKey, "Nope", text);
  readRegistryNumber(sim, kProductKey, "HomeDir", number);
  readRegistryNumber(sim, kProductKey, "Nope", number);
  // TearDown checks that nothing stayed open; here the closes come in order too.
  int opens = 0, closes = 0;
  for (const std::string& call : sim.calls()) {
    if (call.rfind("RegOpenKeyExA", 0) == 0) ++opens;
    if (call.rfind("RegCloseKey", 0) == 0) ++closes;
  }
  EXPECT_EQ(8, opens) << "the 32-bit view, which lacks the key, then the 64-bit one";
  EXPECT_EQ(4, closes);
}

// Where a value is stored in each view: no key (null), the key without the
// value (""), or the value.
struct ViewCase {
  const char* what;
  const char* in32;
  const char* in64;
  const char* read;  ///< what is read
  RegistryView view;
};

const ViewCase kViewCases[] = {
    {"only in the 32-bit view", "1", nullptr, "1", RegistryView::kBits32},
    {"only in the 64-bit view", nullptr, "2", "2", RegistryView::kBits64},
    {"in both views, the 32-bit one first", "1", "2", "1", RegistryView::kBits32},
    {"32-bit key without the value", "", "2", "2", RegistryView::kBits64},
};

class RegistryViewTest : public SimulatedTest, public ::testing::WithParamInterface<ViewCase> {};

TEST_P(RegistryViewTest, EachValueIsLookedUpInThe32BitViewFirst) {
  const ViewCase& c = GetParam();
  for (const auto& [corvane, value] : {std::pair{"SOFTWARE\\WOW6432Node\\Corvane\\", c.in32},
                                       std::pair{"SOFTWARE\\Corvane\\", c.in64}}) {
    if (value == nullptr) continue;
    const std::string product = std::string(corvane) + "Vardeck";
    const std::string database = product + "_DB";
    sim.addKey(product);
    sim.addKey(database);
    if (*value == '\0') continue;
    sim.setMultiText(product, "ServicesList", {std::string("x.exe,") + value + ",X"});
    sim.setNumber(product, "NoUseVDKTFTP", static_cast<Dword>(std::stoul(value)));
    sim.setText(database, "DBInstanceName", value);
  }
  ServiceList list;
  Dword number = 0;
  std::string text;
  RegistryValueInfo catalogue, flag, instance;
  ASSERT_TRUE(loadRegistryCatalogue(sim, "C:\\App", list, &catalogue));
  ASSERT_TRUE(readRegistryNumber(sim, kProductKey, "NoUseVDKTFTP", number, &flag));
  ASSERT_TRUE(readRegistryText(sim, kDatabaseKey, "DBInstanceName", text, &instance));
  EXPECT_EQ(c.read, list.at(0).serviceName);
  EXPECT_EQ(std::stoul(c.read), number);
  EXPECT_EQ(c.read, text);
  for (const RegistryValueInfo& info : {catalogue, flag, instance}) EXPECT_EQ(c.view, info.view);
}
INSTANTIATE_TEST_SUITE_P(Table, RegistryViewTest, ::testing::ValuesIn(kViewCases),
                         caseName<ViewCase>);

TEST_F(RegistryReadTest, AValueThatCannotBeReadDoesNotFallBackToThe64BitView) {
  sim.setValue("SOFTWARE\\WOW6432Node\\Corvane\\Vardeck", "NoUseVDKTFTP", reg::kQword,
               {1, 0, 0, 0, 0, 0, 0, 0});
  sim.setNumber(kProductKey, "NoUseVDKTFTP", 1);
  Dword number = 0;
  EXPECT_FALSE(readRegistryNumber(sim, kProductKey, "NoUseVDKTFTP", number));
}

class CatalogueTest : public SimulatedTest {
 protected:
  bool load(const std::vector<std::string>& strings, const std::string& home = "C:\\App") {
    sim.setMultiText(kProductKey, "ServicesList", strings);
    return loadRegistryCatalogue(sim, home, list);
  }
  std::vector<std::string> row(std::size_t i) const {
    const ServiceEntry& e = list.at(i);
    return {e.binaryPath, e.serviceName, e.displayName};
  }
  ServiceList list;
};

TEST_F(CatalogueTest, BuildsQuotedBinaryPathUnderHomeDir) {
  ASSERT_TRUE(load({"bin\\srv.exe,Srv,Server Service"}));
  ASSERT_EQ(1u, list.size());
  EXPECT_THAT(row(0), ElementsAre("\"C:\\App\\bin\\srv.exe\"", "Srv", "Server Service"));
  EXPECT_EQ("", list.at(0).startTypeWord);
}

TEST_F(CatalogueTest, BlanksAfterCommasAreSkippedBlanksBeforeThemKept) {
  ASSERT_TRUE(load({" \tbin\\srv.exe, \tSrv,  Server Service", "a.exe ,B ,C  "}));
  ASSERT_EQ(2u, list.size());
  EXPECT_THAT(row(0), ElementsAre("\"C:\\App\\bin\\srv.exe\"", "Srv", "Server Service"));
  EXPECT_THAT(row(1), ElementsAre("\"C:\\App\\a.exe \"", "B ", "C  "));
}

TEST_F(CatalogueTest, DisplayNameKeepsItsCommas) {
  ASSERT_TRUE(load({"x.exe,X,Name, with, commas"}));
  EXPECT_THAT(row(0), ElementsAre("\"C:\\App\\x.exe\"", "X", "Name, with, commas"));
}

TEST_F(CatalogueTest, TwoCommasAloneGiveEmptyNames) {
  ASSERT_TRUE(load({",,"}));
  EXPECT_THAT(row(0), ElementsAre("\"C:\\App\\\"", "", ""));
}

TEST_F(CatalogueTest, HomeDirEndingInBackslashDoublesIt) {
  ASSERT_TRUE(load({"srv.exe,Srv,S"}, "C:\\App\\"));
  EXPECT_EQ("\"C:\\App\\\\srv.exe\"", list.at(0).binaryPath);
}

TEST_F(CatalogueTest, EntriesKeepOrderAndAppendToTheList) {
  list.addEntry("first", "First", "First");
  ASSERT_TRUE(load({"a.exe,A,Alpha", "b.exe,B,Beta", "a.exe,A,Again"}));
  ASSERT_EQ(4u, list.size());
  EXPECT_EQ("First", list.at(0).serviceName);
  EXPECT_EQ("A", list.at(1).serviceName);
  EXPECT_EQ("B", list.at(2).serviceName);
  EXPECT_EQ("Again", list.at(3).displayName);
}

TEST_F(CatalogueTest, MalformedStringFailsButEarlierEntriesStay) {
  EXPECT_FALSE(load({"a.exe,A,Alpha", "b.exe,B", "c.exe,C,Gamma"}));
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("A", list.at(0).serviceName);
}

TEST_F(CatalogueTest, EachKindOfMalformedStringFails) {
  for (const char* bad : {"no commas", "a.exe,", "a.exe,  \t", "   ", "a.exe,B"}) {
    list.clear();
    EXPECT_FALSE(load({bad})) << bad;
  }
}

TEST_F(CatalogueTest, MissingOrEmptyValueFails) {
  EXPECT_FALSE(loadRegistryCatalogue(sim, "C:\\App", list));  // no key
  sim.addKey(kProductKey);
  EXPECT_FALSE(loadRegistryCatalogue(sim, "C:\\App", list));  // no value
  sim.setValue(kProductKey, "ServicesList", reg::kMultiSz, {});
  EXPECT_FALSE(loadRegistryCatalogue(sim, "C:\\App", list));  // zero bytes
  sim.setValue(kProductKey, "ServicesList", reg::kMultiSz, {0, 0});
  EXPECT_FALSE(loadRegistryCatalogue(sim, "C:\\App", list));  // no string
  EXPECT_EQ(0u, list.size());
}

TEST_F(CatalogueTest, ValueStoredWithoutTerminatorsIsReadToItsLastByte) {
  sim.setValue(kProductKey, "ServicesList", reg::kMultiSz, bytesOf("a.exe,A,Alpha"));
  ASSERT_TRUE(loadRegistryCatalogue(sim, "C:\\App", list));
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("Alpha", list.at(0).displayName);

  list.clear();
  sim.setValue(kProductKey, "ServicesList", reg::kMultiSz,
               bytesOf(std::string("a.exe,A,Alpha\0b.exe,B,Beta", 26)));
  ASSERT_TRUE(loadRegistryCatalogue(sim, "C:\\App", list));
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ("Beta", list.at(1).displayName);
}

TEST_F(CatalogueTest, AnEmptyStringEndsTheList) {
  sim.setValue(kProductKey, "ServicesList", reg::kMultiSz,
               bytesOf(std::string("a.exe,A,Alpha\0\0b.exe,B,Beta\0\0", 30)));
  ASSERT_TRUE(loadRegistryCatalogue(sim, "C:\\App", list));
  ASSERT_EQ(1u, list.size());
}

TEST_F(CatalogueTest, TheValueTypeIsNotExamined) {
  sim.setValue(kProductKey, "ServicesList", reg::kSz, bytesOf(std::string("a.exe,A,Alpha\0", 14)));
  ASSERT_TRUE(loadRegistryCatalogue(sim, "C:\\App", list));
  EXPECT_EQ(1u, list.size());
}

}  // namespace
}  // namespace vdksvc
