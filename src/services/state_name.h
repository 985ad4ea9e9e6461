#pragma once

#include "platform/platform.h"

namespace vdksvc {

/// The service state's name as the documentation writes it ("STOP_PENDING");
/// "UNKNOWN" for a value that is no state.
const char* stateName(Dword state);

}  // namespace vdksvc
