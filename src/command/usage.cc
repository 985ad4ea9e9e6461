#include "command/usage.h"

namespace vdksvc {
namespace {

constexpr const char* kUsage[] = {
    "vdksvc: manages the Windows services of the Vardeck management server.",
    "",
    "  vdksvc <command> [-c <binary path> <service> <display name>] [-f <list file>]...",
    "                   [-t <seconds>] [-e] [-v]",
    "  vdksvc -startup -auto|-demand|-disabled <service> <display name> [-e] [-v]",
    "",
    "Commands, applied to every service of the list in list order:",
    "  -install   create the service and start it",
    "  -remove    stop the service and delete it",
    "  -start     start the service",
    "  -stop      stop the service",
    "  -stopex    stop the services, then end what is left of their programs",
    "  -pause     pause the service",
    "  -continue  continue the paused service",
    "  -startup   set a service's start type and display name",
    "  -query     show each service's state, start type, process id, display name",
    "             and binary path; changes nothing, needs no elevation",
    "",
    "Options:",
    "  -c            this one service instead of a list",
    "  -f            a list file, one \"binary path,service,display name\" a line;",
    "                repeatable. Without -c or -f: the product's catalogue",
    "  -t <seconds>  wait at most about that long for each service",
    "  -e            the exit status counts the services not done (-query: not",
    "                running)",
    "  -o table|csv  -query only: aligned columns (default) or comma-separated values",
    "  -v            write each step to standard error as it happens",
    "  /?, -help     this text; nothing is done",
    "",
    "Exit status: 0 when the command line and the list were accepted, -1 when",
    "refused; with -e, the number of services not done.",
    "The manual, usage.md, comes with vdksvc.exe; VDKSVC_LOG=<file> keeps a step log.",
};

}  // namespace

void writeUsage(TextOutput& output) {
  for (const char* line : kUsage) output.writeLine(line);
}

}  // namespace vdksvc
