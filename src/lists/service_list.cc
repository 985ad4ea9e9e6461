#include "lists/service_list.h"

#include <utility>

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

void ServiceList::addEntry(std::string binaryPath, std::string serviceName,
                           std::string displayName) {
  entries_.push_back(
      ServiceEntry{std::move(binaryPath), std::move(serviceName), std::move(displayName), {}});
}

void ServiceList::addStartTypeEntry(const char* startTypeWord, const char* serviceName,
                                    const char* displayName) {
  entries_.push_back(ServiceEntry{
      {}, textOrEmpty(serviceName), textOrEmpty(displayName), textOrEmpty(startTypeWord)});
}

}  // namespace vdksvc
