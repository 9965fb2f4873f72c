#include "platform/print/zbPrintPreview.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <utility>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/gtk/zbModalRun.h"
#include "platform/gtk/zbWindowActions.h"
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

}  // namespace

// The window of zbPrintPreview.ui. Its handlers reach the preview through Owner, which the preview
// clears before it lets go of the window.
struct TzbPreviewWindow {
  GtkWindow Parent;
  TzbPrintPreview* Owner;
  GtkWidget* View;
  GtkWidget* Canvas;
  GtkScrolledWindow* Scroller;
  GtkLabel* PageLabel;
  GtkComboBoxText* ZoomBox;
  GtkButton* CloseButton;
};

struct TzbPreviewWindowClass {
  GtkWindowClass ParentClass;
};

extern "C" GResource* zbprintdlg_get_resource();

G_DEFINE_TYPE(TzbPreviewWindow, zb_preview_window, GTK_TYPE_WINDOW)

void BindPreviewTemplate(GtkWidgetClass* AClass);

namespace {

// Runs AWork with the preview while the window has one; no exception leaves the C callback.
template <typename F>
void WithOwner(gpointer AWindow, F&& AWork) noexcept {
  GuardCallback([&] {
    if (TzbPrintPreview* owner = static_cast<TzbPreviewWindow*>(AWindow)->Owner) AWork(*owner);
  });
}

}  // namespace

void zb_preview_window_init(TzbPreviewWindow* AWindow) { gtk_widget_init_template(GTK_WIDGET(AWindow)); }

void zb_preview_window_class_init(TzbPreviewWindowClass* AClass) {
  zbprintdlg_get_resource();
  BindPreviewTemplate(GTK_WIDGET_CLASS(AClass));
}

void BindPreviewTemplate(GtkWidgetClass* AClass) {
  gtk_widget_class_set_template_from_resource(AClass, "/com/vestrum/Plumadesk5/HtmlService/print/zbPrintPreview.ui");
  gtk_widget_class_bind_template_child_full(AClass, "view", FALSE, offsetof(TzbPreviewWindow, View));
  gtk_widget_class_bind_template_child_full(AClass, "pages", FALSE, offsetof(TzbPreviewWindow, Canvas));
  gtk_widget_class_bind_template_child_full(AClass, "scroller", FALSE, offsetof(TzbPreviewWindow, Scroller));
  gtk_widget_class_bind_template_child_full(AClass, "page-number", FALSE, offsetof(TzbPreviewWindow, PageLabel));
  gtk_widget_class_bind_template_child_full(AClass, "zoom", FALSE, offsetof(TzbPreviewWindow, ZoomBox));
  gtk_widget_class_bind_template_child_full(AClass, "close", FALSE, offsetof(TzbPreviewWindow, CloseButton));
  gtk_widget_class_bind_template_callback_full(
      AClass, "OnDelete", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer AWindow) noexcept -> gboolean {
        WithOwner(AWindow, [](TzbPrintPreview& APreview) { APreview.Close(); });
        return TRUE;  // the window goes with its owner
      }));
  gtk_widget_class_bind_template_callback_full(
      AClass, "OnZoomChanged", G_CALLBACK(+[](GtkComboBox* ABox, gpointer AWindow) noexcept {
        WithOwner(AWindow, [&](TzbPrintPreview& APreview) { APreview.ZoomChosen(gtk_combo_box_get_active_id(ABox)); });
      }));
  gtk_widget_class_bind_template_callback_full(
      AClass, "OnDraw", G_CALLBACK(+[](GtkWidget*, cairo_t* ACairo, gpointer AWindow) noexcept -> gboolean {
        WithOwner(AWindow, [&](TzbPrintPreview& APreview) { APreview.Draw(ACairo); });
        return TRUE;
      }));
  gtk_widget_class_bind_template_callback_full(
      AClass, "OnViewAllocated", G_CALLBACK(+[](GtkWidget*, GdkRectangle* AArea, gpointer AWindow) noexcept {
        WithOwner(AWindow, [&](TzbPrintPreview& APreview) { APreview.ViewAllocated(AArea->width, AArea->height); });
      }));
}

namespace {

// Each action of the window's "preview" group; the buttons of zbPrintPreview.ui name them.
template <void (TzbPrintPreview::*AStep)()>
void Activate(GSimpleAction*, GVariant*, gpointer APreview) noexcept {
  GuardCallback([&] { (static_cast<TzbPrintPreview*>(APreview)->*AStep)(); });
}

// The keys of the preview's actions. The arrows scroll the page while it has the focus; elsewhere
// they move the focus. Shift may come with plus, depending on the keyboard; it is no part of the key.
constexpr TzbActionKeys PreviewKeys[] = {
    {"close", {"Escape"}},
    {"print", {"<Control>p"}},
    {"previous-page", {"Page_Up", "KP_Page_Up"}},
    {"next-page", {"Page_Down", "KP_Page_Down"}},
    {"first-page", {"Home", "KP_Home"}},
    {"last-page", {"End", "KP_End"}},
    {"zoom-in", {"<Control>plus", "<Control>equal", "<Control>KP_Add"}},
    {"zoom-out", {"<Control>minus", "<Control>KP_Subtract"}},
    {"scroll-up", {"Up"}, "pages"},
    {"scroll-down", {"Down"}, "pages"},
    {"scroll-left", {"Left"}, "pages"},
    {"scroll-right", {"Right"}, "pages"},
};

}  // namespace

TzbPrintPreview::TzbPrintPreview(GtkWindow* AParent, std::u16string_view ATitle, std::u16string_view APdf,
                                 TzbPreviewActions AActions)
    : FActions(std::move(AActions)) {
  Load(APdf);
  Build(AParent, ATitle);
  UpdateControls();
}

TzbPrintPreview::~TzbPrintPreview() {
  if (FWindow) reinterpret_cast<TzbPreviewWindow*>(FWindow.get())->Owner = nullptr;
}

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
  auto* preview = static_cast<TzbPreviewWindow*>(g_object_new(zb_preview_window_get_type(), nullptr));
  FWindow.reset(GTK_WIDGET(preview));
  preview->Owner = this;
  FView = preview->View;
  FCanvas = preview->Canvas;
  FScroller = preview->Scroller;
  FPageLabel = preview->PageLabel;
  FZoomBox = GTK_COMBO_BOX(preview->ZoomBox);

  GtkWindow* window = Window();
  const std::string title = ATitle.empty() ? std::string("Druckvorschau") : "Druckvorschau – " + Utf16ToUtf8(ATitle);
  gtk_window_set_title(window, title.c_str());
  if (AParent) gtk_window_set_transient_for(window, AParent);
  gtk_window_set_position(window, AParent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  GdkDisplay* display = gtk_widget_get_display(FWindow.get());
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, 1024, 768};
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  gtk_window_set_default_size(window, std::min(900, area.width * 9 / 10), std::min(1000, area.height * 9 / 10));
  for (const TZoomEntry& entry : ZoomEntries)
    gtk_combo_box_text_append(preview->ZoomBox, ZoomId(entry.Zoom).c_str(), entry.Text);
  gtk_button_set_label(preview->CloseButton, CloseButtonLabel);

  static constexpr GActionEntry entries[] = {
      {"close", Activate<&TzbPrintPreview::Close>},
      {"print", Activate<&TzbPrintPreview::RequestPrint>},
      {"page-setup", Activate<&TzbPrintPreview::RequestPageSetup>},
      {"previous-page", Activate<&TzbPrintPreview::PreviousPage>},
      {"next-page", Activate<&TzbPrintPreview::NextPage>},
      {"first-page", Activate<&TzbPrintPreview::FirstPage>},
      {"last-page", Activate<&TzbPrintPreview::LastPage>},
      {"zoom-in", Activate<&TzbPrintPreview::ZoomIn>},
      {"zoom-out", Activate<&TzbPrintPreview::ZoomOut>},
      {"scroll-up", Activate<&TzbPrintPreview::ScrollUp>},
      {"scroll-down", Activate<&TzbPrintPreview::ScrollDown>},
      {"scroll-left", Activate<&TzbPrintPreview::ScrollLeft>},
      {"scroll-right", Activate<&TzbPrintPreview::ScrollRight>},
  };
  FWindowActions.Install(window, "preview", entries, this, PreviewKeys);
  // A missing action leaves its button off and its key without effect.
  FWindowActions.SetEnabled("print", static_cast<bool>(FActions.Print));
  FWindowActions.SetEnabled("page-setup", static_cast<bool>(FActions.PageSetup));
}

void TzbPrintPreview::ZoomChosen(const char* AId) {
  if (!FUpdatingControls && AId) SetZoom(static_cast<TzbPreviewZoom>(std::atoi(AId)));
}

// The fitting zooms follow the visible area, which is the viewport's allocation.
void TzbPrintPreview::ViewAllocated(int AWidth, int AHeight) {
  if (AWidth == FViewWidth && AHeight == FViewHeight) return;
  FViewWidth = AWidth;
  FViewHeight = AHeight;
  Relayout();
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
                                   [this](const TZoomEntry& AEntry) { return AEntry.Zoom == FZoom; });
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
  FWindowActions.SetEnabled("previous-page", Page() > 1);
  FWindowActions.SetEnabled("next-page", Page() < PageCount());
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

void TzbPrintPreview::Scroll(bool AVertical, double ADelta) {
  GtkAdjustment* adjustment =
      AVertical ? gtk_scrolled_window_get_vadjustment(FScroller) : gtk_scrolled_window_get_hadjustment(FScroller);
  gtk_adjustment_set_value(adjustment, gtk_adjustment_get_value(adjustment) + ADelta);
}

void TzbPrintPreview::ScrollUp() { Scroll(true, -ScrollStep); }
void TzbPrintPreview::ScrollDown() { Scroll(true, ScrollStep); }
void TzbPrintPreview::ScrollLeft() { Scroll(false, -ScrollStep); }
void TzbPrintPreview::ScrollRight() { Scroll(false, ScrollStep); }
void TzbPrintPreview::PreviousPage() { ShowPage(Page() - 1); }
void TzbPrintPreview::NextPage() { ShowPage(Page() + 1); }
void TzbPrintPreview::FirstPage() { ShowPage(1); }
void TzbPrintPreview::LastPage() { ShowPage(PageCount()); }
void TzbPrintPreview::RequestPrint() { Request(paPrint); }
void TzbPrintPreview::RequestPageSetup() { Request(paPageSetup); }

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
