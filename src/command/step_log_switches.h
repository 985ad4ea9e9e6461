#pragma once
// Which step log a run writes, as the machine's switches ask: the environment
// first, then the registry.

#include "log/step_log.h"
#include "platform/platform.h"

namespace vdksvc {

/// The registry key whose "StepLog" value switches the log on when the
/// environment does not.
constexpr const char* kStepLogKey = "SOFTWARE\\Corvane\\Vardeck\\vdksvc";

/// The log the switches ask for: the file named by the environment variable
/// VDKSVC_LOG, or when that is unset or empty by the value "StepLog" (REG_SZ or
/// REG_EXPAND_SZ, environment references expanded) under kStepLogKey; off when
/// neither names a file.
StepLog stepLogFromSwitches(Platform& platform);

}  // namespace vdksvc
