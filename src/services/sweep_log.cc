#include "services/sweep_log.h"

#include "services/service_names.h"

namespace vdksvc {

void SweepLog::line(const std::string& text) { log_.write("sweep: " + text); }

void SweepLog::noProcess() {
  if (on()) line("no process runs a program file of the list");
}

void SweepLog::matched(Dword id, const std::string& image, const std::string& serviceName) {
  if (on()) line(process(id) + " " + image + " runs the program of " + serviceName);
}

void SweepLog::privilege(DebugPrivilegeOutcome outcome, Dword error) {
  if (!on()) return;
  switch (outcome) {
    case DebugPrivilegeOutcome::kEnabled:
      return line("SeDebugPrivilege enabled for the opens");
    case DebugPrivilegeOutcome::kEnabledAlready:
      return line("SeDebugPrivilege was enabled already");
    case DebugPrivilegeOutcome::kNotHeld:
      return line(
          "SeDebugPrivilege is not held: processes of other accounts may refuse to be ended");
    case DebugPrivilegeOutcome::kFailed:
      return line("SeDebugPrivilege cannot be enabled: " + log_.errorText(error));
  }
}

void SweepLog::openFailed(Dword id, Dword error) {
  if (on()) line(process(id) + " cannot be opened and is left alone: " + log_.errorText(error));
}

void SweepLog::refusedWithoutPrivilege(Dword id, Dword error) {
  if (!on()) return;
  line(process(id) + " cannot be opened: " + log_.errorText(error) +
       "; SeDebugPrivilege is not enabled, so it may be a program of the list: counted as left "
       "running");
}

void SweepLog::endRefused(Dword id, Dword error) {
  if (on()) line(process(id) + " cannot be opened to end it: " + log_.errorText(error));
}

void SweepLog::idReused(Dword id, const std::string& image) {
  if (on()) line(process(id) + " left alone: its id now belongs to " + image);
}

void SweepLog::otherProgram(Dword id, const std::string& image) {
  if (on()) line(process(id) + " left alone: it runs " + image + ", no program file of the list");
}

void SweepLog::graceBegins(Dword count, Dword milliseconds) {
  if (!on()) return;
  line("waiting up to " + std::to_string(milliseconds) + " ms for " + std::to_string(count) +
       (count == 1 ? " process" : " processes") + " to end");
}

void SweepLog::waited(Dword waited, Dword count, std::uint64_t startTick, Dword error) {
  if (!on()) return;
  const std::string elapsed = std::to_string(log_.tick() - startTick) + " ms";
  const std::string processes = std::to_string(count) + (count == 1 ? " process" : " processes");
  if (waited < proc::kWaitObject0 + count) {
    line(processes + " ended within the grace, " + elapsed);
  } else if (waited == proc::kWaitFailed) {
    line("the wait failed after " + elapsed + ": " + log_.errorText(error) + "; terminating the " +
         processes + " waited on");
  } else {
    line("the grace ran out after " + elapsed + "; terminating the " + processes + " waited on");
  }
}

void SweepLog::recoveryWarning(const std::string& serviceName, Dword state,
                               const std::string& recovery) {
  if (!on()) return;
  line("warning: " + serviceName + " is " + stateName(state) +
       ": terminating its process is a failure of the service, on which Windows will " + recovery +
       " (its recovery actions)");
}

void SweepLog::recoveryUnknown(const std::string& serviceName, Dword state, Dword error) {
  if (!on()) return;
  line("warning: " + serviceName + " is " + stateName(state) +
       ": terminating its process is a failure of the service, on which Windows takes its "
       "recovery actions; they cannot be read: " +
       (error != 0 ? log_.errorText(error) : "the reply does not hold them where it points"));
}

void SweepLog::terminated(Dword id) {
  if (on()) line(process(id) + " terminated");
}

void SweepLog::endedAfterTermination(Dword count, std::uint64_t startTick) {
  if (!on()) return;
  line(std::to_string(count) + (count == 1 ? " process" : " processes") +
       " ended after termination, " + std::to_string(log_.tick() - startTick) + " ms");
}

void SweepLog::runsAfterTermination(Dword id, Dword milliseconds) {
  if (on())
    line(process(id) + " still runs " + std::to_string(milliseconds) + " ms after its termination");
}

void SweepLog::notTerminated(Dword id, bool runs, Dword error) {
  if (!on()) return;
  line(process(id) + " not terminated" + (runs ? " and still runs: " : " (it has ended): ") +
       log_.errorText(error));
}

void SweepLog::leftRunning() {
  if (on()) line("not done, a process of the list's programs was left running");
}

}  // namespace vdksvc
