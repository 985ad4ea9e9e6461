#include "command/start_type_operands.h"

#include <cstring>
#include <string>

#include "base/text.h"

namespace vdksvc {
namespace {

bool isStartTypeWord(const char* word) {
  return std::strcmp(word, "auto") == 0 || std::strcmp(word, "demand") == 0 ||
         std::strcmp(word, "disabled") == 0;
}

/// -e and -v stand alone; no start-type word begins with either letter.
bool isSwitch(const char* option, char letter) { return asciiLower(option[1]) == letter; }

}  // namespace

bool hasStartTypeOption(int argc, char** argv, OptionTest test) {
  for (int k = 2; k < argc && isOption(argv[k]);) {
    if (test(argv[k])) return true;
    if (isSwitch(argv[k], 'e') || isSwitch(argv[k], 'v')) {
      ++k;
      continue;
    }
    if (!isStartTypeWord(asciiLowered(argv[k] + 1).c_str()) || k + 1 >= argc) break;
    k += 3;
  }
  return false;
}

std::optional<Operands> parseStartTypeOperands(Platform& platform, int argc, char** argv,
                                               StepLog& log) {
  Operands operands;
  for (int k = 2; k < argc;) {
    char* option = argv[k];
    if (!isOption(option)) break;
    if (isSwitch(option, 'e') || isSwitch(option, 'v')) {
      operands.outcomeStatus = operands.outcomeStatus || isSwitch(option, 'e');
      ++k;
      continue;
    }
    char* word = platform.CharLowerA(option + 1);
    if (!isStartTypeWord(word)) break;
    // An option with nothing after it names no service: parsing ends there and
    // the entry of the triple before it stays.
    if (k + 1 >= argc) break;
    const char* displayName = k + 2 < argc ? argv[k + 2] : "";
    operands.list.clear();
    operands.list.addStartTypeEntry(word, argv[k + 1], displayName);
    k += 3;
  }
  if (log.on()) {
    const ServiceList& list = operands.list;
    log.write(list.size() == 0 ? std::string("list: no start-type triple, nothing to do")
                               : "list: the last start-type triple, for " + list.at(0).serviceName);
  }
  return operands;
}

}  // namespace vdksvc
