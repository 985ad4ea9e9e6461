#include "command/service_operands.h"

#include <cstdint>
#include <string>
#include <utility>

#include "base/registry_value.h"
#include "base/text.h"
#include "lists/list_file.h"
#include "lists/registry_catalogue.h"

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

}  // namespace

std::optional<PollLimit> parsePollLimit(const char* text) {
  const std::int32_t value = toLongClamped(text != nullptr ? text : "");
  if (value == 0) return std::nullopt;
  return static_cast<PollLimit>(value);
}

namespace {

/// The step log's account of where the list came from, or why it was refused.
void logRefusal(StepLog& log, const std::string& why) {
  if (log.on()) log.write("list refused: " + why);
}

std::string entriesOf(const ServiceList& list) {
  return std::to_string(list.size()) + (list.size() == 1 ? " entry" : " entries");
}

std::string limitOf(PollLimit pollLimit) {
  return pollLimit == 0 ? "no poll limit"
                        : "at most " + std::to_string(pollLimit) + " polls a wait";
}

}  // namespace

namespace {

/// How many operands follow the option whose letter is \a letter.
int operandCount(char letter, bool query) {
  switch (asciiLower(letter)) {
    case 'c':
      return 3;
    case 'f':
    case 't':
      return 1;
    case 'o':
      return query ? 1 : 0;
    default:
      return 0;
  }
}

/// -query's -o word, in any case; nothing for another.
std::optional<ReportFormat> reportFormat(const char* word) {
  const std::string lowered = asciiLowered(word != nullptr ? word : "");
  if (lowered == "table") return ReportFormat::kTable;
  if (lowered == "csv") return ReportFormat::kCsv;
  return std::nullopt;
}

/// Where the operands have got to, and what the step log is told about them.
struct OperandState {
  Platform& platform;
  StepLog& log;
  bool query;  ///< -o is an option
  Operands operands;
  bool explicitService = false;
  std::string files;  ///< the list files read, for the step log
};

/// What the option whose letter is \a letter needs after it, for the step log.
const char* operandsNeeded(char letter) {
  switch (asciiLower(letter)) {
    case 'c':
      return "three operands";
    case 'f':
      return "a list file";
    case 't':
      return "a number of polls";
    default:
      return "table or csv";
  }
}

/// Applies the option at argv[i] and moves i onto its last operand; false
/// refuses the run.
bool applyOption(int argc, char** argv, int& i, OperandState& state) {
  const char* option = argv[i];
  const int count = operandCount(option[1], state.query);
  if (i + count >= argc) {
    logRefusal(state.log, quoted(option) + " needs " + operandsNeeded(option[1]));
    return false;
  }
  i += count;
  const char* operand = argv[i];
  switch (asciiLower(option[1])) {
    case 'c':
      // The named service replaces whatever the options before it gave.
      state.operands.list.clear();
      state.operands.list.addEntry(argv[i - 2], argv[i - 1], operand);
      state.explicitService = true;
      return true;
    case 'f':
      if (state.explicitService) return true;  // -c decided the list already
      if (!loadListFile(state.platform, operand, state.operands.list, state.log)) {
        logRefusal(state.log,
                   "list file " + quoted(operand) + " cannot be opened or has no valid line");
        return false;
      }
      if (state.log.on()) state.files += (state.files.empty() ? "" : ", ") + quoted(operand);
      return true;
    case 't':
      if (const std::optional<PollLimit> limit = parsePollLimit(operand)) {
        state.operands.pollLimit = *limit;
        return true;
      }
      logRefusal(state.log, quoted(operand) + " is no number of polls");
      return false;
    case 'e':
      state.operands.outcomeStatus = true;
      return true;
    case 'o':
      if (count == 0) return true;  // not -query's: ignored, as any unknown option
      if (const std::optional<ReportFormat> format = reportFormat(operand)) {
        state.operands.format = *format;
        return true;
      }
      logRefusal(state.log, quoted(operand) + " is neither table nor csv");
      return false;
    default:
      return true;  // unknown options are ignored
  }
}

/// The list from the product's catalogue in the registry.
bool loadCatalogue(OperandState& state) {
  Platform& platform = state.platform;
  const std::string key = std::string("HKLM\\") + kProductKey;
  std::string homeDir;
  RegistryValueInfo home;
  if (!readRegistryText(platform, kProductKey, "HomeDir", homeDir, &home)) {
    logRefusal(state.log, key + "\\HomeDir cannot be read " + kBothViews);
    return false;
  }
  RegistryValueInfo catalogue;
  ServiceList& list = state.operands.list;
  if (!loadRegistryCatalogue(platform, homeDir, list, &catalogue)) {
    logRefusal(state.log, "the catalogue " + key + "\\ServicesList cannot be read " + kBothViews +
                              ", is empty, or has a string without its two commas");
    return false;
  }
  if (state.log.on()) {
    state.log.write("list: " + entriesOf(list) + " from the catalogue " + key +
                    "\\ServicesList in the " + viewName(catalogue.view) + ", HomeDir " +
                    quoted(homeDir) + " in the " + viewName(home.view) + "; " +
                    limitOf(state.operands.pollLimit));
  }
  return true;
}

}  // namespace

bool hasServiceOption(int argc, char** argv, bool query, OptionTest test) {
  for (int i = 2; i < argc && isOption(argv[i]); ++i) {
    if (test(argv[i])) return true;
    const int count = operandCount(argv[i][1], query);
    // An option short of its operands refuses the command line there.
    if (i + count >= argc) break;
    i += count;
  }
  return false;
}

namespace {

std::optional<Operands> parseOperands(Platform& platform, int argc, char** argv, StepLog& log,
                                      bool query) {
  OperandState state{platform, log, query, {}, false, {}};
  for (int i = 2; i < argc; ++i) {
    // A stray word never falls back to the registry.
    if (!isOption(argv[i])) {
      logRefusal(log, "argument " + std::to_string(i) + " " +
                          quoted(argv[i] != nullptr ? argv[i] : "") + " is not an option");
      return std::nullopt;
    }
    if (!applyOption(argc, argv, i, state)) return std::nullopt;
  }
  const ServiceList& list = state.operands.list;
  if (list.size() == 0) {
    if (!loadCatalogue(state)) return std::nullopt;
  } else if (log.on()) {
    log.write("list: " + entriesOf(list) + " from " +
              (state.explicitService ? std::string("-c") : "list files " + state.files) + "; " +
              limitOf(state.operands.pollLimit));
  }
  return std::move(state.operands);
}

}  // namespace

std::optional<Operands> parseServiceOperands(Platform& platform, int argc, char** argv,
                                             StepLog& log) {
  return parseOperands(platform, argc, argv, log, false);
}

std::optional<Operands> parseQueryOperands(Platform& platform, int argc, char** argv,
                                           StepLog& log) {
  return parseOperands(platform, argc, argv, log, true);
}

}  // namespace vdksvc
