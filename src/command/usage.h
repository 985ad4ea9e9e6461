#pragma once
// The usage text, for the administrator who asks with /? at a prompt.

#include "base/text_output.h"

namespace vdksvc {

/// Whether \a argument asks for the usage text: /?, -?, -h, /h, -help, /help or
/// --help, in any case. As the first argument, or where an option may stand.
bool isHelpWord(const char* argument);

/// Whether an argument after the first is /? or -?, which no service, path or
/// display name ever is.
bool asksForHelp(int argc, char** argv);

/// Writes the usage text: the call forms, the commands, the options, the exit
/// statuses and where the manual is.
void writeUsage(TextOutput& output);

}  // namespace vdksvc
