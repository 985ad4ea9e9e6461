#pragma once
// The commands, one row each: the keyword, the operands it reads, what it does
// to every entry of its list and once after the last, the rights it asks for,
// and how its exit status counts.

#include <span>
#include <vector>

#include "base/text_output.h"
#include "command/service_report.h"
#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"
#include "services/access_rights.h"
#include "services/entry_outcome.h"
#include "services/entry_request.h"
#include "services/service_query.h"

namespace vdksvc {

/// The operands a command reads after its keyword, as bits, so that an option
/// can name every grammar that reads it.
enum Grammar : unsigned {
  /// -c, -f, -t, -e and -v; without -c or -f the product's catalogue.
  kServiceGrammar = 1,
  /// The same, and -o with -query's format.
  kQueryGrammar = 2,
  /// -startup's triples, with -e and -v between them.
  kStartTypeGrammar = 4,
};

/// How a command's exit status counts its entries, with -e.
enum class StatusCount {
  /// The entries not done, and one more when the step after the last entry
  /// left something undone. A run whose every entry was denied access did
  /// nothing, and fails as a refused list does; the step log names the rights
  /// at the first denial and, with -e, every entry's outcome.
  kNotDone,
  /// The entries whose service does not run, those not installed or unreadable
  /// included. Nothing is refused for a denial.
  kNotRunning,
};

/// One run of a command over its list, as the step after the last entry finds it.
struct Run {
  Platform& platform;
  StepLog& log;
  TextOutput& out;
  const ServiceList& list;
  ReportFormat format;
  /// One per entry, in list order; the step after the last entry may revise them.
  std::vector<EntryOutcome> outcomes;
  /// What each entry's service read as, for an operation that reads it.
  std::vector<ServiceReport> reports;
};

/// Runs once after the last entry; false when it left something undone.
using Finisher = bool (*)(Run& run);

struct CommandRow {
  /// The word after '-' or '/' that names the command, in lower case.
  const char* keyword;
  Grammar operands;
  /// What each entry of the list is given, in list order.
  EntryOperation apply;
  /// What runs once after the last entry; null for nothing.
  Finisher finish;
  /// Asked of the manager and of each service.
  AccessRights rights;
  StatusCount status;
};

/// Every command.
std::span<const CommandRow> commandTable();

}  // namespace vdksvc
