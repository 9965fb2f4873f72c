#include "platform/gtk/zbGtkPresent.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace zb {

// A window opened for a request answers the user's action in the suite, but a bus call carries no
// event, and GTK's fallback (the process's last user time) is older than the focus another program got
// since: a window manager that prevents focus stealing, as the common desktops do, would leave the
// keyboard there. The X server's current time is the time of that request.
guint32 PresentationTime(GtkWindow* AWindow) {
  const guint32 event = gtk_get_current_event_time();
  if (event != GDK_CURRENT_TIME) return event;
#ifdef GDK_WINDOWING_X11
  gtk_widget_realize(GTK_WIDGET(AWindow));
  GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(AWindow));
  // GDK has every top-level window listen for property changes (whatever its own event mask says),
  // and the server's time is read through one.
  if (window && GDK_IS_X11_WINDOW(window) && gdk_window_get_window_type(window) == GDK_WINDOW_TOPLEVEL)
    return gdk_x11_get_server_time(window);
#endif
  return GDK_CURRENT_TIME;
}

void PresentWindow(GtkWindow* AWindow) { gtk_window_present_with_time(AWindow, PresentationTime(AWindow)); }

}  // namespace zb
