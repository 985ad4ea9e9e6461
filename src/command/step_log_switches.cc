#include "command/step_log_switches.h"

#include <string>
#include <utility>
#include <vector>

#include "base/registry_value.h"

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

StepLog stepLogFromSwitches(Platform& platform) {
  std::string path = environmentVariable(platform, "VDKSVC_LOG");
  if (path.empty()) path = expanded(platform, registrySwitch(platform));
  if (path.empty()) return StepLog();
  return StepLog(platform, std::move(path));
}

}  // namespace vdksvc
