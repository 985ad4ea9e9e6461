#pragma once
// Operands of the service commands (all but "startup"): -c binary service display,
// -f listfile (repeatable), -t polls. Without c or f entries the product's registry
// catalogue is the list.

#include <optional>

#include "command/operands.h"
#include "log/step_log.h"
#include "platform/platform.h"
#include "services/poll_limit.h"

namespace vdksvc {

/// The operands from argv[2] onwards: the list, the poll limit (-t) and whether
/// -e asks for the exit status that counts the entries not done. Nothing for any
/// operand error; the run then ends with -1. \a log hears where the list came
/// from or why it was refused.
std::optional<Operands> parseServiceOperands(Platform& platform, int argc, char** argv,
                                             StepLog& log = StepLog::off());

/// The operands of -query: those of the other service commands, and -o with
/// "table" or "csv" (in any case); another word, or none, refuses the command
/// line. -t is read and has no effect.
std::optional<Operands> parseQueryOperands(Platform& platform, int argc, char** argv,
                                           StepLog& log = StepLog::off());

/// Whether an option that passes \a test stands among the operands from argv[2]
/// on, where the parser reads options up to its first refusal; an operand of -c,
/// -f, -t or -o is no option. \a query: -o takes a word, as for -query.
bool hasServiceOption(int argc, char** argv, bool query, OptionTest test);

/// Converts \a text as atol does (leading white space, optional sign, decimal digits
/// up to the first other byte; none gives 0), clamped to the signed 32-bit range,
/// and reinterpreted as unsigned. Nothing for a value of 0.
std::optional<PollLimit> parsePollLimit(const char* text);

}  // namespace vdksvc
