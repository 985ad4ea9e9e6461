#pragma once
// The list of the "startup" command, from its triples of -auto|-demand|-disabled,
// service name and display name.

#include "command/command_line.h"
#include "lists/service_list.h"
#include "log/step_log.h"

namespace vdksvc {

/// Each of \a line's triples in turn replaces the list's entry, so at most the
/// last remains. Never refused: without a triple the list is empty. \a log
/// hears which service the list holds.
ServiceList startTypeList(const CommandLine& line, StepLog& log = StepLog::off());

}  // namespace vdksvc
