#include "services/start_type.h"

#include <cstring>
#include <vector>

#include "base/text.h"
#include "services/entry_handles.h"
#include "services/service_names.h"

namespace vdksvc {
namespace {

/// The start types the start-type command sets, each named by its word.
constexpr Dword kSettableStartTypes[] = {svc::kAutoStart, svc::kDemandStart, svc::kDisabled};

/// The start type for \a word, compared after lowering it in the ANSI code page;
/// false for any other word.
bool startTypeOf(Platform& platform, const std::string& word, Dword& startType) {
  std::vector<char> lowered(word.begin(), word.end());
  lowered.push_back('\0');
  platform.CharLowerA(lowered.data());
  for (const Dword known : kSettableStartTypes) {
    if (std::strcmp(lowered.data(), startTypeName(known)) == 0) {
      startType = known;
      return true;
    }
  }
  return false;
}

}  // namespace

EntryOutcome changeStartType(Platform& platform, const ServiceEntry& entry,
                             const EntryRequest& request, StepLog& log) {
  EntryHandles opened(platform, log, "startup", entry.serviceName);
  if (!opened.open(request.rights)) return opened.handles.openFailure();
  EntryLog& steps = opened.steps;
  Dword startType = 0;
  if (!startTypeOf(platform, entry.startTypeWord, startType)) {
    steps.line("start type " + quoted(entry.startTypeWord) + " is not auto, demand or disabled");
    return EntryOutcome::failed(winerr::kInvalidParameter);
  }

  // A triple given without its display name must not wipe the service's name:
  // an empty text would be stored as the new display name by some managers,
  // null leaves it alone everywhere.
  const char* displayName = entry.displayName.empty() ? nullptr : entry.displayName.c_str();
  const bool changed = platform.ChangeServiceConfigA(
      opened.handles.service.get(), svc::kNoChange, startType, svc::kNoChange, nullptr, nullptr,
      nullptr, nullptr, nullptr, nullptr, displayName);
  const Dword error = changed ? 0 : platform.GetLastError();
  steps.request("ChangeServiceConfigA start type " + entry.startTypeWord + ", display name " +
                    (displayName == nullptr ? std::string("kept") : quoted(entry.displayName)),
                changed, error);
  // ChangeServiceConfigA has stored the change when it returns: nothing to wait for.
  return changed ? EntryOutcome::done() : EntryOutcome::failed(error);
}

}  // namespace vdksvc
