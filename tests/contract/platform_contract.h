#pragma once
// Checks of what the service operations rely on in Windows' own behaviour,
// written once against the Platform interface: the unit tests run them on the
// simulated Windows, the end-to-end tests on the real one, so that the model is
// held to the real thing.

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace vdksvc::contract {

/// \a name is a running service that takes two seconds or more to stop and
/// raises its checkpoint meanwhile. Asked to stop, it reports STOP_PENDING with
/// a wait hint; a start is then refused with ERROR_SERVICE_ALREADY_RUNNING and a
/// second stop with ERROR_SERVICE_CANNOT_ACCEPT_CTRL; its checkpoint rises
/// within a second.
void stopThatMakesProgress(Platform& platform, const std::string& name);

/// \a name is a running service that, asked to stop, reports STOP_PENDING once
/// and nothing more: a second later its checkpoint has not risen, and it still
/// gives its wait hint.
void hungStop(Platform& platform, const std::string& name);

/// \a name is a running service that, asked to stop, reports STOPPED
/// \a stopsAfterMs later: the operations' wait sees it so within 300 ms more.
void waitEndsSoonAfterTheStop(Platform& platform, const std::string& name,
                              std::uint64_t stopsAfterMs);

/// \a path and \a samePath name one file and \a otherPath another on the same
/// volume: FILE_ID_INFO gives the same 128-bit id and volume for the first two,
/// another id for the third, and the volume's serial number that
/// GetFileInformationByHandle gives in its lower half.
void fileIdentity(Platform& platform, const std::string& path, const std::string& samePath,
                  const std::string& otherPath);

}  // namespace vdksvc::contract
