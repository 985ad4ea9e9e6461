#pragma once
// The command line, read once: the command its first argument names, and what
// the arguments after it give that command, from one table of options. Nothing
// is loaded here: the list files and the catalogue are read by the command that
// takes them.

#include <optional>
#include <string>
#include <vector>

#include "command/command_table.h"
#include "command/service_report.h"
#include "lists/service_list.h"
#include "platform/platform.h"
#include "services/poll_limit.h"

namespace vdksvc {

/// One -c or -f of a service command.
struct ListSource {
  /// -c: the one service it names; nothing for -f.
  std::optional<ServiceEntry> service;
  /// -f: the list file's path.
  std::string listFile;
};

/// What the arguments give the run.
struct CommandLine {
  /// The command the first argument names; null for none.
  const CommandRow* command = nullptr;
  /// The first argument as the keyword was looked for in it (lowered from each
  /// word that begins with a keyword's letter), as the step log names it.
  std::string commandWord;
  /// A help word asks how the command works: nothing is done.
  bool usage = false;
  /// -v: the step log's lines go to standard error as well.
  bool verbose = false;
  /// -e: the exit status counts the entries.
  bool outcomeStatus = false;
  /// The last -t; 0 means no limit.
  PollLimit pollLimit = 0;
  /// The last -o of -query.
  ReportFormat format = ReportFormat::kTable;
  /// The service commands' -c and -f, in the order given, up to the refusal.
  std::vector<ListSource> sources;
  /// -startup's accepted triples, in the order given.
  std::vector<ServiceEntry> triples;
  /// Why the arguments are refused, for the step log ("argument 2 \"x\" is not
  /// an option"); the sources before the refusal are read all the same.
  std::optional<std::string> refusal;
};

/// Reads the \a argc arguments of \a argv (argv[0] is the program path).
///
/// The command is the last blank-separated word of argv[1] that begins with '-'
/// or '/'. After it, an option is an argument that begins with '-' or '/', and
/// only its first letter counts (-config is -c); the operands of an option are
/// never options (-c x -v x names a service "-v"). Usage is asked for by a help
/// word (/?, -?, -h, /h, -help, /help, --help, in any case) as the first
/// argument; after a command, by /? or -? anywhere, or by a help word where an
/// option may stand. -v counts where an option may stand too, also after a
/// refusal that is about an operand's value.
///
/// Calls nothing of \a platform but CharLowerA, on copies: the keyword and
/// -startup's words are compared as the ANSI code page lowers them.
CommandLine readCommandLine(Platform& platform, int argc, char** argv);

/// The command named by the last blank-separated word of \a argument ("-stop",
/// "/Stop", "x -remove"). Lowers \a argument in place from the letter of each
/// word that begins with a keyword's letter to its end. Null for a null or empty
/// argument and for anything not an exact keyword.
const CommandRow* recogniseCommand(Platform& platform, char* argument);

/// Converts \a text as atol does (leading white space, optional sign, decimal digits
/// up to the first other byte; none gives 0), clamped to the signed 32-bit range,
/// and reinterpreted as unsigned. Nothing for a value of 0.
std::optional<PollLimit> parsePollLimit(const char* text);

}  // namespace vdksvc
