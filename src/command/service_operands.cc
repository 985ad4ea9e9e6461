#include "command/service_operands.h"

#include <cstdint>
#include <string>

#include "lists/list_file.h"
#include "lists/registry_catalogue.h"

namespace vdksvc {
namespace {

bool isOption(const char* argument) {
  return argument != nullptr && (argument[0] == '-' || argument[0] == '/');
}

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

bool parsePollLimit(const char* text, PollLimit& pollLimit) {
  const std::int32_t value = toLongClamped(text != nullptr ? text : "");
  pollLimit = static_cast<PollLimit>(value);
  return value != 0;
}

bool parseServiceOperands(Platform& platform, int argc, char** argv, ServiceList& list,
                          PollLimit& pollLimit) {
  bool result = true;
  bool explicitService = false;
  for (int i = 2; i < argc; ++i) {
    if (!isOption(argv[i])) return false;  // a stray word never falls back to the registry
    switch (argv[i][1]) {
      case 'c':
      case 'C':
        if (i + 3 >= argc) return false;
        // The named service replaces whatever the options before it gave.
        list.clear();
        list.addEntry(argv[i + 1], argv[i + 2], argv[i + 3]);
        explicitService = true;
        result = true;
        i += 3;
        break;
      case 'f':
      case 'F':
        if (i + 1 >= argc) return false;
        if (!explicitService) result = loadListFile(argv[i + 1], list);
        i += 1;
        break;
      case 't':
      case 'T':
        if (i + 1 >= argc) return false;
        result = parsePollLimit(argv[i + 1], pollLimit);
        i += 1;
        break;
      default:
        break;  // unknown options are ignored
    }
    if (!result) return false;
  }

  if (list.size() > 0) return true;
  std::string homeDir;
  if (!readRegistryText(platform, kProductKey, "HomeDir", homeDir)) return false;
  return loadRegistryCatalogue(platform, homeDir, list);
}

}  // namespace vdksvc
