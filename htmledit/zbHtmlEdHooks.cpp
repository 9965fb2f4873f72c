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
    auto* H = static_cast<TzbHtmlEdHooks*>(AHooks);
    return GuardCallback([&] { return H->Edit.BrowserWndProc(AKey); }, false) ? TRUE : FALSE;
  }

  // WM_CLOSE: the handlers connected after this one (the owner's) see the close only when it may happen.
  static void OnClose(GtkWidget* AView, gpointer AHooks) noexcept {
    auto* H = static_cast<TzbHtmlEdHooks*>(AHooks);
    GuardCallback([&] {
      bool CanClose = true;
      if (H->Edit.OnCloseQuery) H->Edit.OnCloseQuery(H->Edit, CanClose);
      if (!CanClose) g_signal_stop_emission_by_name(AView, "close");
    });
  }

  static void OnParentFormActive(GObject* AOwner, GParamSpec*, gpointer AHooks) noexcept {
    auto* H = static_cast<TzbHtmlEdHooks*>(AHooks);
    GuardCallback([&] { H->Edit.ParentFormWndProc(GTK_WIDGET(AOwner)); });
  }
};

void TzbHtmlEdHooksFree::operator()(TzbHtmlEdHooks* AHooks) const noexcept { delete AHooks; }

TzbHtmlEdHooksPtr CreateHtmlEdHooks(TzbCustomHtmlEdit& AEdit, GtkContainer* AParent) {
  ReadShellDDESettings();
  TzbHtmlEdHooksPtr Hooks(new TzbHtmlEdHooks(AEdit, AParent));
  Hooks->Server = std::make_unique<TzbShellDDEServer>([&AEdit] { return AEdit.EnableDDE(); },
                                                      [&AEdit](std::u16string_view AUrl) { AEdit.Go(AUrl); });
  return Hooks;
}

void InstallKeyboardHook(TzbHtmlEdHooks& AHooks) {
  GtkWidget* View = AHooks.Edit.Widget();
  // Connected before the engine's own class handlers, which run last.
  AHooks.KeyPress = TzbSignal(View, "key-press-event", G_CALLBACK(TzbHtmlEdHooks::OnKey), &AHooks);
  AHooks.KeyRelease = TzbSignal(View, "key-release-event", G_CALLBACK(TzbHtmlEdHooks::OnKey), &AHooks);
  AHooks.Close = TzbSignal(View, "close", G_CALLBACK(TzbHtmlEdHooks::OnClose), &AHooks);
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
  for (TzbCustomHtmlEdit* E : GEditors) webkit::ClearBackForwardHistory(WEBKIT_WEB_VIEW(E->Widget()));
}

bool TzbCustomHtmlEdit::IsGlobalOffline() { return ReadGlobalOffline(); }

void TzbCustomHtmlEdit::SetGlobalOffline(bool AValue) { WriteGlobalOffline(AValue); }

// --- Window hooks ------------------------------------------------------------------------------

void TzbCustomHtmlEdit::NavigatePidl(const void*) {
  throw EzbOleError(E_INVALIDARG, u"Elementlisten der Shell gibt es auf diesem System nicht");
}

void TzbCustomHtmlEdit::HookParentForm() {
  TzbHtmlEdHooks& H = *FHooks;
  if (H.ParentForm.Get()) return;
  GtkWidget* Owner = H.Parent ? gtk_widget_get_toplevel(GTK_WIDGET(H.Parent)) : nullptr;
  // A window that does not exist yet gets no hook, now or later.
  if (!Owner || !GTK_IS_WINDOW(Owner) || !gtk_widget_get_realized(Owner)) return;
  H.ParentForm.Set(Owner);
  H.ParentFormActive = TzbSignal(Owner, "notify::is-active", G_CALLBACK(TzbHtmlEdHooks::OnParentFormActive), &H);
}

void TzbCustomHtmlEdit::UnhookParentForm() {
  TzbHtmlEdHooks& H = *FHooks;
  H.ParentFormActive.Disconnect();
  H.ParentForm.Set(nullptr);
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
  GtkWidget* View = Widget();
  // The dialog-key notification: a window's navigation key at a view that lacks the focus.
  if (IsDialogKey(AKey->keyval) && !gtk_widget_is_focus(View)) return true;
  if (IsOrdinaryKey(AKey->keyval)) return false;
  try {
    return TranslateAccelerator(AKey->keyval) == S_OK;
  } catch (...) {
    return false;
  }
}

}  // namespace zb
