#include "services/process_sweep.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/handles.h"

namespace vdksvc {
namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

/// What _stricmp's equality means: equal once ASCII capitals are lowered.
bool equalIgnoringAsciiCase(const char* left, const std::string& right) {
  std::size_t i = 0;
  for (; i < right.size() && left[i] != '\0'; ++i) {
    if (asciiLower(left[i]) != asciiLower(right[i])) return false;
  }
  return left[i] == '\0' && i == right.size();
}

/// The image names of the list, each worked out once; a name that cannot be a
/// file name (empty) is left out, as no process has it.
std::vector<std::string> imageNamesOf(Platform& platform, const ServiceList& list) {
  std::vector<std::string> names;
  names.reserve(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string name = imageNameOf(platform, list.at(i).binaryPath);
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

/// The ids of the processes running one of \a names, in snapshot order, each
/// once, at most MAXIMUM_WAIT_OBJECTS of them.
std::vector<Dword> matchingProcesses(Platform& platform, const std::vector<std::string>& names) {
  std::vector<Dword> ids;
  const Snapshot snapshot(platform, platform.CreateToolhelp32Snapshot(proc::kSnapProcess, 0));
  if (!snapshot) return ids;
  ProcessEntry32 entry;
  entry.dwSize = sizeof entry;
  for (bool more = platform.Process32First(snapshot.get(), &entry); more;
       more = platform.Process32Next(snapshot.get(), &entry)) {
    // Two services run by the same program file must not put its process into
    // the wait twice: a wait for all refuses an array naming one object twice.
    const bool matches = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
      return equalIgnoringAsciiCase(entry.szExeFile, name);
    });
    if (!matches) continue;
    ids.push_back(entry.th32ProcessID);
    if (ids.size() == proc::kMaximumWaitObjects) break;
  }
  return ids;
}

}  // namespace

std::string imageNameOf(Platform& platform, const std::string& binaryPath) {
  const char* text = binaryPath.c_str();
  const char* backslash = platform.findLastBackslash(text);
  std::string name = backslash != nullptr ? std::string(backslash + 1) : binaryPath;
  name.erase(name.find_last_not_of('"') + 1);  // npos + 1 is 0: all quotes go
  name.erase(0, name.find_first_not_of('"'));
  return name;
}

void sweepLeftoverProcesses(Platform& platform, const ServiceList& list) {
  const std::vector<std::string> names = imageNamesOf(platform, list);
  if (names.empty()) return;
  const std::vector<Dword> ids = matchingProcesses(platform, names);
  if (ids.empty()) return;

  // A process that ended since the snapshot, or that refuses us, is left out of
  // the wait: a null handle in it would fail the wait at once and cut every other
  // process's grace.
  std::vector<ProcessHandle> processes;
  processes.reserve(ids.size());
  for (Dword id : ids) {
    ProcessHandle process(platform,
                          platform.OpenProcess(proc::kSynchronize | proc::kTerminate, false, id));
    if (process) processes.push_back(std::move(process));
  }
  if (processes.empty()) return;

  std::vector<RawHandle> raw;
  raw.reserve(processes.size());
  for (const ProcessHandle& process : processes) raw.push_back(process.get());
  const Dword count = static_cast<Dword>(raw.size());
  const Dword waited = platform.WaitForMultipleObjects(count, raw.data(), true, kSweepGraceMs);
  const bool allEnded = waited < proc::kWaitObject0 + count;
  if (allEnded) return;
  // Timed out, or the wait failed: whatever still runs is ended now.
  for (const ProcessHandle& process : processes) platform.TerminateProcess(process.get(), 0);
}

}  // namespace vdksvc
