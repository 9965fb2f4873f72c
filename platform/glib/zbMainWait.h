// The program's one way to wait: serving the default main context (the message queue) until a
// condition holds, so that the engine, the bus and dialogs go on while a request waits. Nothing here
// polls: a sleeping wait is woken by an event or by its deadline's timer.
#pragma once

#include <glib.h>

#include <atomic>
#include <functional>

namespace zb {

enum class TzbWaitMode {
  wmProcessAll,  // everything pending is handled before the condition is checked again
  wmOneAtATime,  // the condition is checked after every single event
};

// Handles every pending event and returns when none is left; never sleeps.
void ProcessPendingMessages();
// Handles one event, sleeping until one arrives.
void HandleOneMessage();

// A deadline on the main context. A timer wakes a sleeping wait when it passes. A bound of 0 or
// less never passes.
class TzbDeadline {
 public:
  explicit TzbDeadline(int ATimeoutMs);
  ~TzbDeadline();
  TzbDeadline(const TzbDeadline&) = delete;
  TzbDeadline& operator=(const TzbDeadline&) = delete;
  bool Expired() const { return FExpired; }

 private:
  static gboolean Fire(gpointer ASelf) noexcept;
  bool FExpired = false;
  guint FSource = 0;
};

// Serves the main context until ADone() holds (true) or ATimeoutMs passed first (false);
// ATimeoutMs <= 0 waits without bound.
bool WaitOnMainContext(const std::function<bool()>& ADone, int ATimeoutMs,
                       TzbWaitMode AMode = TzbWaitMode::wmOneAtATime);

// Runs AWork in a worker thread while the main context is served (for calls that block, such as
// libcups's), until it ends (true) or ABoundMs pass without it ending (false). With AProgress, a count
// the work raises as it moves, the bound holds for every stretch without progress instead. Work given
// up on runs to its end unseen, so it must own what it touches; it reports through its own state, and
// an exception it lets out is dropped.
bool RunInWorker(std::function<void()> AWork, int ABoundMs, const std::atomic<int>* AProgress = nullptr);

}  // namespace zb
