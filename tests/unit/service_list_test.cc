#include "lists/service_list.h"

#include <gtest/gtest.h>

namespace vdksvc {
namespace {

TEST(ServiceList, KeepsInsertionOrderAndDuplicates) {
  ServiceList list;
  list.addEntry("a.exe", "Svc", "First");
  list.addEntry("b.exe", "Other", "Second");
  list.addEntry("c.exe", "Svc", "Third");
  ASSERT_EQ(3u, list.size());
  EXPECT_EQ("a.exe", list.at(0).binaryPath);
  EXPECT_EQ("Other", list.at(1).serviceName);
  EXPECT_EQ("Svc", list.at(2).serviceName);
  EXPECT_EQ("Third", list.at(2).displayName);
  EXPECT_EQ("", list.at(0).startTypeWord);
}

TEST(ServiceList, MissingTextsAreEmpty) {
  ServiceList list;
  list.addEntry(nullptr, "Svc", nullptr);
  list.addStartTypeEntry("auto", nullptr, nullptr);
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ("", list.at(0).binaryPath);
  EXPECT_EQ("", list.at(0).displayName);
  EXPECT_EQ("", list.at(1).serviceName);
}

TEST(ServiceList, StartTypeEntriesHaveNoBinaryPath) {
  ServiceList list;
  list.addStartTypeEntry("demand", "Svc", "New Name");
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("", list.at(0).binaryPath);
  EXPECT_EQ("demand", list.at(0).startTypeWord);
  EXPECT_EQ("Svc", list.at(0).serviceName);
  EXPECT_EQ("New Name", list.at(0).displayName);
}

TEST(ServiceList, ClearThenAddLeavesExactlyThatEntry) {
  ServiceList list;
  list.addEntry("a", "b", "c");
  list.addEntry("d", "e", "f");
  list.clear();
  EXPECT_EQ(0u, list.size());
  list.addEntry("g", "h", "i");
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("h", list.at(0).serviceName);
}

TEST(ServiceList, EntriesAreIndependentCopies) {
  ServiceList list;
  std::string name = "Svc";
  list.addEntry("a", name.c_str(), "c");
  name[0] = 'X';
  ServiceEntry copy = list.at(0);
  copy.serviceName = "Changed";
  EXPECT_EQ("Svc", list.at(0).serviceName);
}

}  // namespace
}  // namespace vdksvc
