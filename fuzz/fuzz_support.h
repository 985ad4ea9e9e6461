#pragma once
// Helpers shared by the libFuzzer targets.

#include <cstdio>
#include <cstdlib>

namespace vdksvc::fuzz {

/// Stops the run when \a condition does not hold. libFuzzer saves the input that
/// led here as a crash artifact, so a broken property is reported like a crash.
inline void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

}  // namespace vdksvc::fuzz
