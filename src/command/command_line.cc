#include "command/command_line.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#include "base/text.h"

namespace vdksvc {
namespace {

/// The white space atol skips in the "C" locale.
bool isAtolSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/// atol with the standard clamping, independent of the runtime: msvcrt's atol
/// wraps instead of clamping, and on Linux long has 64 bits.
std::int32_t toLongClamped(const char* text) {
  const char* p = text;
  while (isAtolSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  constexpr std::int64_t kMax = INT32_MAX;
  constexpr std::int64_t kMinMagnitude = -static_cast<std::int64_t>(INT32_MIN);
  const std::int64_t limit = negative ? kMinMagnitude : kMax;
  std::int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > limit) magnitude = limit;  // saturate, keep consuming digits
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

/// Looks at one word that starts with '-' or '/'. The comparison takes the rest of
/// the whole argument, so only the argument's last word can match exactly.
const CommandRow* matchOption(Platform& platform, char* option, const CommandRow* current) {
  char* rest = option + 1;
  const char letter = asciiLower(*rest);
  bool lowered = false;
  for (const CommandRow& row : commandTable()) {
    if (row.keyword[0] != letter) continue;
    if (!lowered) {
      platform.CharLowerA(rest);
      lowered = true;
    }
    if (std::strcmp(rest, row.keyword) == 0) return &row;
  }
  return current;
}

bool isOption(const std::string& argument) {
  return !argument.empty() && (argument[0] == '-' || argument[0] == '/');
}

bool isHelpWord(const std::string& argument) {
  constexpr const char* kHelpWords[] = {"/?", "-?", "-h", "/h", "-help", "/help", "--help"};
  const std::string word = asciiLowered(argument);
  return std::any_of(std::begin(kHelpWords), std::end(kHelpWords),
                     [&word](const char* help) { return word == help; });
}

/// /? and -? ask for usage wherever they stand after a command: no service,
/// path or display name is ever one.
bool isQuestionMark(const std::string& argument) { return argument == "/?" || argument == "-?"; }

bool isStartTypeWord(const std::string& word) {
  return word == "auto" || word == "demand" || word == "disabled";
}

/// -query's -o word, in any case; nothing for another.
std::optional<ReportFormat> reportFormat(const std::string& word) {
  const std::string lowered = asciiLowered(word);
  if (lowered == "table") return ReportFormat::kTable;
  if (lowered == "csv") return ReportFormat::kCsv;
  return std::nullopt;
}

/// What an option gives the run.
enum class Sets {
  kUsage,
  kVerbose,
  kOutcomeStatus,
  kService,
  kListFile,
  kPollLimit,
  kFormat,
  kTriple
};

struct Option {
  /// The letter after '-' or '/' that names the option, in either case; 0 for
  /// the help words and the start-type words, which are whole words.
  char letter;
  /// How many of the arguments after it are its operands.
  std::size_t operands;
  /// The grammars that read it.
  unsigned readBy;
  Sets sets;
  /// What the step log says it needs when the arguments end before its operands.
  const char* needs;
};

constexpr unsigned kListGrammars = kServiceGrammar | kQueryGrammar;
constexpr unsigned kEveryGrammar = kListGrammars | kStartTypeGrammar;

// Looked for in this order. A word that no row names is ignored by the service
// commands and ends -startup's triples; the code page lowers a -startup word
// only when it names no other option.
// clang-format off
constexpr Option kOptions[] = {
    // letter operands read by           sets                  needs
    {0,      0,       kEveryGrammar,     Sets::kUsage,         nullptr},  // the help words
    {'v',    0,       kEveryGrammar,     Sets::kVerbose,       nullptr},
    {'e',    0,       kEveryGrammar,     Sets::kOutcomeStatus, nullptr},
    {'c',    3,       kListGrammars,     Sets::kService,       "three operands"},
    {'f',    1,       kListGrammars,     Sets::kListFile,      "a list file"},
    {'t',    1,       kListGrammars,     Sets::kPollLimit,     "a number of seconds"},
    {'o',    1,       kQueryGrammar,     Sets::kFormat,        "table or csv"},
    // -auto, -demand, -disabled: the service name, and the display name if given
    {0,      2,       kStartTypeGrammar, Sets::kTriple,        nullptr},
};
// clang-format on

/// The row of \a option in \a grammar; null when none names it. A start-type
/// word is left lowered in \a word.
const Option* optionFor(Platform& platform, const std::string& option, unsigned grammar,
                        std::string& word) {
  for (const Option& row : kOptions) {
    if ((row.readBy & grammar) == 0) continue;
    if (row.sets == Sets::kUsage) {
      if (isHelpWord(option)) return &row;
    } else if (row.sets == Sets::kTriple) {
      std::vector<char> lowered(option.begin() + 1, option.end());
      lowered.push_back('\0');
      word = platform.CharLowerA(lowered.data());
      if (isStartTypeWord(word)) return &row;
    } else if (asciiLower(option[1]) == row.letter) {
      return &row;
    }
  }
  return nullptr;
}

/// The first refusal is the one the step log names.
void refuse(CommandLine& line, std::string why) {
  if (!line.refusal) line.refusal = std::move(why);
}

/// What \a option gives \a line from its operands, which begin at \a operand.
/// After a refusal only what asks for usage or -v counts.
void apply(const Option& option, const std::string* operand, CommandLine& line) {
  if (option.sets == Sets::kUsage) line.usage = true;
  if (option.sets == Sets::kVerbose) line.verbose = true;
  if (line.refusal) return;
  switch (option.sets) {
    case Sets::kOutcomeStatus:
      line.outcomeStatus = true;
      break;
    case Sets::kService:
      line.sources.push_back({ServiceEntry{operand[0], operand[1], operand[2], {}}, {}});
      break;
    case Sets::kListFile:
      line.sources.push_back({std::nullopt, operand[0]});
      break;
    case Sets::kPollLimit:
      if (const std::optional<PollLimit> limit = parsePollLimit(operand[0].c_str())) {
        line.pollLimit = *limit;
      } else {
        refuse(line, quoted(operand[0]) + " is no number of seconds");
      }
      break;
    case Sets::kFormat:
      if (const std::optional<ReportFormat> format = reportFormat(operand[0])) {
        line.format = *format;
      } else {
        refuse(line, quoted(operand[0]) + " is neither table nor csv");
      }
      break;
    default:
      break;
  }
}

/// Reads the options of \a grammar from args[2] on, for as long as options may
/// stand: up to a word that is no option or an option short of its operands,
/// which the service commands refuse, or for -startup to a word that is no
/// triple, -e or -v.
void readOptions(Platform& platform, const std::vector<std::string>& args, unsigned grammar,
                 CommandLine& line) {
  const bool triples = grammar == kStartTypeGrammar;
  for (std::size_t i = 2; i < args.size();) {
    if (!isOption(args[i])) {
      // A stray word never falls back to the registry.
      if (!triples)
        refuse(line, "argument " + std::to_string(i) + " " + quoted(args[i]) + " is not an option");
      return;
    }
    std::string word;
    const Option* option = optionFor(platform, args[i], grammar, word);
    if (option == nullptr) {
      if (triples) return;
      ++i;  // the service commands ignore an option they do not know
      continue;
    }
    const std::size_t count = option->operands;
    if (option->sets == Sets::kTriple) {
      // A word with nothing after it names no service; a missing display name is empty.
      if (i + 1 >= args.size()) return;
      line.triples.push_back(
          ServiceEntry{{}, args[i + 1], i + 2 < args.size() ? args[i + 2] : "", word});
    } else if (i + count >= args.size()) {
      refuse(line, quoted(args[i]) + " needs " + option->needs);
      return;
    } else {
      apply(*option, &args[i + 1], line);
      // -startup takes a help word for no triple: its options end there.
      if (triples && option->sets == Sets::kUsage) return;
    }
    i += 1 + count;
  }
}

}  // namespace

std::optional<PollLimit> parsePollLimit(const char* text) {
  const std::int32_t value = toLongClamped(text != nullptr ? text : "");
  if (value == 0) return std::nullopt;
  return static_cast<PollLimit>(value);
}

const CommandRow* recogniseCommand(Platform& platform, char* argument) {
  const CommandRow* result = nullptr;
  if (argument == nullptr || *argument == '\0') return result;
  char* p = argument;
  for (;;) {
    while (isBlank(*p)) ++p;
    if (*p == '-' || *p == '/') result = matchOption(platform, p, result);
    while (*p != '\0' && !isBlank(*p)) ++p;
    if (*p == '\0') return result;
  }
}

CommandLine readCommandLine(Platform& platform, int argc, char** argv) {
  CommandLine line;
  if (argv == nullptr || argc < 2) return line;
  std::vector<std::string> args;
  args.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  std::vector<char> keyword(args[1].begin(), args[1].end());
  keyword.push_back('\0');
  line.command = recogniseCommand(platform, keyword.data());
  line.commandWord = keyword.data();
  line.usage = isHelpWord(args[1]);
  if (line.command == nullptr) return line;
  line.usage = line.usage || std::any_of(args.begin() + 2, args.end(), isQuestionMark);
  readOptions(platform, args, line.command->operands, line);
  return line;
}

}  // namespace vdksvc
