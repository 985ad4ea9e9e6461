#pragma once
// The product's settings and service catalogue under HKEY_LOCAL_MACHINE, each
// value read in the 32-bit view first and then in the 64-bit view.

#include <string>

#include "base/registry_value.h"
#include "lists/service_list.h"
#include "platform/platform.h"

namespace vdksvc {

constexpr const char* kProductKey = "SOFTWARE\\Corvane\\Vardeck";
constexpr const char* kDatabaseKey = "SOFTWARE\\Corvane\\Vardeck_DB";

/// Appends one entry per string of "ServicesList" ("program file,service
/// name,display name"), the binary path being the program file under \a homeDir,
/// quoted. False when the value is missing or empty, or a string is malformed (the
/// entries of the strings before it stay in the list).
bool loadRegistryCatalogue(Platform& platform, const std::string& homeDir, ServiceList& list,
                           RegistryValueInfo* info = nullptr);

}  // namespace vdksvc
