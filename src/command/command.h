#pragma once
// The command's entry: read the command line, build the service list its command
// reads, apply the command to every entry, report by exit status.

#include "log/step_log.h"
#include "platform/platform.h"

namespace vdksvc {

/// Runs one command line (\a argv[0] is the program path) and returns the exit
/// status: -1 when the command or its service list is refused; otherwise 0, or
/// with -e the number of entries that did not end where the command sends them
/// (plus one when the extended stop left a process of the list's programs
/// running; for -query, the entries whose service is not running). \a log hears
/// what the run does: the command line, where the list came from or why it was
/// refused, every step of every entry, and the exit status; it changes nothing
/// of what the run does.
///
/// Writes to standard output only what -query reads and the usage text that /?
/// asks for (a run with /? does nothing else), and to standard error only the
/// step log's lines that -v asks for.
int runCommand(Platform& platform, int argc, char** argv, StepLog& log = StepLog::off());

}  // namespace vdksvc
