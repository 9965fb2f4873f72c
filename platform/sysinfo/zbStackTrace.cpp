#include <dlfcn.h>
#include <execinfo.h>

#include <atomic>

#include "platform/sysinfo/zbSysInfo.h"
#include "support/zbDateUtils.h"

namespace zb {
namespace {

std::atomic<bool> Tracking{false};
thread_local std::optional<TzbStackList> LastStack;
thread_local bool Recording = false;

constexpr int MaxFrames = 64;

void RecordStack() {
  if (!Tracking.load(std::memory_order_relaxed) || Recording) return;
  Recording = true;  // the recorder itself must not recurse through a throw
  void* frames[MaxFrames + 2];
  const int n = backtrace(frames, MaxFrames + 2);
  TzbStackList list;
  // Skip the recorder and the throw hook.
  for (int i = 2; i < n; ++i) list.Addresses.push_back(reinterpret_cast<std::uintptr_t>(frames[i]));
  list.RecordedAt = Now();
  LastStack = std::move(list);
  Recording = false;
}

}  // namespace

void StartExceptionTracking() {
  // backtrace() loads libgcc on its first call; do it now, not while an exception is on its way.
  void* warm[1];
  backtrace(warm, 1);
  Tracking = true;
}
void StopExceptionTracking() { Tracking = false; }
bool ExceptionTrackingActive() { return Tracking; }
std::optional<TzbStackList> LastExceptionStack() { return LastStack; }
void ClearLastExceptionStack() { LastStack.reset(); }

}  // namespace zb

// Every throw in the program goes through here first: record the stack, then raise as usual.
extern "C" {
// Declared as the compiler itself declares it (no <cxxabi.h> in this file).
using TCxaThrow = void (*)(void*, void*, void (*)(void*));
[[noreturn]] void __cxa_throw(void* Thrown, void* Info, void (*Destructor)(void*)) {
  static const auto real = reinterpret_cast<TCxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
  zb::RecordStack();
  real(Thrown, Info, Destructor);
  __builtin_unreachable();
}
}
