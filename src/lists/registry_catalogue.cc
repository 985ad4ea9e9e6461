#include "lists/registry_catalogue.h"

#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "base/text.h"

namespace vdksvc {
namespace {

constexpr Long kSuccess = static_cast<Long>(winerr::kSuccess);

const char* skipBlanks(const char* p) {
  while (isBlank(*p)) ++p;
  return p;
}

/// Turns one catalogue string ("program file, service name, display name") into
/// an entry. False for a string that is blank or lacks one of its two commas.
bool addCatalogueEntry(const char* text, const std::string& homeDir, ServiceList& list) {
  const char* program = skipBlanks(text);
  if (*program == '\0') return false;
  const char* firstComma = std::strchr(program, ',');
  if (firstComma == nullptr) return false;

  const char* service = skipBlanks(firstComma + 1);
  if (*service == '\0') return false;
  const char* secondComma = std::strchr(service, ',');
  if (secondComma == nullptr) return false;

  // The display name is the rest of the string, commas and trailing blanks included.
  const char* display = skipBlanks(secondComma + 1);

  std::string binaryPath;
  binaryPath.reserve(homeDir.size() + static_cast<std::size_t>(firstComma - program) + 3);
  binaryPath += '"';
  binaryPath += homeDir;
  binaryPath += '\\';
  binaryPath.append(program, firstComma);
  binaryPath += '"';
  const std::string serviceName(service, secondComma);
  list.addEntry(binaryPath.c_str(), serviceName.c_str(), display);
  return true;
}

}  // namespace

bool loadRegistryCatalogue(Platform& platform, const std::string& homeDir, ServiceList& list,
                           RegistryValueInfo* info) {
  std::vector<char> buffer;
  {
    const std::optional<FoundRegistryValue> found =
        findRegistryValue(platform, kProductKey, "ServicesList");
    if (!found || found->size == 0) return false;
    if (info != nullptr) *info = found->info;
    const Dword size = found->size;
    // Two zero bytes beyond the value end the last string and the list even when
    // the value was stored without its terminators. The query is told the value's
    // own size, so a value that grew meanwhile fails rather than overwrite them.
    try {
      buffer.assign(static_cast<std::size_t>(size) + 2, '\0');
    } catch (const std::bad_alloc&) {
      return false;
    }
    Dword received = size;
    if (platform.RegQueryValueExA(found->key.get(), "ServicesList", nullptr, nullptr,
                                  reinterpret_cast<unsigned char*>(buffer.data()),
                                  &received) != kSuccess) {
      return false;
    }
  }  // the key is closed before the strings are walked

  if (buffer.front() == '\0') return false;
  const std::size_t end = buffer.size();
  std::size_t pos = 0;
  for (;;) {
    const char* text = buffer.data() + pos;
    if (!addCatalogueEntry(text, homeDir, list)) return false;
    pos += std::strlen(text) + 1;
    // The empty string that follows the last one ends the list.
    if (pos >= end || buffer[pos] == '\0') return true;
  }
}

}  // namespace vdksvc
