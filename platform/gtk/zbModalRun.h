// The one modal runner: every window the program waits on (its dialogs, the print dialog, page setup,
// the preview, the exception dialog and its message boxes) is shown, brought to the front and answered
// here, through the one main-context wait. Nowhere else does a wait nest for a window.
#pragma once

#include <gtk/gtk.h>

#include <functional>

namespace zb {

// The label of the button that closes a window the user only reads.
constexpr const char* CloseButtonLabel = "_Schließen";

// Shows AWindow modal and in front and serves the main context until AAnswered() holds. AOnShown runs once the
// window is mapped (or did not map within a short bound), unless it was answered before; it may answer
// at once. The window's children are the caller's to show.
void RunModalWindow(GtkWindow* AWindow, const std::function<bool()>& AAnswered,
                    const std::function<void()>& AOnShown = {});

// Shows ADialog (a GtkDialog) and its children in front and returns its answer. The answer handler is
// connected before AOnShown runs, so an answer given in AOnShown or before the wait is never lost; an
// answer for which AKeepOpen says true acts without ending the run. Escape and the close button answer
// like a button, and GTK is kept from destroying the window, which its owner destroys.
int RunModalDialog(GtkWidget* ADialog, const std::function<void()>& AOnShown = {},
                   const std::function<bool(int)>& AKeepOpen = {});

}  // namespace zb
