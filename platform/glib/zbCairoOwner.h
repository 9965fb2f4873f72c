// Owners for the drawing handles of printing: cairo's own reference counting, and poppler's and
// pango's objects, which are GObjects and use TzbGObject.
#pragma once

#include <cairo.h>

#include "platform/glib/zbGOwner.h"

namespace zb {

using TzbCairo = TzbOwner<cairo_t, cairo_destroy>;
using TzbCairoSurface = TzbOwner<cairo_surface_t, cairo_surface_destroy>;

}  // namespace zb
