#include "command/command.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/text_output.h"
#include "command/command_table.h"
#include "command/operands.h"
#include "command/service_operands.h"
#include "command/service_report.h"
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

/// Looks at one word that starts with '-' or '/'. The comparison takes the rest of
/// the whole argument, so only the argument's last word can match exactly.
const CommandRow* matchOption(Platform& platform, char* option, const CommandRow* current) {
  char* rest = option + 1;
  const char letter = asciiLower(*rest);
  bool lowered = false;
  for (const CommandRow& row : commandTable()) {
    if (row.keyword[0] != letter) continue;
    if (!lowered) {
      platform.CharLowerA(rest);
      lowered = true;
    }
    if (std::strcmp(rest, row.keyword) == 0) return &row;
  }
  return current;
}

}  // namespace

const CommandRow* recogniseCommand(Platform& platform, char* argument) {
  const CommandRow* result = nullptr;
  if (argument == nullptr || *argument == '\0') return result;
  char* p = argument;
  for (;;) {
    while (isBlank(*p)) ++p;
    if (*p == '-' || *p == '/') result = matchOption(platform, p, result);
    while (*p != '\0' && !isBlank(*p)) ++p;
    if (*p == '\0') return result;
  }
}

namespace {

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

/// Whether an option that passes \a test stands where \a row's parser reads
/// options.
bool hasOption(const CommandRow* row, int argc, char** argv, OptionTest test) {
  if (row == nullptr) return false;
  if (row->operands == kStartTypeGrammar) return hasStartTypeOption(argc, argv, test);
  return hasServiceOption(argc, argv, row->operands == kQueryGrammar, test);
}

/// The operands \a row's command reads.
std::optional<Operands> parse(Platform& platform, const CommandRow& row, int argc, char** argv,
                              StepLog& log) {
  switch (row.operands) {
    case kStartTypeGrammar:
      return parseStartTypeOperands(platform, argc, argv, log);
    case kQueryGrammar:
      return parseQueryOperands(platform, argc, argv, log);
    default:
      return parseServiceOperands(platform, argc, argv, log);
  }
}

/// -v, or anything else that begins with its letter, as -e counts.
bool isVerboseSwitch(const char* option) { return option[1] == 'v' || option[1] == 'V'; }

/// Applies \a row's command to the list its operands give; the status.
int applyCommand(Platform& platform, const CommandRow& row, int argc, char** argv, StepLog& log,
                 TextOutput& out) {
  const std::optional<Operands> operands = parse(platform, row, argc, argv, log);
  if (!operands) return -1;

  const ServiceList& list = operands->list;
  Run run{platform, log, out, list, operands->format, {}, {}};
  applyToEveryEntry(run, row, operands->pollLimit);
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
  if (!operands->outcomeStatus) return 0;
  if (countsNotDone && log.on()) {
    for (std::size_t i = 0; i < list.size(); ++i) logOutcome(log, i, list.at(i), outcomes[i]);
    if (leftUndone) SweepLog(log).leftRunning();
  }
  const auto notDone = static_cast<std::size_t>(std::count_if(
      outcomes.begin(), outcomes.end(), [](const EntryOutcome& o) { return !o.isDone(); }));
  return static_cast<int>(std::min<std::size_t>(notDone + (leftUndone ? 1 : 0), INT_MAX));
}

/// Whether the command line asks how the command works: a help word as the
/// first argument; after a command, /? or -? anywhere or a help word where an
/// option may stand.
bool asksForUsage(const CommandRow* row, int argc, char** argv) {
  if (isHelpWord(argv[1])) return true;
  return row != nullptr && (asksForHelp(argc, argv) || hasOption(row, argc, argv, isHelpWord));
}

/// One run, with the step log's lines about the command and each entry.
int runLoggedCommand(Platform& platform, const CommandRow* row, int argc, char** argv, StepLog& log,
                     TextOutput& out) {
  if (argc < 2 || argv == nullptr) {
    if (log.on()) log.write("refused: no command");
    return -1;
  }
  // Asking how a command works never runs it.
  if (asksForUsage(row, argc, argv)) {
    if (log.on()) log.write("usage text asked for: nothing is done");
    writeUsage(out);
    return -1;
  }
  if (row == nullptr) {
    if (log.on())
      log.write("refused: " + quoted(argv[1] != nullptr ? argv[1] : "") + " is no command");
    return -1;
  }
  return applyCommand(platform, *row, argc, argv, log, out);
}

}  // namespace

int runCommand(Platform& platform, int argc, char** argv, StepLog& log) {
  if (argv == nullptr) argc = 0;
  // As received: recognising the command lowers its keyword in place.
  const std::string commandLine = commandLineOf(argc, argv);
  const CommandRow* row = argc >= 2 ? recogniseCommand(platform, argv[1]) : nullptr;
  // Each stream is looked at only when something is written to it.
  TextOutput out(platform, file::kStdOutputHandle);
  TextOutput err(platform, file::kStdErrorHandle);
  // -v: the step log's lines go to standard error too, or only there when the
  // machine's switches keep no log file.
  StepLog echoOnly;
  StepLog& steps = log.on() ? log : echoOnly;
  struct EchoForTheRun {
    StepLog& log;
    ~EchoForTheRun() { log.echoTo(nullptr); }
  } echo{steps};
  if (hasOption(row, argc, argv, isVerboseSwitch)) steps.echoTo(&err);

  if (steps.on()) steps.write("run: " + commandLine);
  const int status = runLoggedCommand(platform, row, argc, argv, steps, out);
  if (steps.on()) steps.write("end: exit status " + std::to_string(status));
  return status;
}

}  // namespace vdksvc
