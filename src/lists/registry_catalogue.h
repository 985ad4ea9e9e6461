#pragma once
// The product's settings and service catalogue under HKEY_LOCAL_MACHINE.

#include <string>

#include "lists/service_list.h"
#include "platform/platform.h"

namespace vdksvc {

constexpr const char* kProductKey = "SOFTWARE\\Corvane\\Vardeck";
constexpr const char* kDatabaseKey = "SOFTWARE\\Corvane\\Vardeck_DB";

/// Reads a text value under HKEY_LOCAL_MACHINE. The text ends at the first NUL
/// byte, or with the value's last byte when it was stored without one.
bool readRegistryText(Platform& platform, const char* subKey, const char* valueName,
                      std::string& text);

/// Reads a number of at most 4 bytes under HKEY_LOCAL_MACHINE.
bool readRegistryNumber(Platform& platform, const char* subKey, const char* valueName,
                        Dword& value);

/// Appends one entry per string of "ServicesList" ("program file,service
/// name,display name"), the binary path being the program file under \a homeDir,
/// quoted. False when the value is missing or empty, or a string is malformed (the
/// entries of the strings before it stay in the list).
bool loadRegistryCatalogue(Platform& platform, const std::string& homeDir, ServiceList& list);

}  // namespace vdksvc
