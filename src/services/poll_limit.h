#pragma once

#include <cstdint>

namespace vdksvc {

/// The -t value: how many seconds an operation's waits for a service to leave
/// its pending states may take together; 0 means no limit.
using PollLimit = std::uint32_t;

}  // namespace vdksvc
