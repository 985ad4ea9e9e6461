// The simulated process table: processes that end by themselves at a scripted
// virtual time or when terminated, Toolhelp snapshots of the live ones, process
// handles with the access they were opened for, and waits that move the clock
// straight to the moment they are satisfied or time out.

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>

#include "simulated/simulated_platform.h"
#include "simulated/simulated_state.h"

namespace vdksvc {
namespace {

using World = SimulatedWorld;
using Kind = World::Kind;

constexpr Dword kStillActive = 259;
constexpr Long kNormalPriority = 8;
/// What a LocalSystem process's default security grants an administrator.
constexpr Dword kGrantedBySystem =
    access::kSynchronize | access::kReadControl | proc::kQueryLimitedInformation;
/// The LUID LookupPrivilegeValueA gives for SeDebugPrivilege (SE_DEBUG_PRIVILEGE).
constexpr Dword kDebugPrivilegeLuid = 20;

Dword processRights(Dword desired) {
  if ((desired & (access::kGenericAll | access::kMaximumAllowed)) != 0)
    return access::kProcessAllAccess;
  return desired;
}

RawHandle fail(World& s, Dword error, RawHandle value) {
  s.lastError = error;
  return value;
}

bool fail(World& s, Dword error) {
  s.lastError = error;
  return false;
}

/// Fills \a entry from the snapshot row \a cursor points at and moves on.
bool nextEntry(World& s, RawHandle snapshot, ProcessEntry32* entry, bool first) {
  World::Handle* h = s.handleOf(snapshot, Kind::kSnapshot);
  if (h == nullptr) return fail(s, winerr::kInvalidHandle);
  if (entry == nullptr) return fail(s, winerr::kInvalidParameter);
  // The size field tells which structure layout the caller compiled against.
  if (entry->dwSize != sizeof(ProcessEntry32)) return fail(s, winerr::kBadLength);
  if (first) h->cursor = 0;
  if (h->cursor >= h->rows.size()) return fail(s, winerr::kNoMoreFiles);
  const World::SnapshotRow& row = h->rows[h->cursor++];
  entry->cntUsage = 0;
  entry->th32ProcessID = row.processId;
  entry->th32DefaultHeapID = 0;
  entry->th32ModuleID = 0;
  entry->cntThreads = 1;
  entry->th32ParentProcessID = 0;
  entry->pcPriClassBase = kNormalPriority;
  entry->dwFlags = 0;
  std::memset(entry->szExeFile, 0, sizeof entry->szExeFile);
  const std::size_t length = std::min(row.imageName.size(), sizeof entry->szExeFile - 1);
  std::memcpy(entry->szExeFile, row.imageName.data(), length);
  return true;
}

}  // namespace

const SimulatedWorld::Process* SimulatedWorld::liveProcess(Dword processId) const {
  for (const Process& process : processes) {
    if (process.config.processId == processId && alive(process)) return &process;
  }
  return nullptr;
}

// --- Seeding and inspection ---

void SimulatedPlatform::addProcess(const ProcessConfig& config) {
  World& s = *state_;
  // An id is reused only after its process has ended, as Windows reuses them.
  if (config.processId == 0 || s.liveProcess(config.processId) != nullptr) {
    throw std::invalid_argument("addProcess: id 0 or the id of a live process: " +
                                std::to_string(config.processId));
  }
  World::Process process;
  process.config = config;
  process.endAtMs = config.exitAtMs;
  s.processes.push_back(std::move(process));
}

void SimulatedPlatform::endProcess(Dword processId, Dword exitCode) {
  World& s = *state_;
  for (World::Process& process : s.processes) {
    if (process.config.processId != processId || !s.alive(process)) continue;
    process.endAtMs = s.nowMs;
    process.exitCode = exitCode;
    return;
  }
  throw std::invalid_argument("endProcess: no live process " + std::to_string(processId));
}

std::optional<SimulatedPlatform::ProcessView> SimulatedPlatform::process(Dword processId) const {
  const World& s = *state_;
  const World::Process* found = s.liveProcess(processId);
  for (auto it = s.processes.rbegin(); found == nullptr && it != s.processes.rend(); ++it) {
    if (it->config.processId == processId) found = &*it;  // the latest one to have ended
  }
  if (found == nullptr) return std::nullopt;
  ProcessView view;
  view.config = found->config;
  view.running = s.alive(*found);
  view.terminated = found->terminated;
  view.exitCode = view.running ? kStillActive : found->exitCode;
  return view;
}

// --- Platform: processes ---

RawHandle SimulatedPlatform::CreateToolhelp32Snapshot(Dword flags, Dword /*processId*/) {
  World& s = *state_;
  s.log("CreateToolhelp32Snapshot");
  // Only the process list is modelled; the id argument matters only for module
  // and heap lists.
  if (flags != proc::kSnapProcess) return fail(s, winerr::kInvalidParameter, invalidHandleValue());
  World::Handle handle;
  handle.kind = Kind::kSnapshot;
  for (const World::Process& process : s.processes) {
    if (s.alive(process))
      handle.rows.push_back({process.config.processId, process.config.imageName});
  }
  return reinterpret_cast<RawHandle>(s.issue(std::move(handle)));
}

bool SimulatedPlatform::Process32First(RawHandle snapshot, ProcessEntry32* entry) {
  state_->log("Process32First");
  return nextEntry(*state_, snapshot, entry, true);
}

bool SimulatedPlatform::Process32Next(RawHandle snapshot, ProcessEntry32* entry) {
  state_->log("Process32Next");
  return nextEntry(*state_, snapshot, entry, false);
}

RawHandle SimulatedPlatform::OpenProcess(Dword desiredAccess, bool /*inheritHandle*/,
                                         Dword processId) {
  World& s = *state_;
  s.log("OpenProcess " + std::to_string(processId));
  const World::Process* process = s.liveProcess(processId);
  if (process == nullptr) return fail(s, winerr::kInvalidParameter, nullptr);
  const Dword rights = processRights(desiredAccess);
  if (process->config.openRefused ||
      (process->config.terminateRefused && (rights & proc::kTerminate) != 0) ||
      (process->config.systemOwned && !s.debugPrivilegeEnabled &&
       (rights & ~kGrantedBySystem) != 0)) {
    return fail(s, winerr::kAccessDenied, nullptr);
  }
  World::Handle handle;
  handle.kind = Kind::kProcess;
  handle.access = rights;
  handle.processIndex = static_cast<std::size_t>(process - s.processes.data());
  return reinterpret_cast<RawHandle>(s.issue(std::move(handle)));
}

Dword SimulatedPlatform::WaitForMultipleObjects(Dword count, const RawHandle* handles, bool waitAll,
                                                Dword milliseconds) {
  World& s = *state_;
  s.log("WaitForMultipleObjects " + std::to_string(count) + " " + std::to_string(milliseconds));
  if (count == 0 || count > proc::kMaximumWaitObjects || handles == nullptr) {
    fail(s, winerr::kInvalidParameter);
    return proc::kWaitFailed;
  }
  // Every handle is checked before any time passes: one bad handle fails the
  // whole wait at once.
  std::vector<std::size_t> waited;
  for (Dword i = 0; i < count; ++i) {
    const World::Handle* h = s.handleOf(handles[i], Kind::kProcess);
    if (h == nullptr || (h->access & access::kSynchronize) == 0) {
      fail(s, h == nullptr ? winerr::kInvalidHandle : winerr::kAccessDenied);
      return proc::kWaitFailed;
    }
    waited.push_back(h->processIndex);
  }
  // Waiting for all of them twice on one process is refused by the kernel,
  // even through two different handles.
  if (waitAll && std::set<std::size_t>(waited.begin(), waited.end()).size() != waited.size()) {
    fail(s, winerr::kInvalidParameter);
    return proc::kWaitFailed;
  }
  std::vector<std::uint64_t> ends;
  ends.reserve(waited.size());
  for (std::size_t index : waited) ends.push_back(s.processes[index].endAtMs);
  const std::uint64_t deadline =
      milliseconds == proc::kInfinite ? kForever : World::later(s.nowMs, milliseconds);
  const std::uint64_t satisfiedAt = waitAll ? *std::max_element(ends.begin(), ends.end())
                                            : *std::min_element(ends.begin(), ends.end());
  if (satisfiedAt == kForever || satisfiedAt > deadline) {
    s.waitUntil(deadline, "WaitForMultipleObjects");
    return proc::kWaitTimeout;
  }
  s.waitUntil(std::max(s.nowMs, satisfiedAt), "WaitForMultipleObjects");
  if (waitAll) return proc::kWaitObject0;
  // Of several ended objects, the one with the lowest index is reported.
  Dword index = 0;
  while (ends[index] > s.nowMs) ++index;
  return proc::kWaitObject0 + index;
}

bool SimulatedPlatform::TerminateProcess(RawHandle processHandle, unsigned exitCode) {
  World& s = *state_;
  World::Handle* h = s.handleOf(processHandle, Kind::kProcess);
  s.log("TerminateProcess " +
        (h == nullptr ? std::string("(invalid)")
                      : std::to_string(s.processes[h->processIndex].config.processId)) +
        " " + std::to_string(exitCode));
  if (h == nullptr) return fail(s, winerr::kInvalidHandle);
  World::Process& process = s.processes[h->processIndex];
  // An ended process cannot be terminated again; Windows says access denied.
  if ((h->access & proc::kTerminate) == 0 || !s.alive(process))
    return fail(s, winerr::kAccessDenied);
  // The call only starts the end; the process is gone a little later.
  if (!process.terminated) {
    process.endAtMs =
        std::min(process.endAtMs, World::later(s.nowMs, process.config.terminationMs));
    process.terminated = true;
    process.exitCode = exitCode;
  }
  return true;
}

bool SimulatedPlatform::CloseHandle(RawHandle handle) {
  World& s = *state_;
  if (handle == invalidHandleValue()) {
    // -1 is the current process's pseudo-handle: closing it succeeds and does
    // nothing. The log shows it, since closing it by mistake is a bug upstream.
    s.log("CloseHandle current process");
    return true;
  }
  const auto found = s.handles.find(World::tokenOf(handle));
  const bool closable = found != s.handles.end() && found->second.kind != Kind::kManager &&
                        found->second.kind != Kind::kService && found->second.kind != Kind::kKey;
  if (!closable) {
    s.log("CloseHandle (invalid)");
    return fail(s, winerr::kInvalidHandle);
  }
  switch (found->second.kind) {
    case Kind::kSnapshot:
      s.log("CloseHandle snapshot");
      break;
    case Kind::kFile:
      s.log("CloseHandle file " + s.files.at(found->second.filePath).path);
      break;
    case Kind::kToken:
      s.log("CloseHandle token");
      break;
    default:
      s.log("CloseHandle process " +
            std::to_string(s.processes[found->second.processIndex].config.processId));
  }
  s.handles.erase(found);
  return true;
}

bool SimulatedPlatform::QueryFullProcessImageNameA(RawHandle processHandle, Dword flags,
                                                   char* exeName, Dword* size) {
  World& s = *state_;
  const World::Handle* h = s.handleOf(processHandle, Kind::kProcess);
  if (h == nullptr) return fail(s, winerr::kInvalidHandle);
  if ((h->access & (proc::kQueryLimitedInformation | access::kProcessQueryInformation)) == 0) {
    return fail(s, winerr::kAccessDenied);
  }
  if (flags != 0 || exeName == nullptr || size == nullptr)
    return fail(s, winerr::kInvalidParameter);
  const std::string& path = s.processes[h->processIndex].config.imagePath;
  if (path.empty()) return fail(s, simerr::kGenFailure);
  if (*size <= path.size()) return fail(s, winerr::kInsufficientBuffer);
  std::memcpy(exeName, path.c_str(), path.size() + 1);
  *size = static_cast<Dword>(path.size());
  return true;
}

// --- The process's own token ---

void SimulatedPlatform::setDebugPrivilege(bool held, bool enabled) {
  state_->debugPrivilegeHeld = held;
  state_->debugPrivilegeEnabled = held && enabled;
}

bool SimulatedPlatform::debugPrivilegeEnabled() const { return state_->debugPrivilegeEnabled; }

RawHandle SimulatedPlatform::GetCurrentProcess() { return invalidHandleValue(); }

bool SimulatedPlatform::OpenProcessToken(RawHandle process, Dword desiredAccess, RawHandle* token) {
  World& s = *state_;
  s.log("OpenProcessToken");
  if (token == nullptr) return fail(s, winerr::kInvalidParameter);
  if (process != invalidHandleValue()) return fail(s, winerr::kInvalidHandle);
  World::Handle handle;
  handle.kind = Kind::kToken;
  handle.access = desiredAccess;
  *token = reinterpret_cast<RawHandle>(s.issue(std::move(handle)));
  return true;
}

bool SimulatedPlatform::LookupPrivilegeValueA(const char* systemName, const char* name,
                                              Luid* luid) {
  World& s = *state_;
  if (luid == nullptr || name == nullptr || systemName != nullptr)
    return fail(s, winerr::kInvalidParameter);
  if (!World::sameName(name, proc::kDebugPrivilege)) return fail(s, simerr::kNoSuchPrivilege);
  *luid = Luid{kDebugPrivilegeLuid, 0};
  return true;
}

bool SimulatedPlatform::AdjustTokenPrivileges(RawHandle token, bool disableAll,
                                              const TokenPrivileges* newState, Dword bufferLength,
                                              TokenPrivileges* previousState, Dword* returnLength) {
  World& s = *state_;
  s.log("AdjustTokenPrivileges");
  const World::Handle* h = s.handleOf(token, Kind::kToken);
  if (h == nullptr) return fail(s, winerr::kInvalidHandle);
  const Dword needed =
      proc::kTokenAdjustPrivileges | (previousState != nullptr ? proc::kTokenQuery : 0);
  if ((h->access & needed) != needed) return fail(s, winerr::kAccessDenied);
  // Disabling them all is not modelled; a TokenPrivileges holds one privilege at most.
  if (disableAll || newState == nullptr || newState->PrivilegeCount > 1) {
    return fail(s, winerr::kInvalidParameter);
  }
  const LuidAndAttributes& wanted = newState->Privileges[0];
  const bool asked = newState->PrivilegeCount == 1;
  const bool held = s.debugPrivilegeHeld && wanted.Luid.LowPart == kDebugPrivilegeLuid &&
                    wanted.Luid.HighPart == 0;
  const bool enable = (wanted.Attributes & proc::kPrivilegeEnabled) != 0;
  const bool change = asked && held && enable != s.debugPrivilegeEnabled;
  if (previousState != nullptr) {
    // Only what it changes is listed, as it was.
    const auto size = static_cast<Dword>(change ? sizeof(TokenPrivileges) : sizeof(Dword));
    if (returnLength != nullptr) *returnLength = size;
    if (bufferLength < size) return fail(s, winerr::kInsufficientBuffer);
    previousState->PrivilegeCount = change ? 1 : 0;
    previousState->Privileges[0] = {wanted.Luid,
                                    s.debugPrivilegeEnabled ? proc::kPrivilegeEnabled : 0};
  }
  if (change) s.debugPrivilegeEnabled = enable;
  // It succeeds either way, and tells through the last error whether it could
  // do all it was asked.
  s.lastError = !asked || held ? winerr::kSuccess : winerr::kNotAllAssigned;
  return true;
}

}  // namespace vdksvc
