#pragma once
// The second half of the extended stop: after every service of the list was
// asked to stop, the processes that still run one of the list's program files
// get a grace period to end, and are terminated if they do not.

#include <string>
#include <unordered_set>

#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"

namespace vdksvc {

/// How long the sweep waits for leftover processes to end by themselves.
constexpr Dword kSweepGraceMs = 60000;
/// How long it then waits for the processes it terminated to be gone.
constexpr Dword kTerminationWaitMs = 10000;

/// Finds the running processes whose image name equals, without regard to ASCII
/// case, that of an entry's binary path, and opens each, with SeDebugPrivilege
/// enabled for the while when the token holds it, first only to look at it and
/// wait on it. Of those, it keeps the first 64 found, each once, that still run
/// a program of the list: a process that refuses to be looked at, whose id now
/// belongs to another program, or which runs a file of that name elsewhere than
/// the program of every entry naming a directory, is a stranger's and is left
/// alone (a process whose image or file cannot be told stays in). Without the
/// privilege enabled, a refusal cannot tell a stranger from the list's program:
/// such a process is left alone but counts as left running. Those it keeps
/// it opens a second time, to end them. It waits up to kSweepGraceMs for all of
/// them to end; then it warns in the step log of each list service not STOPPED
/// whose recovery actions Windows will take, terminates with exit code 0
/// those still running, and waits up to kTerminationWaitMs for them to be gone.
/// False when it left running a process of the list's programs: one beyond the
/// 64, one that refused to be ended, one still running after that wait, or one
/// that refused to be looked at while the privilege was not enabled.
/// \a terminated, when given, receives the service names of the entries whose
/// program it terminated.
bool sweepLeftoverProcesses(Platform& platform, const ServiceList& list,
                            StepLog& log = StepLog::off(),
                            std::unordered_set<std::string>* terminated = nullptr);

}  // namespace vdksvc
