// vdk_testsvc.exe: a real own-process Win32 service whose behaviour comes from the
// arguments on its own command line (the service's binary path), so that the
// end-to-end tests can give vdksvc slow, stubborn or lingering services:
//
//   --start-pending-ms N     report START_PENDING for N ms before RUNNING
//   --stop-pending-ms N      report STOP_PENDING for N ms before STOPPED
//   --pause-pending-ms N     report PAUSE_PENDING for N ms before PAUSED
//   --continue-pending-ms N  report CONTINUE_PENDING for N ms before RUNNING
//   --no-stop                do not accept the stop control
//   --no-pause               do not accept pause and continue
//   --ignore-stop            accept stop but never leave STOP_PENDING
//   --hang-stop              accept stop, report STOP_PENDING once and then
//                            nothing more: its checkpoint never rises (hung)
//   --hang-start             report START_PENDING once and then nothing more:
//                            never RUNNING, and its checkpoint never rises
//   --linger-ms N            keep the process alive N ms after reporting STOPPED
//   --max-life-ms N          end the process after N ms whatever happens
//                            (default 300000), so no test leaves it behind
//   --log PATH               append one line per event to PATH, each opening
//                            with its time in milliseconds of
//                            QueryPerformanceCounter, the clock vdk_run.exe
//                            --clock reports; a line that tells of a state
//                            ("running", "paused", "stopped") carries the
//                            moment the service reported it
//   --spawn-worker           once running, start a worker: a second process of
//                            this program file that outlives the service
//   --worker                 be that worker: not a service, just sleep until the
//                            life limit
//
// While pending it reports rising checkpoints with a wait hint, every 100 ms.
// Exit codes: 0 after a normal stop, 2 for a bad command line, 3 when the life
// limit ended it (the worker's only way to end by itself), 4 when it was not
// started by the service control manager.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32_include.h"

namespace {

struct Behaviour {
  DWORD startPendingMs = 0;
  DWORD stopPendingMs = 0;
  DWORD pausePendingMs = 0;
  DWORD continuePendingMs = 0;
  DWORD lingerMs = 0;
  DWORD maxLifeMs = 300000;
  bool noStop = false;
  bool noPause = false;
  bool ignoreStop = false;
  bool hangStop = false;
  bool hangStart = false;
  bool spawnWorker = false;
  bool worker = false;
  std::string logPath;
};

// ServiceMain and the control handler receive no context from main(), so the
// behaviour and the status live at file scope; the lock guards the status,
// which both the handler thread and the service thread report.
Behaviour gBehaviour;
CRITICAL_SECTION gLock;
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
SERVICE_STATUS gStatus{};
HANDLE gRequestEvent = nullptr;
std::atomic<DWORD> gRequest{0};
// When STOPPED was reported; main() logs it, as the process may end as soon as
// the report is made.
std::atomic<double> gStoppedAt{0};

constexpr DWORD kPendingStepMs = 100;
constexpr DWORD kWaitHintMs = 2000;

/// Milliseconds of QueryPerformanceCounter: one clock for every process of the machine.
double nowMs() {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER counter{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

/// Appends \a line, stamped with \a at, to the log.
void logEvent(const std::string& line, double at = nowMs()) {
  if (gBehaviour.logPath.empty()) return;
  FILE* file = std::fopen(gBehaviour.logPath.c_str(), "a");
  if (file == nullptr) return;
  std::fprintf(file, "%.3f %s\n", at, line.c_str());
  std::fclose(file);
}

DWORD acceptedControls() {
  DWORD accepted = 0;
  if (!gBehaviour.noStop) accepted |= SERVICE_ACCEPT_STOP;
  if (!gBehaviour.noPause) accepted |= SERVICE_ACCEPT_PAUSE_CONTINUE;
  return accepted;
}

bool isPending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
         state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
}

/// Reports \a state; pending states accept no controls and carry a checkpoint.
/// Returns the time of the report, taken just before SetServiceStatus.
double report(DWORD state, DWORD checkPoint = 0, DWORD exitCode = NO_ERROR) {
  EnterCriticalSection(&gLock);
  gStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  gStatus.dwCurrentState = state;
  gStatus.dwControlsAccepted =
      isPending(state) || state == SERVICE_STOPPED ? 0 : acceptedControls();
  gStatus.dwWin32ExitCode = exitCode;
  gStatus.dwServiceSpecificExitCode = 0;
  gStatus.dwCheckPoint = isPending(state) ? checkPoint : 0;
  gStatus.dwWaitHint = isPending(state) ? kWaitHintMs : 0;
  const double at = nowMs();
  if (state == SERVICE_STOPPED) gStoppedAt = at;
  SetServiceStatus(gStatusHandle, &gStatus);
  LeaveCriticalSection(&gLock);
  return at;
}

/// Stays in the pending \a state for \a ms, reporting a rising checkpoint.
void stayPending(DWORD state, DWORD ms) {
  DWORD checkPoint = 1;
  report(state, checkPoint);
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    Sleep(kPendingStepMs);
    report(state, ++checkPoint);
  }
}

DWORD WINAPI controlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  logEvent("control " + std::to_string(control));
  switch (control) {
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    case SERVICE_CONTROL_STOP:
      if (gBehaviour.noStop) return ERROR_CALL_NOT_IMPLEMENTED;
      // Report the pending state before returning, so that ControlService hands
      // the caller STOP_PENDING rather than the stale RUNNING.
      report(SERVICE_STOP_PENDING, 1);
      break;
    case SERVICE_CONTROL_PAUSE:
      if (gBehaviour.noPause) return ERROR_CALL_NOT_IMPLEMENTED;
      report(SERVICE_PAUSE_PENDING, 1);
      break;
    case SERVICE_CONTROL_CONTINUE:
      if (gBehaviour.noPause) return ERROR_CALL_NOT_IMPLEMENTED;
      report(SERVICE_CONTINUE_PENDING, 1);
      break;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
  gRequest.store(control);
  SetEvent(gRequestEvent);
  return NO_ERROR;
}

/// Starts this program file once more as a worker, with the same life limit and log.
void spawnWorker() {
  char program[MAX_PATH + 1] = {};
  if (GetModuleFileNameA(nullptr, program, MAX_PATH) == 0) return;
  std::string line = std::string("\"") + program + "\" --worker --max-life-ms " +
                     std::to_string(gBehaviour.maxLifeMs);
  if (!gBehaviour.logPath.empty()) line += " --log \"" + gBehaviour.logPath + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    logEvent("spawned worker " + std::to_string(info.dwProcessId));
  }
}

void WINAPI serviceMain(DWORD argc, LPSTR* argv) {
  const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  logEvent(std::string("main ") + name);
  gStatusHandle = RegisterServiceCtrlHandlerExA(name, controlHandler, nullptr);
  if (gStatusHandle == nullptr) return;

  if (gBehaviour.hangStart) {
    // Nothing follows but the life limit in main().
    logEvent("start hung", report(SERVICE_START_PENDING, 1));
    Sleep(INFINITE);
  }
  if (gBehaviour.startPendingMs > 0) stayPending(SERVICE_START_PENDING, gBehaviour.startPendingMs);
  logEvent("running", report(SERVICE_RUNNING));
  if (gBehaviour.spawnWorker) spawnWorker();

  for (;;) {
    WaitForSingleObject(gRequestEvent, INFINITE);
    switch (gRequest.exchange(0)) {
      case SERVICE_CONTROL_STOP:
        // The handler reported STOP_PENDING with checkpoint 1; nothing follows
        // but the life limit in main().
        if (gBehaviour.hangStop) Sleep(INFINITE);
        if (gBehaviour.ignoreStop) {
          // The life limit in main() ends this; until then it looks busy.
          for (DWORD checkPoint = 2;; ++checkPoint) {
            Sleep(500);
            report(SERVICE_STOP_PENDING, checkPoint);
          }
        }
        stayPending(SERVICE_STOP_PENDING, gBehaviour.stopPendingMs);
        report(SERVICE_STOPPED);
        return;
      case SERVICE_CONTROL_PAUSE:
        stayPending(SERVICE_PAUSE_PENDING, gBehaviour.pausePendingMs);
        logEvent("paused", report(SERVICE_PAUSED));
        break;
      case SERVICE_CONTROL_CONTINUE:
        stayPending(SERVICE_CONTINUE_PENDING, gBehaviour.continuePendingMs);
        logEvent("running", report(SERVICE_RUNNING));
        break;
      default:
        break;
    }
  }
}

DWORD WINAPI lifeLimit(LPVOID) {
  Sleep(gBehaviour.maxLifeMs);
  logEvent("life limit");
  ExitProcess(3);
}

bool parseNumber(const char* text, DWORD* value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text, &end, 10);
  if (*end != '\0') return false;
  *value = static_cast<DWORD>(parsed);
  return true;
}

bool parseArguments(int argc, char** argv, Behaviour* behaviour) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    DWORD* number = nullptr;
    if (flag == "--start-pending-ms")
      number = &behaviour->startPendingMs;
    else if (flag == "--stop-pending-ms")
      number = &behaviour->stopPendingMs;
    else if (flag == "--pause-pending-ms")
      number = &behaviour->pausePendingMs;
    else if (flag == "--continue-pending-ms")
      number = &behaviour->continuePendingMs;
    else if (flag == "--linger-ms")
      number = &behaviour->lingerMs;
    else if (flag == "--max-life-ms")
      number = &behaviour->maxLifeMs;

    if (number != nullptr) {
      if (!parseNumber(next, number)) return false;
      ++i;
    } else if (flag == "--no-stop") {
      behaviour->noStop = true;
    } else if (flag == "--no-pause") {
      behaviour->noPause = true;
    } else if (flag == "--ignore-stop") {
      behaviour->ignoreStop = true;
    } else if (flag == "--hang-stop") {
      behaviour->hangStop = true;
    } else if (flag == "--hang-start") {
      behaviour->hangStart = true;
    } else if (flag == "--spawn-worker") {
      behaviour->spawnWorker = true;
    } else if (flag == "--worker") {
      behaviour->worker = true;
    } else if (flag == "--log" && next != nullptr) {
      behaviour->logPath = next;
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!parseArguments(argc, argv, &gBehaviour)) return 2;
  if (gBehaviour.worker) {
    logEvent("worker " + std::to_string(GetCurrentProcessId()));
    Sleep(gBehaviour.maxLifeMs);
    logEvent("worker life limit");
    return 3;
  }
  InitializeCriticalSection(&gLock);
  gRequestEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE limit = CreateThread(nullptr, 0, lifeLimit, nullptr, 0, nullptr);
  if (gRequestEvent == nullptr || limit == nullptr) return 2;
  CloseHandle(limit);

  // An own-process service may leave its name empty in the table.
  static char emptyName[] = "";
  const SERVICE_TABLE_ENTRYA table[] = {{emptyName, serviceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) return 4;

  if (gStoppedAt > 0) logEvent("stopped", gStoppedAt);
  logEvent("dispatcher returned");
  if (gBehaviour.lingerMs > 0) Sleep(gBehaviour.lingerMs);
  logEvent("exit");
  return 0;
}
