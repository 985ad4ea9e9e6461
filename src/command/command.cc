#include "command/command.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/text_output.h"
#include "command/command_line.h"
#include "command/command_table.h"
#include "command/service_operands.h"
#include "command/start_type_operands.h"
#include "command/usage.h"
#include "lists/service_list.h"
#include "log/step_log.h"
#include "services/access_rights.h"
#include "services/entry_request.h"
#include "services/service_names.h"
#include "services/sweep_log.h"

namespace vdksvc {
namespace {

/// The arguments as received, each quoted when it holds a blank or is empty.
std::string commandLineOf(int argc, char** argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    const std::string argument = argv[i] != nullptr ? argv[i] : "";
    if (i > 0) line += ' ';
    const bool quote = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
    line += quote ? quoted(argument) : argument;
  }
  return line;
}

/// The step log's line on whether entry \a index is done, and if not, why.
void logOutcome(StepLog& log, std::size_t index, const ServiceEntry& entry,
                const EntryOutcome& outcome) {
  std::string text = "entry " + std::to_string(index + 1) + " " + entry.serviceName + ": ";
  if (outcome.isDone()) {
    text += "done";
  } else if (outcome.error() != 0) {
    text += "not done, " + log.errorText(outcome.error());
  } else if (outcome.lastState() != 0) {
    text += "not done, last state " + std::string(stateName(outcome.lastState()));
  } else {
    text += "not done";
  }
  log.write(text);
}

/// Gives each entry of the run's list to \a row's operation, in list order; a
/// failing entry does not stop the run. For a command whose status counts what
/// is not done, the step log says at the first entry denied access what may be
/// wrong and which rights the command needs.
void applyToEveryEntry(Run& run, const CommandRow& row, PollLimit pollLimit) {
  const ServiceList& list = run.list;
  run.outcomes.reserve(list.size());
  run.reports.resize(list.size());
  EntryRequest request{row.rights, pollLimit};
  bool deniedBefore = row.status != StatusCount::kNotDone;  // -query tells of no denial
  for (std::size_t i = 0; i < list.size(); ++i) {
    request.report = &run.reports[i];
    run.outcomes.push_back(row.apply(run.platform, list.at(i), request, run.log));
    if (!run.outcomes.back().wasAccessDenied() || deniedBefore) continue;
    deniedBefore = true;
    if (run.log.on()) {
      run.log.write(
          "access denied: the prompt may not be elevated (\"Run as administrator\"), "
          "or the account lacks rights; the command needs " +
          rightsText(row.rights));
    }
  }
}

/// The list \a line's command reads.
std::optional<ServiceList> listOf(Platform& platform, const CommandLine& line, StepLog& log) {
  if (line.command->operands == kStartTypeGrammar) return startTypeList(line, log);
  return serviceList(platform, line, log);
}

/// Applies \a row's command to the list its operands give; the status.
int applyCommand(Platform& platform, const CommandRow& row, const CommandLine& line, StepLog& log,
                 TextOutput& out) {
  const std::optional<ServiceList> list = listOf(platform, line, log);
  if (!list) return -1;

  Run run{platform, log, out, *list, line.format, {}, {}};
  applyToEveryEntry(run, row, line.pollLimit);
  const bool countsNotDone = row.status == StatusCount::kNotDone;
  // A run whose every entry was refused its rights did nothing: a failure, as a
  // refused list is, not the success it would otherwise report.
  const std::vector<EntryOutcome>& outcomes = run.outcomes;
  const auto denied = [](const EntryOutcome& outcome) { return outcome.wasAccessDenied(); };
  if (countsNotDone && !outcomes.empty() && std::all_of(outcomes.begin(), outcomes.end(), denied)) {
    if (log.on()) log.write("refused: every entry was denied access");
    return -1;
  }
  // The extended stop's sweep, or -query's report.
  const bool leftUndone = row.finish != nullptr && !row.finish(run);
  // Without -e the status says only that the command line and the list were accepted.
  if (!line.outcomeStatus) return 0;
  if (countsNotDone && log.on()) {
    for (std::size_t i = 0; i < list->size(); ++i) logOutcome(log, i, list->at(i), outcomes[i]);
    if (leftUndone) SweepLog(log).leftRunning();
  }
  const auto notDone = static_cast<std::size_t>(std::count_if(
      outcomes.begin(), outcomes.end(), [](const EntryOutcome& o) { return !o.isDone(); }));
  return static_cast<int>(std::min<std::size_t>(notDone + (leftUndone ? 1 : 0), INT_MAX));
}

/// One run, with the step log's lines about the command and each entry.
int runLoggedCommand(Platform& platform, const CommandLine& line, int argc, StepLog& log,
                     TextOutput& out) {
  if (argc < 2) {
    if (log.on()) log.write("refused: no command");
    return -1;
  }
  // Asking how a command works never runs it.
  if (line.usage) {
    if (log.on()) log.write("usage text asked for: nothing is done");
    writeUsage(out);
    return -1;
  }
  if (line.command == nullptr) {
    if (log.on()) log.write("refused: " + quoted(line.commandWord) + " is no command");
    return -1;
  }
  return applyCommand(platform, *line.command, line, log, out);
}

}  // namespace

int runCommand(Platform& platform, int argc, char** argv, StepLog& log) {
  if (argv == nullptr) argc = 0;
  const std::string commandLine = commandLineOf(argc, argv);
  const CommandLine line = readCommandLine(platform, argc, argv);
  // Each stream is looked at only when something is written to it.
  TextOutput out(platform, file::kStdOutputHandle);
  TextOutput err(platform, file::kStdErrorHandle);
  // -v: the step log's lines go to standard error too, or only there when the
  // machine's switches keep no log file; for this run alone.
  StepLog echoOnly;
  StepLog& steps = log.on() ? log : echoOnly;
  if (line.verbose) steps.echoTo(&err);

  if (steps.on()) steps.write("run: " + commandLine);
  const int status = runLoggedCommand(platform, line, argc, steps, out);
  if (steps.on()) steps.write("end: exit status " + std::to_string(status));
  if (line.verbose) steps.echoTo(nullptr);
  return status;
}

}  // namespace vdksvc
