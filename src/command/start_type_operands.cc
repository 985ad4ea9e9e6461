#include "command/start_type_operands.h"

#include <cstring>
#include <string>

namespace vdksvc {
namespace {

bool isStartTypeWord(const char* word) {
  return std::strcmp(word, "auto") == 0 || std::strcmp(word, "demand") == 0 ||
         std::strcmp(word, "disabled") == 0;
}

}  // namespace

std::optional<Operands> parseStartTypeOperands(Platform& platform, int argc, char** argv,
                                               StepLog& log) {
  Operands operands;
  for (int k = 2; k < argc;) {
    char* option = argv[k];
    if (option == nullptr || (option[0] != '-' && option[0] != '/')) break;
    // No start-type word begins with 'e': -e stands where an option may, alone.
    if (option[1] == 'e' || option[1] == 'E') {
      operands.outcomeStatus = true;
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
