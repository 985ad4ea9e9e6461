#pragma once

#include <cstdint>

namespace vdksvc {

/// How many one-second status polls an operation may spend waiting for a
/// service to leave a pending state; 0 means no limit.
using PollLimit = std::uint32_t;

}  // namespace vdksvc
