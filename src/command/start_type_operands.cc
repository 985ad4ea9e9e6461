#include "command/start_type_operands.h"

#include <string>

namespace vdksvc {

ServiceList startTypeList(const CommandLine& line, StepLog& log) {
  ServiceList list;
  for (const ServiceEntry& triple : line.triples) {
    list.clear();
    list.addStartTypeEntry(triple.startTypeWord.c_str(), triple.serviceName.c_str(),
                           triple.displayName.c_str());
  }
  if (log.on()) {
    log.write(list.size() == 0 ? std::string("list: no start-type triple, nothing to do")
                               : "list: the last start-type triple, for " + list.at(0).serviceName);
  }
  return list;
}

}  // namespace vdksvc
