#include "platform/gtk/zbWindowActions.h"

#include <cstring>
#include <span>

#include "platform/glib/zbCallbackGuard.h"
#include "support/zbException.h"
#include "support/zbUnicode.h"

namespace zb {

TzbWindowActions::~TzbWindowActions() {
  if (GtkWidget* window = FWindowRef.Get()) gtk_widget_insert_action_group(window, FPrefix.c_str(), nullptr);
}

void TzbWindowActions::Install(GtkWindow* AWindow, const char* APrefix, std::span<const GActionEntry> AEntries,
                               gpointer AData, std::span<const TzbActionKeys> AKeys) {
  FWindow = AWindow;
  FWindowRef.Set(GTK_WIDGET(AWindow));
  FPrefix = APrefix;
  FGroup.reset(g_simple_action_group_new());
  g_action_map_add_action_entries(G_ACTION_MAP(FGroup.get()), AEntries.data(), static_cast<gint>(AEntries.size()),
                                  AData);
  for (const TzbActionKeys& keys : AKeys) {
    // A table that names no action of the group, or a key GTK cannot read, is the program's own fault.
    if (!g_action_group_has_action(G_ACTION_GROUP(FGroup.get()), keys.Action))
      throw EzbException(u"Tastenbelegung ohne Aktion: " + Utf8ToUtf16(keys.Action));
    for (const char* accel : keys.Accels) {
      if (!accel) continue;
      guint key = 0;
      GdkModifierType modifiers{};
      gtk_accelerator_parse(accel, &key, &modifiers);
      if (!key) throw EzbException(u"Unlesbare Taste: " + Utf8ToUtf16(accel));
      FBindings.push_back({gdk_keyval_to_lower(key), modifiers, keys.Action, keys.Focus, keys.MoreModifiers});
    }
  }
  gtk_widget_insert_action_group(GTK_WIDGET(AWindow), APrefix, G_ACTION_GROUP(FGroup.get()));
  // Connected before GTK's own handling (mnemonics, the focused widget), so the window's keys win.
  FKeyPress = TzbSignal(
      AWindow, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* AEvent, gpointer ASelf) noexcept -> gboolean {
        return GuardCallback([&] { return static_cast<TzbWindowActions*>(ASelf)->KeyPressed(AEvent) ? TRUE : FALSE; },
                             FALSE);
      }),
      this);
}

void TzbWindowActions::SetEnabled(const char* AAction, bool AEnabled) {
  GAction* action = g_action_map_lookup_action(G_ACTION_MAP(FGroup.get()), AAction);
  if (action) g_simple_action_set_enabled(G_SIMPLE_ACTION(action), AEnabled);
}

bool TzbWindowActions::Enabled(const char* AAction) const {
  return FGroup && g_action_group_get_action_enabled(G_ACTION_GROUP(FGroup.get()), AAction);
}

void TzbWindowActions::Activate(const char* AAction) {
  if (Enabled(AAction)) g_action_group_activate_action(G_ACTION_GROUP(FGroup.get()), AAction, nullptr);
}

bool TzbWindowActions::Matches(const TBinding& ABinding, guint AKey, guint AModifiers) const {
  if (ABinding.Key != AKey) return false;
  if (ABinding.MoreModifiers ? (AModifiers & ABinding.Modifiers) != ABinding.Modifiers
                             : AModifiers != ABinding.Modifiers)
    return false;
  GtkWidget* focus = gtk_window_get_focus(FWindow);
  return !ABinding.Focus || (focus && std::strcmp(gtk_widget_get_name(focus), ABinding.Focus) == 0);
}

bool TzbWindowActions::KeyPressed(const GdkEventKey* AEvent) const {
  GdkKeymap* keymap = gdk_keymap_get_for_display(gtk_widget_get_display(GTK_WIDGET(FWindow)));
  // The key in the layout in use, then in the first one: on a layout without Latin letters Ctrl+C is
  // where the first layout has its C. The modifiers that made the key what it is (Shift for a plus on
  // most keyboards) are no part of the accelerator; the others must match.
  const int groups[] = {static_cast<int>(AEvent->group), 0};
  for (const int group : std::span(groups, AEvent->group == 0 ? 1 : 2)) {
    guint key = AEvent->keyval;
    GdkModifierType consumed{};
    if (!gdk_keymap_translate_keyboard_state(keymap, AEvent->hardware_keycode,
                                             static_cast<GdkModifierType>(AEvent->state), group, &key, nullptr, nullptr,
                                             &consumed))
      key = AEvent->keyval;
    key = gdk_keyval_to_lower(key);
    const guint modifiers = AEvent->state & gtk_accelerator_get_default_mod_mask() & ~consumed;
    for (const TBinding& binding : FBindings) {
      if (!Matches(binding, key, modifiers)) continue;
      if (Enabled(binding.Action.c_str()))
        g_action_group_activate_action(G_ACTION_GROUP(FGroup.get()), binding.Action.c_str(), nullptr);
      return true;
    }
  }
  return false;
}

}  // namespace zb
