#include "command/service_operands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "lists/registry_catalogue.h"
#include "test_support.h"

namespace vdksvc {
namespace {

TEST(ParsePollLimit, ConvertsLikeAtolWithClamping) {
  const std::pair<const char*, PollLimit> samples[] = {
      {"30", 30},
      {"5x", 5},
      {"  \t\n42", 42},
      {"+7", 7},
      {"-1", 4294967295u},
      {"2147483647", 2147483647u},
      {"2147483648", 2147483647u},
      {"4294967296", 2147483647u},
      {"99999999999999999999999", 2147483647u},
      {"-2147483648", 2147483648u},
      {"-2147483649", 2147483648u},
      {"-99999999999999999999999", 2147483648u},
      {"0001", 1},
  };
  for (const auto& [text, expected] : samples) {
    EXPECT_EQ(expected, parsePollLimit(text)) << text;
  }
}

TEST(ParsePollLimit, ZeroFails) {
  for (const char* text : {"0", "abc", "", "-0", "+", "-", " x5", "0x10", "--1"}) {
    EXPECT_EQ(std::nullopt, parsePollLimit(text)) << text;
  }
}

class ServiceOperandsTest : public SimulatedTest {
 protected:
  /// Parses \a args into list and limit; false when they are refused.
  bool parse(Args args) {
    const CommandLine line = readCommandLine(sim, args.argc(), args.argv());
    sim.clearCalls();  // the keyword's lowering
    const std::optional<ServiceList> parsed = serviceList(sim, line);
    if (!parsed) return false;
    list = *parsed;
    limit = line.pollLimit;
    return true;
  }
  void seedCatalogue() {
    sim.setText(kProductKey, "HomeDir", "C:\\App");
    sim.setMultiText(kProductKey, "ServicesList", {"a.exe,RegA,Reg A", "b.exe,RegB,Reg B"});
  }
  std::vector<std::string> names() const {
    std::vector<std::string> result;
    for (std::size_t i = 0; i < list.size(); ++i) result.push_back(list.at(i).serviceName);
    return result;
  }

  ServiceList list;
  PollLimit limit = 0;
};

using ::testing::ElementsAre;

TEST_F(ServiceOperandsTest, NoOperandsTakeTheCatalogue) {
  seedCatalogue();
  ASSERT_TRUE(parse({"-stop"}));
  EXPECT_THAT(names(), ElementsAre("RegA", "RegB"));
  EXPECT_EQ("\"C:\\App\\a.exe\"", list.at(0).binaryPath);
  EXPECT_EQ(0u, limit);
}

TEST_F(ServiceOperandsTest, OptionsWithoutEffectLeaveTheCatalogue) {
  seedCatalogue();
  ASSERT_TRUE(parse({"-stop", "-q"}));
  EXPECT_THAT(names(), ElementsAre("RegA", "RegB"));
  ASSERT_TRUE(parse({"-stop", "-", "/xyz"}));
  EXPECT_THAT(names(), ElementsAre("RegA", "RegB"));
}

TEST_F(ServiceOperandsTest, NoCatalogueFails) {
  EXPECT_FALSE(parse({"-stop"}));  // no HomeDir
  sim.setText(kProductKey, "HomeDir", "C:\\App");
  EXPECT_FALSE(parse({"-stop"}));  // no ServicesList
  sim.setMultiText(kProductKey, "ServicesList", {"broken"});
  EXPECT_FALSE(parse({"-stop"}));
}

TEST_F(ServiceOperandsTest, ExplicitServiceIsTakenUnchanged) {
  ASSERT_TRUE(parse({"-install", "-c", "prog.exe", "Svc", "My Service"}));
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("prog.exe", list.at(0).binaryPath);
  EXPECT_EQ("Svc", list.at(0).serviceName);
  EXPECT_EQ("My Service", list.at(0).displayName);
  EXPECT_THAT(sim.calls(), ::testing::IsEmpty());  // the registry is not read
}

TEST_F(ServiceOperandsTest, OptionLetterAloneDecidesInEitherCase) {
  ASSERT_TRUE(parse({"-stop", "/Config", "p", "S", "D", "-TIMEOUT", "9"}));
  EXPECT_THAT(names(), ElementsAre("S"));
  EXPECT_EQ(9u, limit);
}

TEST_F(ServiceOperandsTest, PollLimitBeforeOrAfterTheService) {
  ASSERT_TRUE(parse({"-start", "-t", "30", "-c", "a", "b", "c"}));
  EXPECT_THAT(names(), ElementsAre("b"));
  EXPECT_EQ(30u, limit);
  ASSERT_TRUE(parse({"-start", "-c", "a", "b", "c", "-t", "30"}));
  EXPECT_THAT(names(), ElementsAre("b"));
  EXPECT_EQ(30u, limit);
}

TEST_F(ServiceOperandsTest, LastPollLimitWins) {
  ASSERT_TRUE(parse({"-start", "-t", "3", "-t", "-1", "-c", "a", "b", "c"}));
  EXPECT_EQ(4294967295u, limit);
}

TEST_F(ServiceOperandsTest, SecondServiceReplacesTheFirst) {
  ASSERT_TRUE(parse({"-stop", "-c", "a", "b", "c", "-c", "d", "e", "f"}));
  EXPECT_THAT(names(), ElementsAre("e"));
}

TEST_F(ServiceOperandsTest, ListFilesAccumulateInOrder) {
  sim.setFileContents("first.lst", "x.exe,X1,First\ny.exe,Y1,Second\n");
  sim.setFileContents("second.lst", "z.exe,Z2,Third\n");
  ASSERT_TRUE(parse({"-stop", "-f", "first.lst", "-f", "second.lst"}));
  EXPECT_THAT(names(), ElementsAre("X1", "Y1", "Z2"));
}

TEST_F(ServiceOperandsTest, ListFileAfterExplicitServiceIsNotRead) {
  ASSERT_TRUE(parse({"-stop", "-c", "a", "b", "c", "-f", "/nonexistent/list.txt"}));
  EXPECT_THAT(names(), ElementsAre("b"));
}

TEST_F(ServiceOperandsTest, ExplicitServiceDiscardsListFileEntries) {
  sim.setFileContents("list.lst", "x.exe,X1,First\n");
  ASSERT_TRUE(parse({"-stop", "-f", "list.lst", "-c", "a", "b", "c"}));
  EXPECT_THAT(names(), ElementsAre("b"));
}

TEST_F(ServiceOperandsTest, ListFileWithoutValidLineFailsEvenWithACatalogue) {
  seedCatalogue();
  sim.setFileContents("list.lst", "# only a comment\nonly,two\n");
  EXPECT_FALSE(parse({"-stop", "-f", "list.lst"}));
  EXPECT_FALSE(parse({"-stop", "-f", "/nonexistent/list.txt"}));
}

TEST_F(ServiceOperandsTest, OperandErrorsFail) {
  seedCatalogue();
  EXPECT_FALSE(parse({"-stop", "svc"}));
  EXPECT_FALSE(parse({"-stop", "-c"}));
  EXPECT_FALSE(parse({"-stop", "-c", "a", "b"}));
  EXPECT_FALSE(parse({"-stop", "-f"}));
  EXPECT_FALSE(parse({"-stop", "-t"}));
  EXPECT_FALSE(parse({"-stop", "-t", "0"}));
  EXPECT_FALSE(parse({"-stop", "-t", "abc"}));
  EXPECT_FALSE(parse({"-stop", "-t", ""}));
  EXPECT_FALSE(parse({"-stop", "-c", "a", "b", "c", "extra"}));
  EXPECT_FALSE(parse({"-stop", ""}));
}

}  // namespace
}  // namespace vdksvc
