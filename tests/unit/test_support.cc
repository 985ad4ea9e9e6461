#include "test_support.h"

#include <gmock/gmock.h>

#include <cstdio>
#include <fstream>

#include <unistd.h>

namespace vdksvc {

void SimulatedTest::TearDown() {
  EXPECT_THAT(sim.openResources(), ::testing::IsEmpty()) << "the test left resources open";
}

Args::Args(std::initializer_list<std::string> operands) {
  const std::string program = "C:\\Corvane\\Vardeck\\bin\\vdksvc.exe";
  storage_.emplace_back(program.begin(), program.end());
  for (const std::string& operand : operands) storage_.emplace_back(operand.begin(), operand.end());
  for (std::vector<char>& text : storage_) {
    text.push_back('\0');
    pointers_.push_back(text.data());
  }
  pointers_.push_back(nullptr);
}

TempFile::TempFile(const std::string& contents) {
  static int counter = 0;
  path_ = ::testing::TempDir() + "vdksvc_test_" + std::to_string(::getpid()) + "_" +
          std::to_string(++counter) + ".txt";
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

TempFile::~TempFile() { std::remove(path_.c_str()); }

}  // namespace vdksvc
