#pragma once
// Shared by the real platform's two source files, and included by nothing else:
// the Windows operations take DWORD* where ours take Dword*.

#include "platform/win32_include.h"
#include "platform/windows_types.h"

namespace vdksvc {

static_assert(sizeof(Dword) == sizeof(DWORD) && sizeof(Long) == sizeof(LONG));

/// Stands in for a caller's optional Dword* where Windows wants a DWORD*: DWORD is
/// `unsigned long` under mingw-w64 and MSVC, a different type from our uint32_t.
/// A null pointer stays null, so Windows itself decides what a missing argument
/// means; otherwise the caller's value goes in and whatever Windows left comes back.
class DwordSlot {
 public:
  explicit DwordSlot(Dword* caller) : caller_(caller), value_(caller != nullptr ? *caller : 0) {}
  ~DwordSlot() {
    if (caller_ != nullptr) *caller_ = static_cast<Dword>(value_);
  }
  DwordSlot(const DwordSlot&) = delete;
  DwordSlot& operator=(const DwordSlot&) = delete;

  DWORD* get() { return caller_ != nullptr ? &value_ : nullptr; }

 private:
  Dword* caller_;
  DWORD value_;
};

}  // namespace vdksvc
