#include "services/state_name.h"

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

}  // namespace vdksvc
