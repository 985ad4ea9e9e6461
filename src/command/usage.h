#pragma once
// The usage text, for the administrator who asks with /? at a prompt.

#include "base/text_output.h"

namespace vdksvc {

/// Writes the usage text: the call forms, the commands, the options, the exit
/// statuses and where the manual is.
void writeUsage(TextOutput& output);

}  // namespace vdksvc
