// The simulated service control manager. It answers as the real one is
// documented to (and as Wine's advapi32 tests show it does): the same error
// codes, the same rules for deletion while handles are open, the same refusal
// of controls during a pending state. A pending state lasts the scripted number
// of virtual milliseconds and is evaluated whenever the state is looked at.

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "simulated/simulated_platform.h"
#include "simulated/simulated_state.h"

namespace vdksvc {
namespace {

using World = SimulatedWorld;
using Service = World::Service;
using Kind = World::Kind;

constexpr std::size_t kMaxServiceNameLength = 256;
constexpr Dword kKernelDriver = 0x1;
constexpr Dword kFileSystemDriver = 0x2;
constexpr Dword kInteractiveProcess = 0x100;

Dword settledAfter(Dword pending) {
  switch (pending) {
    case svc::kStartPending:
    case svc::kContinuePending:
      return svc::kRunning;
    case svc::kStopPending:
      return svc::kStopped;
    case svc::kPausePending:
      return svc::kPaused;
    default:
      return pending;
  }
}

bool isDriver(Dword type) { return type == kKernelDriver || type == kFileSystemDriver; }

bool validType(Dword type) {
  const Dword own = type & ~kInteractiveProcess;
  if (own != type) return own == svc::kWin32OwnProcess || own == svc::kWin32ShareProcess;
  return isDriver(type) || type == svc::kWin32OwnProcess || type == svc::kWin32ShareProcess;
}

// Boot and system start only exist for drivers.
bool validStart(Dword type, Dword start) {
  if (start == svc::kBootStart || start == svc::kSystemStart) return isDriver(type);
  return start == svc::kAutoStart || start == svc::kDemandStart || start == svc::kDisabled;
}

bool validName(const char* name) {
  const std::size_t length = std::strlen(name);
  return length > 0 && length <= kMaxServiceNameLength && std::strchr(name, '/') == nullptr &&
         std::strchr(name, '\\') == nullptr;
}

// Generic rights map onto the service's own rights as the manager's generic
// mapping does.
Dword serviceRights(Dword desired) {
  if ((desired & (access::kGenericAll | access::kMaximumAllowed)) != 0)
    return svc::kServiceAllAccess;
  Dword rights = desired;
  if ((desired & access::kGenericRead) != 0) {
    rights |= access::kReadControl | svc::kServiceQueryConfig | svc::kServiceQueryStatus |
              access::kServiceEnumerateDependents | access::kServiceInterrogate;
  }
  if ((desired & access::kGenericWrite) != 0) {
    rights |= access::kReadControl | svc::kServiceChangeConfig;
  }
  if ((desired & access::kGenericExecute) != 0) {
    rights |= access::kReadControl | svc::kServiceStart | svc::kServiceStop |
              svc::kServicePauseContinue | access::kServiceUserDefinedControl;
  }
  return rights;
}

Dword managerRights(Dword desired) {
  if ((desired & (access::kGenericAll | access::kMaximumAllowed)) != 0)
    return svc::kManagerAllAccess;
  Dword rights = desired;
  if ((desired & access::kGenericWrite) != 0) rights |= svc::kManagerCreateService;
  return rights;
}

/// A double-NUL-terminated list of names, as CreateServiceA takes dependencies.
std::vector<std::string> splitMultiText(const char* list) {
  std::vector<std::string> names;
  for (const char* p = list; *p != '\0'; p += std::strlen(p) + 1) names.emplace_back(p);
  return names;
}

std::string shown(const char* text) { return text == nullptr ? "(null)" : text; }

}  // namespace

// --- The service table ---

bool SimulatedWorld::isPending(Dword state) {
  return state == svc::kStartPending || state == svc::kStopPending ||
         state == svc::kContinuePending || state == svc::kPausePending;
}

std::optional<std::uint64_t> SimulatedWorld::failedAt(const Service& service) const {
  if (service.config.processId == 0) return std::nullopt;
  for (const Process& process : processes) {
    const std::uint64_t at = process.endAtMs;
    // An end at the very moment the state was entered is the old program's: a
    // start is taken only once that program is gone.
    if (process.config.processId != service.config.processId || at > nowMs ||
        at <= service.pendingSince) {
      continue;
    }
    const bool settled = isPending(service.state) && at >= service.pendingUntil;
    if ((settled ? settledAfter(service.state) : service.state) != svc::kStopped) return at;
  }
  return std::nullopt;
}

std::uint64_t SimulatedWorld::restartAt(const Service& service) const {
  const std::optional<std::uint64_t> failed = failedAt(service);
  const std::vector<ScAction>& actions = service.config.failureActions;
  if (!failed || actions.empty() || actions.front().Type != svc::kActionRestart ||
      service.markedForDelete) {
    return kForever;
  }
  return later(later(*failed, stoppedLagMs), actions.front().Delay);
}

Dword SimulatedWorld::stateOf(const Service& service) const {
  if (const std::optional<std::uint64_t> failed = failedAt(service)) {
    // Until the manager has seen the end, the state stays what it was then.
    if (nowMs < later(*failed, stoppedLagMs)) {
      const bool settled = isPending(service.state) && *failed >= service.pendingUntil;
      return settled ? settledAfter(service.state) : service.state;
    }
    // The manager saw the process end without a report of STOPPED, and takes
    // the recovery action once its delay has passed.
    const std::uint64_t restart = restartAt(service);
    if (nowMs < restart) return svc::kStopped;
    return nowMs >= later(restart, service.config.startPendingMs) ? svc::kRunning
                                                                  : svc::kStartPending;
  }
  if (isPending(service.state) && nowMs >= service.pendingUntil) {
    return settledAfter(service.state);
  }
  return service.state;
}

std::uint64_t SimulatedWorld::pendingSinceOf(const Service& service) const {
  const std::uint64_t restart = restartAt(service);
  return nowMs >= restart ? restart : service.pendingSince;
}

void SimulatedWorld::enter(Service& service, Dword pendingState, std::uint64_t durationMs) const {
  service.state = pendingState;
  service.pendingSince = nowMs;
  service.pendingUntil = later(nowMs, durationMs);
}

// A service marked for deletion vanishes once it is stopped and its last
// handle is closed, in whichever order those happen.
bool SimulatedWorld::gone(const Service& service) const {
  return service.markedForDelete && service.openHandles == 0 && nowMs >= service.heldUntil &&
         stateOf(service) == svc::kStopped;
}

SimulatedWorld::Service* SimulatedWorld::findService(std::string_view name) {
  for (auto& [id, service] : services) {
    if (!gone(service) && sameName(service.config.name, name)) return &service;
  }
  return nullptr;
}

const SimulatedWorld::Service* SimulatedWorld::findService(std::string_view name) const {
  for (const auto& [id, service] : services) {
    if (!gone(service) && sameName(service.config.name, name)) return &service;
  }
  return nullptr;
}

void SimulatedWorld::removeGoneServices() {
  std::erase_if(services, [this](const auto& entry) { return gone(entry.second); });
}

std::string SimulatedWorld::scName(const void* handle) {
  if (handleOf(handle, Kind::kManager) != nullptr) return "manager";
  if (const World::Handle* h = handleOf(handle, Kind::kService))
    return services.at(h->serviceId).config.name;
  return "(invalid)";
}

SimulatedWorld::Service* SimulatedWorld::serviceFor(const void* handle, Dword right) {
  const World::Handle* h = handleOf(handle, Kind::kService);
  if (h == nullptr) {
    lastError = winerr::kInvalidHandle;
    return nullptr;
  }
  if ((h->access & right) != right) {
    lastError = winerr::kAccessDenied;
    return nullptr;
  }
  return &services.at(h->serviceId);
}

namespace {

/// True when following dependencies from \a names reaches \a target.
bool reaches(const World& s, const std::vector<std::string>& names, std::string_view target,
             std::set<std::uint64_t>& seen) {
  for (const std::string& name : names) {
    if (World::sameName(name, target)) return true;
    const Service* next = s.findService(name);
    if (next != nullptr && seen.insert(next->id).second &&
        reaches(s, next->config.dependencies, target, seen)) {
      return true;
    }
  }
  return false;
}

bool circular(const World& s, const std::vector<std::string>& dependencies, std::string_view name) {
  std::set<std::uint64_t> seen;
  return reaches(s, dependencies, name, seen);
}

/// A display name clashes when another service already has it as its name or
/// its display name.
bool displayNameTaken(const World& s, std::string_view displayName, std::uint64_t self) {
  return std::ranges::any_of(s.services, [&](const auto& entry) {
    const auto& [id, service] = entry;
    return id != self && !s.gone(service) &&
           (World::sameName(service.config.name, displayName) ||
            World::sameName(service.config.displayName, displayName));
  });
}

}  // namespace

// --- Seeding and inspection ---

void SimulatedPlatform::addService(const ServiceConfig& config) {
  World& s = *state_;
  if (config.name.empty() || s.findService(config.name) != nullptr) {
    throw std::invalid_argument("addService: empty or duplicate service name " + config.name);
  }
  if (config.state != svc::kStopped && config.state != svc::kRunning &&
      config.state != svc::kPaused) {
    throw std::invalid_argument("addService: seed a settled state for " + config.name);
  }
  Service service;
  service.id = s.nextServiceId++;
  service.config = config;
  if (service.config.displayName.empty()) service.config.displayName = config.name;
  service.state = config.state;
  s.services.emplace(service.id, std::move(service));
}

std::optional<SimulatedPlatform::ServiceView> SimulatedPlatform::service(
    const std::string& name) const {
  const Service* found = state_->findService(name);
  if (found == nullptr) return std::nullopt;
  return ServiceView{found->config, state_->stateOf(*found), found->markedForDelete};
}

void SimulatedPlatform::deleteService(const std::string& name) {
  Service* found = state_->findService(name);
  if (found == nullptr) throw std::invalid_argument("deleteService: no service " + name);
  found->markedForDelete = true;
  state_->removeGoneServices();
}

void SimulatedPlatform::setStoppedLagMs(std::uint64_t lagMs) { state_->stoppedLagMs = lagMs; }

void SimulatedPlatform::holdService(const std::string& name, std::uint64_t untilMs) {
  Service* found = state_->findService(name);
  if (found == nullptr) throw std::invalid_argument("holdService: no service " + name);
  found->heldUntil = std::max(found->heldUntil, untilMs);
}

void SimulatedPlatform::setQueryFails(const std::string& name, bool fails) {
  Service* found = state_->findService(name);
  if (found == nullptr) throw std::invalid_argument("setQueryFails: no service " + name);
  found->config.queryFails = fails;
}

void SimulatedPlatform::setManagerOpenRefused(bool refused) {
  state_->managerOpenRefused = refused;
}

void SimulatedPlatform::setGrantedRights(Dword manager, Dword service) {
  state_->managerRightsGranted = manager;
  state_->serviceRightsGranted = service;
}

// --- Platform: service control manager ---

RawScHandle SimulatedPlatform::OpenSCManagerA(const char* machineName, const char* databaseName,
                                              Dword desiredAccess) {
  World& s = *state_;
  s.log("OpenSCManagerA");
  Dword error = winerr::kSuccess;
  if (machineName != nullptr && *machineName != '\0') {
    error = simerr::kServerUnavailable;  // there is no network in here
  } else if (databaseName != nullptr && !World::sameName(databaseName, "ServicesActive")) {
    error = simerr::kDatabaseDoesNotExist;
  } else if (s.managerOpenRefused ||
             (managerRights(desiredAccess) & ~s.managerRightsGranted) != 0) {
    error = winerr::kAccessDenied;
  }
  if (error != winerr::kSuccess) {
    s.lastError = error;
    return nullptr;
  }
  World::Handle handle;
  handle.kind = Kind::kManager;
  // Connecting is implied by every open of the manager.
  handle.access = managerRights(desiredAccess) | svc::kManagerConnect;
  return reinterpret_cast<RawScHandle>(s.issue(std::move(handle)));
}

RawScHandle SimulatedPlatform::OpenServiceA(RawScHandle manager, const char* serviceName,
                                            Dword desiredAccess) {
  World& s = *state_;
  s.log("OpenServiceA " + shown(serviceName));
  Dword error = winerr::kSuccess;
  Service* service = nullptr;
  if (s.handleOf(manager, Kind::kManager) == nullptr) {
    error = winerr::kInvalidHandle;
  } else if (serviceName == nullptr) {
    error = winerr::kInvalidAddress;
  } else if (std::strlen(serviceName) > kMaxServiceNameLength) {
    error = winerr::kInvalidName;
  } else if ((service = s.findService(serviceName)) == nullptr) {
    error = winerr::kServiceDoesNotExist;
  } else if (service->config.openRefused ||
             (serviceRights(desiredAccess) &
              ~(s.serviceRightsGranted & service->config.grantedRights)) != 0) {
    error = winerr::kAccessDenied;
  }
  if (error != winerr::kSuccess) {
    s.lastError = error;
    return nullptr;
  }
  // A service marked for deletion can still be opened: it is in the database
  // until it is gone.
  World::Handle handle;
  handle.kind = Kind::kService;
  handle.access = serviceRights(desiredAccess);
  // Every path that leaves service null has set error and returned above.
  // cppcheck-suppress nullPointerRedundantCheck
  handle.serviceId = service->id;
  // cppcheck-suppress nullPointerRedundantCheck
  ++service->openHandles;
  return reinterpret_cast<RawScHandle>(s.issue(std::move(handle)));
}

RawScHandle SimulatedPlatform::CreateServiceA(
    RawScHandle manager, const char* serviceName, const char* displayName, Dword desiredAccess,
    Dword serviceType, Dword startType, Dword errorControl, const char* binaryPathName,
    const char* /*loadOrderGroup*/, Dword* tagId, const char* dependencies,
    const char* /*serviceStartName*/, const char* /*password*/) {
  World& s = *state_;
  s.log("CreateServiceA " + shown(serviceName));
  s.removeGoneServices();
  const World::Handle* managerHandle = s.handleOf(manager, Kind::kManager);
  const std::vector<std::string> dependencyNames =
      dependencies == nullptr ? std::vector<std::string>{} : splitMultiText(dependencies);
  // Without a display name the service is displayed under its own name.
  const std::string display = displayName == nullptr || *displayName == '\0'
                                  ? shown(serviceName)
                                  : std::string(displayName);
  const Service* existing = serviceName == nullptr ? nullptr : s.findService(serviceName);
  Dword error = winerr::kSuccess;
  if (managerHandle == nullptr) {
    error = winerr::kInvalidHandle;
  } else if ((managerHandle->access & svc::kManagerCreateService) == 0) {
    error = winerr::kAccessDenied;
  } else if (serviceName == nullptr) {
    error = winerr::kInvalidAddress;
  } else if (!validName(serviceName)) {
    error = winerr::kInvalidName;
  } else if (binaryPathName == nullptr || *binaryPathName == '\0' || !validType(serviceType) ||
             !validStart(serviceType, startType) || errorControl > svc::kErrorCritical ||
             tagId != nullptr) {
    // Tags order drivers within a load-order group; a Win32 service has none.
    error = winerr::kInvalidParameter;
  } else if (existing != nullptr) {
    error = existing->markedForDelete ? winerr::kServiceMarkedForDelete : winerr::kServiceExists;
  } else if (displayNameTaken(s, display, 0)) {
    error = winerr::kDuplicateServiceName;
  } else if (circular(s, dependencyNames, serviceName)) {
    error = simerr::kCircularDependency;
  }
  if (error != winerr::kSuccess) {
    s.lastError = error;
    return nullptr;
  }
  // A dependency on a service that does not exist is accepted here; it is
  // StartServiceA that refuses it.
  Service service;
  service.id = s.nextServiceId++;
  service.config.name = serviceName;
  service.config.displayName = display;
  service.config.serviceType = serviceType;
  service.config.startType = startType;
  service.config.errorControl = errorControl;
  service.config.binaryPath = binaryPathName;
  service.config.dependencies = dependencyNames;
  service.openHandles = 1;
  World::Handle handle;
  handle.kind = Kind::kService;
  handle.access = serviceRights(desiredAccess);
  handle.serviceId = service.id;
  s.services.emplace(service.id, std::move(service));
  return reinterpret_cast<RawScHandle>(s.issue(std::move(handle)));
}

bool SimulatedPlatform::ChangeServiceConfigA(RawScHandle handle, Dword serviceType, Dword startType,
                                             Dword errorControl, const char* binaryPathName,
                                             const char* /*loadOrderGroup*/, Dword* tagId,
                                             const char* dependencies,
                                             const char* /*serviceStartName*/,
                                             const char* /*password*/, const char* displayName) {
  World& s = *state_;
  s.log("ChangeServiceConfigA " + s.scName(handle));
  Service* service = s.serviceFor(handle, svc::kServiceChangeConfig);
  if (service == nullptr) return false;
  ServiceConfig& config = service->config;
  const Dword newType = serviceType == svc::kNoChange ? config.serviceType : serviceType;
  const Dword newStart = startType == svc::kNoChange ? config.startType : startType;
  const std::vector<std::string> dependencyNames =
      dependencies == nullptr ? config.dependencies : splitMultiText(dependencies);
  // An empty display name changes nothing, as a null one does.
  const bool newDisplay = displayName != nullptr && *displayName != '\0';
  Dword error = winerr::kSuccess;
  if (service->markedForDelete) {
    error = winerr::kServiceMarkedForDelete;
  } else if (!validType(newType) || !validStart(newType, newStart) ||
             (errorControl != svc::kNoChange && errorControl > svc::kErrorCritical) ||
             (binaryPathName != nullptr && *binaryPathName == '\0') || tagId != nullptr) {
    error = winerr::kInvalidParameter;
  } else if (newDisplay && displayNameTaken(s, displayName, service->id)) {
    error = winerr::kDuplicateServiceName;
  } else if (circular(s, dependencyNames, config.name)) {
    error = simerr::kCircularDependency;
  }
  if (error != winerr::kSuccess) {
    s.lastError = error;
    return false;
  }
  // Only the configuration changes: a running service set to disabled runs on.
  config.serviceType = newType;
  config.startType = newStart;
  if (errorControl != svc::kNoChange) config.errorControl = errorControl;
  if (binaryPathName != nullptr) config.binaryPath = binaryPathName;
  config.dependencies = dependencyNames;
  if (newDisplay) config.displayName = displayName;
  return true;
}

bool SimulatedPlatform::DeleteService(RawScHandle handle) {
  World& s = *state_;
  s.log("DeleteService " + s.scName(handle));
  Service* service = s.serviceFor(handle, svc::kDelete);
  if (service == nullptr) return false;
  if (service->markedForDelete) {
    s.lastError = winerr::kServiceMarkedForDelete;
    return false;
  }
  // Only marked: the service stays, controllable through its open handles,
  // until it is stopped and the last handle is closed.
  service->markedForDelete = true;
  return true;
}

bool SimulatedPlatform::CloseServiceHandle(RawScHandle handle) {
  World& s = *state_;
  s.log("CloseServiceHandle " + s.scName(handle));
  const std::uintptr_t token = World::tokenOf(handle);
  if (const World::Handle* h = s.handleOf(handle, Kind::kService)) {
    --s.services.at(h->serviceId).openHandles;
  } else if (s.handleOf(handle, Kind::kManager) == nullptr) {
    s.lastError = winerr::kInvalidHandle;
    return false;
  }
  s.handles.erase(token);
  s.removeGoneServices();
  return true;
}

}  // namespace vdksvc
