#include "platform/glib/zbMainWait.h"

namespace zb {

void ProcessPendingMessages() {
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

void HandleOneMessage() { g_main_context_iteration(nullptr, TRUE); }

TzbDeadline::TzbDeadline(int ATimeoutMs) {
  if (ATimeoutMs > 0) FSource = g_timeout_add(static_cast<guint>(ATimeoutMs), &Fire, this);
}

TzbDeadline::~TzbDeadline() {
  if (FSource && !FExpired) g_source_remove(FSource);
}

gboolean TzbDeadline::Fire(gpointer ASelf) noexcept {
  static_cast<TzbDeadline*>(ASelf)->FExpired = true;
  return G_SOURCE_REMOVE;
}

bool WaitOnMainContext(const std::function<bool()>& ADone, int ATimeoutMs, TzbWaitMode AMode) {
  if (ADone()) return true;
  TzbDeadline deadline(ATimeoutMs);
  while (!deadline.Expired()) {
    if (AMode == TzbWaitMode::wmProcessAll) ProcessPendingMessages();
    if (ADone()) return true;
    if (deadline.Expired()) break;
    HandleOneMessage();
    if (ADone()) return true;
  }
  return ADone();
}

}  // namespace zb
