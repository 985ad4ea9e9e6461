#include "command/service_operands.h"

#include <string>
#include <utility>

#include "base/registry_value.h"
#include "base/text.h"
#include "lists/list_file.h"
#include "lists/registry_catalogue.h"

namespace vdksvc {
namespace {

/// The step log's account of why the list was refused.
void logRefusal(StepLog& log, const std::string& why) {
  if (log.on()) log.write("list refused: " + why);
}

std::string entriesOf(const ServiceList& list) {
  return std::to_string(list.size()) + (list.size() == 1 ? " entry" : " entries");
}

std::string limitOf(PollLimit pollLimit) {
  return pollLimit == 0 ? "no time limit"
                        : "at most " + std::to_string(pollLimit) + " s of waiting a service";
}

/// The list from the product's catalogue in the registry.
bool loadCatalogue(Platform& platform, PollLimit pollLimit, ServiceList& list, StepLog& log) {
  const std::string key = std::string("HKLM\\") + kProductKey;
  std::string homeDir;
  RegistryValueInfo home;
  if (!readRegistryText(platform, kProductKey, "HomeDir", homeDir, &home)) {
    logRefusal(log, key + "\\HomeDir cannot be read " + kBothViews);
    return false;
  }
  RegistryValueInfo catalogue;
  if (!loadRegistryCatalogue(platform, homeDir, list, &catalogue)) {
    logRefusal(log, "the catalogue " + key + "\\ServicesList cannot be read " + kBothViews +
                        ", is empty, or has a string without its two commas");
    return false;
  }
  if (log.on()) {
    log.write("list: " + entriesOf(list) + " from the catalogue " + key + "\\ServicesList in the " +
              viewName(catalogue.view) + ", HomeDir " + quoted(homeDir) + " in the " +
              viewName(home.view) + "; " + limitOf(pollLimit));
  }
  return true;
}

}  // namespace

std::optional<ServiceList> serviceList(Platform& platform, const CommandLine& line, StepLog& log) {
  ServiceList list;
  bool explicitService = false;
  std::string files;  // the list files read, for the step log
  for (const ListSource& source : line.sources) {
    if (source.service) {
      // The named service replaces whatever the options before it gave.
      list.clear();
      list.addEntry(source.service->binaryPath, source.service->serviceName,
                    source.service->displayName);
      explicitService = true;
    } else if (!explicitService) {  // after a -c, the list is decided already
      if (!loadListFile(platform, source.listFile.c_str(), list, log)) {
        logRefusal(
            log, "list file " + quoted(source.listFile) + " cannot be opened or has no valid line");
        return std::nullopt;
      }
      if (log.on()) files += (files.empty() ? "" : ", ") + quoted(source.listFile);
    }
  }
  if (line.refusal) {
    logRefusal(log, *line.refusal);
    return std::nullopt;
  }
  if (list.size() == 0) {
    if (!loadCatalogue(platform, line.pollLimit, list, log)) return std::nullopt;
  } else if (log.on()) {
    log.write("list: " + entriesOf(list) + " from " +
              (explicitService ? std::string("-c") : "list files " + files) + "; " +
              limitOf(line.pollLimit));
  }
  return list;
}

}  // namespace vdksvc
