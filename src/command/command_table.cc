#include "command/command_table.h"

#include "services/extended_stop.h"
#include "services/install.h"
#include "services/start_type.h"
#include "services/state_changes.h"

namespace vdksvc {
namespace {

/// The extended stop's sweep, once every entry was asked to stop.
bool sweep(Run& run) { return finishExtendedStop(run.platform, run.list, run.outcomes, run.log); }

/// -query's report of what it read.
bool report(Run& run) {
  writeServiceReport(run.out, run.format, run.list, run.reports);
  return true;
}

constexpr StatusCount kNotDone = StatusCount::kNotDone;

// clang-format off
constexpr CommandRow kCommands[] = {
    // keyword    operands           each entry                                after the last  rights                status
    {"install",   kServiceGrammar,   installEntry,                             nullptr,        kInstallRights,       kNotDone},
    {"remove",    kServiceGrammar,   changeStateTo<change::kRemove>,           nullptr,        kRemoveRights,        kNotDone},
    {"stop",      kServiceGrammar,   changeStateTo<change::kStop>,             nullptr,        kStopRights,          kNotDone},
    {"stopex",    kServiceGrammar,   changeStateTo<change::kStopBeforeSweep>,  sweep,          kStopRights,          kNotDone},
    {"start",     kServiceGrammar,   changeStateTo<change::kStart>,            nullptr,        kStartRights,         kNotDone},
    {"pause",     kServiceGrammar,   changeStateTo<change::kPause>,            nullptr,        kPauseContinueRights, kNotDone},
    {"continue",  kServiceGrammar,   changeStateTo<change::kContinue>,         nullptr,        kPauseContinueRights, kNotDone},
    {"startup",   kStartTypeGrammar, changeStartType,                          nullptr,        kStartTypeRights,     kNotDone},
    {"query",     kQueryGrammar,     queryService,                             report,         kReadServiceRights,   StatusCount::kNotRunning},
};
// clang-format on

}  // namespace

std::span<const CommandRow> commandTable() { return kCommands; }

}  // namespace vdksvc
