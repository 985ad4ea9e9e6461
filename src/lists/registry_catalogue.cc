#include "lists/registry_catalogue.h"

#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "platform/handles.h"

namespace vdksvc {
namespace {

constexpr Long kSuccess = static_cast<Long>(winerr::kSuccess);
constexpr Long kNotThere = static_cast<Long>(winerr::kFileNotFound);

/// Opens \a subKey in the first view that holds \a valueName, and gives the
/// value's size and type. False when neither view holds it, or when a key or a
/// value is there but cannot be read.
bool findValue(Platform& platform, const char* subKey, const char* valueName, RegKey& key,
               Dword& size, RegistryValueInfo& info) {
  for (const RegistryView view : {RegistryView::bits32, RegistryView::bits64}) {
    const Dword viewFlag = view == RegistryView::bits32 ? reg::kWow64_32Key : reg::kWow64_64Key;
    RawKey raw = nullptr;  // a failed open hands out no key to close
    const Long opened =
        platform.RegOpenKeyExA(hkeyLocalMachine(), subKey, 0, reg::kKeyRead | viewFlag, &raw);
    if (opened == kNotThere) continue;
    if (opened != kSuccess) return false;
    key.reset(raw);
    size = 0;
    const Long queried =
        platform.RegQueryValueExA(key.get(), valueName, nullptr, &info.type, nullptr, &size);
    if (queried != kNotThere) {
      info.view = view;
      return queried == kSuccess;
    }
    key.reset();
  }
  return false;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

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

const char* viewName(RegistryView view) {
  return view == RegistryView::bits32 ? "32-bit view" : "64-bit view";
}

bool readRegistryText(Platform& platform, const char* subKey, const char* valueName,
                      std::string& text, RegistryValueInfo* info) {
  RegKey key(platform);
  Dword size = 0;
  RegistryValueInfo found;
  if (!findValue(platform, subKey, valueName, key, size, found)) return false;

  std::vector<unsigned char> buffer;
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  Dword received = size;
  if (size > 0 && platform.RegQueryValueExA(key.get(), valueName, nullptr, nullptr, buffer.data(),
                                            &received) != kSuccess) {
    return false;
  }
  if (received > size) received = size;

  // A text stored without its NUL ends with the value's last byte: never read past it.
  const auto* begin = reinterpret_cast<const char*>(buffer.data());
  const std::string_view stored(begin, received);
  text.assign(stored.substr(0, stored.find('\0')));
  if (info != nullptr) *info = found;
  return true;
}

bool readRegistryNumber(Platform& platform, const char* subKey, const char* valueName, Dword& value,
                        RegistryValueInfo* info) {
  RegKey key(platform);
  Dword size = 0;
  RegistryValueInfo found;
  if (!findValue(platform, subKey, valueName, key, size, found)) return false;
  // A value of more than 4 bytes does not fit and fails the query; a shorter one
  // fills the low bytes of a zeroed number.
  unsigned char bytes[4] = {};
  size = sizeof bytes;
  if (platform.RegQueryValueExA(key.get(), valueName, nullptr, nullptr, bytes, &size) != kSuccess) {
    return false;
  }
  value = static_cast<Dword>(bytes[0]) | static_cast<Dword>(bytes[1]) << 8 |
          static_cast<Dword>(bytes[2]) << 16 | static_cast<Dword>(bytes[3]) << 24;
  if (info != nullptr) *info = found;
  return true;
}

bool loadRegistryCatalogue(Platform& platform, const std::string& homeDir, ServiceList& list,
                           RegistryValueInfo* info) {
  std::vector<char> buffer;
  {
    RegKey key(platform);
    Dword size = 0;
    RegistryValueInfo found;
    if (!findValue(platform, kProductKey, "ServicesList", key, size, found) || size == 0) {
      return false;
    }
    if (info != nullptr) *info = found;
    // Two zero bytes beyond the value end the last string and the list even when
    // the value was stored without its terminators. The query is told the value's
    // own size, so a value that grew meanwhile fails rather than overwrite them.
    try {
      buffer.assign(static_cast<std::size_t>(size) + 2, '\0');
    } catch (const std::bad_alloc&) {
      return false;
    }
    Dword received = size;
    if (platform.RegQueryValueExA(key.get(), "ServicesList", nullptr, nullptr,
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
