// A window's actions as GNOME's own dialogs bind them: one GActionEntry table in a GSimpleActionGroup
// under a prefix ("preview."), buttons that name their action (action-name in the .ui file), and the
// keys from one table of {action, accelerators} looked up in one key handler. A GtkWindow without a
// GtkApplication has no accelerators of its own for actions; this is that part.
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <span>
#include <string>
#include <vector>

#include "platform/glib/zbGOwner.h"

namespace zb {

// The keys of one action, in gtk_accelerator_parse's syntax ("<Control>p", "Page_Down"). With Focus
// the keys are the action's only while the widget of that name (gtk_widget_get_name) has the focus.
// With MoreModifiers the key also acts with further modifiers held (Ctrl+Shift+C as Ctrl+C).
struct TzbActionKeys {
  const char* Action;
  std::array<const char*, 3> Accels;
  const char* Focus = nullptr;
  bool MoreModifiers = false;
};

class TzbWindowActions {
 public:
  TzbWindowActions() = default;
  TzbWindowActions(const TzbWindowActions&) = delete;
  TzbWindowActions& operator=(const TzbWindowActions&) = delete;
  // Takes the group out of a window that outlives us: its actions' user data may be gone.
  ~TzbWindowActions();

  // Puts AEntries (their user data is AData) into a new group inserted into AWindow under APrefix, and
  // binds AKeys. The key handler runs before the focused widget's, so the window's keys win; a key
  // bound to a disabled action is taken and does nothing.
  void Install(GtkWindow* AWindow, const char* APrefix, std::span<const GActionEntry> AEntries, gpointer AData,
               std::span<const TzbActionKeys> AKeys);

  // Buttons follow: an action that is off leaves its buttons insensitive.
  void SetEnabled(const char* AAction, bool AEnabled);
  bool Enabled(const char* AAction) const;
  // As its button or key would (the close box of a window, for instance).
  void Activate(const char* AAction);

 private:
  struct TBinding {
    guint Key;
    GdkModifierType Modifiers;
    std::string Action;
    const char* Focus;
    bool MoreModifiers;
  };
  bool Matches(const TBinding& ABinding, guint AKey, guint AModifiers) const;
  bool KeyPressed(const GdkEventKey* AEvent) const;

  GtkWindow* FWindow = nullptr;
  TzbWeak<GtkWidget> FWindowRef;
  std::string FPrefix;
  TzbGObject<GSimpleActionGroup> FGroup;
  std::vector<TBinding> FBindings;
  TzbSignal FKeyPress;
};

}  // namespace zb
