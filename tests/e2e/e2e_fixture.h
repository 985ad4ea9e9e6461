#pragma once
// The base of the end-to-end fixtures that need the service control manager. A
// header of its own, as it needs GoogleTest, which vdk_run.exe (sharing
// e2e_support.h) does not link.

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace vdksvc::e2e {

/// Skips the test when the account may not use the service control manager,
/// and fails it when the manager cannot be opened for another reason. A derived
/// SetUp calls this one first and returns when IsSkipped() or HasFatalFailure().
class ServiceManagerE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    const ScmHandle manager = openManager();
    if (!manager && ::GetLastError() == ERROR_ACCESS_DENIED) {
      GTEST_SKIP() << "not enough rights for the service control manager";
    }
    ASSERT_TRUE(manager) << "OpenSCManagerA failed with " << ::GetLastError();
  }
  bool stopped() const { return IsSkipped() || HasFatalFailure(); }
};

}  // namespace vdksvc::e2e
