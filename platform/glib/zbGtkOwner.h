// Owners for GTK widgets: a top-level window is destroyed, not unreferenced.
#pragma once

#include <gtk/gtk.h>

#include "platform/glib/zbGOwner.h"

namespace zb {

using TzbTopLevel = TzbOwner<GtkWidget, gtk_widget_destroy>;

// A widget held by a reference of its own (g_object_ref_sink) and destroyed when that goes: taken out
// of its container and its resources dropped (a web view's web process), then the reference released.
template <typename T>
struct TzbWidgetRelease {
  void operator()(T* AWidget) const noexcept {
    gtk_widget_destroy(GTK_WIDGET(AWidget));
    g_object_unref(AWidget);
  }
};
template <typename T>
using TzbOwnedWidget = std::unique_ptr<T, TzbWidgetRelease<T>>;

}  // namespace zb
