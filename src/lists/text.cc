#include "lists/text.h"

namespace vdksvc {

std::string quoted(std::string_view text) {
  std::string result = "\"";
  result.append(text);
  result += '"';
  return result;
}

}  // namespace vdksvc
