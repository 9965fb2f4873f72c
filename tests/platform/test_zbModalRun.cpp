// The one modal runner on a real display: answers given at once, before or while the window comes up,
// are never lost, and answers the caller keeps the dialog open for act without ending the run.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <vector>

#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbGtkOwner.h"
#include "platform/gtk/zbModalRun.h"

namespace zb::test {
namespace {

constexpr int WatchdogMs = 15000;
constexpr gint WatchdogAnswer = 77;

// Answers the dialog itself when the run under test would otherwise wait for ever, so that a lost
// answer fails the test instead of hanging it.
class TWatchdog {
 public:
  explicit TWatchdog(GtkWidget* ADialog)
      : FDialog(ADialog),
        FSource(g_timeout_add(
            WatchdogMs,
            +[](gpointer ASelf) noexcept -> gboolean {
              auto* self = static_cast<TWatchdog*>(ASelf);
              self->FSource.Ended();
              gtk_dialog_response(GTK_DIALOG(self->FDialog), WatchdogAnswer);
              return G_SOURCE_REMOVE;
            },
            this)) {}

 private:
  GtkWidget* FDialog;
  TzbSource FSource;
};

TzbTopLevel NewDialog() {
  TzbTopLevel dialog(gtk_dialog_new_with_buttons("Frage", nullptr, GTK_DIALOG_MODAL, "_OK", GTK_RESPONSE_OK,
                                                 "_Abbrechen", GTK_RESPONSE_CANCEL, nullptr));
  return dialog;
}

TEST(ModalRun, AnAnswerGivenWhenShownEndsTheRun) {
  const TzbTopLevel dialog = NewDialog();
  const TWatchdog watchdog(dialog.get());
  bool shownMapped = false;
  const int answer = RunModalDialog(dialog.get(), [&] {
    shownMapped = gtk_widget_get_mapped(dialog.get());
    gtk_dialog_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_OK);
  });
  EXPECT_EQ(answer, GTK_RESPONSE_OK);
  EXPECT_TRUE(shownMapped);
}

TEST(ModalRun, AnswersKeptOpenActAndTheFollowingOneEndsTheRun) {
  const TzbTopLevel dialog = NewDialog();
  const TWatchdog watchdog(dialog.get());
  std::vector<int> acted;
  const int answer = RunModalDialog(
      dialog.get(),
      [&] {
        // Three answers at once: the first two search, the third closes.
        gtk_dialog_response(GTK_DIALOG(dialog.get()), 1);
        gtk_dialog_response(GTK_DIALOG(dialog.get()), 2);
        gtk_dialog_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_CANCEL);
      },
      [&](int AAnswer) {
        if (AAnswer != 1 && AAnswer != 2) return false;
        acted.push_back(AAnswer);
        return true;
      });
  EXPECT_EQ(answer, GTK_RESPONSE_CANCEL);
  EXPECT_EQ(acted, (std::vector<int>{1, 2}));
}

TEST(ModalRun, AnAnswerFromTheMainLoopBeforeTheWindowMapsEndsTheRun) {
  const TzbTopLevel dialog = NewDialog();
  const TWatchdog watchdog(dialog.get());
  // Idle sources run before the window's map event arrives from the display.
  g_idle_add(
      +[](gpointer ADialog) noexcept -> gboolean {
        gtk_dialog_response(GTK_DIALOG(ADialog), GTK_RESPONSE_CANCEL);
        return G_SOURCE_REMOVE;
      },
      dialog.get());
  int shown = 0;
  EXPECT_EQ(RunModalDialog(dialog.get(), [&] { ++shown; }), GTK_RESPONSE_CANCEL);
  EXPECT_LE(shown, 1);
}

TEST(ModalRun, AWindowRunsUntilItsOwnAnswer) {
  const TzbTopLevel window(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  bool closed = false;
  int shown = 0;
  RunModalWindow(
      GTK_WINDOW(window.get()), [&] { return closed; },
      [&] {
        ++shown;
        closed = true;
      });
  EXPECT_EQ(shown, 1);
  // Answered before it is shown: the hook never runs.
  RunModalWindow(
      GTK_WINDOW(window.get()), [&] { return closed; }, [&] { ++shown; });
  EXPECT_EQ(shown, 1);
}

}  // namespace
}  // namespace zb::test

int main(int argc, char** argv) {
  gtk_init_check(&argc, &argv);  // listing the tests needs no display
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
