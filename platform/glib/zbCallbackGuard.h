// The boundary between C frames (GLib signal emission, GDBus, WebKit, main-context sources) and our
// C++: a C++ exception must never unwind through them, so every trampoline runs its work inside
// GuardCallback, which hands an escaping error to the process's error hook and answers a fallback.
#pragma once

#include <exception>
#include <functional>
#include <type_traits>

namespace zb {

using TzbCallbackErrorHook = std::function<void(const std::exception&)>;

// The service installs its error hook here; without one, the error is printed to stderr.
void SetCallbackErrorHook(TzbCallbackErrorHook AHook);
// Hands AError to the hook; never throws.
void CallbackFailed(const std::exception& AError) noexcept;
void CallbackFailedUnknown() noexcept;

// Runs AWork; an escaping exception goes to the hook and AFallback is answered instead.
template <typename F, typename R = std::invoke_result_t<F>>
R GuardCallback(F&& AWork, R AFallback = R{}) noexcept {
  try {
    return std::forward<F>(AWork)();
  } catch (const std::exception& e) {
    CallbackFailed(e);
  } catch (...) {
    CallbackFailedUnknown();
  }
  return AFallback;
}

template <typename F>
requires std::is_void_v<std::invoke_result_t<F>>
void GuardCallback(F&& AWork) noexcept {
  try {
    std::forward<F>(AWork)();
  } catch (const std::exception& e) {
    CallbackFailed(e);
  } catch (...) {
    CallbackFailedUnknown();
  }
}

}  // namespace zb
