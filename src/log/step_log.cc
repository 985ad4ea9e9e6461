#include "log/step_log.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "lists/registry_catalogue.h"

namespace vdksvc {
namespace {

/// The environment variable \a name; empty when it is unset.
std::string environmentVariable(Platform& platform, const char* name) {
  std::vector<char> buffer(256);
  for (;;) {
    const Dword length =
        platform.GetEnvironmentVariableA(name, buffer.data(), static_cast<Dword>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length);  // the size needed, terminator included
  }
}

/// \a text with its environment references expanded; as it is when that fails.
std::string expanded(Platform& platform, const std::string& text) {
  std::vector<char> buffer(text.size() + 256);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const Dword needed = platform.ExpandEnvironmentStringsA(text.c_str(), buffer.data(),
                                                            static_cast<Dword>(buffer.size()));
    if (needed == 0) return text;
    if (needed <= buffer.size()) return std::string(buffer.data());
    buffer.resize(needed);
  }
  return text;
}

/// The text of the "StepLog" value when it is REG_SZ or REG_EXPAND_SZ; empty
/// otherwise.
std::string registrySwitch(Platform& platform) {
  std::string text;
  RegistryValueInfo info;
  if (!readRegistryText(platform, kStepLogKey, "StepLog", text, &info) ||
      (info.type != reg::kSz && info.type != reg::kExpandSz)) {
    return {};
  }
  return text;
}

}  // namespace

StepLog::StepLog(Platform& platform, std::string path)
    : platform_(&platform), path_(std::move(path)) {}

StepLog::StepLog(StepLog&& other) noexcept
    : platform_(std::exchange(other.platform_, nullptr)),
      path_(std::move(other.path_)),
      file_(std::exchange(other.file_, nullptr)),
      failed_(other.failed_) {}

StepLog::~StepLog() {
  if (file_ != nullptr) platform_->CloseHandle(file_);
}

StepLog StepLog::fromSwitches(Platform& platform) {
  std::string path = environmentVariable(platform, "VDKSVC_LOG");
  if (path.empty()) path = expanded(platform, registrySwitch(platform));
  if (path.empty()) return StepLog();
  return StepLog(platform, std::move(path));
}

StepLog& StepLog::off() {
  // Off, and it stays off: nothing ever turns a default log on.
  static StepLog none;
  return none;
}

void StepLog::write(std::string_view text) {
  if (platform_ == nullptr || failed_) return;
  if (file_ == nullptr) {
    RawHandle opened = platform_->CreateFileA(
        path_.c_str(), file::kAppendData, file::kShareRead | file::kShareWrite | file::kShareDelete,
        nullptr, file::kOpenAlways, file::kAttributeNormal, nullptr);
    if (opened == invalidHandleValue() || opened == nullptr) {
      failed_ = true;
      return;
    }
    file_ = opened;
  }
  SystemTime now;
  platform_->GetLocalTime(&now);
  char stamp[64];
  const int stampLength =
      std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear,
                    now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                    static_cast<unsigned long>(platform_->GetCurrentProcessId()));
  std::string line(stamp, stampLength > 0 ? static_cast<std::size_t>(stampLength) : 0);
  const std::size_t textStart = line.size();
  line.append(text);
  // One event, one line: a CR or LF inside a name or an argument becomes a
  // blank. (No second byte of a double-byte character is below 0x40.)
  for (std::size_t i = textStart; i < line.size(); ++i) {
    if (line[i] == '\r' || line[i] == '\n') line[i] = ' ';
  }
  line += "\r\n";
  // One write per line: with FILE_APPEND_DATA each write lands whole at the end.
  Dword written = 0;
  platform_->WriteFile(file_, line.data(), static_cast<Dword>(line.size()), &written, nullptr);
}

std::string StepLog::errorText(Dword code) {
  std::string text = std::to_string(code);
  if (platform_ == nullptr) return text;
  char message[512] = {};
  const Dword length =
      platform_->FormatMessageA(file::kFormatFromSystem | file::kFormatIgnoreInserts, nullptr, code,
                                0, message, sizeof message, nullptr);
  std::string_view body(message, length < sizeof message ? length : 0);
  while (!body.empty() && (body.back() == '\r' || body.back() == '\n' || body.back() == ' ')) {
    body.remove_suffix(1);
  }
  if (!body.empty()) {
    text += " (";
    text.append(body);
    text += ')';
  }
  return text;
}

std::uint64_t StepLog::tick() { return platform_ == nullptr ? 0 : platform_->GetTickCount64(); }

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

std::string quoted(std::string_view text) {
  std::string result = "\"";
  result.append(text);
  result += '"';
  return result;
}

}  // namespace vdksvc
