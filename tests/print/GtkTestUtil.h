// Driving real GTK windows in the printing tests: focus, real key presses through the X server
// (xdotool), finding widgets, and screenshots into build/test-output/ for a person to look at.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbMainWait.h"
#include "tests/XdoTool.h"

namespace zb::print::test {

// Generous: only a broken window ever waits this long.
constexpr int WindowWaitMs = 20000;

inline bool WaitFor(const std::function<bool()>& ADone) { return WaitOnMainContext(ADone, WindowWaitMs); }

// Without a window manager the window gets the X focus from GTK itself once presented.
inline bool Focus(GtkWindow* AWindow) {
  gtk_window_present(AWindow);
  return WaitFor([&] { return gtk_window_is_active(AWindow) != FALSE; });
}

// Key presses as a user makes them, e.g. "Page_Down", "ctrl+plus", "alt+o"; to the focused window.
inline void Key(const std::string& AKeys) {
  gdk_display_sync(gdk_display_get_default());
  ASSERT_TRUE(zb::test::xdo::Key(AKeys)) << AKeys;
}

inline void Type(const std::string& AText) { ASSERT_TRUE(zb::test::xdo::Type(AText)) << AText; }

// The first widget below ARoot (internal children included) that APredicate accepts.
inline GtkWidget* FindWidget(GtkWidget* ARoot, const std::function<bool(GtkWidget*)>& APredicate) {
  if (APredicate(ARoot)) return ARoot;
  if (!GTK_IS_CONTAINER(ARoot)) return nullptr;
  struct TSearch {
    const std::function<bool(GtkWidget*)>* Predicate;
    GtkWidget* Found = nullptr;
  } search{&APredicate};
  gtk_container_forall(
      GTK_CONTAINER(ARoot),
      [](GtkWidget* AChild, gpointer AData) {
        auto* s = static_cast<TSearch*>(AData);
        if (!s->Found) s->Found = FindWidget(AChild, *s->Predicate);
      },
      &search);
  return search.Found;
}

inline GtkWidget* WidgetNamed(GtkWindow* AWindow, const std::string& AName) {
  return FindWidget(GTK_WIDGET(AWindow), [&](GtkWidget* w) { return AName == gtk_widget_get_name(w); });
}

inline GtkWidget* LabelStartingWith(GtkWindow* AWindow, const std::string& APrefix) {
  return FindWidget(GTK_WIDGET(AWindow), [&](GtkWidget* w) {
    return GTK_IS_LABEL(w) && std::string(gtk_label_get_text(GTK_LABEL(w))).starts_with(APrefix);
  });
}

// The button that carries AAction ("preview.next-page").
inline GtkWidget* ButtonFor(GtkWindow* AWindow, const std::string& AAction) {
  return FindWidget(GTK_WIDGET(AWindow), [&](GtkWidget* AWidget) {
    if (!GTK_IS_BUTTON(AWidget)) return false;
    const char* name = gtk_actionable_get_action_name(GTK_ACTIONABLE(AWidget));
    return name && AAction == name;
  });
}

// The actions of AWindow's group under APrefix, sorted.
inline std::vector<std::string> WindowActions(GtkWindow* AWindow, const char* APrefix) {
  std::vector<std::string> names;
  GActionGroup* group = gtk_widget_get_action_group(GTK_WIDGET(AWindow), APrefix);
  if (!group) return names;
  const TzbGStrv list(g_action_group_list_actions(group));
  for (gchar** name = list.get(); *name; ++name) names.emplace_back(*name);
  std::sort(names.begin(), names.end());
  return names;
}

inline std::string EntryText(GtkWidget* AEntry) { return AEntry ? gtk_entry_get_text(GTK_ENTRY(AEntry)) : "<none>"; }

// The window as it is on the screen, after it has drawn itself.
inline void Screenshot(GtkWindow* AWindow, const std::string& AName) {
  GtkWidget* widget = GTK_WIDGET(AWindow);
  bool drawn = false;
  TzbSignal draw(widget, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer AData) noexcept -> gboolean {
                   *static_cast<bool*>(AData) = true;
                   return FALSE;
                 }),
                 &drawn);
  gtk_widget_queue_draw(widget);
  ASSERT_TRUE(WaitFor([&] { return drawn; }));
  ProcessPendingMessages();
  gdk_display_sync(gtk_widget_get_display(widget));
  GdkWindow* window = gtk_widget_get_window(widget);
  TzbGObject<GdkPixbuf> shot(
      gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window), gdk_window_get_height(window)));
  ASSERT_TRUE(shot);
  std::filesystem::create_directories(ZB_TEST_OUTPUT);
  const std::string path = std::string(ZB_TEST_OUTPUT) + "/" + AName;
  EXPECT_TRUE(gdk_pixbuf_save(shot.get(), path.c_str(), "png", nullptr, nullptr)) << path;
}

// GTK needs a display; listing the tests does not.
inline int RunGtkTests(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  // Numbers in the fields are written the C way ("19.05") whatever the caller's locale is.
  ::setenv("LC_ALL", "C.UTF-8", 1);
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "%s needs a display\n", argv[0]);
    return 1;
  }
  ::unsetenv("LC_ALL");
  // Screenshots show the widgets' final state, not a CSS transition on its way there.
  g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
  return RUN_ALL_TESTS();
}

}  // namespace zb::print::test
