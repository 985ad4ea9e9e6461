// The simulated files, environment, clock and message texts: what the step log
// reaches through the platform.

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "platform/simulated/simulated_platform.h"
#include "platform/simulated/simulated_state.h"

namespace vdksvc {
namespace {

using World = SimulatedWorld;
using Kind = World::Kind;

constexpr Dword kDiskFull = 112;             // ERROR_DISK_FULL
constexpr Dword kEnvironmentNotFound = 203;  // ERROR_ENVVAR_NOT_FOUND
constexpr Dword kMessageNotFound = 317;      // ERROR_MR_MID_NOT_FOUND

// The system's English texts for the errors the logic meets.
constexpr std::pair<Dword, const char*> kMessages[] = {
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {234, "More data is available."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1051,
     "A stop control has been sent to a service that other running services are "
     "dependent on."},
    {1052, "The requested control is not valid for this service."},
    {1056, "An instance of the service is already running."},
    {1058,
     "The service cannot be started, either because it is disabled or because it has no "
     "enabled devices associated with it."},
    {1059, "Circular service dependency was specified."},
    {1060, "The specified service does not exist as an installed service."},
    {1061, "The service cannot accept control messages at this time."},
    {1062, "The service has not been started."},
    {1065, "The database specified does not exist."},
    {1068, "The dependency service or group failed to start."},
    {1072, "The specified service has been marked for deletion."},
    {1073, "The specified service already exists."},
    {1075, "The dependency service does not exist or has been marked for deletion."},
    {1078, "The name is already in use as either a service name or a service display name."},
    {1722, "The RPC server is unavailable."},
};

RawHandle failFile(World& s, Dword error) {
  s.lastError = error;
  return invalidHandleValue();
}

}  // namespace

// --- Seeding and inspection ---

void SimulatedPlatform::setEnvironmentVariable(const std::string& name,
                                               std::optional<std::string> value) {
  const std::string key = World::foldCase(name);
  if (value) {
    state_->environment[key] = *value;
  } else {
    state_->environment.erase(key);
  }
}

std::optional<std::string> SimulatedPlatform::fileContents(const std::string& path) const {
  const auto found = state_->files.find(World::foldCase(path));
  if (found == state_->files.end() || !found->second.exists) return std::nullopt;
  return found->second.bytes;
}

void SimulatedPlatform::setFileOpenRefused(const std::string& path, bool refused) {
  World::File& file = state_->files[World::foldCase(path)];
  if (file.path.empty()) file.path = path;
  file.openRefused = refused;
}

void SimulatedPlatform::setFileWriteFails(const std::string& path, bool fails) {
  World::File& file = state_->files[World::foldCase(path)];
  if (file.path.empty()) file.path = path;
  file.writeFails = fails;
}

void SimulatedPlatform::setProcessId(Dword processId) { state_->ownProcessId = processId; }

// --- Platform ---

RawHandle SimulatedPlatform::CreateFileA(const char* fileName, Dword desiredAccess,
                                         Dword /*shareMode*/, void* /*securityAttributes*/,
                                         Dword creationDisposition, Dword /*flagsAndAttributes*/,
                                         RawHandle /*templateFile*/) {
  World& s = *state_;
  s.log(std::string("CreateFileA ") + (fileName == nullptr ? "(null)" : fileName));
  if (fileName == nullptr || *fileName == '\0' || creationDisposition != file::kOpenAlways) {
    return failFile(s, winerr::kInvalidParameter);
  }
  const std::string key = World::foldCase(fileName);
  World::File& opened = s.files[key];
  if (opened.path.empty()) opened.path = fileName;
  if (opened.openRefused) return failFile(s, winerr::kAccessDenied);
  opened.exists = true;
  World::Handle handle;
  handle.kind = Kind::file;
  handle.access = desiredAccess;
  handle.filePath = key;
  return reinterpret_cast<RawHandle>(s.issue(std::move(handle)));
}

bool SimulatedPlatform::WriteFile(RawHandle fileHandle, const void* buffer, Dword bytesToWrite,
                                  Dword* bytesWritten, void* /*overlapped*/) {
  World& s = *state_;
  World::Handle* h = s.handleOf(fileHandle, Kind::file);
  s.log("WriteFile " + (h == nullptr ? std::string("(invalid)") : s.files.at(h->filePath).path) +
        " " + std::to_string(bytesToWrite));
  if (bytesWritten != nullptr) *bytesWritten = 0;
  const auto fail = [&s](Dword error) {
    s.lastError = error;
    return false;
  };
  if (h == nullptr) return fail(winerr::kInvalidHandle);
  if ((h->access & file::kAppendData) == 0) return fail(winerr::kAccessDenied);
  if (buffer == nullptr && bytesToWrite > 0) return fail(winerr::kInvalidParameter);
  World::File& target = s.files.at(h->filePath);
  if (target.writeFails) return fail(kDiskFull);
  target.bytes.append(static_cast<const char*>(buffer), bytesToWrite);
  if (bytesWritten != nullptr) *bytesWritten = bytesToWrite;
  return true;
}

Dword SimulatedPlatform::GetEnvironmentVariableA(const char* name, char* buffer, Dword size) {
  World& s = *state_;
  const auto found = s.environment.find(World::foldCase(name == nullptr ? "" : name));
  if (found == s.environment.end()) {
    s.lastError = kEnvironmentNotFound;
    return 0;
  }
  const auto length = static_cast<Dword>(found->second.size());
  if (buffer == nullptr || size <= length) return length + 1;
  std::memcpy(buffer, found->second.c_str(), length + 1);
  return length;
}

Dword SimulatedPlatform::ExpandEnvironmentStringsA(const char* source, char* destination,
                                                   Dword size) {
  World& s = *state_;
  if (source == nullptr) {
    s.lastError = winerr::kInvalidParameter;
    return 0;
  }
  std::string expanded;
  for (const char* p = source; *p != '\0';) {
    const char* close = *p == '%' ? std::strchr(p + 1, '%') : nullptr;
    if (close != nullptr) {
      const auto found = s.environment.find(World::foldCase(std::string(p + 1, close)));
      if (found != s.environment.end()) {
        expanded += found->second;
        p = close + 1;
        continue;
      }
    }
    expanded += *p++;
  }
  const auto needed = static_cast<Dword>(expanded.size() + 1);
  if (destination != nullptr && size >= needed) {
    std::memcpy(destination, expanded.c_str(), needed);
  }
  return needed;
}

Dword SimulatedPlatform::FormatMessageA(Dword flags, const void* /*source*/, Dword messageId,
                                        Dword /*languageId*/, char* buffer, Dword size,
                                        void* /*arguments*/) {
  World& s = *state_;
  const auto* found =
      std::find_if(std::begin(kMessages), std::end(kMessages),
                   [messageId](const auto& known) { return known.first == messageId; });
  if ((flags & file::kFormatFromSystem) == 0 || found == std::end(kMessages)) {
    s.lastError = kMessageNotFound;
    return 0;
  }
  const std::string text = std::string(found->second) + "\r\n";
  if (buffer == nullptr || size <= text.size()) {
    s.lastError = winerr::kInsufficientBuffer;
    return 0;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<Dword>(text.size());
}

void SimulatedPlatform::GetLocalTime(SystemTime* time) {
  const std::uint64_t now = state_->nowMs;
  const std::uint64_t seconds = now / 1000 + 8ull * 3600;
  *time = SystemTime{};
  time->wYear = 2026;
  time->wMonth = 12;
  time->wDay = static_cast<std::uint16_t>(9 + seconds / 86400);
  time->wHour = static_cast<std::uint16_t>(seconds / 3600 % 24);
  time->wMinute = static_cast<std::uint16_t>(seconds / 60 % 60);
  time->wSecond = static_cast<std::uint16_t>(seconds % 60);
  time->wMilliseconds = static_cast<std::uint16_t>(now % 1000);
}

std::uint64_t SimulatedPlatform::GetTickCount64() { return state_->nowMs; }

Dword SimulatedPlatform::GetCurrentProcessId() { return state_->ownProcessId; }

}  // namespace vdksvc
