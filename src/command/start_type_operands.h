#pragma once
// Operands of the "startup" command: triples of -auto|-demand|-disabled, service
// name and display name.

#include <optional>

#include "command/operands.h"
#include "log/step_log.h"
#include "platform/platform.h"

namespace vdksvc {

/// Reads triples from argv[2] on until one is not a start-type option; each
/// accepted triple replaces the list's entry, so at most one entry remains.
/// Before the first triple and after an accepted one, -e and -v may stand. Lowers the
/// option words in place. Never refuses the command line: without a triple the
/// list is empty. \a log hears which service the list holds.
std::optional<Operands> parseStartTypeOperands(Platform& platform, int argc, char** argv,
                                               StepLog& log = StepLog::off());

/// Whether an option that passes \a test stands where parseStartTypeOperands
/// reads options.
bool hasStartTypeOption(int argc, char** argv, OptionTest test);

}  // namespace vdksvc
