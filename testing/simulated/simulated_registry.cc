// The simulated HKEY_LOCAL_MACHINE: keys by path, values as raw bytes. Reads
// follow the documented RegQueryValueExA protocol to the letter (size query,
// ERROR_MORE_DATA with the size needed, exact bytes, no terminator added), so a
// caller that trusts text values to end in NUL is caught by the tests.
//
// The registry functions report through their result and leave GetLastError
// alone, as the real ones do.

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>

#include "simulated/simulated_platform.h"
#include "simulated/simulated_state.h"

namespace vdksvc {
namespace {

using World = SimulatedWorld;
using Kind = World::Kind;

Long asLong(Dword error) { return static_cast<Long>(error); }

/// \a path without trailing backslashes, which name the same key.
std::string trimmed(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

std::string joined(const std::string& parent, const char* subKey) {
  const std::string sub = trimmed(subKey == nullptr ? "" : subKey);
  if (sub.empty()) return parent;
  return parent.empty() ? sub : parent + "\\" + sub;
}

/// Where an open of \a path from HKEY_LOCAL_MACHINE in the 32-bit view leads:
/// SOFTWARE and the keys below it have their 32-bit copies under WOW6432Node.
std::string in32BitView(const std::string& path) {
  const std::string folded = World::foldCase(path);
  if (folded != "software" && folded.rfind("software\\", 0) != 0) return path;
  if (folded == "software\\wow6432node" || folded.rfind("software\\wow6432node\\", 0) == 0) {
    return path;
  }
  return path.substr(0, 8) + "\\WOW6432Node" + path.substr(8);
}

std::string shownPath(const std::string& path) {
  return path.empty() ? "HKEY_LOCAL_MACHINE" : path;
}

/// The path, relative to HKEY_LOCAL_MACHINE, that \a key stands for, and the
/// access it was opened with; empty when \a key is neither HKLM nor open.
struct OpenedKey {
  // cppcheck-suppress unusedStructMember ; read through the std::optional opened() returns
  std::string path;
  Dword access = 0;
};

std::optional<OpenedKey> opened(World& s, RawKey key) {
  // The predefined key is always open and always readable.
  if (key == hkeyLocalMachine()) return OpenedKey{"", access::kKeyQueryValue};
  if (const World::Handle* h = s.handleOf(key, Kind::kKey)) return OpenedKey{h->keyPath, h->access};
  return std::nullopt;
}

Dword keyRights(Dword desired) {
  if ((desired & (access::kGenericAll | access::kMaximumAllowed | access::kGenericRead)) != 0) {
    return desired | reg::kKeyRead;
  }
  return desired;
}

}  // namespace

SimulatedWorld::Key& SimulatedWorld::makeKey(std::string_view path) {
  const std::string whole = trimmed(path);
  // Every key above it exists too, as it does in a real hive.
  for (std::size_t end = whole.find('\\'); end != std::string::npos;
       end = whole.find('\\', end + 1)) {
    Key& parent = keys[foldCase(whole.substr(0, end))];
    if (parent.path.empty()) parent.path = whole.substr(0, end);
  }
  Key& key = keys[foldCase(whole)];
  if (key.path.empty()) key.path = whole;
  return key;
}

// --- Seeding ---

void SimulatedPlatform::addKey(const std::string& key) { state_->makeKey(key); }

void SimulatedPlatform::setValue(const std::string& key, const std::string& name, Dword type,
                                 const std::vector<unsigned char>& bytes) {
  state_->makeKey(key).values[World::foldCase(name)] = World::Value{name, type, bytes};
}

void SimulatedPlatform::setText(const std::string& key, const std::string& name,
                                const std::string& text, bool terminated) {
  std::vector<unsigned char> bytes(text.begin(), text.end());
  if (terminated) bytes.push_back(0);
  setValue(key, name, reg::kSz, bytes);
}

void SimulatedPlatform::setMultiText(const std::string& key, const std::string& name,
                                     const std::vector<std::string>& strings) {
  std::vector<unsigned char> bytes;
  for (const std::string& text : strings) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  setValue(key, name, reg::kMultiSz, bytes);
}

void SimulatedPlatform::setNumber(const std::string& key, const std::string& name, Dword value) {
  std::vector<unsigned char> bytes;
  for (int shift = 0; shift < 32; shift += 8)
    bytes.push_back(static_cast<unsigned char>(value >> shift));
  setValue(key, name, reg::kDword, bytes);
}

void SimulatedPlatform::removeValue(const std::string& key, const std::string& name) {
  const auto found = state_->keys.find(World::foldCase(trimmed(key)));
  if (found != state_->keys.end()) found->second.values.erase(World::foldCase(name));
}

void SimulatedPlatform::removeKey(const std::string& key) {
  const std::string path = World::foldCase(trimmed(key));
  if (path.empty()) throw std::invalid_argument("removeKey: HKEY_LOCAL_MACHINE stays");
  std::erase_if(state_->keys, [&path](const auto& entry) {
    return entry.first == path || entry.first.rfind(path + "\\", 0) == 0;
  });
}

void SimulatedPlatform::setKeyOpenRefused(const std::string& key, bool refused) {
  state_->makeKey(key).openRefused = refused;
}

// --- Platform: registry ---

Long SimulatedPlatform::RegOpenKeyExA(RawKey key, const char* subKey, Dword /*options*/,
                                      Dword desiredAccess, RawKey* result) {
  World& s = *state_;
  const std::optional<OpenedKey> parent = opened(s, key);
  std::string path = joined(parent ? parent->path : std::string("(invalid)"), subKey);
  if (key == hkeyLocalMachine() && (desiredAccess & reg::kWow64_32Key) != 0) {
    path = in32BitView(path);
  }
  s.log("RegOpenKeyExA " + path);
  if (result == nullptr) return asLong(winerr::kInvalidParameter);
  *result = nullptr;  // a failed open hands out nothing
  if (!parent) return asLong(winerr::kInvalidHandle);
  if (!s.keys.contains(World::foldCase(parent->path))) return asLong(simerr::kKeyDeleted);
  const auto found = s.keys.find(World::foldCase(path));
  if (found == s.keys.end()) return asLong(winerr::kFileNotFound);
  if (found->second.openRefused) return asLong(winerr::kAccessDenied);
  World::Handle handle;
  handle.kind = Kind::kKey;
  handle.access = keyRights(desiredAccess);
  handle.keyPath = path;
  *result = reinterpret_cast<RawKey>(s.issue(std::move(handle)));
  return asLong(winerr::kSuccess);
}

Long SimulatedPlatform::RegQueryValueExA(RawKey key, const char* valueName, Dword* reserved,
                                         Dword* type, unsigned char* data, Dword* dataSize) {
  World& s = *state_;
  const std::string name = valueName == nullptr ? "" : valueName;
  s.log("RegQueryValueExA " + (name.empty() ? std::string("(default)") : name));
  const std::optional<OpenedKey> target = opened(s, key);
  if (!target) return asLong(winerr::kInvalidHandle);
  if ((target->access & access::kKeyQueryValue) == 0) return asLong(winerr::kAccessDenied);
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
    return asLong(winerr::kInvalidParameter);
  }
  const auto stored = s.keys.find(World::foldCase(target->path));
  if (stored == s.keys.end()) return asLong(simerr::kKeyDeleted);
  const auto found = stored->second.values.find(World::foldCase(name));
  if (found == stored->second.values.end()) return asLong(winerr::kFileNotFound);
  const World::Value& value = found->second;
  const auto size = static_cast<Dword>(value.bytes.size());
  if (type != nullptr) *type = value.type;
  if (data == nullptr) {
    if (dataSize != nullptr) *dataSize = size;
    return asLong(winerr::kSuccess);
  }
  if (*dataSize < size) {
    // The caller's buffer is not touched: not a byte of a partial copy.
    *dataSize = size;
    return asLong(winerr::kMoreData);
  }
  std::copy(value.bytes.begin(), value.bytes.end(), data);
  *dataSize = size;
  return asLong(winerr::kSuccess);
}

Long SimulatedPlatform::RegCloseKey(RawKey key) {
  World& s = *state_;
  if (key == hkeyLocalMachine()) {
    // Closing a predefined key is allowed and closes nothing.
    s.log("RegCloseKey HKEY_LOCAL_MACHINE");
    return asLong(winerr::kSuccess);
  }
  const World::Handle* h = s.handleOf(key, Kind::kKey);
  s.log("RegCloseKey " + (h == nullptr ? std::string("(invalid)") : shownPath(h->keyPath)));
  if (h == nullptr) return asLong(winerr::kInvalidHandle);
  s.handles.erase(World::tokenOf(key));
  return asLong(winerr::kSuccess);
}

}  // namespace vdksvc
