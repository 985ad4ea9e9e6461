#include "command/start_type_operands.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vdksvc {
namespace {

class StartTypeOperandsTest : public SimulatedTest {
 protected:
  void parse(Args args) { list = startTypeList(readCommandLine(sim, args.argc(), args.argv())); }
  ServiceList list;
};

TEST_F(StartTypeOperandsTest, NoOperandsGiveAnEmptyList) {
  parse({"-startup"});
  EXPECT_EQ(0u, list.size());
}

TEST_F(StartTypeOperandsTest, OneTripleInAnyCase) {
  for (const char* option : {"-Auto", "/AUTO", "-auto"}) {
    parse({"-startup", option, "Svc", "Display"});
    ASSERT_EQ(1u, list.size()) << option;
    EXPECT_EQ("auto", list.at(0).startTypeWord);
    EXPECT_EQ("Svc", list.at(0).serviceName);
    EXPECT_EQ("Display", list.at(0).displayName);
    EXPECT_EQ("", list.at(0).binaryPath);
  }
  parse({"-startup", "/Disabled", "Svc", "New Name"});
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("disabled", list.at(0).startTypeWord);
  EXPECT_EQ("New Name", list.at(0).displayName);
}

TEST_F(StartTypeOperandsTest, OnlyTheLastAcceptedTripleRemains) {
  parse({"-startup", "-auto", "A", "Alpha", "-demand", "B", "Beta"});
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("demand", list.at(0).startTypeWord);
  EXPECT_EQ("B", list.at(0).serviceName);
}

TEST_F(StartTypeOperandsTest, UnknownWordEndsParsingAndKeepsThePreviousTriple) {
  parse({"-startup", "-auto", "A", "Alpha", "-manual", "x", "y", "-demand", "C", "Gamma"});
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("A", list.at(0).serviceName);
}

TEST_F(StartTypeOperandsTest, OptionWithoutDashEndsParsingAtOnce) {
  parse({"-startup", "auto", "Svc", "Display"});
  EXPECT_EQ(0u, list.size());
}

TEST_F(StartTypeOperandsTest, MissingDisplayNameIsEmpty) {
  parse({"-startup", "-demand", "Svc"});
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("Svc", list.at(0).serviceName);
  EXPECT_EQ("", list.at(0).displayName);
}

TEST_F(StartTypeOperandsTest, OptionAsLastArgumentEndsParsing) {
  parse({"-startup", "-auto"});
  EXPECT_EQ(0u, list.size());
  parse({"-startup", "-auto", "A", "Alpha", "-disabled"});
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("auto", list.at(0).startTypeWord);
}

TEST_F(StartTypeOperandsTest, OptionWordsAreLoweredOnceEachLeavingTheArguments) {
  Args args{"-startup", "-DEMAND", "Svc", "Name"};
  readCommandLine(sim, args.argc(), args.argv());
  EXPECT_EQ("-DEMAND", args.at(2));
  EXPECT_EQ("Svc", args.at(3));
  EXPECT_EQ(2u, countCalls(sim.calls(), "CharLowerA")) << "the keyword's and the option's";
}

TEST_F(StartTypeOperandsTest, TheRegistryIsNeverRead) {
  parse({"-startup", "-auto", "A", "Alpha"});
  for (const std::string& call : sim.calls())
    EXPECT_EQ(std::string::npos, call.find("Reg")) << call;
}

}  // namespace
}  // namespace vdksvc
