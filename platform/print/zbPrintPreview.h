// The print preview: a modal window of our own showing the pages of a finished (stamped) PDF, one
// page at a time, with page navigation, zoom, and the actions printing and page setup. Laid out in
// zbPrintPreview.ui; its buttons and keys are the actions of the window's "preview" group.
#pragma once

#include <gtk/gtk.h>
#include <poppler.h>

#include <functional>
#include <string>
#include <string_view>

#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbGtkOwner.h"
#include "platform/gtk/zbWindowActions.h"

namespace zb::print {

enum TzbPreviewZoom { pzWholePage, pzPageWidth, pz50, pz75, pz100, pz150, pz200 };

// Both get the preview's window as the parent of what they show. PageSetup answers the PDF to show
// from now on, or an empty text to keep the current one. A missing action leaves its button off.
struct TzbPreviewActions {
  std::function<void(GtkWindow*)> Print;
  std::function<std::u16string(GtkWindow*)> PageSetup;
};

class TzbPrintPreview {
 public:
  // Opens the PDF; raises EzbPrintError when poppler cannot read it or it has no pages.
  TzbPrintPreview(GtkWindow* AParent, std::u16string_view ATitle, std::u16string_view APdf, TzbPreviewActions AActions);
  TzbPrintPreview(const TzbPrintPreview&) = delete;
  TzbPrintPreview& operator=(const TzbPrintPreview&) = delete;
  ~TzbPrintPreview();

  // Shows the window modally and returns when it closes; AOnShow runs once it is on screen. An action
  // runs from the main loop once asked for, whoever waits then; its errors go to the callback error
  // hook and the preview stays open with the PDF it showed.
  void Run(const std::function<void(TzbPrintPreview&)>& AOnShow = {});

  GtkWindow* Window() const;
  int Page() const { return FPage + 1; }  // 1-based
  int PageCount() const;
  TzbPreviewZoom Zoom() const { return FZoom; }
  double Scale() const { return FScale; }  // 1 is the page's real size on the screen
  const std::u16string& Pdf() const { return FPdf; }

  void ShowPage(int APage);  // 1-based, clamped
  void SetZoom(TzbPreviewZoom AZoom);
  void ZoomIn();   // the next fixed level above the current scale
  void ZoomOut();  // the next fixed level below it
  void Close();

 private:
  enum TAction { paNone, paPrint, paPageSetup };
  friend void BindPreviewTemplate(GtkWidgetClass* AClass);  // the window of zbPrintPreview.ui
  void Build(GtkWindow* AParent, std::u16string_view ATitle);
  void Load(std::u16string_view APdf);
  void Relayout();
  void UpdateControls();
  void Draw(cairo_t* ACairo);
  void ZoomChosen(const char* AId);
  void ViewAllocated(int AWidth, int AHeight);
  void Scroll(bool AVertical, double ADelta);
  // The steps of the window's actions (zbPrintPreview.ui's buttons, the keys).
  void PreviousPage();
  void NextPage();
  void FirstPage();
  void LastPage();
  void ScrollUp();
  void ScrollDown();
  void ScrollLeft();
  void ScrollRight();
  void RequestPrint();
  void RequestPageSetup();
  void Request(TAction AAction);
  void RunAction(TAction AAction);
  double PixelsPerPoint() const;

  TzbPreviewActions FActions;
  std::u16string FPdf;
  TzbGObject<PopplerDocument> FDocument;
  int FPage = 0;
  TzbPreviewZoom FZoom = pzWholePage;
  double FScale = 1;
  int FViewWidth = 0, FViewHeight = 0;
  bool FClosed = false, FUpdatingControls = false;
  bool FActionRunning = false;
  TAction FPending = paNone;
  TzbSource FActionIdle;

  TzbTopLevel FWindow;         // a TzbPreviewWindow of zbPrintPreview.ui
  GtkWidget* FView = nullptr;  // the viewport: its size is what the fitting zooms fill
  GtkWidget* FCanvas = nullptr;
  GtkScrolledWindow* FScroller = nullptr;
  GtkLabel* FPageLabel = nullptr;
  GtkComboBox* FZoomBox = nullptr;
  TzbWindowActions FWindowActions;
};

// Shows the preview of APdf modally over AParent (may be null) and returns when it closes. AOnShow
// runs once the window is on screen.
void ShowPrintPreview(GtkWindow* AParent, std::u16string_view ATitle, std::u16string_view APdf,
                      const TzbPreviewActions& AActions, const std::function<void(GtkWindow*)>& AOnShow = {});

}  // namespace zb::print
