#pragma once
// The list of the service commands (all but "startup"): the services of -c and
// the list files of -f, in the order given, or without either the product's
// catalogue in the registry.

#include <optional>

#include "command/command_line.h"
#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"

namespace vdksvc {

/// The list of \a line's sources: each list file's entries appended in order, a
/// -c replacing whatever came before it, and a list file after a -c not read.
/// Without a source, the product's catalogue. Nothing when a list file cannot
/// be read or has no valid line, when \a line was refused (once the sources
/// before the refusal were read), or when the catalogue cannot be read; the run
/// then ends with -1. \a log hears where the list came from or why it was
/// refused.
std::optional<ServiceList> serviceList(Platform& platform, const CommandLine& line,
                                       StepLog& log = StepLog::off());

}  // namespace vdksvc
