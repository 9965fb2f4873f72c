#include "platform/glib/zbMainWait.h"

#include <gio/gio.h>

#include <memory>

#include "platform/glib/zbGOwner.h"

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

namespace {

// Owned by the task: a run given up on ends in the worker unseen.
struct TzbWorkerRun {
  std::function<void()> Work;
  bool Done = false;  // main thread only, set when the task's completion reaches the main context
};

void RunWork(GTask*, gpointer, gpointer ARun, GCancellable*) noexcept {
  try {
    AsyncState<TzbWorkerRun>(ARun).Work();
  } catch (...) {  // the work reports through its own state
  }
}

}  // namespace

bool RunInWorker(std::function<void()> AWork, int ABoundMs, const std::atomic<int>* AProgress) {
  auto run = std::make_shared<TzbWorkerRun>();
  run->Work = std::move(AWork);
  const TzbGObject<GTask> task(g_task_new(
      nullptr, nullptr,
      +[](GObject*, GAsyncResult* AResult, gpointer) noexcept {
        AsyncState<TzbWorkerRun>(g_task_get_task_data(G_TASK(AResult))).Done = true;
      },
      nullptr));
  g_task_set_task_data(task.get(), AsyncData(run), &FreeAsyncData<TzbWorkerRun>);
  g_task_run_in_thread(task.get(), &RunWork);
  for (int seen = AProgress ? AProgress->load() : 0; !WaitOnMainContext([&] { return run->Done; }, ABoundMs);) {
    const int now = AProgress ? AProgress->load() : seen;
    if (now == seen) return false;
    seen = now;
  }
  return true;
}

}  // namespace zb
