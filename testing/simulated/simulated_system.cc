// The simulated files, environment, clock and message texts: what list files and
// the step log reach through the platform.

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "simulated/simulated_platform.h"
#include "simulated/simulated_state.h"

namespace vdksvc {
namespace {

using World = SimulatedWorld;
using Kind = World::Kind;

constexpr Dword kSharingViolation = 32;      // ERROR_SHARING_VIOLATION
constexpr Dword kDiskFull = 112;             // ERROR_DISK_FULL
constexpr Dword kNoData = 232;               // ERROR_NO_DATA: the pipe is being closed
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

bool refuse(World& s, Dword error) {
  s.lastError = error;
  return false;
}

// The rights to a file's data that another handle has to share: to read, to write.
constexpr Dword kReadRights = access::kGenericRead | access::kGenericAll | access::kFileReadData;
constexpr Dword kWriteRights =
    access::kGenericWrite | access::kGenericAll | access::kFileWriteData | file::kAppendData;

/// True when an open of the file \a key with \a desired access and \a share
/// mode clashes with a handle open on it: one reads or writes what the other
/// does not share.
bool clashes(const World& s, const std::string& key, Dword desired, Dword share) {
  const auto refuses = [](Dword rights, Dword sharing) {
    return ((rights & kReadRights) != 0 && (sharing & file::kShareRead) == 0) ||
           ((rights & kWriteRights) != 0 && (sharing & file::kShareWrite) == 0);
  };
  return std::any_of(s.handles.begin(), s.handles.end(), [&](const auto& entry) {
    const World::Handle& open = entry.second;
    return open.kind == Kind::kFile && open.filePath == key &&
           (refuses(desired, open.share) || refuses(open.access, share));
  });
}

/// Every volume of the simulation has this serial number.
constexpr Dword kVolumeSerial = 0x5644'4B31;

/// Code page 1252's characters at 0x80 to 0x9F; 0 where it has none there.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

/// The code page 1252 byte of \a unit; nothing when it has none.
std::optional<char> cp1252Byte(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
  const auto* found = std::find(std::begin(kCp1252High), std::end(kCp1252High), unit);
  if (found == std::end(kCp1252High)) return std::nullopt;
  return static_cast<char>(0x80 + (found - std::begin(kCp1252High)));
}

/// \a text in UTF-8; a lone surrogate becomes U+FFFD.
std::string utf8Of(std::u16string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDFFF) {
      const bool paired =
          code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
      code = paired ? 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00) : 0xFFFD;
    }
    // The lead byte's marker, and how many continuation bytes follow it.
    const int more = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    constexpr unsigned char kLeads[] = {0x00, 0xC0, 0xE0, 0xF0};
    bytes += static_cast<char>(kLeads[more] | code >> (6 * more));
    for (int k = more - 1; k >= 0; --k) bytes += static_cast<char>(0x80 | (code >> (6 * k) & 0x3F));
  }
  return bytes;
}

// The standard streams' handles: fixed values, far below every issued token.
RawHandle standardHandle(Dword which) {
  return reinterpret_cast<RawHandle>(
      static_cast<std::uintptr_t>(which == file::kStdOutputHandle ? 0x11 : 0x12));
}

const char* standardName(Dword which) {
  return which == file::kStdOutputHandle ? "stdout" : "stderr";
}

}  // namespace

SimulatedWorld::StandardStream* SimulatedWorld::standardStreamOf(const void* raw) {
  for (const Dword which : {file::kStdOutputHandle, file::kStdErrorHandle}) {
    StandardStream& stream = which == file::kStdOutputHandle ? standardOutput : standardError;
    if (raw == standardHandle(which) && stream.kind != SimulatedPlatform::Stream::kNone) {
      return &stream;
    }
  }
  return nullptr;
}

SimulatedWorld::File& SimulatedWorld::makeFile(const std::string& path, Dword index) {
  File& made = files[foldCase(path)];
  if (made.path.empty()) made.path = path;
  if (!made.exists) made.index = index != 0 ? index : nextFileIndex++;
  made.exists = true;
  return made;
}

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

void SimulatedPlatform::setFileContents(const std::string& path, const std::string& bytes) {
  World::File& file = state_->makeFile(path, 0);
  file.directory = false;
  file.bytes = bytes;
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

void SimulatedPlatform::addFile(const std::string& path, Dword fileIndex,
                                std::uint64_t fileIdHigh) {
  if (fileIndex >= state_->nextFileIndex) state_->nextFileIndex = fileIndex + 1;
  World::File& added = state_->makeFile(path, fileIndex);
  added.directory = false;
  added.idHigh = fileIdHigh;
}

void SimulatedPlatform::setFileIdInfoSupported(bool supported) {
  state_->fileIdInfoSupported = supported;
}

void SimulatedPlatform::addDirectory(const std::string& path) {
  state_->makeFile(path, 0).directory = true;
}

void SimulatedPlatform::setStandardStream(Dword which, Stream stream) {
  World::StandardStream& set =
      which == file::kStdOutputHandle ? state_->standardOutput : state_->standardError;
  set = World::StandardStream{stream, {}};
}

std::string SimulatedPlatform::standardStream(Dword which) const {
  return (which == file::kStdOutputHandle ? state_->standardOutput : state_->standardError).text;
}

// --- Platform ---

RawHandle SimulatedPlatform::GetStdHandle(Dword stdHandle) {
  World& s = *state_;
  if (stdHandle != file::kStdOutputHandle && stdHandle != file::kStdErrorHandle) {
    return failFile(s, winerr::kInvalidHandle);
  }
  return s.standardStreamOf(standardHandle(stdHandle)) != nullptr ? standardHandle(stdHandle)
                                                                  : nullptr;
}

bool SimulatedPlatform::GetConsoleMode(RawHandle console, Dword* mode) {
  World& s = *state_;
  const World::StandardStream* stream = s.standardStreamOf(console);
  if (stream == nullptr || stream->kind != Stream::kConsole || mode == nullptr) {
    s.lastError = mode == nullptr ? winerr::kInvalidAddress : winerr::kInvalidHandle;
    return false;
  }
  *mode = 0x3;  // ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT
  return true;
}

bool SimulatedPlatform::WriteConsoleW(RawHandle console, const char16_t* text, Dword length,
                                      Dword* written, void* /*reserved*/) {
  World& s = *state_;
  World::StandardStream* stream = s.standardStreamOf(console);
  s.log(std::string("WriteConsoleW ") +
        (stream == nullptr ? "(invalid)"
                           : standardName(stream == &s.standardOutput ? file::kStdOutputHandle
                                                                      : file::kStdErrorHandle)) +
        " " + std::to_string(length));
  if (written != nullptr) *written = 0;
  if (stream == nullptr || stream->kind != Stream::kConsole || (text == nullptr && length > 0)) {
    s.lastError = stream == nullptr || stream->kind != Stream::kConsole ? winerr::kInvalidHandle
                                                                        : winerr::kInvalidParameter;
    return false;
  }
  stream->text += utf8Of(std::u16string_view(text, length));
  if (written != nullptr) *written = length;
  return true;
}

RawHandle SimulatedPlatform::CreateFileA(const char* fileName, Dword desiredAccess, Dword shareMode,
                                         void* /*securityAttributes*/, Dword creationDisposition,
                                         Dword flagsAndAttributes, RawHandle /*templateFile*/) {
  World& s = *state_;
  s.log(std::string("CreateFileA ") + (fileName == nullptr ? "(null)" : fileName));
  const bool openOnly = creationDisposition == file::kOpenExisting;
  if (fileName == nullptr || *fileName == '\0' ||
      (!openOnly && creationDisposition != file::kOpenAlways)) {
    return failFile(s, winerr::kInvalidParameter);
  }
  const std::string key = World::foldCase(fileName);
  const auto seeded = s.files.find(key);
  if (openOnly && (seeded == s.files.end() || !seeded->second.exists)) {
    return failFile(s, winerr::kFileNotFound);
  }
  if (seeded != s.files.end() && seeded->second.openRefused) {
    return failFile(s, winerr::kAccessDenied);
  }
  if (clashes(s, key, desiredAccess, shareMode)) return failFile(s, kSharingViolation);
  const World::File& opened = s.makeFile(fileName, 0);
  if (opened.directory && (flagsAndAttributes & access::kFileBackupSemantics) == 0) {
    return failFile(s, winerr::kAccessDenied);
  }
  World::Handle handle;
  handle.kind = Kind::kFile;
  handle.access = desiredAccess;
  handle.filePath = key;
  handle.share = shareMode;
  return reinterpret_cast<RawHandle>(s.issue(std::move(handle)));
}

bool SimulatedPlatform::ReadFile(RawHandle fileHandle, void* buffer, Dword bytesToRead,
                                 Dword* bytesRead, void* /*overlapped*/) {
  World& s = *state_;
  World::Handle* h = s.handleOf(fileHandle, Kind::kFile);
  s.log("ReadFile " + (h == nullptr ? std::string("(invalid)") : s.files.at(h->filePath).path) +
        " " + std::to_string(bytesToRead));
  if (bytesRead != nullptr) *bytesRead = 0;
  if (h == nullptr) return refuse(s, winerr::kInvalidHandle);
  if ((h->access & kReadRights) == 0) return refuse(s, winerr::kAccessDenied);
  if (buffer == nullptr && bytesToRead > 0) return refuse(s, winerr::kInvalidParameter);
  const std::string& bytes = s.files.at(h->filePath).bytes;
  const std::size_t from = std::min(h->cursor, bytes.size());
  const std::size_t count = std::min<std::size_t>(bytesToRead, bytes.size() - from);
  if (count > 0) std::memcpy(buffer, bytes.data() + from, count);
  h->cursor = from + count;
  if (bytesRead != nullptr) *bytesRead = static_cast<Dword>(count);
  return true;
}

bool SimulatedPlatform::WriteFile(RawHandle fileHandle, const void* buffer, Dword bytesToWrite,
                                  Dword* bytesWritten, void* /*overlapped*/) {
  World& s = *state_;
  if (World::StandardStream* stream = s.standardStreamOf(fileHandle)) {
    s.log(
        std::string("WriteFile ") +
        standardName(stream == &s.standardOutput ? file::kStdOutputHandle : file::kStdErrorHandle) +
        " " + std::to_string(bytesToWrite));
    if (bytesWritten != nullptr) *bytesWritten = 0;
    if (stream->kind == Stream::kBrokenPipe || (buffer == nullptr && bytesToWrite > 0)) {
      s.lastError = stream->kind == Stream::kBrokenPipe ? kNoData : winerr::kInvalidParameter;
      return false;
    }
    stream->text.append(static_cast<const char*>(buffer), bytesToWrite);
    if (bytesWritten != nullptr) *bytesWritten = bytesToWrite;
    return true;
  }
  World::Handle* h = s.handleOf(fileHandle, Kind::kFile);
  s.log("WriteFile " + (h == nullptr ? std::string("(invalid)") : s.files.at(h->filePath).path) +
        " " + std::to_string(bytesToWrite));
  if (bytesWritten != nullptr) *bytesWritten = 0;
  if (h == nullptr) return refuse(s, winerr::kInvalidHandle);
  if ((h->access & file::kAppendData) == 0) return refuse(s, winerr::kAccessDenied);
  if (buffer == nullptr && bytesToWrite > 0) return refuse(s, winerr::kInvalidParameter);
  World::File& target = s.files.at(h->filePath);
  if (target.writeFails) return refuse(s, kDiskFull);
  target.bytes.append(static_cast<const char*>(buffer), bytesToWrite);
  if (bytesWritten != nullptr) *bytesWritten = bytesToWrite;
  return true;
}

bool SimulatedPlatform::GetFileInformationByHandle(RawHandle fileHandle,
                                                   ByHandleFileInformation* info) {
  World& s = *state_;
  const World::Handle* h = s.handleOf(fileHandle, Kind::kFile);
  if (h == nullptr || info == nullptr) {
    s.lastError = h == nullptr ? winerr::kInvalidHandle : winerr::kInvalidParameter;
    return false;
  }
  const World::File& opened = s.files.at(h->filePath);
  *info = ByHandleFileInformation{};
  info->dwFileAttributes = opened.directory ? file::kAttributeDirectory : file::kAttributeNormal;
  info->dwVolumeSerialNumber = kVolumeSerial;
  info->nFileSizeLow = static_cast<Dword>(opened.bytes.size());
  info->nNumberOfLinks = 1;
  info->nFileIndexLow = opened.index;
  return true;
}

bool SimulatedPlatform::GetFileInformationByHandleEx(RawHandle fileHandle, int infoClass,
                                                     void* info, Dword size) {
  World& s = *state_;
  const World::Handle* h = s.handleOf(fileHandle, Kind::kFile);
  if (h == nullptr) {
    s.lastError = winerr::kInvalidHandle;
    return false;
  }
  if (infoClass != file::kFileIdInfo || !s.fileIdInfoSupported || info == nullptr) {
    s.lastError = winerr::kInvalidParameter;
    return false;
  }
  if (size < sizeof(FileIdInfo)) {
    s.lastError = winerr::kBadLength;
    return false;
  }
  const World::File& opened = s.files.at(h->filePath);
  FileIdInfo id;
  id.VolumeSerialNumber = kVolumeSerial;
  // Little-endian, as FILE_ID_128 holds it on x86: the index, then the upper half.
  const std::uint64_t halves[2] = {opened.index, opened.idHigh};
  for (int i = 0; i < 16; ++i) {
    id.FileId[i] = static_cast<unsigned char>(halves[i / 8] >> (8 * (i % 8)));
  }
  std::memcpy(info, &id, sizeof id);
  return true;
}

Dword SimulatedPlatform::GetFileAttributesA(const char* fileName) {
  World& s = *state_;
  const auto found = s.files.find(World::foldCase(fileName == nullptr ? "" : fileName));
  if (found == s.files.end() || !found->second.exists) {
    s.lastError = winerr::kFileNotFound;
    return file::kInvalidAttributes;
  }
  return found->second.directory ? file::kAttributeDirectory : file::kAttributeNormal;
}

int SimulatedPlatform::WideCharToMultiByte(unsigned codePage, Dword flags, const char16_t* wideText,
                                           int wideLength, char* multiByte, int multiByteSize,
                                           const char* defaultChar, bool* usedDefaultChar) {
  World& s = *state_;
  const bool utf8 = codePage == file::kUtf8 || (codePage == file::kAnsiCodePage && s.utf8CodePage);
  const auto fail = [&s](Dword error) {
    s.lastError = error;
    return 0;
  };
  // A length of -1 (up to the NUL) is not modelled.
  if ((codePage != file::kAnsiCodePage && !utf8) || wideText == nullptr || wideLength <= 0 ||
      multiByteSize < 0) {
    return fail(winerr::kInvalidParameter);
  }
  std::string converted;
  if (utf8) {
    // UTF-8 has every character: a default character has no use, and the
    // flags that choose one are refused.
    if (flags != 0) return fail(winerr::kInvalidFlags);
    if (defaultChar != nullptr || usedDefaultChar != nullptr) {
      return fail(winerr::kInvalidParameter);
    }
    converted = utf8Of(std::u16string_view(wideText, static_cast<std::size_t>(wideLength)));
  } else {
    bool usedDefault = false;
    for (int i = 0; i < wideLength; ++i) {
      const std::optional<char> byte = cp1252Byte(wideText[i]);
      usedDefault = usedDefault || !byte;
      converted += byte.value_or(defaultChar != nullptr ? *defaultChar : '?');
    }
    if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault;
  }
  if (multiByteSize == 0) return static_cast<int>(converted.size());
  if (multiByte == nullptr || static_cast<std::size_t>(multiByteSize) < converted.size()) {
    s.lastError = winerr::kInsufficientBuffer;
    return 0;
  }
  std::copy(converted.begin(), converted.end(), multiByte);
  return static_cast<int>(converted.size());
}

int SimulatedPlatform::MultiByteToWideChar(unsigned codePage, Dword flags, const char* multiByte,
                                           int multiByteLength, char16_t* wideText, int wideSize) {
  World& s = *state_;
  // A length of -1 (up to the NUL) is not modelled.
  if ((codePage != file::kAnsiCodePage && codePage != 1252) || flags != 0 || multiByte == nullptr ||
      multiByteLength <= 0 || wideSize < 0) {
    s.lastError = winerr::kInvalidParameter;
    return 0;
  }
  if (wideSize == 0) return multiByteLength;
  if (wideText == nullptr || wideSize < multiByteLength) {
    s.lastError = winerr::kInsufficientBuffer;
    return 0;
  }
  for (int i = 0; i < multiByteLength; ++i) {
    const auto byte = static_cast<unsigned char>(multiByte[i]);
    wideText[i] = byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : char16_t{byte};
  }
  return multiByteLength;
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
