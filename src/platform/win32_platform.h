#pragma once
// The real platform: every operation forwards to its ANSI Win32 namesake. This
// header deliberately does not include <windows.h>, so that main.cc and anything
// else that only creates the platform stays free of the Windows macros.

#include "platform/platform.h"

namespace vdksvc {

/// Platform whose operations are the real advapi32, kernel32 and user32 calls.
/// It keeps no state; one instance serves the whole run.
class Win32Platform final : public Platform {
 public:
  RawScHandle OpenSCManagerA(const char* machineName, const char* databaseName,
                             Dword desiredAccess) override;
  RawScHandle OpenServiceA(RawScHandle manager, const char* serviceName,
                           Dword desiredAccess) override;
  RawScHandle CreateServiceA(RawScHandle manager, const char* serviceName, const char* displayName,
                             Dword desiredAccess, Dword serviceType, Dword startType,
                             Dword errorControl, const char* binaryPathName,
                             const char* loadOrderGroup, Dword* tagId, const char* dependencies,
                             const char* serviceStartName, const char* password) override;
  bool ChangeServiceConfigA(RawScHandle service, Dword serviceType, Dword startType,
                            Dword errorControl, const char* binaryPathName,
                            const char* loadOrderGroup, Dword* tagId, const char* dependencies,
                            const char* serviceStartName, const char* password,
                            const char* displayName) override;
  bool ControlService(RawScHandle service, Dword control, ServiceStatus* status) override;
  bool StartServiceA(RawScHandle service, Dword numArgs, const char** args) override;
  bool QueryServiceStatus(RawScHandle service, ServiceStatus* status) override;
  bool QueryServiceStatusEx(RawScHandle service, int infoLevel, unsigned char* buffer,
                            Dword bufferSize, Dword* bytesNeeded) override;
  bool QueryServiceConfigA(RawScHandle service, unsigned char* buffer, Dword bufferSize,
                           Dword* bytesNeeded) override;
  bool QueryServiceConfig2A(RawScHandle service, Dword infoLevel, unsigned char* buffer,
                            Dword bufferSize, Dword* bytesNeeded) override;
  bool DeleteService(RawScHandle service) override;
  bool CloseServiceHandle(RawScHandle handle) override;

  Long RegOpenKeyExA(RawKey key, const char* subKey, Dword options, Dword desiredAccess,
                     RawKey* result) override;
  Long RegQueryValueExA(RawKey key, const char* valueName, Dword* reserved, Dword* type,
                        unsigned char* data, Dword* dataSize) override;
  Long RegCloseKey(RawKey key) override;

  RawHandle CreateToolhelp32Snapshot(Dword flags, Dword processId) override;
  bool Process32First(RawHandle snapshot, ProcessEntry32* entry) override;
  bool Process32Next(RawHandle snapshot, ProcessEntry32* entry) override;
  RawHandle OpenProcess(Dword desiredAccess, bool inheritHandle, Dword processId) override;
  Dword WaitForMultipleObjects(Dword count, const RawHandle* handles, bool waitAll,
                               Dword milliseconds) override;
  bool TerminateProcess(RawHandle process, unsigned exitCode) override;
  bool CloseHandle(RawHandle handle) override;
  bool QueryFullProcessImageNameA(RawHandle process, Dword flags, char* exeName,
                                  Dword* size) override;

  RawHandle GetCurrentProcess() override;
  bool OpenProcessToken(RawHandle process, Dword desiredAccess, RawHandle* token) override;
  bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) override;
  bool AdjustTokenPrivileges(RawHandle token, bool disableAll, const TokenPrivileges* newState,
                             Dword bufferLength, TokenPrivileges* previousState,
                             Dword* returnLength) override;

  RawHandle CreateFileA(const char* fileName, Dword desiredAccess, Dword shareMode,
                        void* securityAttributes, Dword creationDisposition,
                        Dword flagsAndAttributes, RawHandle templateFile) override;
  bool ReadFile(RawHandle file, void* buffer, Dword bytesToRead, Dword* bytesRead,
                void* overlapped) override;
  bool WriteFile(RawHandle file, const void* buffer, Dword bytesToWrite, Dword* bytesWritten,
                 void* overlapped) override;
  bool GetFileInformationByHandle(RawHandle file, ByHandleFileInformation* info) override;
  bool GetFileInformationByHandleEx(RawHandle file, int infoClass, void* info, Dword size) override;
  Dword GetFileAttributesA(const char* fileName) override;
  Dword GetEnvironmentVariableA(const char* name, char* buffer, Dword size) override;
  Dword ExpandEnvironmentStringsA(const char* source, char* destination, Dword size) override;
  Dword FormatMessageA(Dword flags, const void* source, Dword messageId, Dword languageId,
                       char* buffer, Dword size, void* arguments) override;
  void GetLocalTime(SystemTime* time) override;
  std::uint64_t GetTickCount64() override;
  Dword GetCurrentProcessId() override;

  RawHandle GetStdHandle(Dword stdHandle) override;
  bool GetConsoleMode(RawHandle console, Dword* mode) override;
  bool WriteConsoleW(RawHandle console, const char16_t* text, Dword length, Dword* written,
                     void* reserved) override;

  void Sleep(Dword milliseconds) override;
  Dword GetLastError() override;
  unsigned GetACP() override;
  int WideCharToMultiByte(unsigned codePage, Dword flags, const char16_t* wideText, int wideLength,
                          char* multiByte, int multiByteSize, const char* defaultChar,
                          bool* usedDefaultChar) override;
  int MultiByteToWideChar(unsigned codePage, Dword flags, const char* multiByte,
                          int multiByteLength, char16_t* wideText, int wideSize) override;
  char* CharLowerA(char* text) override;
  const char* CharNextA(const char* text) override;
};

}  // namespace vdksvc
