// The parts of the simulated Windows that every kind of resource shares: the
// handle table, the virtual clock, the call log and the text functions. The
// service manager, the registry and the process table have their own files.

#include "simulated/simulated_platform.h"

#include <string>
#include <utility>

#include "simulated/simulated_state.h"

namespace vdksvc {

using World = SimulatedWorld;

SimulatedWorld::SimulatedWorld() {
  // HKEY_LOCAL_MACHINE itself always exists; values may be seeded on it.
  keys.emplace("", Key{});
}

std::string SimulatedWorld::foldCase(std::string_view text) {
  // The manager and the registry compare names without case; ASCII folding is
  // all the names of this product ever need.
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

bool SimulatedWorld::sameName(std::string_view left, std::string_view right) {
  return left.size() == right.size() && foldCase(left) == foldCase(right);
}

std::uint64_t SimulatedWorld::later(std::uint64_t at, std::uint64_t milliseconds) {
  if (at == kForever || milliseconds == kForever || milliseconds > kForever - at) return kForever;
  return at + milliseconds;
}

void SimulatedWorld::log(std::string line) {
  calls.push_back(std::move(line));
  if (triggers.empty()) return;
  const std::string logged = calls.back();  // an action may log calls of its own
  // Faults an action sets up count from the next call on.
  const std::size_t count = triggers.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (!triggers[i].action || triggers[i].call != logged) continue;
    if (++triggers[i].seen < triggers[i].occurrence) continue;
    const std::function<void()> action = std::exchange(triggers[i].action, nullptr);
    action();
  }
}

std::uintptr_t SimulatedWorld::issue(Handle handle) {
  // Tokens only grow, so a closed token is never handed out again and a second
  // close is always detected. They start well above null and stay far below
  // INVALID_HANDLE_VALUE and HKEY_LOCAL_MACHINE.
  const std::uintptr_t token = nextToken;
  nextToken += 0x10;
  handles.emplace(token, std::move(handle));
  return token;
}

SimulatedWorld::Handle* SimulatedWorld::handleOf(const void* raw, Kind kind) {
  const auto found = handles.find(tokenOf(raw));
  if (found == handles.end() || found->second.kind != kind) return nullptr;
  return &found->second;
}

void SimulatedWorld::waitUntil(std::uint64_t targetMs, const char* what) {
  if (targetMs == kForever || targetMs > hangLimitMs) {
    throw SimulatedHang(std::string(what) + " at virtual time " + std::to_string(nowMs) +
                        " ms would pass the hang limit of " + std::to_string(hangLimitMs) + " ms");
  }
  if (targetMs > nowMs) nowMs = targetMs;
}

std::string SimulatedWorld::describe(const Handle& handle) const {
  switch (handle.kind) {
    case Kind::kManager:
      return "manager handle";
    case Kind::kService: {
      const auto found = services.find(handle.serviceId);
      return "service handle " +
             (found == services.end() ? std::string("?") : found->second.config.name);
    }
    case Kind::kKey:
      return "registry key " +
             (handle.keyPath.empty() ? std::string("HKEY_LOCAL_MACHINE") : handle.keyPath);
    case Kind::kSnapshot:
      return "process snapshot";
    case Kind::kProcess:
      return "process handle " + std::to_string(processes[handle.processIndex].config.processId);
    case Kind::kFile:
      return "file handle " + files.at(handle.filePath).path;
    case Kind::kToken:
      return "token handle";
  }
  return "unknown handle";
}

SimulatedPlatform::SimulatedPlatform() : state_(std::make_unique<State>()) {}
SimulatedPlatform::~SimulatedPlatform() = default;

void SimulatedPlatform::setDoubleByteCodePage(bool doubleByte) {
  state_->doubleByteCodePage = doubleByte;
}

void SimulatedPlatform::setUtf8CodePage(bool utf8) { state_->utf8CodePage = utf8; }

void SimulatedPlatform::beforeCall(std::string call, std::function<void()> action,
                                   unsigned occurrence) {
  state_->triggers.push_back(World::Trigger{std::move(call), occurrence, 0, std::move(action)});
}

std::uint64_t SimulatedPlatform::nowMs() const { return state_->nowMs; }

void SimulatedPlatform::advance(std::uint64_t milliseconds) {
  // The test moves time itself: no hang limit, which guards the logic's waits.
  state_->nowMs = World::later(state_->nowMs, milliseconds);
}

void SimulatedPlatform::setHangLimitMs(std::uint64_t limit) { state_->hangLimitMs = limit; }

const std::vector<std::string>& SimulatedPlatform::calls() const { return state_->calls; }

void SimulatedPlatform::clearCalls() { state_->calls.clear(); }

std::vector<std::string> SimulatedPlatform::openResources() const {
  std::vector<std::string> open;
  for (const auto& [token, handle] : state_->handles) open.push_back(state_->describe(handle));
  return open;
}

void SimulatedPlatform::Sleep(Dword milliseconds) {
  World& s = *state_;
  s.log("Sleep " + std::to_string(milliseconds));
  s.waitUntil(milliseconds == proc::kInfinite ? kForever : World::later(s.nowMs, milliseconds),
              "Sleep");
}

Dword SimulatedPlatform::GetLastError() { return state_->lastError; }

unsigned SimulatedPlatform::GetACP() {
  if (state_->utf8CodePage) return file::kUtf8;
  return state_->doubleByteCodePage ? 932 : 1252;
}

char* SimulatedPlatform::CharLowerA(char* text) {
  state_->log("CharLowerA");
  if (text == nullptr) return nullptr;
  // Only A-Z: the words the logic lowers are ASCII, and leaving every other byte
  // alone keeps double-byte text intact.
  for (char* c = text; *c != '\0'; ++c) {
    if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
  }
  return text;
}

const char* SimulatedPlatform::CharNextA(const char* text) {
  if (*text == '\0') return text;
  const auto byte = static_cast<unsigned char>(*text);
  const bool leadByte = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
  // A lead byte just before the terminator stands alone.
  return state_->doubleByteCodePage && leadByte && text[1] != '\0' ? text + 2 : text + 1;
}

}  // namespace vdksvc
