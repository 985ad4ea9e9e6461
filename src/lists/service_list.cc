#include "lists/service_list.h"

namespace vdksvc {
namespace {

std::string textOrEmpty(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

void ServiceList::addEntry(const char* binaryPath, const char* serviceName,
                           const char* displayName) {
  entries_.push_back(ServiceEntry{
      textOrEmpty(binaryPath), textOrEmpty(serviceName), textOrEmpty(displayName), {}});
}

void ServiceList::addStartTypeEntry(const char* startTypeWord, const char* serviceName,
                                    const char* displayName) {
  entries_.push_back(ServiceEntry{
      {}, textOrEmpty(serviceName), textOrEmpty(displayName), textOrEmpty(startTypeWord)});
}

}  // namespace vdksvc
