#pragma once
// What a command line gives the run besides its command.

#include "command/service_report.h"
#include "lists/service_list.h"
#include "services/poll_limit.h"

namespace vdksvc {

/// Whether \a argument is an option: it begins with '-' or '/'.
inline bool isOption(const char* argument) {
  return argument != nullptr && (argument[0] == '-' || argument[0] == '/');
}

/// Whether an option, one argument that begins with '-' or '/', is the one
/// looked for.
using OptionTest = bool (*)(const char* option);

/// The operands of a command line, as its command's parser read them.
struct Operands {
  /// The entries to act on, in the order the command is applied.
  ServiceList list;
  /// -t: the one-second status polls each wait may take; 0 means no limit.
  PollLimit pollLimit = 0;
  /// -e: the exit status counts the entries that are not done.
  bool outcomeStatus = false;
  /// -o: -query's format.
  ReportFormat format = ReportFormat::kTable;
};

}  // namespace vdksvc
