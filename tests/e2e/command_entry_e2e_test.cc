// The real vdksvc.exe refuses command lines that name no command: exit status
// 4294967295 (-1), nothing on standard output or standard error.

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace vdksvc::e2e {
namespace {

constexpr DWORD kRefused = 4294967295u;

void expectRefusedSilently(const RunResult& run) {
  ASSERT_TRUE(run.started) << "CreateProcessA failed with " << run.startError;
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(kRefused, run.exitCode);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("", run.err);
}

TEST(CommandEntryE2e, NoArgument) { expectRefusedSilently(runVdksvcRaw("")); }

TEST(CommandEntryE2e, EmptyArgument) { expectRefusedSilently(runVdksvc({""})); }

TEST(CommandEntryE2e, KeywordWithExtraLetter) { expectRefusedSilently(runVdksvc({"-stopx"})); }

TEST(CommandEntryE2e, KeywordPrefix) { expectRefusedSilently(runVdksvc({"-st"})); }

TEST(CommandEntryE2e, KeywordWithoutDash) { expectRefusedSilently(runVdksvc({"stop"})); }

TEST(CommandEntryE2e, TrailingWordInsideOneArgument) {
  expectRefusedSilently(runVdksvc({"-stop now"}));
}

TEST(CommandEntryE2e, UnknownOptionLetters) {
  expectRefusedSilently(runVdksvc({"-x"}));
  expectRefusedSilently(runVdksvc({"/"}));
  expectRefusedSilently(runVdksvc({"-"}));
}

}  // namespace
}  // namespace vdksvc::e2e
