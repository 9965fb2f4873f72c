// Owners for the drawing handles of printing: cairo's own, pango's font descriptions, and lists of
// boxed values. Poppler's documents and pages and pango's layouts are GObjects and use TzbGObject.
#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include "platform/glib/zbGOwner.h"

namespace zb {

using TzbCairo = TzbOwner<cairo_t, cairo_destroy>;
using TzbCairoSurface = TzbOwner<cairo_surface_t, cairo_surface_destroy>;
using TzbCairoFontOptions = TzbOwner<cairo_font_options_t, cairo_font_options_destroy>;
using TzbPangoFontDescription = TzbOwner<PangoFontDescription, pango_font_description_free>;

}  // namespace zb
