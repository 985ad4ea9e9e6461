#include "services/process_match.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "base/text.h"
#include "platform/handles.h"

namespace vdksvc {
namespace {

/// \a text without a leading and a trailing run of double quotes.
std::string withoutQuotes(std::string text) {
  text.erase(text.find_last_not_of('"') + 1);  // npos + 1 is 0: all quotes go
  text.erase(0, text.find_first_not_of('"'));
  return text;
}

/// \a identity, or nothing when its file id is zero. Some network file systems
/// give every file that id (and volume serial 0): it tells no file from another,
/// so it is as unknown as an identity that cannot be read, never a match.
std::optional<FileIdentity> unlessZero(const FileIdentity& identity) {
  const bool zero = std::all_of(std::begin(identity.id), std::end(identity.id),
                                [](unsigned char byte) { return byte == 0; });
  if (zero) return std::nullopt;
  return identity;
}

/// The identity of the file at \a path, opened with no access and full sharing;
/// nothing when it cannot be opened or read, or tells nothing.
std::optional<FileIdentity> identityOf(Platform& platform, const std::string& path) {
  const FileHandle file(
      platform, platform.CreateFileA(path.c_str(), 0,
                                     file::kShareRead | file::kShareWrite | file::kShareDelete,
                                     nullptr, file::kOpenExisting, 0, nullptr));
  if (!file) return std::nullopt;
  FileIdentity identity;
  FileIdInfo wide;
  if (platform.GetFileInformationByHandleEx(file.get(), file::kFileIdInfo, &wide, sizeof wide)) {
    identity.volume = wide.VolumeSerialNumber;
    std::copy(std::begin(wide.FileId), std::end(wide.FileId), std::begin(identity.id));
    identity.wide = true;
    return unlessZero(identity);
  }
  ByHandleFileInformation info;
  if (!platform.GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  identity.volume = info.dwVolumeSerialNumber;
  const std::uint64_t index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  for (int i = 0; i < 8; ++i) identity.id[i] = static_cast<unsigned char>(index >> (8 * i));
  return unlessZero(identity);
}

}  // namespace

std::string imageNameOf(Platform& platform, const std::string& binaryPath) {
  const char* backslash = findLastBackslash(platform, binaryPath.c_str());
  return withoutQuotes(backslash != nullptr ? std::string(backslash + 1) : binaryPath);
}

ImageNames imageNamesOf(Platform& platform, const ServiceList& list) {
  ImageNames names;
  names.reserve(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string name = imageNameOf(platform, list.at(i).binaryPath);
    if (!name.empty()) names[asciiLowered(name)].push_back(&list.at(i));
  }
  return names;
}

std::vector<Candidate> matchingProcesses(Platform& platform, const ImageNames& names,
                                         SweepLog& log) {
  std::vector<Candidate> found;
  const Snapshot snapshot(platform, platform.CreateToolhelp32Snapshot(proc::kSnapProcess, 0));
  if (!snapshot) return found;
  ProcessEntry32 entry;
  entry.dwSize = sizeof entry;
  for (bool more = platform.Process32First(snapshot.get(), &entry); more;
       more = platform.Process32Next(snapshot.get(), &entry)) {
    // Each process is looked at once, so two services run by the same program
    // file do not put its process into the wait twice: a wait for all refuses an
    // array naming one object twice.
    const char* const imageEnd =
        std::find(std::begin(entry.szExeFile), std::end(entry.szExeFile), '\0');
    std::string image(entry.szExeFile, static_cast<std::size_t>(imageEnd - entry.szExeFile));
    const auto match = names.find(asciiLowered(image));
    if (match == names.end()) continue;
    log.matched(entry.th32ProcessID, image, match->second.front()->serviceName);
    found.push_back({entry.th32ProcessID, std::move(image), &match->second});
  }
  return found;
}

bool ProgramCheck::runsListedProgram(RawHandle process, const Candidate& candidate) {
  const std::optional<std::string> image = imagePathOf(process);
  if (!image) return true;  // nothing tells otherwise
  const char* backslash = findLastBackslash(platform_, image->c_str());
  if (asciiLowered(backslash != nullptr ? backslash + 1 : image->c_str()) !=
      asciiLowered(candidate.exeFile)) {
    log_.idReused(candidate.id, *image);
    return false;
  }
  std::optional<FileIdentity> imageIdentity;
  for (const ServiceEntry* entry : *candidate.entries) {
    const std::string program = withoutQuotes(entry->binaryPath);
    // A bare file name matches by name, wherever the file lies.
    if (findLastBackslash(platform_, program.c_str()) == nullptr) return true;
    if (!imageIdentity) imageIdentity = identityOf(platform_, *image);
    const std::optional<FileIdentity> programIdentity = programIdentityOf(program);
    if (!imageIdentity || !programIdentity || *imageIdentity == *programIdentity) return true;
  }
  log_.otherProgram(candidate.id, *image);
  return false;
}

std::optional<std::string> ProgramCheck::imagePathOf(RawHandle process) {
  buffer_.resize(32768);  // the longest path Windows has
  Dword size = static_cast<Dword>(buffer_.size());
  if (!platform_.QueryFullProcessImageNameA(process, 0, buffer_.data(), &size)) {
    return std::nullopt;
  }
  return buffer_.substr(0, size);
}

std::optional<FileIdentity> ProgramCheck::programIdentityOf(const std::string& program) {
  const auto known = programs_.find(program);
  if (known != programs_.end()) return known->second;
  return programs_[program] = identityOf(platform_, program);
}

}  // namespace vdksvc
