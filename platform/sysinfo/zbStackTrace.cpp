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

// Fills the thread's record from the frame that raised (ACaller) outwards. Runs inside the throw:
// it allocates nothing and raises nothing.
[[gnu::noinline]] void RecordStack(void* ACaller) noexcept {
  if (!Tracking.load(std::memory_order_relaxed) || Recording) return;
  Recording = true;
  constexpr int room = static_cast<int>(TzbStackList::Capacity) + 8;
  void* frames[room];
  const int n = backtrace(frames, room);
  // Frames above the raising function (this recorder, the throw hook, a sanitizer's) are dropped.
  int first = 0;
  for (int i = 0; i < n; ++i)
    if (frames[i] == ACaller) {
      first = i;
      break;
    }
  TzbStackList& list = LastStack.emplace();
  for (int i = first; i < n && list.Count < TzbStackList::Capacity; ++i)
    list.Frames[list.Count++] = reinterpret_cast<std::uintptr_t>(frames[i]);
  list.RecordedAt = Now();
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
// NOLINTNEXTLINE(bugprone-reserved-identifier): the runtime's own name, interposed on purpose.
[[noreturn]] void __cxa_throw(void* AThrown, void* AInfo, void (*ADestructor)(void*)) {
  static const auto real = reinterpret_cast<TCxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
  zb::RecordStack(__builtin_return_address(0));
  real(AThrown, AInfo, ADestructor);
  __builtin_unreachable();
}
}
