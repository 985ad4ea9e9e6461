#pragma once
// Where Wine and Windows differ in what the end-to-end tests can see. Each
// difference is answered here and nowhere else, with its reason: on Windows the
// tests require Windows' documented behaviour, under Wine only Wine's. Whether
// they run under Wine is found at run time: Wine's ntdll exports
// wine_get_version, Windows' does not.

#include <string>
#include <vector>

#include "platform/win32_include.h"

namespace vdksvc::e2e {

/// Wine's version ("8.0"); null on Windows.
const char* wineVersion();

/// The dependencies the manager keeps for the service \a name, in order.
/// Windows: QueryServiceConfigA's list. Wine reports none there for a service
/// created through CreateServiceA and stores stray bytes after the first name,
/// so under Wine only that first name is read, from the service's registry key.
std::vector<std::string> storedDependencies(const std::string& name);

/// Whether StartService starts a service's stopped dependencies first, and
/// fails with 1068 when one cannot start. Wine neither checks nor starts them.
bool managerStartsDependencies();

/// Whether ChangeServiceConfigA without a dependency list keeps the stored one,
/// as Windows documents. Wine's drops it.
bool changeConfigKeepsDependencies();

/// Whether the manager reports STOPPED once a service's process has been
/// terminated. Wine's keeps reporting the last state the service gave.
bool terminatedServiceReportsStopped();

/// Why a test of process security cannot run here, or null where it can. Wine
/// enforces none: any process may end any other, LocalSystem's included.
const char* processSecurityNotEnforced();

/// Why a test of the service manager's security cannot run here, or null where
/// it can. Wine's manager grants every right asked for, to every token.
const char* serviceSecurityNotEnforced();

/// The error a control to a starting service is refused with: Windows' manager
/// refuses every control while a service starts or stops, with
/// ERROR_SERVICE_CANNOT_ACCEPT_CTRL; Wine's, while it starts, finds the control
/// among those the service takes, none while pending, and gives
/// ERROR_INVALID_SERVICE_CONTROL.
DWORD controlRefusalWhileStarting();

/// The error Process32First gives for an entry size it does not know: Windows'
/// ERROR_BAD_LENGTH; Wine gives ERROR_INSUFFICIENT_BUFFER.
DWORD snapshotEntrySizeError();

}  // namespace vdksvc::e2e
