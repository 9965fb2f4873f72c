// RAII owners for the C handles of printing (cairo, poppler, pango, GLib, CUPS), so that logic code
// never releases by hand.
#pragma once

#include <cairo.h>
#include <cups/cups.h>
#include <glib-object.h>
#include <pango/pango.h>

#include <memory>

namespace zb::print {

struct TzbCairoFree {
  void operator()(cairo_t* ACairo) const noexcept { cairo_destroy(ACairo); }
};
using TzbCairo = std::unique_ptr<cairo_t, TzbCairoFree>;

struct TzbCairoSurfaceFree {
  void operator()(cairo_surface_t* ASurface) const noexcept { cairo_surface_destroy(ASurface); }
};
using TzbCairoSurface = std::unique_ptr<cairo_surface_t, TzbCairoSurfaceFree>;

struct TzbCairoFontOptionsFree {
  void operator()(cairo_font_options_t* AOptions) const noexcept { cairo_font_options_destroy(AOptions); }
};
using TzbCairoFontOptions = std::unique_ptr<cairo_font_options_t, TzbCairoFontOptionsFree>;

// PopplerDocument, PopplerPage, PangoLayout, PangoContext: all GObjects.
struct TzbGObjectUnref {
  void operator()(gpointer AObject) const noexcept { g_object_unref(AObject); }
};
template <typename T>
using TzbGObjectOf = std::unique_ptr<T, TzbGObjectUnref>;

struct TzbPangoFontDescriptionFree {
  void operator()(PangoFontDescription* ADescription) const noexcept { pango_font_description_free(ADescription); }
};
using TzbPangoFontDescription = std::unique_ptr<PangoFontDescription, TzbPangoFontDescriptionFree>;

struct TzbGErrorFree {
  void operator()(GError* AError) const noexcept { g_error_free(AError); }
};
using TzbGErrorPtr = std::unique_ptr<GError, TzbGErrorFree>;

struct TzbGCharsFree {
  void operator()(gpointer AMemory) const noexcept { g_free(AMemory); }
};
using TzbGCharsPtr = std::unique_ptr<char, TzbGCharsFree>;

// A GList whose elements are freed with AFree (e.g. poppler_rectangle_free).
template <typename T, void (*AFree)(T*)>
struct TzbGListFree {
  void operator()(GList* AList) const noexcept {
    g_list_free_full(AList, [](gpointer AItem) { AFree(static_cast<T*>(AItem)); });
  }
};

// One destination from cupsGetNamedDest, or the array of cupsGetDests2.
class TzbCupsDests {
 public:
  TzbCupsDests() = default;
  TzbCupsDests(int ACount, cups_dest_t* ADests) noexcept : FCount(ACount), FDests(ADests) {}
  TzbCupsDests(const TzbCupsDests&) = delete;
  TzbCupsDests& operator=(const TzbCupsDests&) = delete;
  ~TzbCupsDests() {
    if (FDests) cupsFreeDests(FCount, FDests);
  }
  int Count() const noexcept { return FCount; }
  cups_dest_t* Get() const noexcept { return FDests; }

 private:
  int FCount = 0;
  cups_dest_t* FDests = nullptr;
};

// The option array of cupsAddOption.
class TzbCupsOptions {
 public:
  TzbCupsOptions() = default;
  TzbCupsOptions(const TzbCupsOptions&) = delete;
  TzbCupsOptions& operator=(const TzbCupsOptions&) = delete;
  ~TzbCupsOptions() {
    if (FOptions) cupsFreeOptions(FCount, FOptions);
  }
  void Add(const char* AName, const char* AValue) { FCount = cupsAddOption(AName, AValue, FCount, &FOptions); }
  int Count() const noexcept { return FCount; }
  cups_option_t* Get() const noexcept { return FOptions; }

 private:
  int FCount = 0;
  cups_option_t* FOptions = nullptr;
};

struct TzbHttpClose {
  void operator()(http_t* AHttp) const noexcept { httpClose(AHttp); }
};
using TzbHttp = std::unique_ptr<http_t, TzbHttpClose>;

}  // namespace zb::print
