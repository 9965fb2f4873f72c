#include "htmledit/zbHtmlEdHooks.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <vector>

#include "htmledit/zbShellDDE.h"
#include "htmledit/zbWinINet.h"
#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "platform/webkit/zbWebKitData.h"

namespace zb {

namespace {
// Every editor of the process: the engine's history is the process's, so it is cleared in all of them.
std::vector<TzbCustomHtmlEdit*> GEditors;
}  // namespace

struct TzbHtmlEdHooks {
  TzbCustomHtmlEdit& Edit;
  GtkContainer* Parent;
  std::unique_ptr<TzbShellDDEServer> Server;
  // The key filter and the close query on the view.
  TzbSignal KeyPress, KeyRelease, Close;
  // The owner window, empty once the window went first, and its activation watch.
  TzbWeak<GtkWidget> ParentForm;
  TzbSignal ParentFormActive;

  TzbHtmlEdHooks(TzbCustomHtmlEdit& AEdit, GtkContainer* AParent) : Edit(AEdit), Parent(AParent) {
    GEditors.push_back(&Edit);
  }
  ~TzbHtmlEdHooks() { GEditors.erase(std::remove(GEditors.begin(), GEditors.end(), &Edit), GEditors.end()); }
  TzbHtmlEdHooks(const TzbHtmlEdHooks&) = delete;
  TzbHtmlEdHooks& operator=(const TzbHtmlEdHooks&) = delete;

  static gboolean OnKey(GtkWidget*, GdkEventKey* AKey, gpointer AHooks) noexcept {
    auto* h = static_cast<TzbHtmlEdHooks*>(AHooks);
    return GuardCallback([&] { return h->Edit.BrowserWndProc(AKey); }, false) ? TRUE : FALSE;
  }

  // WM_CLOSE: the handlers connected after this one (the owner's) see the close only when it may happen.
  static void OnClose(GtkWidget* AView, gpointer AHooks) noexcept {
    auto* h = static_cast<TzbHtmlEdHooks*>(AHooks);
    GuardCallback([&] {
      bool canClose = true;
      if (h->Edit.OnCloseQuery) h->Edit.OnCloseQuery(h->Edit, canClose);
      if (!canClose) g_signal_stop_emission_by_name(AView, "close");
    });
  }

  static void OnParentFormActive(GObject* AOwner, GParamSpec*, gpointer AHooks) noexcept {
    auto* h = static_cast<TzbHtmlEdHooks*>(AHooks);
    GuardCallback([&] { h->Edit.ParentFormWndProc(GTK_WIDGET(AOwner)); });
  }
};

void TzbHtmlEdHooksFree::operator()(TzbHtmlEdHooks* AHooks) const noexcept { delete AHooks; }

TzbHtmlEdHooksPtr CreateHtmlEdHooks(TzbCustomHtmlEdit& AEdit, GtkContainer* AParent) {
  ReadShellDDESettings();
  TzbHtmlEdHooksPtr hooks(new TzbHtmlEdHooks(AEdit, AParent));
  hooks->Server = std::make_unique<TzbShellDDEServer>([&AEdit] { return AEdit.EnableDDE(); },
                                                      [&AEdit](std::u16string_view AUrl) { AEdit.Go(AUrl); });
  return hooks;
}

void InstallKeyboardHook(TzbHtmlEdHooks& AHooks) {
  GtkWidget* view = AHooks.Edit.Widget();
  // Connected before the engine's own class handlers, which run last.
  AHooks.KeyPress = TzbSignal(view, "key-press-event", G_CALLBACK(TzbHtmlEdHooks::OnKey), &AHooks);
  AHooks.KeyRelease = TzbSignal(view, "key-release-event", G_CALLBACK(TzbHtmlEdHooks::OnKey), &AHooks);
  AHooks.Close = TzbSignal(view, "close", G_CALLBACK(TzbHtmlEdHooks::OnClose), &AHooks);
}

TzbCustomHtmlEdit::~TzbCustomHtmlEdit() {
  FHooks->Server.reset();
  FPrintOptions.reset();
  UnhookParentForm();
}

// --- Cache, history, offline state ------------------------------------------------------------

void TzbCustomHtmlEdit::ClearCache() {
  SetUrlCacheTimeout(FWaitTimeoutMs);
  ClearUrlCache();
}

void TzbCustomHtmlEdit::ClearHistory() {
  for (TzbCustomHtmlEdit* e : GEditors) webkit::ClearBackForwardHistory(WEBKIT_WEB_VIEW(e->Widget()));
}

bool TzbCustomHtmlEdit::IsGlobalOffline() { return ReadGlobalOffline(); }

void TzbCustomHtmlEdit::SetGlobalOffline(bool AValue) { WriteGlobalOffline(AValue); }

// --- Window hooks ------------------------------------------------------------------------------

void TzbCustomHtmlEdit::NavigatePidl(const void*) {
  throw EzbOleError(E_INVALIDARG, u"Elementlisten der Shell gibt es auf diesem System nicht");
}

void TzbCustomHtmlEdit::HookParentForm() {
  TzbHtmlEdHooks& h = *FHooks;
  if (h.ParentForm.Get()) return;
  GtkWidget* owner = h.Parent ? gtk_widget_get_toplevel(GTK_WIDGET(h.Parent)) : nullptr;
  // A window that does not exist yet gets no hook, now or later.
  if (!owner || !GTK_IS_WINDOW(owner) || !gtk_widget_get_realized(owner)) return;
  h.ParentForm.Set(owner);
  h.ParentFormActive = TzbSignal(owner, "notify::is-active", G_CALLBACK(TzbHtmlEdHooks::OnParentFormActive), &h);
}

void TzbCustomHtmlEdit::UnhookParentForm() {
  TzbHtmlEdHooks& h = *FHooks;
  h.ParentFormActive.Disconnect();
  h.ParentForm.Set(nullptr);
}

GtkWidget* TzbCustomHtmlEdit::ParentForm() const { return FHooks->ParentForm.Get(); }

namespace {

// The keys a window uses to move between its controls.
bool IsDialogKey(guint AKey) {
  switch (AKey) {
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
    case GDK_KEY_KP_Tab:
    case GDK_KEY_Escape:
    case GDK_KEY_Cancel:
    case GDK_KEY_Execute:
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
    case GDK_KEY_Left:
    case GDK_KEY_Right:
    case GDK_KEY_Up:
    case GDK_KEY_Down:
    case GDK_KEY_KP_Left:
    case GDK_KEY_KP_Right:
    case GDK_KEY_KP_Up:
    case GDK_KEY_KP_Down: return true;
    default: return false;
  }
}

// Keys the engine's accelerators would take as commands (back, submit) where an editor means editing.
// Left and Right are the arrow keys of their own block; those of the keypad are not exempt.
bool IsOrdinaryKey(guint AKey) {
  return AKey == GDK_KEY_BackSpace || AKey == GDK_KEY_Return || AKey == GDK_KEY_KP_Enter || AKey == GDK_KEY_ISO_Enter ||
         AKey == GDK_KEY_Left || AKey == GDK_KEY_Right;
}

}  // namespace

bool TzbCustomHtmlEdit::BrowserWndProc(GdkEventKey* AKey) {
  GtkWidget* view = Widget();
  // The dialog-key notification: a window's navigation key at a view that lacks the focus.
  if (IsDialogKey(AKey->keyval) && !gtk_widget_is_focus(view)) return true;
  if (IsOrdinaryKey(AKey->keyval)) return false;
  try {
    return TranslateAccelerator(AKey->keyval) == S_OK;
  } catch (...) {
    return false;
  }
}

}  // namespace zb
