#include "services/service_names.h"

namespace vdksvc {

const char* stateName(Dword state) {
  switch (state) {
    case svc::kStopped:
      return "STOPPED";
    case svc::kStartPending:
      return "START_PENDING";
    case svc::kStopPending:
      return "STOP_PENDING";
    case svc::kRunning:
      return "RUNNING";
    case svc::kContinuePending:
      return "CONTINUE_PENDING";
    case svc::kPausePending:
      return "PAUSE_PENDING";
    case svc::kPaused:
      return "PAUSED";
    default:
      return "UNKNOWN";
  }
}

const char* startTypeName(Dword startType) {
  switch (startType) {
    case svc::kBootStart:
      return "boot";
    case svc::kSystemStart:
      return "system";
    case svc::kAutoStart:
      return "auto";
    case svc::kDemandStart:
      return "demand";
    case svc::kDisabled:
      return "disabled";
    default:
      return nullptr;
  }
}

}  // namespace vdksvc
