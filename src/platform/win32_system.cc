// The real platform's processes, the process's own token, files, environment,
// time, messages, standard streams and text; win32_platform.cc holds the service
// control manager and the registry. Each operation is one call of its Win32
// namesake.

#include <cstddef>
#include <cstring>

#include "platform/win32_dword_slot.h"
#include "platform/win32_include.h"
#include "platform/win32_platform.h"

namespace vdksvc {
namespace {

static_assert(sizeof(ProcessEntry32) == sizeof(PROCESSENTRY32),
              "ProcessEntry32 must have the size Process32First expects in dwSize");
static_assert(offsetof(ProcessEntry32, szExeFile) == offsetof(PROCESSENTRY32, szExeFile));
static_assert(sizeof(ProcessEntry32::szExeFile) == sizeof(PROCESSENTRY32::szExeFile));
// These pass through as the Windows structures themselves.
static_assert(sizeof(Luid) == sizeof(LUID) && offsetof(Luid, HighPart) == offsetof(LUID, HighPart));
static_assert(sizeof(TokenPrivileges) == sizeof(TOKEN_PRIVILEGES) &&
              offsetof(TokenPrivileges, Privileges) == offsetof(TOKEN_PRIVILEGES, Privileges) &&
              offsetof(LuidAndAttributes, Attributes) == offsetof(LUID_AND_ATTRIBUTES, Attributes));
static_assert(sizeof(ByHandleFileInformation) == sizeof(BY_HANDLE_FILE_INFORMATION) &&
              offsetof(ByHandleFileInformation, nFileIndexLow) ==
                  offsetof(BY_HANDLE_FILE_INFORMATION, nFileIndexLow));
static_assert(sizeof(char16_t) == sizeof(WCHAR));
// FILE_ID_INFO is declared only for Windows 8 targets; we build for Windows 7,
// where GetFileInformationByHandleEx refuses the class, so its layout is ours.
static_assert(sizeof(FileIdInfo) == 24 && offsetof(FileIdInfo, FileId) == 8);
static_assert(file::kStdOutputHandle == STD_OUTPUT_HANDLE &&
              file::kStdErrorHandle == STD_ERROR_HANDLE);

PROCESSENTRY32 toWin(const ProcessEntry32& entry) {
  PROCESSENTRY32 out{};
  // dwSize goes through unchanged: a wrong size is for Process32First to refuse.
  out.dwSize = entry.dwSize;
  out.cntUsage = entry.cntUsage;
  out.th32ProcessID = entry.th32ProcessID;
  out.th32DefaultHeapID = entry.th32DefaultHeapID;
  out.th32ModuleID = entry.th32ModuleID;
  out.cntThreads = entry.cntThreads;
  out.th32ParentProcessID = entry.th32ParentProcessID;
  out.pcPriClassBase = entry.pcPriClassBase;
  out.dwFlags = entry.dwFlags;
  std::memcpy(out.szExeFile, entry.szExeFile, sizeof(out.szExeFile));
  return out;
}

ProcessEntry32 fromWin(const PROCESSENTRY32& entry) {
  ProcessEntry32 out;
  out.dwSize = static_cast<Dword>(entry.dwSize);
  out.cntUsage = static_cast<Dword>(entry.cntUsage);
  out.th32ProcessID = static_cast<Dword>(entry.th32ProcessID);
  out.th32DefaultHeapID = static_cast<std::uintptr_t>(entry.th32DefaultHeapID);
  out.th32ModuleID = static_cast<Dword>(entry.th32ModuleID);
  out.cntThreads = static_cast<Dword>(entry.cntThreads);
  out.th32ParentProcessID = static_cast<Dword>(entry.th32ParentProcessID);
  out.pcPriClassBase = static_cast<Long>(entry.pcPriClassBase);
  out.dwFlags = static_cast<Dword>(entry.dwFlags);
  std::memcpy(out.szExeFile, entry.szExeFile, sizeof(out.szExeFile));
  return out;
}

/// Same pattern for the two snapshot walks.
template <class Call>
bool withEntry(ProcessEntry32* entry, Call call) {
  if (entry == nullptr) return call(nullptr) != FALSE;
  PROCESSENTRY32 native = toWin(*entry);
  const BOOL ok = call(&native);
  *entry = fromWin(native);
  return ok != FALSE;
}

}  // namespace

// --- Processes ---

RawHandle Win32Platform::CreateToolhelp32Snapshot(Dword flags, Dword processId) {
  return ::CreateToolhelp32Snapshot(flags, processId);
}

bool Win32Platform::Process32First(RawHandle snapshot, ProcessEntry32* entry) {
  return withEntry(entry,
                   [&](PROCESSENTRY32* native) { return ::Process32First(snapshot, native); });
}

bool Win32Platform::Process32Next(RawHandle snapshot, ProcessEntry32* entry) {
  return withEntry(entry,
                   [&](PROCESSENTRY32* native) { return ::Process32Next(snapshot, native); });
}

RawHandle Win32Platform::OpenProcess(Dword desiredAccess, bool inheritHandle, Dword processId) {
  return ::OpenProcess(desiredAccess, inheritHandle ? TRUE : FALSE, processId);
}

Dword Win32Platform::WaitForMultipleObjects(Dword count, const RawHandle* handles, bool waitAll,
                                            Dword milliseconds) {
  return static_cast<Dword>(
      ::WaitForMultipleObjects(count, handles, waitAll ? TRUE : FALSE, milliseconds));
}

bool Win32Platform::TerminateProcess(RawHandle process, unsigned exitCode) {
  return ::TerminateProcess(process, exitCode) != FALSE;
}

bool Win32Platform::CloseHandle(RawHandle handle) { return ::CloseHandle(handle) != FALSE; }

bool Win32Platform::QueryFullProcessImageNameA(RawHandle process, Dword flags, char* exeName,
                                               Dword* size) {
  DwordSlot slot(size);
  return ::QueryFullProcessImageNameA(process, flags, exeName, slot.get()) != FALSE;
}

// --- The process's own token ---

RawHandle Win32Platform::GetCurrentProcess() { return ::GetCurrentProcess(); }

bool Win32Platform::OpenProcessToken(RawHandle process, Dword desiredAccess, RawHandle* token) {
  HANDLE opened = nullptr;
  const bool done = ::OpenProcessToken(process, desiredAccess, &opened) != FALSE;
  if (token != nullptr) *token = opened;
  return done;
}

bool Win32Platform::LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) {
  return ::LookupPrivilegeValueA(systemName, name, reinterpret_cast<LUID*>(luid)) != FALSE;
}

bool Win32Platform::AdjustTokenPrivileges(RawHandle token, bool disableAll,
                                          const TokenPrivileges* newState, Dword bufferLength,
                                          TokenPrivileges* previousState, Dword* returnLength) {
  DwordSlot returned(returnLength);
  // NewState is only read, whatever the prototype says.
  return ::AdjustTokenPrivileges(
             token, disableAll ? TRUE : FALSE,
             const_cast<TOKEN_PRIVILEGES*>(reinterpret_cast<const TOKEN_PRIVILEGES*>(newState)),
             bufferLength, reinterpret_cast<TOKEN_PRIVILEGES*>(previousState),
             returned.get()) != FALSE;
}

// --- Files, environment, time, messages ---

RawHandle Win32Platform::CreateFileA(const char* fileName, Dword desiredAccess, Dword shareMode,
                                     void* securityAttributes, Dword creationDisposition,
                                     Dword flagsAndAttributes, RawHandle templateFile) {
  return ::CreateFileA(fileName, desiredAccess, shareMode,
                       static_cast<SECURITY_ATTRIBUTES*>(securityAttributes), creationDisposition,
                       flagsAndAttributes, templateFile);
}

bool Win32Platform::ReadFile(RawHandle file, void* buffer, Dword bytesToRead, Dword* bytesRead,
                             void* overlapped) {
  DWORD read = 0;
  const bool done =
      ::ReadFile(file, buffer, bytesToRead, &read, static_cast<OVERLAPPED*>(overlapped)) != FALSE;
  if (bytesRead != nullptr) *bytesRead = read;
  return done;
}

bool Win32Platform::WriteFile(RawHandle file, const void* buffer, Dword bytesToWrite,
                              Dword* bytesWritten, void* overlapped) {
  DWORD written = 0;
  const bool done = ::WriteFile(file, buffer, bytesToWrite, &written,
                                static_cast<OVERLAPPED*>(overlapped)) != FALSE;
  if (bytesWritten != nullptr) *bytesWritten = written;
  return done;
}

bool Win32Platform::GetFileInformationByHandle(RawHandle file, ByHandleFileInformation* info) {
  return ::GetFileInformationByHandle(file, reinterpret_cast<BY_HANDLE_FILE_INFORMATION*>(info)) !=
         FALSE;
}

bool Win32Platform::GetFileInformationByHandleEx(RawHandle file, int infoClass, void* info,
                                                 Dword size) {
  return ::GetFileInformationByHandleEx(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(infoClass),
                                        info, size) != FALSE;
}

Dword Win32Platform::GetFileAttributesA(const char* fileName) {
  return ::GetFileAttributesA(fileName);
}

Dword Win32Platform::GetEnvironmentVariableA(const char* name, char* buffer, Dword size) {
  return ::GetEnvironmentVariableA(name, buffer, size);
}

Dword Win32Platform::ExpandEnvironmentStringsA(const char* source, char* destination, Dword size) {
  return ::ExpandEnvironmentStringsA(source, destination, size);
}

Dword Win32Platform::FormatMessageA(Dword flags, const void* source, Dword messageId,
                                    Dword languageId, char* buffer, Dword size, void* arguments) {
  return ::FormatMessageA(flags, source, messageId, languageId, buffer, size,
                          static_cast<va_list*>(arguments));
}

void Win32Platform::GetLocalTime(SystemTime* time) {
  SYSTEMTIME native{};
  ::GetLocalTime(&native);
  time->wYear = native.wYear;
  time->wMonth = native.wMonth;
  time->wDayOfWeek = native.wDayOfWeek;
  time->wDay = native.wDay;
  time->wHour = native.wHour;
  time->wMinute = native.wMinute;
  time->wSecond = native.wSecond;
  time->wMilliseconds = native.wMilliseconds;
}

std::uint64_t Win32Platform::GetTickCount64() { return ::GetTickCount64(); }

Dword Win32Platform::GetCurrentProcessId() { return ::GetCurrentProcessId(); }

// --- Standard output and standard error ---

RawHandle Win32Platform::GetStdHandle(Dword stdHandle) { return ::GetStdHandle(stdHandle); }

bool Win32Platform::GetConsoleMode(RawHandle console, Dword* mode) {
  DwordSlot slot(mode);
  return ::GetConsoleMode(console, slot.get()) != FALSE;
}

bool Win32Platform::WriteConsoleW(RawHandle console, const char16_t* text, Dword length,
                                  Dword* written, void* reserved) {
  DwordSlot slot(written);
  return ::WriteConsoleW(console, text, length, slot.get(), reserved) != FALSE;
}

// --- Thread, errors, text ---

void Win32Platform::Sleep(Dword milliseconds) { ::Sleep(milliseconds); }

Dword Win32Platform::GetLastError() { return static_cast<Dword>(::GetLastError()); }

unsigned Win32Platform::GetACP() { return ::GetACP(); }

int Win32Platform::WideCharToMultiByte(unsigned codePage, Dword flags, const char16_t* wideText,
                                       int wideLength, char* multiByte, int multiByteSize,
                                       const char* defaultChar, bool* usedDefaultChar) {
  BOOL used = FALSE;
  const int written = ::WideCharToMultiByte(
      codePage, flags, reinterpret_cast<const WCHAR*>(wideText), wideLength, multiByte,
      multiByteSize, defaultChar, usedDefaultChar != nullptr ? &used : nullptr);
  if (usedDefaultChar != nullptr) *usedDefaultChar = used != FALSE;
  return written;
}

int Win32Platform::MultiByteToWideChar(unsigned codePage, Dword flags, const char* multiByte,
                                       int multiByteLength, char16_t* wideText, int wideSize) {
  return ::MultiByteToWideChar(codePage, flags, multiByte, multiByteLength,
                               reinterpret_cast<WCHAR*>(wideText), wideSize);
}

char* Win32Platform::CharLowerA(char* text) { return ::CharLowerA(text); }

const char* Win32Platform::CharNextA(const char* text) { return ::CharNextA(text); }

}  // namespace vdksvc
