#pragma once
// The seam between vdksvc's logic and the operating system.
//
// The logic never includes <windows.h>: it reaches the service control manager,
// the registry and the process table only through `Platform`. The operations keep
// their Windows names and ANSI variants, and their arguments and results follow
// the Win32 documentation, expressed in the portable types of windows_types.h so
// that the logic compiles anywhere. `Win32Platform` forwards each call to the
// real API; `SimulatedPlatform` is the in-memory Windows the unit tests run
// against.

#include <cstdint>

#include "platform/windows_types.h"

namespace vdksvc {

/// The operations vdksvc needs from Windows. Every method behaves as its Win32
/// namesake is documented to; "BOOL" results are true for non-zero.
class Platform {
 public:
  virtual ~Platform() = default;

  // --- Service control manager (advapi32) ---
  virtual RawScHandle OpenSCManagerA(const char* machineName, const char* databaseName,
                                     Dword desiredAccess) = 0;
  virtual RawScHandle OpenServiceA(RawScHandle manager, const char* serviceName,
                                   Dword desiredAccess) = 0;
  /// \a dependencies is a double-NUL-terminated list of names, or null.
  virtual RawScHandle CreateServiceA(RawScHandle manager, const char* serviceName,
                                     const char* displayName, Dword desiredAccess,
                                     Dword serviceType, Dword startType, Dword errorControl,
                                     const char* binaryPathName, const char* loadOrderGroup,
                                     Dword* tagId, const char* dependencies,
                                     const char* serviceStartName, const char* password) = 0;
  virtual bool ChangeServiceConfigA(RawScHandle service, Dword serviceType, Dword startType,
                                    Dword errorControl, const char* binaryPathName,
                                    const char* loadOrderGroup, Dword* tagId,
                                    const char* dependencies, const char* serviceStartName,
                                    const char* password, const char* displayName) = 0;
  virtual bool ControlService(RawScHandle service, Dword control, ServiceStatus* status) = 0;
  virtual bool StartServiceA(RawScHandle service, Dword numArgs, const char** args) = 0;
  virtual bool QueryServiceStatus(RawScHandle service, ServiceStatus* status) = 0;
  /// Only the SC_STATUS_PROCESS_INFO level; \a buffer receives a
  /// ServiceStatusProcess. Fails with ERROR_INSUFFICIENT_BUFFER when it is too small.
  virtual bool QueryServiceStatusEx(RawScHandle service, int infoLevel, unsigned char* buffer,
                                    Dword bufferSize, Dword* bytesNeeded) = 0;
  /// \a buffer (aligned for ServiceConfigData) receives the configuration and
  /// its texts; fails with ERROR_INSUFFICIENT_BUFFER and the size needed in
  /// \a bytesNeeded when it is too small.
  virtual bool QueryServiceConfigA(RawScHandle service, unsigned char* buffer, Dword bufferSize,
                                   Dword* bytesNeeded) = 0;
  /// Fails with ERROR_INSUFFICIENT_BUFFER and the size needed in \a bytesNeeded
  /// when \a buffer is too small.
  virtual bool QueryServiceConfig2A(RawScHandle service, Dword infoLevel, unsigned char* buffer,
                                    Dword bufferSize, Dword* bytesNeeded) = 0;
  virtual bool DeleteService(RawScHandle service) = 0;
  virtual bool CloseServiceHandle(RawScHandle handle) = 0;

  // --- Registry (advapi32); results are Win32 error codes, 0 on success ---
  virtual Long RegOpenKeyExA(RawKey key, const char* subKey, Dword options, Dword desiredAccess,
                             RawKey* result) = 0;
  virtual Long RegQueryValueExA(RawKey key, const char* valueName, Dword* reserved, Dword* type,
                                unsigned char* data, Dword* dataSize) = 0;
  virtual Long RegCloseKey(RawKey key) = 0;

  // --- Processes (kernel32) ---
  virtual RawHandle CreateToolhelp32Snapshot(Dword flags, Dword processId) = 0;
  virtual bool Process32First(RawHandle snapshot, ProcessEntry32* entry) = 0;
  virtual bool Process32Next(RawHandle snapshot, ProcessEntry32* entry) = 0;
  virtual RawHandle OpenProcess(Dword desiredAccess, bool inheritHandle, Dword processId) = 0;
  virtual Dword WaitForMultipleObjects(Dword count, const RawHandle* handles, bool waitAll,
                                       Dword milliseconds) = 0;
  virtual bool TerminateProcess(RawHandle process, unsigned exitCode) = 0;
  virtual bool CloseHandle(RawHandle handle) = 0;
  /// The image file of the process, as a Win32 path; \a size is the buffer's size
  /// in, the length copied (without NUL) out.
  virtual bool QueryFullProcessImageNameA(RawHandle process, Dword flags, char* exeName,
                                          Dword* size) = 0;

  // --- The process's own token (kernel32, advapi32) ---
  /// The pseudo-handle of the current process; it needs no closing.
  virtual RawHandle GetCurrentProcess() = 0;
  virtual bool OpenProcessToken(RawHandle process, Dword desiredAccess, RawHandle* token) = 0;
  virtual bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) = 0;
  /// Succeeds with GetLastError ERROR_NOT_ALL_ASSIGNED when the token lacks a
  /// privilege of \a newState, ERROR_SUCCESS otherwise. \a previousState receives
  /// the privileges it changed, as they were.
  virtual bool AdjustTokenPrivileges(RawHandle token, bool disableAll,
                                     const TokenPrivileges* newState, Dword bufferLength,
                                     TokenPrivileges* previousState, Dword* returnLength) = 0;

  // --- Files, environment, time, messages (kernel32); list files and the step log ---
  /// A handle for CloseHandle, or INVALID_HANDLE_VALUE on failure.
  virtual RawHandle CreateFileA(const char* fileName, Dword desiredAccess, Dword shareMode,
                                void* securityAttributes, Dword creationDisposition,
                                Dword flagsAndAttributes, RawHandle templateFile) = 0;
  /// Reads from where the file stands; at its end it succeeds with 0 bytes read.
  virtual bool ReadFile(RawHandle file, void* buffer, Dword bytesToRead, Dword* bytesRead,
                        void* overlapped) = 0;
  virtual bool WriteFile(RawHandle file, const void* buffer, Dword bytesToWrite,
                         Dword* bytesWritten, void* overlapped) = 0;
  /// The volume serial number and file index tell one file from another,
  /// whatever path it was opened by.
  virtual bool GetFileInformationByHandle(RawHandle file, ByHandleFileInformation* info) = 0;
  /// Only the FileIdInfo class is used; a file system or a Windows that does not
  /// know it fails the call.
  virtual bool GetFileInformationByHandleEx(RawHandle file, int infoClass, void* info,
                                            Dword size) = 0;
  /// The attributes of the file or directory, or INVALID_FILE_ATTRIBUTES.
  virtual Dword GetFileAttributesA(const char* fileName) = 0;
  /// The length copied (without NUL), the size needed when \a size is too small,
  /// or 0 when the variable is not set.
  virtual Dword GetEnvironmentVariableA(const char* name, char* buffer, Dword size) = 0;
  /// The size needed or copied, NUL included; 0 on failure.
  virtual Dword ExpandEnvironmentStringsA(const char* source, char* destination, Dword size) = 0;
  /// The length of the message text written to \a buffer, 0 when there is none.
  virtual Dword FormatMessageA(Dword flags, const void* source, Dword messageId, Dword languageId,
                               char* buffer, Dword size, void* arguments) = 0;
  virtual void GetLocalTime(SystemTime* time) = 0;
  virtual std::uint64_t GetTickCount64() = 0;
  virtual Dword GetCurrentProcessId() = 0;

  // --- Standard output and standard error (kernel32) ---
  /// STD_OUTPUT_HANDLE or STD_ERROR_HANDLE as the process received it: a
  /// console, a file, a pipe; null or INVALID_HANDLE_VALUE when it has none.
  virtual RawHandle GetStdHandle(Dword stdHandle) = 0;
  /// Succeeds for a console handle only, so it tells a console from a
  /// redirected stream.
  virtual bool GetConsoleMode(RawHandle console, Dword* mode) = 0;
  virtual bool WriteConsoleW(RawHandle console, const char16_t* text, Dword length, Dword* written,
                             void* reserved) = 0;

  // --- Thread, errors, text ---
  virtual void Sleep(Dword milliseconds) = 0;
  virtual Dword GetLastError() = 0;
  /// The ANSI code page: 1252, 932 and the like, or 65001 where the system uses
  /// UTF-8 for it.
  virtual unsigned GetACP() = 0;
  /// Converts UTF-16 to \a codePage; the bytes written, or the size needed when
  /// \a multiByteSize is 0; 0 on failure. \a usedDefaultChar tells whether a
  /// character had no equivalent.
  virtual int WideCharToMultiByte(unsigned codePage, Dword flags, const char16_t* wideText,
                                  int wideLength, char* multiByte, int multiByteSize,
                                  const char* defaultChar, bool* usedDefaultChar) = 0;
  /// Converts from \a codePage to UTF-16; the units written, or the size needed
  /// when \a wideSize is 0; 0 on failure.
  virtual int MultiByteToWideChar(unsigned codePage, Dword flags, const char* multiByte,
                                  int multiByteLength, char16_t* wideText, int wideSize) = 0;
  /// Lowers \a text in place in the ANSI code page; returns \a text.
  virtual char* CharLowerA(char* text) = 0;
  /// The character after the one at \a text in the ANSI code page: two bytes on
  /// after a lead byte of a double-byte code page that is not the last byte,
  /// one byte on otherwise; \a text itself at its terminating NUL.
  virtual const char* CharNextA(const char* text) = 0;
};

}  // namespace vdksvc
