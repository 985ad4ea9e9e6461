#include "command/command.h"

#include <cstring>

#include "command/service_operands.h"
#include "command/start_type_operands.h"
#include "lists/service_list.h"
#include "services/install.h"
#include "services/poll_limit.h"
#include "services/process_sweep.h"
#include "services/start_type.h"
#include "services/state_changes.h"

namespace vdksvc {
namespace {

/// Fills the list from the operands (argv[2] onwards); false fails the run.
using OperandParser = bool (*)(Platform&, int argc, char** argv, ServiceList&, PollLimit&);
/// Applies the command to one entry; the result is the operation's own business.
using EntryOperation = bool (*)(Platform&, const ServiceEntry&, PollLimit);
/// Runs once after every entry was processed.
using Finisher = void (*)(Platform&, const ServiceList&);

struct CommandRow {
  CommandCode code;
  OperandParser parse;
  EntryOperation apply;
  Finisher finish;
};

bool parseStartTypeCommand(Platform& platform, int argc, char** argv, ServiceList& list,
                           PollLimit& /*pollLimit stays 0*/) {
  return parseStartTypeOperands(platform, argc, argv, list);
}

bool changeStartTypeOf(Platform& platform, const ServiceEntry& entry, PollLimit /*unused*/) {
  return changeStartType(platform, entry);
}

// What each command parses its operands with, applies to every entry, and does
// once after the last entry.
constexpr CommandRow kCommands[] = {
    {CommandCode::Install, parseServiceOperands, installEntry, nullptr},
    {CommandCode::Remove, parseServiceOperands, removeEntry, nullptr},
    {CommandCode::Stop, parseServiceOperands, stopEntry, nullptr},
    {CommandCode::StopEx, parseServiceOperands, stopEntry, sweepLeftoverProcesses},
    {CommandCode::Start, parseServiceOperands, startEntry, nullptr},
    {CommandCode::Pause, parseServiceOperands, pauseEntry, nullptr},
    {CommandCode::Continue, parseServiceOperands, continueEntry, nullptr},
    {CommandCode::Startup, parseStartTypeCommand, changeStartTypeOf, nullptr},
};

const CommandRow* findCommand(CommandCode code) {
  for (const CommandRow& row : kCommands) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

/// Keywords by the option letter that introduces them.
struct Keyword {
  char letter;
  const char* word;
  CommandCode code;
};
constexpr Keyword kKeywords[] = {
    {'c', "continue", CommandCode::Continue}, {'i', "install", CommandCode::Install},
    {'p', "pause", CommandCode::Pause},       {'r', "remove", CommandCode::Remove},
    {'s', "stop", CommandCode::Stop},         {'s', "stopex", CommandCode::StopEx},
    {'s', "start", CommandCode::Start},       {'s', "startup", CommandCode::Startup},
};

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

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
  CommandCode result = CommandCode::None;
  if (argument == nullptr || *argument == '\0') return result;
  char* p = argument;
  for (;;) {
    while (isBlank(*p)) ++p;
    if (*p == '-' || *p == '/') result = matchOption(platform, p, result);
    while (*p != '\0' && !isBlank(*p)) ++p;
    if (*p == '\0') return result;
  }
}

int runCommand(Platform& platform, int argc, char** argv) {
  ServiceList list;
  PollLimit pollLimit = 0;
  if (argc < 2 || argv == nullptr) return -1;

  const CommandRow* row = findCommand(recogniseCommand(platform, argv[1]));
  if (row == nullptr) return -1;
  if (!row->parse(platform, argc, argv, list, pollLimit)) return -1;

  for (std::size_t i = 0; i < list.size(); ++i) {
    row->apply(platform, list.at(i), pollLimit);  // a failing entry does not stop the run
  }
  // The extended stop sweeps once, after every entry was asked to stop.
  if (row->finish != nullptr) row->finish(platform, list);
  return 0;
}

}  // namespace vdksvc
