// The editor's housekeeping and hooks over the real engine: the engine's website data and history,
// the user's offline switch seen by another process, the key filter, the close query and the owner
// window's hook.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "htmledit/zbWinINet.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbGtkOwner.h"
#include "platform/webkit/zbWebKitData.h"
#include "platform/webkit/zbWebKitUtils.h"
#include "support/zbRegistry.h"
#include "tests/htmledit/zbHtmlEdTestEnv.h"

namespace zb::test {
namespace {

WebKitWebView* ViewOf(TzbCustomHtmlEdit& AEdit) { return WEBKIT_WEB_VIEW(AEdit.Widget()); }

// A small PNG of one colour.
std::string TinyPng() {
  TzbGObject<GdkPixbuf> Pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 4, 4));
  gdk_pixbuf_fill(Pixbuf.get(), 0xFF0000FFu);
  gchar* Raw = nullptr;
  gsize Size = 0;
  EXPECT_TRUE(gdk_pixbuf_save_to_buffer(Pixbuf.get(), &Raw, &Size, "png", nullptr, nullptr));
  TzbGChars Bytes(Raw);
  return std::string(Bytes.get(), Size);
}

std::vector<std::string> SiteNames() {
  std::vector<webkit::TzbWebsiteData> Entries;
  EXPECT_TRUE(webkit::FetchWebsiteData(webkit::CacheDataTypes, 10000, Entries));
  std::vector<std::string> Names;
  for (const auto& E : Entries) Names.emplace_back(webkit_website_data_get_name(E.get()));
  return Names;
}

void AddCookie(const char* ADomain) {
  bool Done = false;
  WebKitCookieManager* Cookies = webkit_website_data_manager_get_cookie_manager(
      webkit_web_context_get_website_data_manager(webkit::SharedWebContext()));
  TzbOwner<SoupCookie, soup_cookie_free> Cookie(soup_cookie_new("zb", "1", ADomain, "/", -1));
  webkit_cookie_manager_add_cookie(
      Cookies, Cookie.get(), nullptr,
      [](GObject*, GAsyncResult*, gpointer AData) noexcept { *static_cast<bool*>(AData) = true; }, &Done);
  ASSERT_TRUE(WaitOnMainContext([&] { return Done; }, 10000));
}

TEST(HtmlEditCache, ClearCacheEmptiesEveryKindOfTheEnginesData) {
  TzbHtmlEdit& E = *GEdit;
  TTempDir Dir;
  Dir.Write("a.png", TinyPng());
  ASSERT_TRUE(LoadAndWait(E, Dir.Write("img.htm", "<html><body><img src='a.png'><img src='a.png?2'></body></html>")));
  AddCookie("one.example");
  AddCookie("two.example");
  AddCookie("three.example");
  EXPECT_GE(SiteNames().size(), 3u);

  E.ClearCache();
  EXPECT_TRUE(SiteNames().empty());
  EXPECT_TRUE(E.DOC()) << "the document stays";

  // The engine keeps all of it in memory: nothing of a view's loads is ever written to disk.
  WebKitWebsiteDataManager* Data = webkit_web_context_get_website_data_manager(webkit::SharedWebContext());
  EXPECT_TRUE(webkit_website_data_manager_is_ephemeral(Data));
  EXPECT_EQ(webkit_website_data_manager_get_base_cache_directory(Data), nullptr);

  // An empty cache: the first deletion reports the end and no enumeration is left open.
  HzbUrlCacheEnum Handle;
  EXPECT_EQ(DeleteFirstUrlCacheEntry(Handle), ERROR_NO_MORE_ITEMS);
  EXPECT_FALSE(Handle);
  EXPECT_EQ(DeleteNextUrlCacheEntry(Handle), ERROR_NO_MORE_ITEMS);
  ClearUrlCache();

  // Step by step: one entry per answer 0, then the end.
  AddCookie("four.example");
  AddCookie("five.example");
  ASSERT_EQ(DeleteFirstUrlCacheEntry(Handle), 0);
  EXPECT_EQ(SiteNames().size(), 1u);
  EXPECT_EQ(DeleteNextUrlCacheEntry(Handle), 0);
  EXPECT_EQ(DeleteNextUrlCacheEntry(Handle), ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(SiteNames().empty());
}

TEST(HtmlEditCache, ClearHistoryKeepsOnlyTheShownDocument) {
  TzbHtmlEdit& E = *GEdit;
  TTempDir Dir;
  ASSERT_TRUE(LoadAndWait(E, Dir.Write("1.htm", "<p>one</p>")));
  ASSERT_TRUE(LoadAndWait(E, Dir.Write("2.htm", "<p>two</p>")));
  ASSERT_TRUE(LoadAndWait(E, Dir.Write("3.htm", "<p>three</p>")));
  WebKitBackForwardList* List = webkit_web_view_get_back_forward_list(ViewOf(E));
  ASSERT_GE(webkit_back_forward_list_get_length(List), 3u);

  E.ClearHistory();
  EXPECT_EQ(webkit_back_forward_list_get_length(List), 1u);
  EXPECT_FALSE(webkit_web_view_can_go_back(ViewOf(E)));
  // Nothing was loaded again: the document and its handles are those of before.
  EXPECT_EQ(E.ReadyState(), READYSTATE_COMPLETE);
  EXPECT_EQ(BodyText(E), u"three");
  E.ClearHistory();  // nothing left to drop
  EXPECT_EQ(webkit_back_forward_list_get_length(List), 1u);

  ASSERT_TRUE(LoadAndWait(E, Dir.Write("4.htm", "<p>four</p>")));
  EXPECT_EQ(webkit_back_forward_list_get_length(List), 2u);
  EXPECT_EQ(BodyText(E), u"four");
}

// The user's registry hive in a temporary folder, for this test and the processes it starts.
class HtmlEditOffline : public ::testing::Test {
 protected:
  TTempDir Dir;
  TScopedEnv Config{"XDG_CONFIG_HOME", Dir.Path};
  static int Probe(const std::vector<std::string>& AArgs) {
    std::vector<char*> Argv{const_cast<char*>(ZB_OFFLINE_PROBE)};
    for (const auto& A : AArgs) Argv.push_back(const_cast<char*>(A.c_str()));
    Argv.push_back(nullptr);
    gint Status = -1;
    TzbGError Error;
    EXPECT_TRUE(g_spawn_sync(nullptr, Argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, nullptr,
                             &Status, Error.Out()))
        << Error.Message();
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  }
};

TEST_F(HtmlEditOffline, SwitchIsSharedWithTheUsersOtherProcesses) {
  TzbHtmlEdit& E = *GEdit;
  EXPECT_FALSE(E.IsGlobalOffline()) << "no value: online";
  E.SetGlobalOffline(true);
  EXPECT_TRUE(E.IsGlobalOffline());
  EXPECT_EQ(Probe({"get"}), 1);
  {
    TzbRegistry Reg(KEY_READ, HKEY_CURRENT_USER);
    ASSERT_TRUE(Reg.OpenKeyReadOnly(OfflineStateKey));
    EXPECT_EQ(Reg.ReadInteger(OfflineStateValue), 0x10);
    EXPECT_EQ(Reg.ReadInteger(OfflineFlagsValue), 1);
  }
  EXPECT_EQ(Probe({"set", "0"}), 0);
  EXPECT_FALSE(E.IsGlobalOffline());
  EXPECT_EQ(Probe({"get"}), 0);
  EXPECT_EQ(Probe({"set", "1"}), 0);
  EXPECT_TRUE(E.IsGlobalOffline());
  E.SetGlobalOffline(false);
  EXPECT_FALSE(E.IsGlobalOffline());

  // A state word that is not one (another type, another size) reads as online.
  {
    TzbRegistry Reg(KEY_ALL_ACCESS, HKEY_CURRENT_USER);
    ASSERT_TRUE(Reg.OpenKey(OfflineStateKey, false));
    Reg.WriteString(OfflineStateValue, u"16");
  }
  EXPECT_FALSE(E.IsGlobalOffline());
}

// --- Key filter ---------------------------------------------------------------------------------

void SendKey(GtkWidget* AView, guint AKeyval) {
  for (GdkEventType Type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
    TzbOwner<GdkEvent, gdk_event_free> Event(gdk_event_new(Type));
    Event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(AView)));
    Event->key.keyval = AKeyval;
    Event->key.time = GDK_CURRENT_TIME;
    GdkKeymapKey* Raw = nullptr;
    gint Count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), AKeyval, &Raw,
                                          &Count)) {
      TzbOwner<GdkKeymapKey, g_free> Keys(Raw);
      Event->key.hardware_keycode = static_cast<guint16>(Keys.get()[0].keycode);
      Event->key.group = static_cast<guint8>(Keys.get()[0].group);
    }
    gdk_event_set_device(Event.get(), gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_widget_event(AView, Event.get());
  }
}

class HtmlEditKeys : public ::testing::Test {
 protected:
  TzbHtmlEdit& E = *GEdit;
  TTempDir Dir;
  std::vector<std::uint32_t> Accelerators;
  HRESULT Answer = S_OK;
  void SetUp() override {
    E.Loaded();
    E.OnTranslateAccelerator = [this](TzbCustomHtmlEdit&, std::uint32_t AKey) {
      Accelerators.push_back(AKey);
      return Answer;
    };
  }
  void TearDown() override {
    E.OnTranslateAccelerator = nullptr;
    E.SetDesignMode(false);
  }
  // The text without line breaks: an emptied editable body keeps one, Enter makes more.
  std::u16string Text() {
    std::u16string T = BodyText(E);
    std::erase(T, u'\n');
    return T;
  }
  bool TextBecomes(const std::u16string& AText) {
    return WaitOnMainContext([&] { return Text() == AText; }, 10000);
  }
};

TEST_F(HtmlEditKeys, AcceleratorsFirstExceptTheEditingKeys) {
  ASSERT_TRUE(LoadAndWait(E, Dir.Write("k.htm", "<html><body>abc</body></html>")));
  E.SetDesignMode(true);
  E.SelectAll();
  gtk_widget_grab_focus(E.Widget());

  // Taken by the accelerator handling: the engine never sees it.
  SendKey(E.Widget(), GDK_KEY_x);
  EXPECT_EQ(Accelerators, (std::vector<std::uint32_t>{GDK_KEY_x, GDK_KEY_x}));
  // Not taken: the engine types it over the selection, after the refused x.
  Answer = S_FALSE;
  SendKey(E.Widget(), GDK_KEY_y);
  ASSERT_TRUE(TextBecomes(u"y"));
  EXPECT_EQ(Accelerators.size(), 4u);

  // Backspace reaches the engine as an ordinary key even with an accelerator handling that takes all.
  Answer = S_OK;
  Accelerators.clear();
  SendKey(E.Widget(), GDK_KEY_BackSpace);
  ASSERT_TRUE(TextBecomes(u""));
  for (guint Key : {GDK_KEY_Return, GDK_KEY_KP_Enter, GDK_KEY_Left, GDK_KEY_Right}) SendKey(E.Widget(), Key);
  EXPECT_TRUE(Accelerators.empty());
  // The keypad's arrows are not exempt.
  SendKey(E.Widget(), GDK_KEY_KP_Left);
  SendKey(E.Widget(), GDK_KEY_KP_Right);
  EXPECT_EQ(Accelerators.size(), 4u);

  // A failing accelerator handling leaves the key to the engine.
  E.OnTranslateAccelerator = [](TzbCustomHtmlEdit&, std::uint32_t) -> HRESULT { throw EzbException(u"kaputt"); };
  SendKey(E.Widget(), GDK_KEY_z);
  ASSERT_TRUE(TextBecomes(u"z"));
}

TEST_F(HtmlEditKeys, DialogKeysAtAViewWithoutFocusAreDropped) {
  ASSERT_TRUE(LoadAndWait(E, Dir.Write("d.htm", "<html><body>abc</body></html>")));
  GtkWidget* Window = gtk_widget_get_toplevel(E.Widget());
  ASSERT_TRUE(GTK_IS_WINDOW(Window));
  gtk_window_set_focus(GTK_WINDOW(Window), nullptr);
  ASSERT_FALSE(gtk_widget_is_focus(E.Widget()));
  for (guint Key : {GDK_KEY_Tab, GDK_KEY_Escape, GDK_KEY_Return, GDK_KEY_Up, GDK_KEY_KP_Left}) {
    TzbOwner<GdkEvent, gdk_event_free> Event(gdk_event_new(GDK_KEY_PRESS));
    Event->key.keyval = Key;
    EXPECT_TRUE(E.BrowserWndProc(&Event->key)) << Key;
  }
  EXPECT_TRUE(Accelerators.empty());
  // Other keys and the focused view take the usual way.
  TzbOwner<GdkEvent, gdk_event_free> Event(gdk_event_new(GDK_KEY_PRESS));
  Event->key.keyval = GDK_KEY_a;
  EXPECT_TRUE(E.BrowserWndProc(&Event->key));
  EXPECT_EQ(Accelerators.size(), 1u);
  gtk_widget_grab_focus(E.Widget());
  Event->key.keyval = GDK_KEY_Tab;
  Answer = S_FALSE;
  EXPECT_FALSE(E.BrowserWndProc(&Event->key));
  EXPECT_EQ(Accelerators.size(), 2u);
}

// --- Close query --------------------------------------------------------------------------------

TEST(HtmlEditClose, CloseRequestAsksOnCloseQueryAndIsDroppedOnNo) {
  TzbHtmlEdit& E = *GEdit;
  E.Loaded();
  TTempDir Dir;
  ASSERT_TRUE(LoadAndWait(E, Dir.Write("c.htm", "<p>close</p>")));
  int Asked = 0;
  bool Allow = false;
  E.OnCloseQuery = [&](TzbCustomHtmlEdit&, bool& CanClose) {
    ++Asked;
    CanClose = Allow;
  };
  // The owner's handler comes after the editor's.
  int Closed = 0;
  TzbSignal Owner(E.Widget(), "close",
                  G_CALLBACK(+[](GtkWidget*, gpointer AData) noexcept { ++*static_cast<int*>(AData); }), &Closed);
  webkit_web_view_try_close(ViewOf(E));
  ASSERT_TRUE(WaitOnMainContext([&] { return Asked == 1; }, 10000));
  EXPECT_EQ(Closed, 0);

  Allow = true;
  webkit_web_view_try_close(ViewOf(E));
  ASSERT_TRUE(WaitOnMainContext([&] { return Closed == 1; }, 10000));
  EXPECT_EQ(Asked, 2);

  E.OnCloseQuery = nullptr;
  webkit_web_view_try_close(ViewOf(E));
  ASSERT_TRUE(WaitOnMainContext([&] { return Closed == 2; }, 10000));
  EXPECT_EQ(BodyText(E), u"close") << "closing is the owner's business";
}

// --- Owner window hook --------------------------------------------------------------------------

class TWatchingEdit : public TzbHtmlEdit {
 public:
  TWatchingEdit(GtkContainer* AParent, int& ACalls) : TzbHtmlEdit(nullptr, AParent), FCalls(ACalls) {}

 protected:
  void ParentFormWndProc(GtkWidget*) override { ++FCalls; }

 private:
  int& FCalls;
};

bool HasActivationHandler(GtkWidget* AWindow) {
  return g_signal_has_handler_pending(AWindow, g_signal_lookup("notify", G_TYPE_OBJECT),
                                      g_quark_from_static_string("is-active"), FALSE);
}

TEST(HtmlEditOwnerHook, HookedFromLoadedToDestroyOnlyWhenTheWindowExists) {
  int Calls = 0;
  TzbTopLevel Window(gtk_offscreen_window_new());
  gtk_widget_realize(Window.get());
  auto Edit = std::make_unique<TWatchingEdit>(GTK_CONTAINER(Window.get()), Calls);
  EXPECT_EQ(Edit->ParentForm(), nullptr) << "not before Loaded";
  EXPECT_FALSE(HasActivationHandler(Window.get()));
  Edit->Loaded();
  EXPECT_EQ(Edit->ParentForm(), Window.get());
  g_object_notify(G_OBJECT(Window.get()), "is-active");
  EXPECT_EQ(Calls, 1);
  Edit->UnhookParentForm();
  EXPECT_EQ(Edit->ParentForm(), nullptr);
  g_object_notify(G_OBJECT(Window.get()), "is-active");
  EXPECT_EQ(Calls, 1);
  Edit->HookParentForm();
  Edit.reset();
  EXPECT_FALSE(HasActivationHandler(Window.get())) << "the hook ends with the editor";

  // A window that does not exist yet at Loaded gets no hook, also not once it exists.
  TzbTopLevel Later(gtk_offscreen_window_new());
  Edit = std::make_unique<TWatchingEdit>(GTK_CONTAINER(Later.get()), Calls);
  Edit->Loaded();
  EXPECT_EQ(Edit->ParentForm(), nullptr);
  gtk_widget_realize(Later.get());
  g_object_notify(G_OBJECT(Later.get()), "is-active");
  EXPECT_EQ(Calls, 1);
  Edit.reset();

  // An editor without a container of its own has no owner; an owner that goes first is let go.
  Edit = std::make_unique<TWatchingEdit>(nullptr, Calls);
  Edit->Loaded();
  EXPECT_EQ(Edit->ParentForm(), nullptr);
  TzbTopLevel Gone(gtk_offscreen_window_new());
  GtkWidget* Box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(Gone.get()), Box);
  gtk_widget_realize(Gone.get());
  Edit = std::make_unique<TWatchingEdit>(GTK_CONTAINER(Box), Calls);
  Edit->Loaded();
  EXPECT_EQ(Edit->ParentForm(), Gone.get());
  gtk_container_remove(GTK_CONTAINER(Box), Edit->Widget());
  Gone.reset();
  EXPECT_EQ(Edit->ParentForm(), nullptr);
  Edit.reset();
}

}  // namespace
}  // namespace zb::test
