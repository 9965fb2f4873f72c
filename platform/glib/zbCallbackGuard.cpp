#include "platform/glib/zbCallbackGuard.h"

#include <cstdio>
#include <utility>

#include "support/zbException.h"

namespace zb {
namespace {
TzbCallbackErrorHook& Hook() {
  static TzbCallbackErrorHook hook;
  return hook;
}
}  // namespace

void SetCallbackErrorHook(TzbCallbackErrorHook AHook) { Hook() = std::move(AHook); }

void CallbackFailed(const std::exception& AError) noexcept {
  try {
    if (Hook()) {
      Hook()(AError);
      return;
    }
  } catch (...) {
    // The hook itself failed; the line below is all that is left.
  }
  std::fprintf(stderr, "htmlservice: %s\n", AError.what());
}

void CallbackFailedUnknown() noexcept {
  try {
    throw EzbException(std::u16string(u"Unbekannter Fehler in einem Rückruf"));
  } catch (const std::exception& e) {
    CallbackFailed(e);
  }
}

}  // namespace zb
