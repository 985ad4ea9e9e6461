#pragma once
// The names the service manager's numbers are known by: the states and the
// start types.

#include "platform/platform.h"

namespace vdksvc {

/// The service state's name as the documentation writes it ("STOP_PENDING");
/// "UNKNOWN" for a value that is no state.
const char* stateName(Dword state);

/// Whether \a value is one of the seven service states, STOPPED to PAUSED.
inline bool isServiceState(Dword value) { return value >= svc::kStopped && value <= svc::kPaused; }

/// The start type's word, as sc.exe and the start-type command write it
/// ("boot", "system", "auto", "demand", "disabled"); null for any other value.
const char* startTypeName(Dword startType);

}  // namespace vdksvc
