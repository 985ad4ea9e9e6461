#pragma once
// The usage text, for the administrator who asks with /? at a prompt.

#include "log/text_output.h"

namespace vdksvc {

/// Whether \a argument, the first one, asks for the usage text: /?, -?, -h, /h,
/// -help, /help or --help, in any case.
bool isHelpWord(const char* argument);

/// Whether an argument after the first is /? or -?, which no service, path or
/// display name ever is.
bool asksForHelp(int argc, char** argv);

/// Writes the usage text: the call forms, the commands, the options, the exit
/// statuses and where the manual is.
void writeUsage(TextOutput& output);

}  // namespace vdksvc
