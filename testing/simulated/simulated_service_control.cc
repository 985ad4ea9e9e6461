// Starting, controlling and querying simulated services. Pending states are
// not advanced by a clock tick: each service records when its pending state
// ends, and its state is worked out from the virtual time whenever asked.

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "simulated/simulated_platform.h"
#include "simulated/simulated_state.h"

namespace vdksvc {
namespace {

using World = SimulatedWorld;
using Service = World::Service;

void fillStatus(const World& s, const Service& service, ServiceStatus& status) {
  const Dword current = s.stateOf(service);
  status = ServiceStatus{};
  status.dwServiceType = service.config.serviceType;
  status.dwCurrentState = current;
  // A service takes controls only once it has settled in a running or paused state.
  if (current == svc::kRunning || current == svc::kPaused) {
    status.dwControlsAccepted = service.config.controlsAccepted;
  }
  if (World::isPending(current)) {
    // A service making progress raises its checkpoint; a hung one stops.
    const std::uint64_t elapsed =
        std::min(s.nowMs - s.pendingSinceOf(service), service.config.progressMs);
    status.dwCheckPoint = static_cast<Dword>(1 + elapsed / 1000);
    status.dwWaitHint = service.config.waitHintMs;
  }
}

/// Writes \a actions at the start of \a buffer as SERVICE_FAILURE_ACTIONSA,
/// pointing to its array of actions, which it writes \a at bytes into it.
void writeFailureActions(const std::vector<ScAction>& actions, std::size_t at,
                         unsigned char* buffer) {
  ServiceFailureActions head;
  head.cActions = static_cast<Dword>(actions.size());
  unsigned char* array = buffer + at;
  if (!actions.empty()) head.lpsaActions = reinterpret_cast<ScAction*>(array);
  std::memcpy(buffer, &head, sizeof head);
  if (!actions.empty()) std::memcpy(array, actions.data(), actions.size() * sizeof(ScAction));
}

/// What a start will change: the stopped dependencies to start, in the order
/// they start, each with the virtual time at which it will be running.
struct StartPlan {
  std::vector<std::pair<Service*, std::uint64_t>> starts;  ///< service, running at
  std::set<std::uint64_t> onPath;                          ///< to stop at a cycle
};

/// Plans the start of the dependencies of \a service, theirs first, and sets
/// \a readyAt to the time when all of them will be running. Nothing changes
/// yet, so a refused start leaves every service as it was.
Dword planDependencies(World& s, const Service& service, StartPlan& plan, std::uint64_t& readyAt) {
  readyAt = s.nowMs;
  for (const std::string& name : service.config.dependencies) {
    if (!name.empty() && name[0] == '+') continue;  // load-order groups are not modelled
    Service* dependency = s.findService(name);
    if (dependency == nullptr || dependency->markedForDelete)
      return winerr::kServiceDependencyDeleted;
    if (plan.onPath.contains(dependency->id)) return simerr::kCircularDependency;
    const auto planned = std::find_if(plan.starts.begin(), plan.starts.end(),
                                      [&](const auto& step) { return step.first == dependency; });
    std::uint64_t runningAt = s.nowMs;
    const Dword current = s.stateOf(*dependency);
    if (planned != plan.starts.end()) {
      runningAt = planned->second;
    } else if (current == svc::kStopped) {
      if (dependency->config.startType == svc::kDisabled) return winerr::kServiceDependencyFail;
      plan.onPath.insert(dependency->id);
      std::uint64_t itsReady = 0;
      const Dword error = planDependencies(s, *dependency, plan, itsReady);
      plan.onPath.erase(dependency->id);
      // Whatever stopped the dependency from starting, this service sees it as
      // a dependency that failed.
      if (error != winerr::kSuccess) {
        return error == simerr::kCircularDependency ? error : winerr::kServiceDependencyFail;
      }
      runningAt = World::later(itsReady, dependency->config.startPendingMs);
      plan.starts.emplace_back(dependency, runningAt);
    } else if (current == svc::kStopPending) {
      return winerr::kServiceDependencyFail;
    } else if (current == svc::kStartPending) {
      runningAt = dependency->pendingUntil;
    }
    readyAt = std::max(readyAt, runningAt);
  }
  return winerr::kSuccess;
}

/// True when a service that is not stopped depends on \a service: the manager
/// then refuses to stop it.
bool hasActiveDependent(const World& s, const Service& service) {
  return std::ranges::any_of(s.services, [&](const auto& entry) {
    const Service& other = entry.second;
    if (s.gone(other) || s.stateOf(other) == svc::kStopped) return false;
    return std::ranges::any_of(other.config.dependencies, [&](const std::string& dependency) {
      return World::sameName(dependency, service.config.name);
    });
  });
}

}  // namespace

bool SimulatedPlatform::StartServiceA(RawScHandle handle, Dword numArgs, const char** args) {
  World& s = *state_;
  s.log("StartServiceA " + s.scName(handle));
  Service* service = s.serviceFor(handle, svc::kServiceStart);
  if (service == nullptr) return false;
  StartPlan plan;
  std::uint64_t readyAt = s.nowMs;
  Dword error = winerr::kSuccess;
  if (numArgs > 0 && args == nullptr) {
    error = winerr::kInvalidParameter;
  } else if (service->markedForDelete) {
    error = winerr::kServiceMarkedForDelete;
  } else if (service->config.startType == svc::kDisabled) {
    error = winerr::kServiceDisabled;
  } else if (s.stateOf(*service) != svc::kStopped ||
             s.liveProcess(service->config.processId) != nullptr) {
    error = winerr::kServiceAlreadyRunning;
  } else {
    plan.onPath.insert(service->id);
    error = planDependencies(s, *service, plan, readyAt);
  }
  if (error != winerr::kSuccess) {
    s.lastError = error;
    return false;
  }
  // Stopped dependencies start first; the service itself reports start-pending
  // until they run and its own start time has passed.
  for (const auto& [dependency, runningAt] : plan.starts) {
    s.enter(*dependency, svc::kStartPending, 0);
    dependency->pendingUntil = runningAt;
  }
  s.enter(*service, svc::kStartPending, 0);
  service->pendingUntil = World::later(readyAt, service->config.startPendingMs);
  return true;
}

bool SimulatedPlatform::ControlService(RawScHandle handle, Dword control, ServiceStatus* status) {
  World& s = *state_;
  s.log("ControlService " + s.scName(handle) + " " + std::to_string(control));
  Dword right = 0;
  Dword acceptBit = 0;
  switch (control) {
    case svc::kControlStop:
      right = svc::kServiceStop;
      acceptBit = svc::kAcceptStop;
      break;
    case svc::kControlPause:
    case svc::kControlContinue:
      right = svc::kServicePauseContinue;
      acceptBit = svc::kAcceptPauseContinue;
      break;
    case svc::kControlInterrogate:
      right = access::kServiceInterrogate;
      break;
    default:
      // 128-255 are the service's own controls; the rest are not for ControlService.
      right = access::kServiceUserDefinedControl;
      break;
  }
  Service* service = s.serviceFor(handle, right);
  if (service == nullptr) return false;
  if (status == nullptr) {
    s.lastError = winerr::kInvalidAddress;
    return false;
  }
  if (control > svc::kControlInterrogate && (control < 128 || control > 255)) {
    s.lastError = winerr::kInvalidParameter;
    return false;
  }
  const Dword current = s.stateOf(*service);
  // The manager fills the status record on success and on exactly these three
  // refusals; on any other failure the caller's record is left alone.
  Dword refusal = winerr::kSuccess;
  if (current == svc::kStopped) {
    refusal = winerr::kServiceNotActive;
  } else if (World::isPending(current)) {
    refusal = winerr::kServiceCannotAcceptCtrl;
  } else if ((service->config.controlsAccepted & acceptBit) != acceptBit) {
    refusal = winerr::kInvalidServiceControl;
  }
  if (refusal != winerr::kSuccess) {
    fillStatus(s, *service, *status);
    s.lastError = refusal;
    return false;
  }
  if (control == svc::kControlStop) {
    if (hasActiveDependent(s, *service)) {
      s.lastError = winerr::kDependentServicesRunning;
      return false;
    }
    s.enter(*service, svc::kStopPending, service->config.stopPendingMs);
  } else if (control == svc::kControlPause && current == svc::kRunning) {
    s.enter(*service, svc::kPausePending, service->config.pausePendingMs);
  } else if (control == svc::kControlContinue && current == svc::kPaused) {
    s.enter(*service, svc::kContinuePending, service->config.continuePendingMs);
  }
  // Pausing a paused service or continuing a running one reaches the service,
  // which reports the state it is in.
  fillStatus(s, *service, *status);
  return true;
}

bool SimulatedPlatform::QueryServiceConfig2A(RawScHandle handle, Dword infoLevel,
                                             unsigned char* buffer, Dword bufferSize,
                                             Dword* bytesNeeded) {
  World& s = *state_;
  s.log("QueryServiceConfig2A " + s.scName(handle) + " " + std::to_string(infoLevel));
  Service* service = s.serviceFor(handle, svc::kServiceQueryConfig);
  if (service == nullptr) return false;
  if (bytesNeeded == nullptr) {
    s.lastError = winerr::kInvalidAddress;
    return false;
  }
  if (infoLevel != svc::kConfigFailureActions) {
    s.lastError = winerr::kInvalidLevel;
    return false;
  }
  const std::vector<ScAction>& actions = service->config.failureActions;
  const std::size_t at = std::max(sizeof(ServiceFailureActions), service->config.failureActionsAt);
  const auto needed = static_cast<Dword>(at + actions.size() * sizeof(ScAction));
  *bytesNeeded = needed;
  if (buffer == nullptr || bufferSize < needed) {
    s.lastError = winerr::kInsufficientBuffer;
    return false;
  }
  writeFailureActions(actions, at, buffer);
  return true;
}

bool SimulatedPlatform::QueryServiceStatusEx(RawScHandle handle, int infoLevel,
                                             unsigned char* buffer, Dword bufferSize,
                                             Dword* bytesNeeded) {
  World& s = *state_;
  s.log("QueryServiceStatusEx " + s.scName(handle));
  Service* service = s.serviceFor(handle, svc::kServiceQueryStatus);
  if (service == nullptr) return false;
  if (bytesNeeded == nullptr || service->config.queryFails) {
    s.lastError = bytesNeeded == nullptr ? winerr::kInvalidAddress : winerr::kAccessDenied;
    return false;
  }
  if (infoLevel != svc::kStatusProcessInfo) {
    s.lastError = winerr::kInvalidLevel;
    return false;
  }
  *bytesNeeded = sizeof(ServiceStatusProcess);
  if (buffer == nullptr || bufferSize < sizeof(ServiceStatusProcess)) {
    s.lastError = winerr::kInsufficientBuffer;
    return false;
  }
  ServiceStatus status;
  fillStatus(s, *service, status);
  ServiceStatusProcess full;
  full.dwServiceType = status.dwServiceType;
  full.dwCurrentState = status.dwCurrentState;
  full.dwControlsAccepted = status.dwControlsAccepted;
  full.dwCheckPoint = status.dwCheckPoint;
  full.dwWaitHint = status.dwWaitHint;
  // A stopped service has no process.
  if (status.dwCurrentState != svc::kStopped) full.dwProcessId = service->config.processId;
  std::memcpy(buffer, &full, sizeof full);
  return true;
}

bool SimulatedPlatform::QueryServiceConfigA(RawScHandle handle, unsigned char* buffer,
                                            Dword bufferSize, Dword* bytesNeeded) {
  World& s = *state_;
  s.log("QueryServiceConfigA " + s.scName(handle));
  Service* service = s.serviceFor(handle, svc::kServiceQueryConfig);
  if (service == nullptr) return false;
  if (bytesNeeded == nullptr) {
    s.lastError = winerr::kInvalidAddress;
    return false;
  }
  const World::ServiceConfig& config = service->config;
  std::string dependencies;
  for (const std::string& name : config.dependencies) dependencies += name + '\0';
  dependencies += '\0';
  const std::string displayName = config.displayName.empty() ? config.name : config.displayName;
  // The texts after the structure, each with its NUL: the path, an empty load
  // order group, the dependencies, the account and the display name.
  const std::string texts =
      config.binaryPath + '\0' + '\0' + dependencies + "LocalSystem" + '\0' + displayName + '\0';
  const auto needed = static_cast<Dword>(sizeof(ServiceConfigData) + texts.size());
  *bytesNeeded = needed;
  if (buffer == nullptr || bufferSize < needed) {
    s.lastError = winerr::kInsufficientBuffer;
    return false;
  }
  char* text = reinterpret_cast<char*>(buffer + sizeof(ServiceConfigData));
  std::copy(texts.begin(), texts.end(), text);
  ServiceConfigData head;
  head.dwServiceType = config.serviceType;
  head.dwStartType = config.startType;
  head.dwErrorControl = config.errorControl;
  head.lpBinaryPathName = text;
  head.lpLoadOrderGroup = text + config.binaryPath.size() + 1;
  head.lpDependencies = head.lpLoadOrderGroup + 1;
  head.lpServiceStartName = head.lpDependencies + dependencies.size();
  head.lpDisplayName = head.lpServiceStartName + sizeof "LocalSystem";
  std::memcpy(buffer, &head, sizeof head);
  return true;
}

bool SimulatedPlatform::QueryServiceStatus(RawScHandle handle, ServiceStatus* status) {
  World& s = *state_;
  s.log("QueryServiceStatus " + s.scName(handle));
  Service* service = s.serviceFor(handle, svc::kServiceQueryStatus);
  if (service == nullptr) return false;
  if (status == nullptr || service->config.queryFails) {
    s.lastError = status == nullptr ? winerr::kInvalidAddress : winerr::kAccessDenied;
    return false;
  }
  fillStatus(s, *service, *status);
  return true;
}

}  // namespace vdksvc
