// The exception dialog on a real display, driven by real key presses (xdotool); screenshots go to
// ZB_TEST_OUTPUT_DIR.
#include "errors/ExceptDlgForm.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "errors/ExceptLogReader.h"
#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbMainWait.h"
#include "support/zbFileCtrl.h"
#include "support/zbLocale.h"
#include "support/zbRegistry.h"
#include "support/zbSound.h"
#include "support/zbStr.h"
#include "tests/XdoTool.h"

using namespace zb;
extern "C" GResource* zberrorsdlg_get_resource();
namespace fs = std::filesystem;

namespace {

const char16_t Title[] = u"Vestrum Plumadesk 5.0 - HTML Service";

std::string U8(std::u16string_view s) { return Utf16ToUtf8(s); }

void Keys(const std::string& Combo, const std::string& Window = "") {
  ASSERT_TRUE(Window.empty() ? zb::test::xdo::Run(zb::test::xdo::WithKeys({"key"}, Combo))
                             : zb::test::xdo::KeyTo(Window, Combo))
      << Combo;
}

void Screenshot(GtkWidget* Window, const std::string& Name) {
  GdkWindow* w = gtk_widget_get_window(Window);
  const TzbGObject<GdkPixbuf> shot(
      gdk_pixbuf_get_from_window(w, 0, 0, gdk_window_get_width(w), gdk_window_get_height(w)));
  fs::create_directories(ZB_TEST_OUTPUT_DIR);
  ASSERT_TRUE(shot && gdk_pixbuf_save(shot.get(), (ZB_TEST_OUTPUT_DIR "/" + Name).c_str(), "png", nullptr, nullptr));
}

int Height(GtkWidget* Window) {
  int w = 0, h = 0;
  gtk_window_get_size(GTK_WINDOW(Window), &w, &h);
  return h;
}

// Counts its beeps; every dialog of these tests is one.
class TTestDialog : public TExceptionDialog {
 public:
  inline static int Created = 0;
  int ErrorBeeps = 0, DefaultBeeps = 0, Draws = 0;
  inline static TModalResult Closed = mrNone;
  TTestDialog() : FDrawn(Window(), "draw", G_CALLBACK(CountDraw), this) { ++Created; }
  ~TTestDialog() override { Closed = ModalResult(); }

 protected:
  void MessageBeep(TBeep Kind) override {
    ++(Kind == TBeep::bpError ? ErrorBeeps : DefaultBeeps);
    TExceptionDialog::MessageBeep(Kind);
  }

 private:
  static gboolean CountDraw(GtkWidget*, cairo_t*, gpointer ASelf) noexcept {
    ++static_cast<TTestDialog*>(ASelf)->Draws;
    return FALSE;
  }
  TzbSignal FDrawn;
};

// Steps that run while the dialog's modal loop (or one nested in it) serves the main context: each waits
// for its condition, checked on a short timer, then acts. A step that never gets ready ends the dialogs.
class TScript {
 public:
  TScript& Then(std::function<bool()> Ready, std::function<void()> Act) {
    FSteps.push_back({std::move(Ready), std::move(Act)});
    return *this;
  }
  // After the next complete paint of the dialog.
  TScript& Shot(const std::string& Name) {
    auto seen = std::make_shared<int>();
    return Then([] { return true; },
                [seen] {
                  *seen = Dialog()->Draws;
                  gtk_widget_queue_draw(GTK_WIDGET(Dialog()->Window()));
                })
        .Then([seen] { return Dialog()->Draws > *seen; }, [Name] { Screenshot(GTK_WIDGET(Dialog()->Window()), Name); });
  }
  TScript& Key(const std::string& Combo) {
    return Then([] { return Dialog() && gtk_window_is_active(Dialog()->Window()); }, [Combo] { Keys(Combo); });
  }
  void Start() {
    FSince = g_get_monotonic_time();
    FTimer = TzbSource(g_timeout_add(10, Tick, this));
  }
  bool Finished() const { return FNext == FSteps.size(); }
  static TTestDialog* Dialog() { return dynamic_cast<TTestDialog*>(TExceptionDialog::Current()); }

 private:
  static gboolean Tick(gpointer ASelf) noexcept {
    auto* self = static_cast<TScript*>(ASelf);
    GuardCallback([&] {
      if (self->FNext < self->FSteps.size() && self->FSteps[self->FNext].first()) {
        self->FSteps[self->FNext++].second();
        self->FSince = g_get_monotonic_time();
      } else if (g_get_monotonic_time() - self->FSince > 60 * G_USEC_PER_SEC) {
        ADD_FAILURE() << "step " << self->FNext << " never got ready";
        self->FNext = self->FSteps.size() + 1;
        for (GList* l = gtk_window_list_toplevels(); l; l = g_list_delete_link(l, l))
          if (GTK_IS_DIALOG(l->data)) gtk_dialog_response(GTK_DIALOG(l->data), GTK_RESPONSE_CANCEL);
        if (Dialog()) Dialog()->Close(TExceptionDialog::mrCancel);
      }
    });
    if (self->FNext < self->FSteps.size()) return G_SOURCE_CONTINUE;
    self->FTimer.Ended();
    return G_SOURCE_REMOVE;
  }
  std::vector<std::pair<std::function<bool()>, std::function<void()>>> FSteps;
  std::size_t FNext = 0;
  gint64 FSince = 0;
  TzbSource FTimer;
};

// The first visible dialog of type T other than the exception dialog, when it has the keyboard.
GtkWindow* ActiveDialog(GType Type) {
  GtkWindow* found = nullptr;
  for (GList* l = gtk_window_list_toplevels(); l; l = g_list_delete_link(l, l))
    if (G_TYPE_CHECK_INSTANCE_TYPE(l->data, Type) && gtk_widget_get_visible(GTK_WIDGET(l->data)) &&
        gtk_window_is_active(GTK_WINDOW(l->data)))
      found = GTK_WINDOW(l->data);
  return found;
}

// A real mouse click in the middle of AWidget. The pointer goes back where it was: left on the display,
// it would light up whatever a later test's screenshot shows under it.
void Click(GtkWidget* AWidget) {
  int x = 0, y = 0;
  gdk_window_get_origin(gtk_widget_get_window(gtk_widget_get_toplevel(AWidget)), &x, &y);
  int left = 0, top = 0;
  ASSERT_TRUE(gtk_widget_translate_coordinates(AWidget, gtk_widget_get_toplevel(AWidget), 0, 0, &left, &top));
  x += left + gtk_widget_get_allocated_width(AWidget) / 2;
  y += top + gtk_widget_get_allocated_height(AWidget) / 2;
  ASSERT_TRUE(zb::test::xdo::Run(
      {"mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1", "mousemove", "restore"}));
}

class ExceptDlgForm : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zbexdlg-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    FDir = tmpl;
    setenv("XDG_CONFIG_HOME", (FDir + "/config").c_str(), 1);
    setenv("VESTRUM_MACHINE_REGISTRY", (FDir + "/machine.db").c_str(), 1);
    SetLogFolder(Utf8ToUtf16(FDir + "/logs"));
    SetCurrentLocale(GermanLocale());
    SetApplicationTitle(Title);
    TExceptionDialog::SetDialogClass([] { return std::make_unique<TTestDialog>(); });
    TTestDialog::Created = 0;
  }
  void TearDown() override {
    // The closed windows' last requests reach the server, so that no later search finds them.
    ProcessPendingMessages();
    gdk_display_sync(gdk_display_get_default());
    TExceptionDialog::SetDialogClass({});
    fs::remove_all(FDir);
  }
  // Shows Message; the script starts once the report is built, after checking the dialog as it was then.
  void Run(std::u16string_view Message, TScript& Script) {
    TExceptionDialog::ShowException(EzbException(std::u16string(Message)), nullptr, [&](TExceptionDialog& d) {
      EXPECT_TRUE(gtk_widget_get_sensitive(d.OkButton()));
      EXPECT_FALSE(gtk_widget_get_sensitive(d.DetailsButton()));
      EXPECT_FALSE(gtk_widget_get_sensitive(d.SaveButton()));
      GdkCursor* cursor = gdk_window_get_cursor(gtk_widget_get_window(GTK_WIDGET(d.Window())));
      EXPECT_TRUE(cursor && gdk_cursor_get_cursor_type(cursor) == GDK_WATCH);
      EXPECT_EQ(ScreenCursor(), crHourGlass);
      Script.Start();
    });
    EXPECT_TRUE(Script.Finished());
    EXPECT_EQ(TTestDialog::Created, 1);
    EXPECT_EQ(ScreenCursor(), crDefault);
  }
  std::string FDir;
};

TScript& ExpectClipboardCopy(TScript& Script, const std::string& Combo, std::shared_ptr<std::string> Received) {
  auto beeps = std::make_shared<int>();
  return Script
      .Then([] { return true; },
            [beeps] {
              *beeps = TScript::Dialog()->DefaultBeeps;
              gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), "-", -1);
            })
      .Key(Combo)
      .Then([beeps] { return TScript::Dialog()->DefaultBeeps == *beeps + 1; },
            [Received] {
              Received->clear();
              gtk_clipboard_request_text(
                  gtk_clipboard_get(GDK_SELECTION_CLIPBOARD),
                  [](GtkClipboard*, const gchar* t, gpointer r) { *static_cast<std::string*>(r) = t ? t : "?"; },
                  Received.get());
            })
      .Then([Received] { return !Received->empty() && *Received != "-"; },
            [Received, Combo] {  // GTK hands text over with LF line ends.
              EXPECT_EQ(*Received, U8(StringReplace(TScript::Dialog()->GetReportText(0), u"\r\n", u"\n", rfReplaceAll)))
                  << Combo;
            });
}

}  // namespace

// A style sheet GTK cannot read leaves the dialog in the theme's colours without a word; a formatter
// that takes CSS for C++ does that.
TEST(ExceptDlgFormTexts, TheDialogsStyleSheetsParse) {
  GResource* resource = zberrorsdlg_get_resource();
  const char* folder = "/com/vestrum/Plumadesk5/HtmlService/errors/";
  const TzbOwner<char*, g_strfreev> names(
      g_resource_enumerate_children(resource, folder, G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr));
  ASSERT_TRUE(names);
  int sheets = 0;
  for (char** name = names.get(); *name; ++name) {
    if (!g_str_has_suffix(*name, ".css")) continue;
    ++sheets;
    const TzbGObject<GtkCssProvider> css(gtk_css_provider_new());
    int errors = 0;
    g_signal_connect(css.get(), "parsing-error",
                     G_CALLBACK(+[](GtkCssProvider*, GtkCssSection*, GError*, gpointer AErrors) noexcept {
                       ++*static_cast<int*>(AErrors);
                     }),
                     &errors);
    gtk_css_provider_load_from_resource(css.get(), (std::string(folder) + *name).c_str());
    EXPECT_EQ(errors, 0) << *name;
  }
  EXPECT_GT(sheets, 0);
}

TEST(ExceptDlgFormTexts, MnemonicsAndProposedName) {
  EXPECT_EQ(CaptionToMnemonic(u"&OK"), "_OK");
  EXPECT_EQ(CaptionToMnemonic(u"<< &Details"), "<< _Details");
  EXPECT_EQ(CaptionToMnemonic(u"a&&b_c"), "a&b__c");
  EXPECT_EQ(ProposedReportFileName(EncodeDateTime(2019, 3, 29, 12, 3, 9, 0)), u"ERR 2019-03-29 120309.log");
}

TEST_F(ExceptDlgForm, DetailsToggleRemembersHeightCopiesAndClosesWithEnter) {
  TScript script;
  auto text = std::make_shared<std::string>();
  int collapsed = 0;
  script
      .Then(
          [] {
            return gtk_widget_has_focus(TScript::Dialog()->OkButton()) &&
                   gtk_window_is_active(TScript::Dialog()->Window());
          },
          [&] {
            TTestDialog* d = TScript::Dialog();
            EXPECT_EQ(d->MessageText(), u"Die Datei \"a.htm\" wurde nicht gefunden.");
            EXPECT_TRUE(StartsWithText(std::u16string(Title) + u" vom ", d->DetailsText(), true));
            EXPECT_STREQ(gtk_window_get_title(d->Window()), "Vestrum Plumadesk 5.0 - HTML Service - Anwendungsfehler");
            EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(d->DetailsButton())), "_Details >>");
            EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(d->OkButton())), "_OK");
            EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(d->SaveButton())), "_Speichern");
            EXPECT_EQ(d->ErrorBeeps, 1);
            EXPECT_FALSE(d->MessageHasScrollBar());
            collapsed = Height(GTK_WIDGET(d->Window()));
            EXPECT_EQ(collapsed, d->NonDetailsHeight());
          })
      .Shot("exception-dialog-collapsed.png");
  ExpectClipboardCopy(script, "ctrl+c", text);
  ExpectClipboardCopy(script, "ctrl+shift+c", text);
  ExpectClipboardCopy(script, "ctrl+alt+c", text);
  script.Key("alt+d")
      .Then([&] { return Height(GTK_WIDGET(TScript::Dialog()->Window())) == 255; },
            [] { EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(TScript::Dialog()->DetailsButton())), "<< _Details"); })
      .Shot("exception-dialog-details.png")
      .Then([] { return true; },
            [] {
              // The user makes it taller: the focused window is the dialog.
              ASSERT_TRUE(zb::test::xdo::Run({"getwindowfocus", "windowsize", "520", "420"}));
            })
      .Then([] { return Height(GTK_WIDGET(TScript::Dialog()->Window())) == 420; }, [] {})
      .Key("alt+d")
      .Then([&] { return Height(GTK_WIDGET(TScript::Dialog()->Window())) == collapsed; },
            [] { EXPECT_EQ(TScript::Dialog()->FullHeight(), 420); })
      .Key("alt+d")
      .Then([] { return Height(GTK_WIDGET(TScript::Dialog()->Window())) == 420; }, [] {})
      .Key("alt+d")
      .Then([&] { return Height(GTK_WIDGET(TScript::Dialog()->Window())) == collapsed; }, [] {})
      .Key("alt+d")
      .Then([] { return Height(GTK_WIDGET(TScript::Dialog()->Window())) == 420; }, [] {})
      .Key("Tab")
      .Key("Tab")
      .Then([] { return gtk_widget_has_focus(TScript::Dialog()->DetailsBox()); }, [] {});
  ExpectClipboardCopy(script, "ctrl+c", text);
  script.Key("Return");
  Run(u"  Die Datei \"a.htm\" wurde nicht gefunden ", script);
  EXPECT_EQ(TTestDialog::Closed, TExceptionDialog::mrOk);
}

// The buttons, their keys and the close box reach the same report actions; the actions the report is
// needed for come on with it.
TEST_F(ExceptDlgForm, ButtonsAndCloseBoxActThroughTheReportActions) {
  TScript script;
  script
      .Then(
          [] {
            return gtk_widget_get_sensitive(TScript::Dialog()->SaveButton()) &&
                   gtk_window_is_active(TScript::Dialog()->Window());
          },
          [] {
            TTestDialog* d = TScript::Dialog();
            GActionGroup* actions = gtk_widget_get_action_group(GTK_WIDGET(d->Window()), "report");
            ASSERT_NE(actions, nullptr);
            const TzbGStrv names(g_action_group_list_actions(actions));
            std::vector<std::string> listed(names.get(), names.get() + g_strv_length(names.get()));
            std::sort(listed.begin(), listed.end());
            EXPECT_EQ(listed, (std::vector<std::string>{"cancel", "copy", "details", "ok", "save"}));
            EXPECT_STREQ(gtk_actionable_get_action_name(GTK_ACTIONABLE(d->OkButton())), "report.ok");
            EXPECT_STREQ(gtk_actionable_get_action_name(GTK_ACTIONABLE(d->SaveButton())), "report.save");
            EXPECT_STREQ(gtk_actionable_get_action_name(GTK_ACTIONABLE(d->DetailsButton())), "report.details");
            Click(d->DetailsButton());
          })
      .Then([] { return TScript::Dialog()->DetailsShown(); }, [] { Click(TScript::Dialog()->SaveButton()); })
      .Then([] { return ActiveDialog(GTK_TYPE_FILE_CHOOSER_DIALOG) != nullptr; }, [] { Keys("Escape"); })
      .Then([] { return gtk_window_is_active(TScript::Dialog()->Window()); },
            [] {
              // Escape closed the chooser only.
              EXPECT_EQ(TScript::Dialog()->ModalResult(), TExceptionDialog::mrNone);
              Click(TScript::Dialog()->DetailsButton());
            })
      .Then([] { return !TScript::Dialog()->DetailsShown(); }, [] { Click(TScript::Dialog()->OkButton()); });
  Run(u"Knopf", script);
  EXPECT_EQ(TTestDialog::Closed, TExceptionDialog::mrOk);
}

TEST_F(ExceptDlgForm, CloseBoxCancels) {
  TScript script;
  script.Then([] { return gtk_window_is_active(TScript::Dialog()->Window()); },
              [] { gtk_window_close(TScript::Dialog()->Window()); });
  Run(u"Schließen", script);
  EXPECT_EQ(TTestDialog::Closed, TExceptionDialog::mrCancel);
}

// With a second, non-Latin layout switched on, Ctrl and the key that is C in the first one still copies.
TEST_F(ExceptDlgForm, CopyKeyOnANonLatinLayout) {
  const auto layout = [](const char* ALayouts) {
    const char* argv[] = {"setxkbmap", "-layout", ALayouts, nullptr};
    int status = 0;
    return g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                        nullptr, &status, nullptr) &&
           g_spawn_check_wait_status(status, nullptr);
  };
  if (!layout("us,ru")) GTEST_SKIP() << "setxkbmap cannot set the layouts";
  TScript script;
  auto text = std::make_shared<std::string>();
  script.Then([] { return gtk_widget_get_sensitive(TScript::Dialog()->SaveButton()); }, [] {});
  ExpectClipboardCopy(script, "ctrl+Cyrillic_es", text);
  script.Key("Escape");
  Run(u"Kyrillisch", script);
  EXPECT_TRUE(layout("us"));
  EXPECT_EQ(TTestDialog::Closed, TExceptionDialog::mrCancel);
}

TEST_F(ExceptDlgForm, LongMessageGetsScrollBarAlsoAfterResize) {
  std::u16string message;
  for (int i = 1; i <= 30; ++i) message += u"Zeile " + IntToText(i) + u" der Fehlermeldung\n";
  TScript script;
  script
      .Then(
          [] { return TScript::Dialog()->MessageHasScrollBar() && gtk_window_is_active(TScript::Dialog()->Window()); },
          [] {
            ASSERT_TRUE(zb::test::xdo::Run(
                {"getwindowfocus", "windowsize", "700", std::to_string(TScript::Dialog()->NonDetailsHeight())}));
          })
      .Then([] { return gtk_widget_get_allocated_width(GTK_WIDGET(TScript::Dialog()->Window())) == 700; }, [] {})
      .Then([] { return TScript::Dialog()->MessageHasScrollBar(); }, [] {})
      .Shot("exception-dialog-long-message.png")
      .Key("Escape");
  Run(message, script);
  EXPECT_EQ(TTestDialog::Closed, TExceptionDialog::mrCancel);
}

TEST_F(ExceptDlgForm, EmptyMessageSavesReportAloneUnderProposedName) {
  const std::string logs = FDir + "/logs";
  auto before = std::make_shared<TDateTime>();
  auto expected = std::make_shared<std::u16string>();
  TScript script;
  script
      .Then([] { return gtk_widget_get_sensitive(TScript::Dialog()->SaveButton()); },
            [before] {
              EXPECT_EQ(TScript::Dialog()->MessageText(), u"");
              EXPECT_EQ(TScript::Dialog()->GetReportText(0), TScript::Dialog()->DetailsText());
              *before = Now();
            })
      .Key("alt+s")
      .Then([] { return ActiveDialog(GTK_TYPE_FILE_CHOOSER_DIALOG) != nullptr; },
            [&, before, expected] {
              GtkFileChooser* chooser = GTK_FILE_CHOOSER(ActiveDialog(GTK_TYPE_FILE_CHOOSER_DIALOG));
              const TzbGChars name(gtk_file_chooser_get_current_name(chooser));
              const TzbGChars folder(gtk_file_chooser_get_current_folder(chooser));
              EXPECT_EQ(folder.get(), logs);
              // Proposed at the click: one of the seconds between before and now.
              bool matched = false;
              for (TDateTime t = *before; t <= Now() + 1.0 / 86400 && !matched; t += 1.0 / 86400)
                matched = U8(ProposedReportFileName(t)) == name.get();
              EXPECT_TRUE(matched) << name.get();
              *expected = Utf8ToUtf16(logs + "/" + name.get());
              Keys("Return");
            })
      .Then([expected] { return FileExists(*expected); },
            [expected] {
              EXPECT_EQ(ReadFileBytes(*expected), ToAnsiBytes(TScript::Dialog()->DetailsText()));
              EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, u"Software\\Vestrum\\Plumadesk 5.0\\ExceptionDialog",
                                           u"SavePath", u""),
                        ExtractFileDirEx(*expected));
            })
      .Key("Return");
  Run(u" \r\n ", script);
}

TEST_F(ExceptDlgForm, SecondErrorGoesToMessageBox) {
  InstallExceptionDialog();
  TzbExceptionHandler::SetSilentMode(false);
  TScript script;
  script
      .Then(
          [] { return TScript::Dialog() && gtk_window_is_active(TScript::Dialog()->Window()); },
          [] {
            EXPECT_TRUE(TExceptionDialog::ReportDialogActive());
            g_idle_add(
                [](gpointer) noexcept -> gboolean {
                  TExceptionDialog::OnExceptionThreadHandler(std::make_exception_ptr(EzbException(u"Zweiter Fehler")));
                  return G_SOURCE_REMOVE;
                },
                nullptr);
          })
      .Then([] { return ActiveDialog(GTK_TYPE_MESSAGE_DIALOG) != nullptr; },
            [] {
              GtkWindow* box = ActiveDialog(GTK_TYPE_MESSAGE_DIALOG);
              TzbGChars text;
              g_object_get(box, "text", &text, nullptr);
              EXPECT_STREQ(text.get(), "Zweiter Fehler.");
              EXPECT_STREQ(gtk_window_get_title(box), "Vestrum Plumadesk 5.0 - HTML Service");
              EXPECT_EQ(gtk_window_get_transient_for(box), TScript::Dialog()->Window());
              Screenshot(GTK_WIDGET(box), "exception-dialog-second-error.png");
              Keys("Return");
            })
      .Key("Return");
  script.Start();
  TzbExceptionHandler::OnExceptionHandler(nullptr, EzbException(u"Erster Fehler"));
  TzbExceptionHandler::SetSilentMode(true);
  SetShowExceptionHook(nullptr);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(TTestDialog::Created, 1);
  EXPECT_FALSE(TExceptionDialog::ReportDialogActive());
}

TEST_F(ExceptDlgForm, LogEntryReadBackAndShownByTheTool) {
  const std::string state = FDir + "/state";
  setenv("XDG_STATE_HOME", state.c_str(), 1);
  const std::string folder = state + "/Vestrum-Logs/Plumadesk 5.0";
  TzbExceptionHandler::SetLogFilename(Utf8ToUtf16(folder + "/HtmlService 2019-03-29 1203.log"));
  TzbExceptionHandler::SilentException(u"Alter Fehler");
  TzbExceptionHandler handler;
  handler.CatchException(u"Neuer Fehler\nZeile 2");
  handler.SaveErrorToLogfile();
  const TzbLogEntry entry = ReadNewestLogEntry(TzbExceptionHandler::GetLogFilename());
  EXPECT_EQ(entry.Message, u"Neuer Fehler\r\nZeile 2.");
  EXPECT_EQ(entry.Details, handler.Details());
  EXPECT_EQ(NewestLogFile(Utf8ToUtf16(folder)), TzbExceptionHandler::GetLogFilename());
  EXPECT_THROW(ParseNewestLogEntry(u"kein Protokoll"), EzbFileError);

  // The tool finds that log by itself; Return closes its dialog.
  GPid pid = 0;
  char* argv[] = {const_cast<char*>(ZB_ERRORVIEW), nullptr};
  ASSERT_TRUE(g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid, nullptr));
  // Typed once the window has the keyboard: a window manager gives it only after mapping it.
  const std::string id = zb::test::xdo::FindWindow("HTML Service - Anwendungsfehler");
  ASSERT_FALSE(id.empty());
  zb::test::xdo::BecomesActive(id);
  ASSERT_TRUE(zb::test::xdo::Key("Return"));
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// With no folder remembered, the viewer's Save proposes the service's log folder, not the home folder.
TEST_F(ExceptDlgForm, TheViewersSaveProposesTheLogFolder) {
  const std::string state = FDir + "/state", home = FDir + "/home";
  const std::string folder = state + "/Vestrum-Logs/Plumadesk 5.0";
  fs::create_directories(home);
  TzbExceptionHandler::SetLogFilename(Utf8ToUtf16(folder + "/HtmlService 2026-12-10 0900.log"));
  TzbExceptionHandler handler;
  handler.CatchException(u"Fehler zum Speichern");
  handler.SaveErrorToLogfile();
  const auto logs = [&] {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder)) n += e.path().filename().string().rfind("ERR ", 0) == 0;
    return n;
  };
  GPid pid = 0;
  char* argv[] = {const_cast<char*>(ZB_ERRORVIEW), nullptr};
  TzbGStrv env(g_environ_setenv(g_environ_setenv(g_get_environ(), "XDG_STATE_HOME", state.c_str(), TRUE), "HOME",
                                home.c_str(), TRUE));
  ASSERT_TRUE(g_spawn_async(nullptr, argv, env.get(), G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid, nullptr));
  // Save is enabled once the report is built; the chooser comes up in front, Return saves there.
  const auto typeWhenActive = [](const std::string& ATitle, const std::string& AKeys) {
    const std::string id = zb::test::xdo::FindWindow(ATitle);
    zb::test::xdo::BecomesActive(id);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return !id.empty() && zb::test::xdo::Key(AKeys);
  };
  ASSERT_TRUE(typeWhenActive("HTML Service - Anwendungsfehler", "alt+s"));
  ASSERT_TRUE(typeWhenActive("^Speichern unter$", "Return"));
  for (int i = 0; i < 50 && logs() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(logs(), 1u) << "the report was not saved into the log folder";
  for (const auto& e : fs::recursive_directory_iterator(home)) EXPECT_NE(e.path().extension(), ".log") << e.path();
  ASSERT_TRUE(typeWhenActive("HTML Service - Anwendungsfehler", "Return"));
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

namespace {
class TDisplay : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
    // Screenshots show the states themselves, not a theme's fade between them.
    g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
  }
};
const auto* const Display = ::testing::AddGlobalTestEnvironment(new TDisplay);
}  // namespace
