#include "log/step_log.h"

#include <cstdio>
#include <utility>

namespace vdksvc {

StepLog::StepLog(Platform& platform, std::string path)
    : platform_(&platform), path_(std::move(path)) {}

StepLog& StepLog::off() {
  // Off, and it stays off: nothing ever turns a default log on.
  static StepLog none;
  return none;
}

void StepLog::echoTo(TextOutput* output) {
  echo_ = output;
  if (output != nullptr && platform_ == nullptr) platform_ = &output->platform();
}

void StepLog::write(std::string_view text) {
  if (platform_ == nullptr) return;
  if (!path_.empty() && !failed_ && !file_) {
    file_.emplace(*platform_, platform_->CreateFileA(
                                  path_.c_str(), file::kAppendData,
                                  file::kShareRead | file::kShareWrite | file::kShareDelete,
                                  nullptr, file::kOpenAlways, file::kAttributeNormal, nullptr));
    failed_ = !*file_;
  }
  const bool toFile = file_ && !failed_;
  if (!toFile && echo_ == nullptr) return;
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
  if (echo_ != nullptr) echo_->writeLine(line);
  if (!toFile) return;
  line += "\r\n";
  // One write per line: with FILE_APPEND_DATA each write lands whole at the end.
  Dword written = 0;
  platform_->WriteFile(file_->get(), line.data(), static_cast<Dword>(line.size()), &written,
                       nullptr);
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

}  // namespace vdksvc
