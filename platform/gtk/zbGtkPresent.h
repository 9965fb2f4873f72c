// Bringing a window to the front with a time the X server accepts.
#pragma once

#include <gtk/gtk.h>

namespace zb {

// The time to present a window with: the current event's, else the X server's current time.
guint32 PresentationTime(GtkWindow* AWindow);
void PresentWindow(GtkWindow* AWindow);

}  // namespace zb
