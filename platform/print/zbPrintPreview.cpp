#include "platform/print/zbPrintPreview.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/gtk/zbModalRun.h"
#include "platform/print/zbPrintError.h"
#include "support/zbUnicode.h"

namespace zb::print {
namespace {

constexpr int Gap = 16;  // pixels of grey around the page
constexpr double MinScale = 0.05;
constexpr double ScrollStep = 40;

struct TZoomEntry {
  TzbPreviewZoom Zoom;
  const char* Text;
  double Scale;  // 0 for the fitting zooms
};
constexpr TZoomEntry ZoomEntries[] = {
    {pzWholePage, "Ganze Seite", 0}, {pzPageWidth, "Seitenbreite", 0}, {pz50, "50\u00A0%", 0.5},
    {pz75, "75\u00A0%", 0.75},       {pz100, "100\u00A0%", 1},         {pz150, "150\u00A0%", 1.5},
    {pz200, "200\u00A0%", 2},
};

TzbGObject<PopplerDocument> OpenPdf(std::u16string_view APdf) {
  const std::string path = Utf16ToUtf8(APdf);
  const TzbGObject<GFile> file(g_file_new_for_path(path.c_str()));
  TzbGError error;
  TzbGObject<PopplerDocument> doc(poppler_document_new_from_gfile(file.get(), nullptr, nullptr, error.Out()));
  if (!doc) throw EzbPrintError(SPdfNotReadable, {APdf, error.Text()});
  if (poppler_document_get_n_pages(doc.get()) < 1) throw EzbPrintError(SPdfNoPages, {APdf});
  return doc;
}

std::string ZoomId(TzbPreviewZoom AZoom) { return std::to_string(static_cast<int>(AZoom)); }

GtkWidget* ToolbarSeparator() {
  GtkWidget* separator = gtk_separator_new(GTK_ORIENTATION_VERTICAL);
  gtk_widget_set_margin_start(separator, 6);
  gtk_widget_set_margin_end(separator, 6);
  return separator;
}

}  // namespace

TzbPrintPreview::TzbPrintPreview(GtkWindow* AParent, std::u16string_view ATitle, std::u16string_view APdf,
                                 TzbPreviewActions AActions)
    : FActions(std::move(AActions)) {
  Load(APdf);
  Build(AParent, ATitle);
  UpdateControls();
}

TzbPrintPreview::~TzbPrintPreview() = default;

GtkWindow* TzbPrintPreview::Window() const { return GTK_WINDOW(FWindow.get()); }

int TzbPrintPreview::PageCount() const { return poppler_document_get_n_pages(FDocument.get()); }

void TzbPrintPreview::Load(std::u16string_view APdf) {
  // The new document replaces the old one only once it opened.
  TzbGObject<PopplerDocument> doc = OpenPdf(APdf);
  FDocument = std::move(doc);
  FPdf = APdf;
  FPage = std::min(FPage, PageCount() - 1);
  if (FWindow) {
    Relayout();
    UpdateControls();
  }
}

void TzbPrintPreview::Build(GtkWindow* AParent, std::u16string_view ATitle) {
  FWindow.reset(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  GtkWindow* window = Window();
  const std::string title = ATitle.empty() ? std::string("Druckvorschau") : "Druckvorschau – " + Utf16ToUtf8(ATitle);
  gtk_window_set_title(window, title.c_str());
  gtk_window_set_modal(window, TRUE);
  if (AParent) gtk_window_set_transient_for(window, AParent);
  gtk_window_set_position(window, AParent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  GdkDisplay* display = gtk_widget_get_display(FWindow.get());
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, 1024, 768};
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  gtk_window_set_default_size(window, std::min(900, area.width * 9 / 10), std::min(1000, area.height * 9 / 10));

  GtkWidget* toolbar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_container_set_border_width(GTK_CONTAINER(toolbar), 6);
  GtkWidget* print = gtk_button_new_with_mnemonic("_Drucken…");
  GtkWidget* setup = gtk_button_new_with_mnemonic("Seite _einrichten…");
  gtk_widget_set_sensitive(print, static_cast<bool>(FActions.Print));
  gtk_widget_set_sensitive(setup, static_cast<bool>(FActions.PageSetup));
  gtk_widget_set_tooltip_text(print, "Drucken (Strg+P)");
  FPrevious = gtk_button_new_from_icon_name("go-previous-symbolic", GTK_ICON_SIZE_BUTTON);
  FNext = gtk_button_new_from_icon_name("go-next-symbolic", GTK_ICON_SIZE_BUTTON);
  gtk_widget_set_name(FPrevious, "previous-page");
  gtk_widget_set_name(FNext, "next-page");
  gtk_widget_set_tooltip_text(FPrevious, "Vorherige Seite (Bild auf)");
  gtk_widget_set_tooltip_text(FNext, "Nächste Seite (Bild ab)");
  FPageLabel = GTK_LABEL(gtk_label_new(nullptr));
  gtk_label_set_width_chars(FPageLabel, 16);
  gtk_widget_set_name(GTK_WIDGET(FPageLabel), "page-number");
  GtkWidget* zoomBox = gtk_combo_box_text_new();
  FZoomBox = GTK_COMBO_BOX(zoomBox);
  for (const TZoomEntry& e : ZoomEntries)
    gtk_combo_box_text_append(GTK_COMBO_BOX_TEXT(zoomBox), ZoomId(e.Zoom).c_str(), e.Text);
  gtk_widget_set_tooltip_text(zoomBox, "Vergrößern: Strg+Plus, verkleinern: Strg+Minus");
  GtkWidget* zoomLabel = gtk_label_new_with_mnemonic("_Zoom:");
  gtk_label_set_mnemonic_widget(GTK_LABEL(zoomLabel), zoomBox);
  GtkWidget* close = gtk_button_new_with_mnemonic(CloseButtonLabel);

  gtk_box_pack_start(GTK_BOX(toolbar), print, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(toolbar), setup, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(toolbar), ToolbarSeparator(), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(toolbar), FPrevious, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(toolbar), GTK_WIDGET(FPageLabel), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(toolbar), FNext, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(toolbar), ToolbarSeparator(), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(toolbar), zoomLabel, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(toolbar), zoomBox, FALSE, FALSE, 0);
  gtk_box_pack_end(GTK_BOX(toolbar), close, FALSE, FALSE, 0);

  FCanvas = gtk_drawing_area_new();
  gtk_widget_set_can_focus(FCanvas, TRUE);
  gtk_widget_set_name(FCanvas, "pages");
  FView = gtk_viewport_new(nullptr, nullptr);
  gtk_viewport_set_shadow_type(GTK_VIEWPORT(FView), GTK_SHADOW_NONE);
  gtk_container_add(GTK_CONTAINER(FView), FCanvas);
  FScroller = GTK_SCROLLED_WINDOW(gtk_scrolled_window_new(nullptr, nullptr));
  gtk_container_add(GTK_CONTAINER(FScroller), FView);
  gtk_widget_set_vexpand(GTK_WIDGET(FScroller), TRUE);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_pack_start(GTK_BOX(box), toolbar, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), GTK_WIDGET(FScroller), TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(window), box);

  auto clicked = [this](GtkWidget* AButton, void (*AHandler)(GtkButton*, gpointer)) {
    FSignals.emplace_back(AButton, "clicked", G_CALLBACK(AHandler), this);
  };
  clicked(
      print, +[](GtkButton*, gpointer ASelf) noexcept {
        GuardCallback([&] { static_cast<TzbPrintPreview*>(ASelf)->Request(paPrint); });
      });
  clicked(
      setup, +[](GtkButton*, gpointer ASelf) noexcept {
        GuardCallback([&] { static_cast<TzbPrintPreview*>(ASelf)->Request(paPageSetup); });
      });
  clicked(
      FPrevious, +[](GtkButton*, gpointer ASelf) noexcept {
        GuardCallback([&] {
          auto* self = static_cast<TzbPrintPreview*>(ASelf);
          self->ShowPage(self->Page() - 1);
        });
      });
  clicked(
      FNext, +[](GtkButton*, gpointer ASelf) noexcept {
        GuardCallback([&] {
          auto* self = static_cast<TzbPrintPreview*>(ASelf);
          self->ShowPage(self->Page() + 1);
        });
      });
  clicked(
      close, +[](GtkButton*, gpointer ASelf) noexcept {
        GuardCallback([&] { static_cast<TzbPrintPreview*>(ASelf)->Close(); });
      });
  FSignals.emplace_back(zoomBox, "changed", G_CALLBACK(+[](GtkComboBox* ABox, gpointer ASelf) noexcept {
                          GuardCallback([&] {
                            auto* self = static_cast<TzbPrintPreview*>(ASelf);
                            const char* id = gtk_combo_box_get_active_id(ABox);
                            if (!self->FUpdatingControls && id)
                              self->SetZoom(static_cast<TzbPreviewZoom>(std::atoi(id)));
                          });
                        }),
                        this);
  FSignals.emplace_back(FCanvas, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* ACairo, gpointer ASelf) noexcept {
                          GuardCallback([&] { static_cast<TzbPrintPreview*>(ASelf)->Draw(ACairo); });
                          return TRUE;
                        }),
                        this);
  // The fitting zooms follow the visible area, which is the viewport's allocation.
  FSignals.emplace_back(FView, "size-allocate",
                        G_CALLBACK(+[](GtkWidget*, GdkRectangle* AArea, gpointer ASelf) noexcept {
                          GuardCallback([&] {
                            auto* self = static_cast<TzbPrintPreview*>(ASelf);
                            if (AArea->width == self->FViewWidth && AArea->height == self->FViewHeight) return;
                            self->FViewWidth = AArea->width;
                            self->FViewHeight = AArea->height;
                            self->Relayout();
                          });
                        }),
                        this);
  // Connected before GTK's own handling, so the preview's keys win over the focused widget's.
  FSignals.emplace_back(
      window, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* AEvent, gpointer ASelf) noexcept -> gboolean {
        return GuardCallback([&] { return static_cast<TzbPrintPreview*>(ASelf)->KeyPressed(AEvent) ? TRUE : FALSE; },
                             FALSE);
      }),
      this);
  FSignals.emplace_back(window, "delete-event",
                        G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer ASelf) noexcept -> gboolean {
                          GuardCallback([&] { static_cast<TzbPrintPreview*>(ASelf)->Close(); });
                          return TRUE;  // the window goes with its owner
                        }),
                        this);
}

double TzbPrintPreview::PixelsPerPoint() const {
  double dpi = FWindow ? gdk_screen_get_resolution(gtk_widget_get_screen(FWindow.get())) : -1;
  if (dpi <= 0) dpi = 96;
  return dpi / 72;
}

void TzbPrintPreview::Relayout() {
  const TzbGObject<PopplerPage> page(poppler_document_get_page(FDocument.get(), FPage));
  double width = 0, height = 0;
  poppler_page_get_size(page.get(), &width, &height);
  width *= PixelsPerPoint();
  height *= PixelsPerPoint();
  const double roomX = FViewWidth - 2 * Gap, roomY = FViewHeight - 2 * Gap;
  const auto* entry = std::find_if(std::begin(ZoomEntries), std::end(ZoomEntries),
                                   [this](const TZoomEntry& e) { return e.Zoom == FZoom; });
  if (FZoom == pzWholePage && FViewWidth > 0)
    FScale = std::max(MinScale, std::min(roomX / width, roomY / height));
  else if (FZoom == pzPageWidth && FViewWidth > 0)
    FScale = std::max(MinScale, roomX / width);
  else if (entry != std::end(ZoomEntries) && entry->Scale > 0)
    FScale = entry->Scale;

  // Each zoom gets the scroll bars it needs, fixed, so that they never change the area being fitted.
  const int pageWidth = static_cast<int>(std::ceil(width * FScale)) + 2 * Gap;
  const int pageHeight = static_cast<int>(std::ceil(height * FScale)) + 2 * Gap;
  switch (FZoom) {
    case pzWholePage:
      gtk_scrolled_window_set_policy(FScroller, GTK_POLICY_NEVER, GTK_POLICY_NEVER);
      gtk_widget_set_size_request(FCanvas, -1, -1);
      break;
    case pzPageWidth:
      gtk_scrolled_window_set_policy(FScroller, GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
      gtk_widget_set_size_request(FCanvas, -1, pageHeight);
      break;
    default:
      gtk_scrolled_window_set_policy(FScroller, GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
      gtk_widget_set_size_request(FCanvas, pageWidth, pageHeight);
  }
  gtk_widget_queue_draw(FCanvas);
}

void TzbPrintPreview::UpdateControls() {
  FUpdatingControls = true;
  const TzbGChars text(g_strdup_printf("Seite %d von %d", Page(), PageCount()));
  gtk_label_set_text(FPageLabel, text.get());
  gtk_widget_set_sensitive(FPrevious, Page() > 1);
  gtk_widget_set_sensitive(FNext, Page() < PageCount());
  gtk_combo_box_set_active_id(FZoomBox, ZoomId(FZoom).c_str());
  FUpdatingControls = false;
}

void TzbPrintPreview::Draw(cairo_t* ACairo) {
  const double areaWidth = gtk_widget_get_allocated_width(FCanvas);
  const double areaHeight = gtk_widget_get_allocated_height(FCanvas);
  cairo_set_source_rgb(ACairo, 0.5, 0.5, 0.5);
  cairo_paint(ACairo);

  const TzbGObject<PopplerPage> page(poppler_document_get_page(FDocument.get(), FPage));
  double width = 0, height = 0;
  poppler_page_get_size(page.get(), &width, &height);
  const double factor = PixelsPerPoint() * FScale;
  const double w = std::round(width * factor), h = std::round(height * factor);
  const double x = std::floor(std::max<double>(Gap, (areaWidth - w) / 2));
  const double y = std::floor(std::max<double>(Gap, (areaHeight - h) / 2));

  cairo_rectangle(ACairo, x, y, w, h);
  cairo_set_source_rgb(ACairo, 1, 1, 1);
  cairo_fill(ACairo);
  cairo_save(ACairo);
  cairo_rectangle(ACairo, x, y, w, h);
  cairo_clip(ACairo);
  cairo_translate(ACairo, x, y);
  cairo_scale(ACairo, w / width, h / height);
  poppler_page_render(page.get(), ACairo);
  cairo_restore(ACairo);
  // A thin line instead of a shadow: the page's edge stays exact at every zoom.
  cairo_rectangle(ACairo, x - 0.5, y - 0.5, w + 1, h + 1);
  cairo_set_source_rgb(ACairo, 0.2, 0.2, 0.2);
  cairo_set_line_width(ACairo, 1);
  cairo_stroke(ACairo);
}

bool TzbPrintPreview::KeyPressed(const GdkEventKey* AEvent) {
  const guint mods = AEvent->state & gtk_accelerator_get_default_mod_mask();
  // Shift may come with plus, depending on the keyboard; Alt is the mnemonics'.
  const bool ctrl = (mods & GDK_CONTROL_MASK) && !(mods & GDK_MOD1_MASK);
  const bool plain = mods == 0;
  switch (AEvent->keyval) {
    case GDK_KEY_Escape:
      if (!plain) return false;
      Close();
      return true;
    case GDK_KEY_Page_Up:
    case GDK_KEY_KP_Page_Up: ShowPage(Page() - 1); return true;
    case GDK_KEY_Page_Down:
    case GDK_KEY_KP_Page_Down: ShowPage(Page() + 1); return true;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home: ShowPage(1); return true;
    case GDK_KEY_End:
    case GDK_KEY_KP_End: ShowPage(PageCount()); return true;
    case GDK_KEY_plus:
    case GDK_KEY_equal:
    case GDK_KEY_KP_Add:
      if (!ctrl) return false;
      ZoomIn();
      return true;
    case GDK_KEY_minus:
    case GDK_KEY_KP_Subtract:
      if (!ctrl) return false;
      ZoomOut();
      return true;
    case GDK_KEY_p:
    case GDK_KEY_P:
      if (!ctrl || !FActions.Print) return false;
      Request(paPrint);
      return true;
    case GDK_KEY_Up:
    case GDK_KEY_Down:
    case GDK_KEY_Left:
    case GDK_KEY_Right: {
      // The page scrolls with the arrows while it has the focus; elsewhere they move the focus.
      if (!plain || gtk_window_get_focus(Window()) != FCanvas) return false;
      const bool vertical = AEvent->keyval == GDK_KEY_Up || AEvent->keyval == GDK_KEY_Down;
      const bool back = AEvent->keyval == GDK_KEY_Up || AEvent->keyval == GDK_KEY_Left;
      GtkAdjustment* adjustment =
          vertical ? gtk_scrolled_window_get_vadjustment(FScroller) : gtk_scrolled_window_get_hadjustment(FScroller);
      gtk_adjustment_set_value(adjustment, gtk_adjustment_get_value(adjustment) + (back ? -ScrollStep : ScrollStep));
      return true;
    }
    default: return false;
  }
}

void TzbPrintPreview::ShowPage(int APage) {
  const int page = std::clamp(APage, 1, PageCount()) - 1;
  if (page == FPage) return;
  FPage = page;
  gtk_adjustment_set_value(gtk_scrolled_window_get_vadjustment(FScroller), 0);
  Relayout();
  UpdateControls();
}

void TzbPrintPreview::SetZoom(TzbPreviewZoom AZoom) {
  FZoom = AZoom;
  Relayout();
  UpdateControls();
}

void TzbPrintPreview::ZoomIn() {
  for (const TZoomEntry& e : ZoomEntries)
    if (e.Scale > FScale + 1e-6) return SetZoom(e.Zoom);
}

void TzbPrintPreview::ZoomOut() {
  for (auto e = std::rbegin(ZoomEntries); e != std::rend(ZoomEntries); ++e)
    if (e->Scale > 0 && e->Scale < FScale - 1e-6) return SetZoom(e->Zoom);
}

void TzbPrintPreview::Close() { FClosed = true; }

void TzbPrintPreview::Request(TAction AAction) {
  // One action at a time: the print dialog or page setup is up, or about to come.
  if (FActionRunning || FPending != paNone) return;
  FPending = AAction;
  FActionIdle = TzbSource(g_idle_add(
      +[](gpointer ASelf) noexcept -> gboolean {
        auto* self = static_cast<TzbPrintPreview*>(ASelf);
        self->FActionIdle.Ended();
        GuardCallback([&] { self->RunAction(std::exchange(self->FPending, paNone)); });
        return G_SOURCE_REMOVE;
      },
      this));
}

void TzbPrintPreview::RunAction(TAction AAction) {
  if (FClosed) return;
  FActionRunning = true;
  struct TDone {
    bool& Flag;
    ~TDone() { Flag = false; }
  } done{FActionRunning};
  if (AAction == paPrint && FActions.Print) {
    FActions.Print(Window());
  } else if (AAction == paPageSetup && FActions.PageSetup) {
    const std::u16string pdf = FActions.PageSetup(Window());
    if (!pdf.empty() && !FClosed) Load(pdf);
  }
}

void TzbPrintPreview::Run(const std::function<void(TzbPrintPreview&)>& AOnShow) {
  FClosed = false;
  gtk_widget_show_all(FWindow.get());
  gtk_widget_grab_focus(FCanvas);
  RunModalWindow(
      Window(), [this] { return FClosed; },
      [&] {
        if (AOnShow) AOnShow(*this);
      });
  FActionIdle.Remove();
  FPending = paNone;
  gtk_widget_hide(FWindow.get());
}

void ShowPrintPreview(GtkWindow* AParent, std::u16string_view ATitle, std::u16string_view APdf,
                      const TzbPreviewActions& AActions, const std::function<void(GtkWindow*)>& AOnShow) {
  TzbPrintPreview preview(AParent, ATitle, APdf, AActions);
  if (AOnShow)
    preview.Run([&](TzbPrintPreview& APreview) { AOnShow(APreview.Window()); });
  else
    preview.Run();
}

}  // namespace zb::print
