// vdksvc.exe: the real platform handed to the one run. The exit status is the
// command's report; standard output carries only what -query and /? are asked
// for, standard error only the step log's lines that -v asks for.

#include "command/command.h"
#include "command/step_log_switches.h"
#include "platform/win32_platform.h"

int main(int argc, char** argv) {
  // Nothing the command line or the registry holds may crash the process: an
  // exception that escapes (std::bad_alloc from a huge list, say) ends the run
  // as a refused one, with -1, and without a word of its own on the console.
  try {
    vdksvc::Win32Platform platform;
    // Off unless VDKSVC_LOG or the StepLog registry value names a file.
    vdksvc::StepLog log = vdksvc::stepLogFromSwitches(platform);
    return vdksvc::runCommand(platform, argc, argv, log);
  } catch (...) {
    return -1;
  }
}
