// The table every call of platform.h goes through, in the manner of a
// syscall table. Each implementation defines its functions in namespace
// native, and NativeCalls holds them from compile time on; Calls starts as a
// copy of it, so the shipped program needs no start-up code. Layers (the
// session, the tests' interposer) are installed over it, between the removal
// logic and whichever implementation is linked.
//
// The removal logic never includes this header: it sees platform.h only.
#pragma once

#include "platform/platform.h"

namespace platform {

// The calls of platform.h, each named once: every table of them and every
// declaration of an implementation's functions is made from this list, so
// that a call added to the contract cannot be missing from one of them.
#define TQ72_PLATFORM_CALLS(X) \
  X(RegOpenKeyExA)             \
  X(RegEnumKeyExA)             \
  X(RegQueryValueExA)          \
  X(RegDeleteKeyA)             \
  X(RegCloseKey)               \
  X(GetWindowsDirectoryA)      \
  X(GetSystemDirectoryA)       \
  X(DeleteFileA)               \
  X(CopyFileA)                 \
  X(CreateFileA)               \
  X(ReadFile)                  \
  X(WriteFile)                 \
  X(CloseHandle)               \
  X(MessageBoxA)

struct CallTable {
#define TQ72_CALL_TABLE_ENTRY(name) decltype(&platform::name) name;
  TQ72_PLATFORM_CALLS(TQ72_CALL_TABLE_ENTRY)
#undef TQ72_CALL_TABLE_ENTRY
};

// Each implementation defines these, with the signatures of platform.h;
// NativeCalls holds them.
namespace native {
#define TQ72_NATIVE_CALL(name) decltype(platform::name) name;
TQ72_PLATFORM_CALLS(TQ72_NATIVE_CALL)
#undef TQ72_NATIVE_CALL
}  // namespace native

// The linked implementation's calls; never changed.
extern const CallTable NativeCalls;
// The calls the platform.h functions make now.
extern CallTable Calls;

// A layer over the calls, the one way the session and the tests' layers go
// between the removal logic and the platform. Install puts the layer's table
// in the place of the calls installed at that moment and keeps those: the
// layer forwards to them (Below), whichever they are, and Remove puts them
// back. Layers come off in the reverse order they went on; a test holds each
// in a scope, so that a failed assertion cannot leave one installed.
class Layer {
 public:
  void Install(const CallTable &calls) {
    below_ = Calls;
    Calls = calls;
  }
  void Remove() const { Calls = below_; }
  const CallTable &Below() const { return below_; }

 private:
  CallTable below_{};
};

}  // namespace platform
