#include "services/process_sweep.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/handles.h"

namespace vdksvc {
namespace {

/// \a text with its ASCII capitals lowered. Two names are equal as _stricmp sees
/// them when their folded forms are equal.
std::string asciiFolded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

/// The folded image names of the list, each worked out once, with the first
/// entry that has it (for the step log); a name that cannot be a file name
/// (empty) is left out, as no process has it.
using ImageNames = std::unordered_map<std::string, const ServiceEntry*>;

ImageNames imageNamesOf(Platform& platform, const ServiceList& list) {
  ImageNames names;
  names.reserve(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string name = imageNameOf(platform, list.at(i).binaryPath);
    if (!name.empty()) names.emplace(asciiFolded(name), &list.at(i));
  }
  return names;
}

/// The ids of the processes running one of \a names, in snapshot order, each
/// once, at most MAXIMUM_WAIT_OBJECTS of them. One look-up per process, so the
/// matching grows with the processes plus the entries.
std::vector<Dword> matchingProcesses(Platform& platform, const ImageNames& names, StepLog& log) {
  std::vector<Dword> ids;
  const Snapshot snapshot(platform, platform.CreateToolhelp32Snapshot(proc::kSnapProcess, 0));
  if (!snapshot) return ids;
  ProcessEntry32 entry;
  entry.dwSize = sizeof entry;
  for (bool more = platform.Process32First(snapshot.get(), &entry); more;
       more = platform.Process32Next(snapshot.get(), &entry)) {
    // Each process is looked at once, so two services run by the same program
    // file do not put its process into the wait twice: a wait for all refuses an
    // array naming one object twice.
    const char* const imageEnd =
        std::find(std::begin(entry.szExeFile), std::end(entry.szExeFile), '\0');
    const std::string_view image(entry.szExeFile,
                                 static_cast<std::size_t>(imageEnd - entry.szExeFile));
    const auto found = names.find(asciiFolded(image));
    if (found == names.end()) continue;
    if (log.on()) {
      log.write("sweep: process " + std::to_string(entry.th32ProcessID) + " " + std::string(image) +
                " runs the program of " + found->second->serviceName);
    }
    ids.push_back(entry.th32ProcessID);
    if (ids.size() == proc::kMaximumWaitObjects) break;
  }
  return ids;
}

/// The step log's line on how the wait for the \a count swept processes ended.
void logWait(Platform& platform, StepLog& log, Dword waited, Dword count, std::uint64_t started) {
  if (!log.on()) return;
  const Dword error = waited == proc::kWaitFailed ? platform.GetLastError() : 0;
  const std::string elapsed = std::to_string(log.tick() - started) + " ms";
  const std::string processes = std::to_string(count) + (count == 1 ? " process" : " processes");
  if (waited < proc::kWaitObject0 + count) {
    log.write("sweep: " + processes + " ended within the grace, " + elapsed);
  } else if (waited == proc::kWaitFailed) {
    log.write("sweep: the wait failed after " + elapsed + ": " + log.errorText(error) +
              "; terminating the " + processes + " waited on");
  } else {
    log.write("sweep: the grace ran out after " + elapsed + "; terminating the " + processes +
              " waited on");
  }
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

void sweepLeftoverProcesses(Platform& platform, const ServiceList& list, StepLog& log) {
  const ImageNames names = imageNamesOf(platform, list);
  if (names.empty()) return;
  const std::vector<Dword> ids = matchingProcesses(platform, names, log);
  if (ids.empty()) {
    if (log.on()) log.write("sweep: no process runs a program file of the list");
    return;
  }

  // A process that ended since the snapshot, or that refuses us, is left out of
  // the wait: a null handle in it would fail the wait at once and cut every other
  // process's grace.
  std::vector<ProcessHandle> processes;
  std::vector<Dword> opened;
  processes.reserve(ids.size());
  for (Dword id : ids) {
    ProcessHandle process(platform,
                          platform.OpenProcess(proc::kSynchronize | proc::kTerminate, false, id));
    if (process) {
      processes.push_back(std::move(process));
      opened.push_back(id);
    } else if (log.on()) {
      const Dword error = platform.GetLastError();
      log.write("sweep: process " + std::to_string(id) +
                " cannot be opened and is left alone: " + log.errorText(error));
    }
  }
  if (processes.empty()) return;

  std::vector<RawHandle> raw;
  raw.reserve(processes.size());
  for (const ProcessHandle& process : processes) raw.push_back(process.get());
  const Dword count = static_cast<Dword>(raw.size());
  const std::uint64_t started = log.tick();
  const Dword waited = platform.WaitForMultipleObjects(count, raw.data(), true, kSweepGraceMs);
  const bool allEnded = waited < proc::kWaitObject0 + count;
  logWait(platform, log, waited, count, started);
  if (allEnded) return;
  // Timed out, or the wait failed: whatever still runs is ended now.
  for (std::size_t i = 0; i < processes.size(); ++i) {
    const bool terminated = platform.TerminateProcess(processes[i].get(), 0);
    if (!log.on()) continue;
    if (terminated) {
      log.write("sweep: process " + std::to_string(opened[i]) + " terminated");
    } else {
      const Dword error = platform.GetLastError();
      log.write("sweep: process " + std::to_string(opened[i]) +
                " not terminated (it may have ended): " + log.errorText(error));
    }
  }
}

void sweepLeftoverProcesses(Platform& platform, const ServiceList& list) {
  sweepLeftoverProcesses(platform, list, StepLog::off());
}

}  // namespace vdksvc
