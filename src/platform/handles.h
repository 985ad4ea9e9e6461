#pragma once
// Owning wrappers for the handles the logic opens through the platform. Each
// kind knows its own close function and its own "no handle" value, so a handle is
// released on every path by going out of scope.

#include <utility>

#include "platform/platform.h"

namespace vdksvc {

template <class Traits>
class UniqueHandle {
 public:
  using Raw = typename Traits::Raw;

  explicit UniqueHandle(Platform& platform, Raw raw = Traits::invalid())
      : platform_(&platform), raw_(raw) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : platform_(other.platform_), raw_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset(other.release());
      platform_ = other.platform_;
    }
    return *this;
  }

  Raw get() const { return raw_; }
  explicit operator bool() const { return Traits::isValid(raw_); }

  /// Closes the current handle, if any, and takes \a raw.
  void reset(Raw raw = Traits::invalid()) {
    if (Traits::isValid(raw_)) Traits::close(*platform_, raw_);
    raw_ = raw;
  }
  /// Closes the current handle and hands out the slot for an out-parameter.
  Raw* put() {
    reset();
    return &raw_;
  }
  Raw release() { return std::exchange(raw_, Traits::invalid()); }

 private:
  Platform* platform_;
  Raw raw_;
};

struct ScHandleTraits {
  using Raw = RawScHandle;
  static Raw invalid() { return nullptr; }
  static bool isValid(Raw raw) { return raw != nullptr; }
  static void close(Platform& platform, Raw raw) { platform.CloseServiceHandle(raw); }
};

struct RegKeyTraits {
  using Raw = RawKey;
  static Raw invalid() { return nullptr; }
  static bool isValid(Raw raw) { return raw != nullptr; }
  static void close(Platform& platform, Raw raw) { platform.RegCloseKey(raw); }
};

// CreateToolhelp32Snapshot and CreateFileA fail with INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
  using Raw = RawHandle;
  static Raw invalid() { return invalidHandleValue(); }
  static bool isValid(Raw raw) { return raw != invalidHandleValue() && raw != nullptr; }
  static void close(Platform& platform, Raw raw) { platform.CloseHandle(raw); }
};

// OpenProcess and OpenProcessToken fail with null; -1 would be the current-process
// pseudo-handle.
struct ProcessHandleTraits {
  using Raw = RawHandle;
  static Raw invalid() { return nullptr; }
  static bool isValid(Raw raw) { return raw != nullptr; }
  static void close(Platform& platform, Raw raw) { platform.CloseHandle(raw); }
};

using ScHandle = UniqueHandle<ScHandleTraits>;            ///< manager or service handle
using RegKey = UniqueHandle<RegKeyTraits>;                ///< opened registry key
using Snapshot = UniqueHandle<FileHandleTraits>;          ///< process snapshot
using ProcessHandle = UniqueHandle<ProcessHandleTraits>;  ///< opened process
using TokenHandle = UniqueHandle<ProcessHandleTraits>;    ///< opened access token
using FileHandle = UniqueHandle<FileHandleTraits>;        ///< opened file

}  // namespace vdksvc
