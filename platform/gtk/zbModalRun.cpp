#include "platform/gtk/zbModalRun.h"

#include <deque>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbMainWait.h"
#include "support/zbSound.h"

namespace zb {
namespace {

// A window that never maps (its display refuses it) still gets its on-shown hook, late.
constexpr int MapBoundMs = 5000;

struct TMapWatch {
  bool Mapped = false;
};

// Without a window manager nobody gives a new window the keyboard: it takes it when it is mapped.
gboolean OnMapped(GtkWidget* AWindow, GdkEvent*, gpointer AWatch) noexcept {
  static_cast<TMapWatch*>(AWatch)->Mapped = true;
  ShowAndBringToFront(GTK_WINDOW(AWindow));
  return FALSE;
}

}  // namespace

void RunModalWindow(GtkWindow* AWindow, const std::function<bool()>& AAnswered, const std::function<void()>& AOnShown) {
  TMapWatch watch;
  const TzbSignal mapped(AWindow, "map-event", G_CALLBACK(OnMapped), &watch);
  // Modal: the window takes GTK's grab, so a modal window below it (the exception dialog below its
  // file chooser) no longer keeps the keyboard.
  gtk_window_set_modal(AWindow, TRUE);
  gtk_widget_show(GTK_WIDGET(AWindow));
  ShowAndBringToFront(AWindow);
  if (AOnShown) {
    WaitOnMainContext([&] { return watch.Mapped || AAnswered(); }, MapBoundMs);
    if (!AAnswered()) AOnShown();
  }
  WaitOnMainContext(AAnswered, 0);
}

int RunModalDialog(GtkWidget* ADialog, const std::function<void()>& AOnShown,
                   const std::function<bool(int)>& AKeepOpen) {
  // Every answer in the order given; one that keeps the dialog open never swallows the next.
  std::deque<gint> answers;
  const TzbSignal response(ADialog, "response", G_CALLBACK(+[](GtkDialog*, gint AResponse, gpointer AData) noexcept {
                             GuardCallback([&] { static_cast<std::deque<gint>*>(AData)->push_back(AResponse); });
                           }),
                           &answers);
  // Escape closes through a delete event, after which GTK would destroy the window its owner destroys.
  const TzbSignal kept(ADialog, "delete-event", G_CALLBACK(gtk_true), nullptr);
  gtk_widget_show_all(ADialog);
  const auto answered = [&] { return !answers.empty(); };
  RunModalWindow(GTK_WINDOW(ADialog), answered, AOnShown);
  for (;;) {
    const gint answer = answers.front();
    answers.pop_front();
    if (!AKeepOpen || !AKeepOpen(answer)) return answer;
    WaitOnMainContext(answered, 0);
  }
}

}  // namespace zb
