#include "base/registry_value.h"

#include <new>
#include <string_view>
#include <vector>

namespace vdksvc {
namespace {

constexpr Long kSuccess = static_cast<Long>(winerr::kSuccess);
constexpr Long kNotThere = static_cast<Long>(winerr::kFileNotFound);

}  // namespace

const char* viewName(RegistryView view) {
  return view == RegistryView::kBits32 ? "32-bit view" : "64-bit view";
}

std::optional<FoundRegistryValue> findRegistryValue(Platform& platform, const char* subKey,
                                                    const char* valueName) {
  for (const RegistryView view : {RegistryView::kBits32, RegistryView::kBits64}) {
    const Dword viewFlag = view == RegistryView::kBits32 ? reg::kWow64_32Key : reg::kWow64_64Key;
    RawKey raw = nullptr;  // a failed open hands out no key to close
    const Long opened =
        platform.RegOpenKeyExA(hkeyLocalMachine(), subKey, 0, reg::kKeyRead | viewFlag, &raw);
    if (opened == kNotThere) continue;
    if (opened != kSuccess) return std::nullopt;
    FoundRegistryValue found{RegKey(platform, raw), 0, {view, reg::kNone}};
    const Long queried = platform.RegQueryValueExA(found.key.get(), valueName, nullptr,
                                                   &found.info.type, nullptr, &found.size);
    if (queried == kSuccess) return found;
    if (queried != kNotThere) return std::nullopt;
  }
  return std::nullopt;
}

bool readRegistryText(Platform& platform, const char* subKey, const char* valueName,
                      std::string& text, RegistryValueInfo* info) {
  std::optional<FoundRegistryValue> found = findRegistryValue(platform, subKey, valueName);
  if (!found) return false;

  const Dword size = found->size;
  std::vector<unsigned char> buffer;
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  Dword received = size;
  if (size > 0 && platform.RegQueryValueExA(found->key.get(), valueName, nullptr, nullptr,
                                            buffer.data(), &received) != kSuccess) {
    return false;
  }
  if (received > size) received = size;

  // A text stored without its NUL ends with the value's last byte: never read past it.
  const auto* begin = reinterpret_cast<const char*>(buffer.data());
  const std::string_view stored(begin, received);
  text.assign(stored.substr(0, stored.find('\0')));
  if (info != nullptr) *info = found->info;
  return true;
}

bool readRegistryNumber(Platform& platform, const char* subKey, const char* valueName, Dword& value,
                        RegistryValueInfo* info) {
  std::optional<FoundRegistryValue> found = findRegistryValue(platform, subKey, valueName);
  if (!found) return false;
  // A value of more than 4 bytes does not fit and fails the query; a shorter one
  // fills the low bytes of a zeroed number.
  unsigned char bytes[4] = {};
  Dword size = sizeof bytes;
  if (platform.RegQueryValueExA(found->key.get(), valueName, nullptr, nullptr, bytes, &size) !=
      kSuccess) {
    return false;
  }
  value = static_cast<Dword>(bytes[0]) | static_cast<Dword>(bytes[1]) << 8 |
          static_cast<Dword>(bytes[2]) << 16 | static_cast<Dword>(bytes[3]) << 24;
  if (info != nullptr) *info = found->info;
  return true;
}

}  // namespace vdksvc
