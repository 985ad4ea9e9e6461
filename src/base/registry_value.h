#pragma once
// One value under HKEY_LOCAL_MACHINE, wherever a 32-bit or a 64-bit installer
// put it.
//
// On 64-bit Windows, HKLM\SOFTWARE has two views: a 32-bit installer writes to
// the 32-bit one (SOFTWARE\WOW6432Node), a 64-bit installer to the 64-bit one.
// Each value is looked up in the 32-bit view first, which is the only view the
// 32-bit program this one replaces ever saw, and in the 64-bit view when the key
// or the value is not there. The view that holds the value decides: a value that
// is there but cannot be read as asked fails the read.

#include <optional>
#include <string>

#include "platform/handles.h"
#include "platform/platform.h"

namespace vdksvc {

/// The registry views, in the order values are looked up in them.
enum class RegistryView { kBits32, kBits64 };
/// "32-bit view" or "64-bit view".
const char* viewName(RegistryView view);
/// Where a value that cannot be read was looked for.
constexpr const char* kBothViews = "in the 32-bit view or the 64-bit view";

/// Where a value was read, and the type it was stored with.
struct RegistryValueInfo {
  RegistryView view = RegistryView::kBits32;
  Dword type = reg::kNone;
};

/// A value as found in the first view that holds it.
struct FoundRegistryValue {
  RegKey key;  ///< open, to read the value from
  Dword size = 0;
  RegistryValueInfo info;
};

/// Opens \a subKey in the first view that holds \a valueName. Nothing when
/// neither view holds it, or when a key or a value is there but cannot be read.
std::optional<FoundRegistryValue> findRegistryValue(Platform& platform, const char* subKey,
                                                    const char* valueName);

/// Reads a text value under HKEY_LOCAL_MACHINE. The text ends at the first NUL
/// byte, or with the value's last byte when it was stored without one.
bool readRegistryText(Platform& platform, const char* subKey, const char* valueName,
                      std::string& text, RegistryValueInfo* info = nullptr);

/// Reads a number of at most 4 bytes under HKEY_LOCAL_MACHINE.
bool readRegistryNumber(Platform& platform, const char* subKey, const char* valueName, Dword& value,
                        RegistryValueInfo* info = nullptr);

}  // namespace vdksvc
