#include "command/start_type_operands.h"

#include <cstring>

namespace vdksvc {
namespace {

bool isStartTypeWord(const char* word) {
  return std::strcmp(word, "auto") == 0 || std::strcmp(word, "demand") == 0 ||
         std::strcmp(word, "disabled") == 0;
}

}  // namespace

bool parseStartTypeOperands(Platform& platform, int argc, char** argv, ServiceList& list,
                            bool* outcomeStatus) {
  for (int k = 2; k < argc;) {
    char* option = argv[k];
    if (option == nullptr || (option[0] != '-' && option[0] != '/')) break;
    // No start-type word begins with 'e': -e stands where an option may, alone.
    if (option[1] == 'e' || option[1] == 'E') {
      if (outcomeStatus != nullptr) *outcomeStatus = true;
      ++k;
      continue;
    }
    char* word = platform.CharLowerA(option + 1);
    if (!isStartTypeWord(word)) break;
    // An option with nothing after it names no service: parsing ends there and
    // the entry of the triple before it stays.
    if (k + 1 >= argc) break;
    const char* displayName = k + 2 < argc ? argv[k + 2] : "";
    list.clear();
    list.addStartTypeEntry(word, argv[k + 1], displayName);
    k += 3;
  }
  return true;
}

}  // namespace vdksvc
