// The GLib toolkit under everything else: owners that end in either order with what they hold, the one
// wait's bound and its two modes, and the callback guard with errors that are no std::exception.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbMainWait.h"
#include "support/zbException.h"

namespace zb::test {
namespace {

// Counts the emissions of "notify" that reach it.
void CountNotify(GObject*, GParamSpec*, gpointer ACount) noexcept { ++*static_cast<int*>(ACount); }

// A GObject with a signal to watch: GSimpleAction's "enabled" notifies.
TzbGObject<GSimpleAction> NewAction() { return TzbGObject<GSimpleAction>(g_simple_action_new("probe", nullptr)); }

TEST(GOwner, AWeakReferenceEmptiesWhenItsObjectGoes) {
  TzbGObject<GSimpleAction> action = NewAction();
  const TzbWeak<GSimpleAction> weak(action.get());
  EXPECT_EQ(weak.Get(), action.get());
  EXPECT_TRUE(weak.Lock());
  action.reset();
  EXPECT_EQ(weak.Get(), nullptr);
  EXPECT_FALSE(weak.Lock());
  TzbWeak<GSimpleAction> unset;
  EXPECT_EQ(unset.Get(), nullptr);
  TzbWeak<GSimpleAction> moved(std::move(unset));
  EXPECT_EQ(unset.Get(), nullptr);  // NOLINT(bugprone-use-after-move): a moved-from owner stays safe
}

TEST(GOwner, ASignalEndsWithItsOwnerOrWithItsInstanceWhicheverGoesFirst) {
  int count = 0;
  TzbGObject<GSimpleAction> action = NewAction();
  {
    const TzbSignal signal(action.get(), "notify::enabled", G_CALLBACK(CountNotify), &count);
    g_simple_action_set_enabled(action.get(), FALSE);
    EXPECT_EQ(count, 1);
  }
  g_simple_action_set_enabled(action.get(), TRUE);
  EXPECT_EQ(count, 1) << "the handler outlived its owner";

  // The instance goes first: the owner's end touches nothing (GLib would warn about a bad instance).
  std::vector<TzbSignal> signals;
  signals.emplace_back(action.get(), "notify::enabled", G_CALLBACK(CountNotify), &count);
  TzbSignal moved = std::move(signals.back());
  action.reset();
  signals.clear();
  moved.Disconnect();
}

// The state an asynchronous call shares with its caller; Seen counts the callbacks outside of it.
struct TAsyncState {
  int* Seen = nullptr;
};

TEST(GOwner, AsyncDataLivesUntilTheCallEndsWhenTheCallerGaveUpAndNoLonger) {
  int seen = 0;
  std::weak_ptr<TAsyncState> watch;
  {
    auto state = std::make_shared<TAsyncState>(TAsyncState{&seen});
    watch = state;
    // A callback that runs more than once; the call drops its reference when its source ends.
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        +[](gpointer AData) noexcept -> gboolean {
          return ++*AsyncState<TAsyncState>(AData).Seen < 3 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
        },
        AsyncData(state), &FreeAsyncData<TAsyncState>);
  }
  EXPECT_FALSE(watch.expired()) << "the caller's end took the state from the call";
  EXPECT_TRUE(WaitOnMainContext([&] { return watch.expired(); }, 2000)) << "the state outlived its call";
  EXPECT_EQ(seen, 3);

  // A one-shot GIO call whose callback takes the reference back.
  auto state = std::make_shared<TAsyncState>(TAsyncState{&seen});
  watch = state;
  const TzbGObject<GFile> root(g_file_new_for_path("/"));
  g_file_query_info_async(
      root.get(), G_FILE_ATTRIBUTE_STANDARD_TYPE, G_FILE_QUERY_INFO_NONE, G_PRIORITY_DEFAULT, nullptr,
      +[](GObject* AFile, GAsyncResult* AResult, gpointer AData) noexcept {
        const std::shared_ptr<TAsyncState> call = TakeAsyncData<TAsyncState>(AData);
        const TzbGObject<GFileInfo> info(g_file_query_info_finish(G_FILE(AFile), AResult, nullptr));
        if (info && g_file_info_get_file_type(info.get()) == G_FILE_TYPE_DIRECTORY) ++*call->Seen;
      },
      AsyncData(state));
  state.reset();
  EXPECT_TRUE(WaitOnMainContext([&] { return watch.expired(); }, 5000));
  EXPECT_EQ(seen, 4);
}

// The descriptor goes with its owner or its last move target; Close() reports what close() said.
TEST(COwner, AFileDescriptorIsClosedOnceByWhoeverHoldsItLast) {
  const auto open = [](int AFd) { return ::fcntl(AFd, F_GETFD) != -1; };
  int raw = -1;
  {
    TzbFd first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(first);
    raw = first.get();
    TzbFd second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), raw);
    EXPECT_TRUE(open(raw));
  }
  EXPECT_FALSE(open(raw));
  TzbFd written(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  raw = written.get();
  EXPECT_TRUE(written.Close());
  EXPECT_FALSE(open(raw));
  EXPECT_FALSE(written.Close()) << "closing nothing is no success";
}

TEST(MainWait, TheBoundEndsAWaitThatNeverHolds) {
  EXPECT_FALSE(WaitOnMainContext([] { return false; }, 50));
  EXPECT_TRUE(WaitOnMainContext([] { return true; }, 50));
  // A condition made true by a timer ends the wait before the bound.
  bool done = false;
  const TzbSource timer(g_timeout_add(
      20,
      +[](gpointer ADone) noexcept -> gboolean {
        *static_cast<bool*>(ADone) = true;
        return G_SOURCE_CONTINUE;
      },
      &done));
  EXPECT_TRUE(WaitOnMainContext([&] { return done; }, 10000));
}

TEST(MainWait, OneAtATimeChecksAfterEveryEventProcessAllAfterAllPending) {
  std::vector<int> order;
  const auto post = [&](int AValue) {
    struct TPost {
      std::vector<int>* Order;
      int Value;
    };
    // Sources of one priority are dispatched together in one turn; a turn per value needs a priority each.
    g_idle_add_full(
        G_PRIORITY_DEFAULT_IDLE + AValue,
        +[](gpointer APost) noexcept -> gboolean {
          auto* p = static_cast<TPost*>(APost);
          p->Order->push_back(p->Value);
          return G_SOURCE_REMOVE;
        },
        new TPost{&order, AValue}, +[](gpointer APost) noexcept { delete static_cast<TPost*>(APost); });
  };
  post(1);
  post(2);
  post(3);
  EXPECT_TRUE(WaitOnMainContext([&] { return !order.empty(); }, 10000, TzbWaitMode::wmOneAtATime));
  EXPECT_EQ(order, std::vector<int>{1}) << "one at a time ran more than one turn before checking";
  ProcessPendingMessages();
  order.clear();
  post(1);
  post(2);
  post(3);
  EXPECT_TRUE(WaitOnMainContext([&] { return !order.empty(); }, 10000, TzbWaitMode::wmProcessAll));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

// Blocking work in a worker: the main loop goes on, the bound ends the wait, and progress renews it.
TEST(MainWait, WorkInAWorkerIsBoundedAndProgressRenewsTheBound) {
  struct TShared {
    std::atomic<int> Progress = 0;
    std::atomic<bool> Release = false, Ended = false;
  };
  auto shared = std::make_shared<TShared>();
  int ticks = 0;
  const TzbSource ticker(g_timeout_add(
      10,
      +[](gpointer ATicks) noexcept -> gboolean {
        ++*static_cast<int*>(ATicks);
        return G_SOURCE_CONTINUE;
      },
      &ticks));
  EXPECT_TRUE(RunInWorker([] {}, 5000));
  EXPECT_TRUE(RunInWorker([] { throw std::runtime_error("dropped"); }, 5000));
  // A work that never ends by itself is given up on after the bound, while the main loop went on.
  EXPECT_FALSE(RunInWorker(
      [shared] {
        while (!shared->Release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        shared->Ended = true;
      },
      200));
  EXPECT_GT(ticks, 5);
  shared->Release = true;  // it still owns its state and ends unseen
  EXPECT_TRUE(WaitOnMainContext([&] { return shared->Ended.load(); }, 5000));
  // Moving work outlives several bounds.
  EXPECT_TRUE(RunInWorker(
      [shared] {
        for (int i = 0; i < 6; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          ++shared->Progress;
        }
      },
      250, &shared->Progress));
}

TEST(CallbackGuard, ErrorsThatAreNoStdExceptionReachTheHookAndTheFallbackIsAnswered) {
  std::vector<std::string> seen;
  SetCallbackErrorHook([&](const std::exception& AError) { seen.emplace_back(AError.what()); });
  EXPECT_EQ(GuardCallback([]() -> int { throw 42; }, -1), -1);
  EXPECT_EQ(GuardCallback([]() -> int { throw "Text"; }, -2), -2);
  EXPECT_EQ(GuardCallback([]() -> int { throw std::runtime_error("Laufzeit"); }, -3), -3);
  GuardCallback([] { throw EzbException(std::u16string(u"Eigener Fehler")); });
  EXPECT_EQ(GuardCallback([] { return 7; }, -4), 7);
  // A hook that throws itself ends the chain; nothing escapes the guard.
  SetCallbackErrorHook([](const std::exception&) { throw 1; });
  EXPECT_EQ(GuardCallback([]() -> int { throw 2; }, -5), -5);
  SetCallbackErrorHook({});
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], seen[1]);  // both unknown: the one German text for them
  EXPECT_NE(seen[0].find("Unbekannter Fehler"), std::string::npos);
  EXPECT_EQ(seen[2], "Laufzeit");
  EXPECT_NE(seen[3].find("Eigener Fehler"), std::string::npos);
}

}  // namespace
}  // namespace zb::test
