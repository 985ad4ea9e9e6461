#include "command/command.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/text_output.h"
#include "command/operands.h"
#include "command/service_operands.h"
#include "command/service_report.h"
#include "command/start_type_operands.h"
#include "command/usage.h"
#include "lists/service_list.h"
#include "log/step_log.h"
#include "services/access_rights.h"
#include "services/entry_request.h"
#include "services/extended_stop.h"
#include "services/install.h"
#include "services/service_names.h"
#include "services/service_query.h"
#include "services/start_type.h"
#include "services/state_changes.h"
#include "services/sweep_log.h"

namespace vdksvc {
namespace {

/// Reads the operands (argv[2] onwards); nothing when the command line is refused.
using OperandParser = std::optional<Operands> (*)(Platform&, int argc, char** argv, StepLog&);
/// Runs once after every entry was processed and may revise the entries'
/// outcomes; false when it left something undone.
using Finisher = bool (*)(Platform&, const ServiceList&, std::vector<EntryOutcome>&, StepLog&);

struct CommandRow {
  CommandCode code;
  OperandParser parse;
  EntryOperation apply;
  Finisher finish;
  /// What the operation asks of the manager and of each service.
  AccessRights rights;
};

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

// What each command parses its operands with, applies to every entry, does
// once after the last entry, and the rights it asks for.
// clang-format off
constexpr CommandRow kCommands[] = {
    {CommandCode::kInstall, parseServiceOperands, installEntry, nullptr, kInstallRights},
    {CommandCode::kRemove, parseServiceOperands, changeStateTo<change::kRemove>, nullptr, kRemoveRights},
    {CommandCode::kStop, parseServiceOperands, changeStateTo<change::kStop>, nullptr, kStopRights},
    {CommandCode::kStopEx, parseServiceOperands, changeStateTo<change::kStopBeforeSweep>, finishExtendedStop, kStopRights},
    {CommandCode::kStart, parseServiceOperands, changeStateTo<change::kStart>, nullptr, kStartRights},
    {CommandCode::kPause, parseServiceOperands, changeStateTo<change::kPause>, nullptr, kPauseContinueRights},
    {CommandCode::kContinue, parseServiceOperands, changeStateTo<change::kContinue>, nullptr, kPauseContinueRights},
    {CommandCode::kStartup, parseStartTypeOperands, changeStartType, nullptr, kStartTypeRights},
};
// clang-format on

const CommandRow* findCommand(CommandCode code) {
  for (const CommandRow& row : kCommands) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

/// Keywords by the option letter that introduces them.
struct Keyword {
  char letter;
  const char* word;
  CommandCode code;
};
constexpr Keyword kKeywords[] = {
    {'c', "continue", CommandCode::kContinue}, {'i', "install", CommandCode::kInstall},
    {'p', "pause", CommandCode::kPause},       {'r', "remove", CommandCode::kRemove},
    {'s', "stop", CommandCode::kStop},         {'s', "stopex", CommandCode::kStopEx},
    {'s', "start", CommandCode::kStart},       {'s', "startup", CommandCode::kStartup},
    {'q', "query", CommandCode::kQuery},
};

/// Looks at one word that starts with '-' or '/'. The comparison takes the rest of
/// the whole argument, so only the argument's last word can match exactly.
CommandCode matchOption(Platform& platform, char* option, CommandCode current) {
  char* rest = option + 1;
  const char letter = asciiLower(*rest);
  bool lowered = false;
  for (const Keyword& keyword : kKeywords) {
    if (keyword.letter != letter) continue;
    if (!lowered) {
      platform.CharLowerA(rest);
      lowered = true;
    }
    if (std::strcmp(rest, keyword.word) == 0) return keyword.code;
  }
  return current;
}

}  // namespace

CommandCode recogniseCommand(Platform& platform, char* argument) {
  CommandCode result = CommandCode::kNone;
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

/// What \a row's operation gives each entry of the list, in list order; a
/// failing entry does not stop the run. The step log says at the first entry
/// denied access what may be wrong and which rights the command needs.
std::vector<EntryOutcome> applyToEveryEntry(Platform& platform, const CommandRow& row,
                                            const Operands& operands, StepLog& log) {
  const ServiceList& list = operands.list;
  std::vector<EntryOutcome> outcomes;
  outcomes.reserve(list.size());
  bool deniedBefore = false;
  for (std::size_t i = 0; i < list.size(); ++i) {
    outcomes.push_back(row.apply(platform, list.at(i), {row.rights, operands.pollLimit}, log));
    if (!outcomes.back().wasAccessDenied() || deniedBefore) continue;
    deniedBefore = true;
    if (log.on()) {
      log.write(
          "access denied: the prompt may not be elevated (\"Run as administrator\"), "
          "or the account lacks rights; the command needs " +
          rightsText(row.rights));
    }
  }
  return outcomes;
}

/// -query: reads every entry's service, in list order, and writes what it read.
/// With -e the status counts the entries whose service is not running.
int reportServices(Platform& platform, int argc, char** argv, StepLog& log, TextOutput& out) {
  const std::optional<Operands> operands = parseQueryOperands(platform, argc, argv, log);
  if (!operands) return -1;
  const ServiceList& list = operands->list;
  std::vector<ServiceReport> reports(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    queryService(platform, list.at(i), {kReadServiceRights, 0, &reports[i]}, log);
  }
  writeServiceReport(out, operands->format, list, reports);
  if (!operands->outcomeStatus) return 0;
  const auto notRunning = std::count_if(reports.begin(), reports.end(), [](const auto& report) {
    return report.found != ServiceReport::Found::kInstalled || report.state != svc::kRunning;
  });
  return static_cast<int>(std::min<std::ptrdiff_t>(notRunning, INT_MAX));
}

/// Whether an option that passes \a test stands where \a code's parser reads
/// options.
bool hasOption(CommandCode code, int argc, char** argv, OptionTest test) {
  switch (code) {
    case CommandCode::kNone:
      return false;
    case CommandCode::kStartup:
      return hasStartTypeOption(argc, argv, test);
    default:
      return hasServiceOption(argc, argv, code == CommandCode::kQuery, test);
  }
}

/// -v, or anything else that begins with its letter, as -e counts.
bool isVerboseSwitch(const char* option) { return option[1] == 'v' || option[1] == 'V'; }

/// Applies \a row's command to the list its operands give; the status.
int applyCommand(Platform& platform, const CommandRow& row, int argc, char** argv, StepLog& log) {
  const std::optional<Operands> operands = row.parse(platform, argc, argv, log);
  if (!operands) return -1;

  const ServiceList& list = operands->list;
  std::vector<EntryOutcome> outcomes = applyToEveryEntry(platform, row, *operands, log);
  // A run whose every entry was refused its rights did nothing: a failure, as a
  // refused list is, not the success it would otherwise report.
  const auto denied = [](const EntryOutcome& outcome) { return outcome.wasAccessDenied(); };
  if (!outcomes.empty() && std::all_of(outcomes.begin(), outcomes.end(), denied)) {
    if (log.on()) log.write("refused: every entry was denied access");
    return -1;
  }
  // The extended stop sweeps once, after every entry was asked to stop.
  const bool leftRunning = row.finish != nullptr && !row.finish(platform, list, outcomes, log);
  const auto notDone = static_cast<std::size_t>(std::count_if(
      outcomes.begin(), outcomes.end(), [](const EntryOutcome& o) { return !o.isDone(); }));
  if (operands->outcomeStatus && log.on()) {
    for (std::size_t i = 0; i < list.size(); ++i) logOutcome(log, i, list.at(i), outcomes[i]);
    if (leftRunning) SweepLog(log).leftRunning();
  }
  // Without -e the status says only that the command line and the list were accepted.
  if (!operands->outcomeStatus) return 0;
  return static_cast<int>(std::min<std::size_t>(notDone + (leftRunning ? 1 : 0), INT_MAX));
}

/// Whether the command line asks how the command works: a help word as the
/// first argument; after a command, /? or -? anywhere or a help word where an
/// option may stand.
bool asksForUsage(CommandCode code, int argc, char** argv) {
  if (isHelpWord(argv[1])) return true;
  return code != CommandCode::kNone &&
         (asksForHelp(argc, argv) || hasOption(code, argc, argv, isHelpWord));
}

/// One run, with the step log's lines about the command and each entry.
int runLoggedCommand(Platform& platform, CommandCode code, int argc, char** argv, StepLog& log,
                     TextOutput& out) {
  if (argc < 2 || argv == nullptr) {
    if (log.on()) log.write("refused: no command");
    return -1;
  }
  // Asking how a command works never runs it.
  if (asksForUsage(code, argc, argv)) {
    if (log.on()) log.write("usage text asked for: nothing is done");
    writeUsage(out);
    return -1;
  }
  if (code == CommandCode::kQuery) return reportServices(platform, argc, argv, log, out);
  const CommandRow* row = findCommand(code);
  if (row == nullptr) {
    if (log.on())
      log.write("refused: " + quoted(argv[1] != nullptr ? argv[1] : "") + " is no command");
    return -1;
  }
  return applyCommand(platform, *row, argc, argv, log);
}

}  // namespace

int runCommand(Platform& platform, int argc, char** argv, StepLog& log) {
  if (argv == nullptr) argc = 0;
  // As received: recognising the command lowers its keyword in place.
  const std::string commandLine = commandLineOf(argc, argv);
  const CommandCode code = argc >= 2 ? recogniseCommand(platform, argv[1]) : CommandCode::kNone;
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
  if (hasOption(code, argc, argv, isVerboseSwitch)) steps.echoTo(&err);

  if (steps.on()) steps.write("run: " + commandLine);
  const int status = runLoggedCommand(platform, code, argc, argv, steps, out);
  if (steps.on()) steps.write("end: exit status " + std::to_string(status));
  return status;
}

}  // namespace vdksvc
