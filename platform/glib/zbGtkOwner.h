// Owners for GTK widgets: a top-level window is destroyed, not unreferenced.
#pragma once

#include <gtk/gtk.h>

#include "platform/glib/zbGOwner.h"

namespace zb {

using TzbTopLevel = TzbOwner<GtkWidget, gtk_widget_destroy>;

}  // namespace zb
