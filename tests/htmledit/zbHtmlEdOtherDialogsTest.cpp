// The editor's other dialogs on a real display: open, save as, properties, find, view source and
// options, answered with real key presses from the main loop while the editor's call waits.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "htmledit/zbHtmlEd.h"
#include "platform/glib/zbGOwner.h"
#include "tests/TestEnv.h"
#include "tests/htmledit/zbHtmlEdTestEnv.h"
#include "tests/print/GtkTestUtil.h"

namespace zb::test {
namespace {

using print::test::Focus;
using print::test::Key;
using print::test::LabelStartingWith;
using print::test::Screenshot;
using print::test::Type;
using print::test::WidgetNamed;

// Steps against the window whose title starts with ATitle, run from a timer while the dialog's
// command waits; each step is repeated until it reports itself done.
class TDialogScript {
 public:
  using TStep = std::function<bool(GtkWindow*)>;
  TDialogScript(std::string ATitle, std::vector<TStep> ASteps) : FTitle(std::move(ATitle)), FSteps(std::move(ASteps)) {
    FTimer = TzbSource(g_timeout_add(50, &TDialogScript::Tick, this));
  }
  bool Finished() const { return FNext == FSteps.size(); }

 private:
  static gboolean Tick(gpointer AData) noexcept {
    auto* self = static_cast<TDialogScript*>(AData);
    if (self->FBusy || self->Finished()) return G_SOURCE_CONTINUE;
    GtkWindow* window = self->Window();
    if (!window) return G_SOURCE_CONTINUE;
    // A step may serve the main loop itself; this timer must not run it again meanwhile.
    self->FBusy = true;
    if (self->FSteps[self->FNext](window)) ++self->FNext;
    self->FBusy = false;
    return G_SOURCE_CONTINUE;
  }
  GtkWindow* Window() const {
    GtkWindow* found = nullptr;
    TzbOwner<GList, g_list_free> list(gtk_window_list_toplevels());
    for (GList* item = list.get(); item; item = item->next) {
      auto* window = GTK_WINDOW(item->data);
      const char* title = gtk_window_get_title(window);
      if (title && std::string(title).starts_with(FTitle) && gtk_widget_get_mapped(GTK_WIDGET(window))) found = window;
    }
    return found;
  }
  std::string FTitle;
  std::vector<TStep> FSteps;
  std::size_t FNext = 0;
  bool FBusy = false;
  TzbSource FTimer;
};

class HtmlEditOtherDialogs : public ::testing::Test {
 protected:
  TzbHtmlEdit& E = *GEdit;
  TTempDir Dir;
  std::string Page;
  std::vector<std::string> Shown;
  static constexpr const char* Html =
      "<html><head><title>Brief</title></head><body><p>Apfel und Birne, apfel und APFEL.</p></body></html>";
  void SetUp() override {
    Page = Dir.Write("brief.htm", Html);
    ASSERT_TRUE(LoadAndWait(E, Page));
    E.OnShowDialog = [this](TzbCustomHtmlEdit&, GtkWidget* ADialog) {
      Shown.push_back(gtk_window_get_title(GTK_WINDOW(ADialog)));
    };
  }
  void TearDown() override { E.OnShowDialog = nullptr; }
  WebKitSettings* Settings() { return webkit_web_view_get_settings(WEBKIT_WEB_VIEW(E.ControlInterface().Widget())); }
};

TEST_F(HtmlEditOtherDialogs, OpenLoadsTheChosenFile) {
  const std::string other = Dir.Write("zweites.htm", "<html><body>Zweites Dokument</body></html>");
  TDialogScript script("Öffnen", {[&](GtkWindow* W) {
                                    EXPECT_TRUE(Focus(W));
                                    Key("ctrl+l");
                                    Type(other);
                                    Screenshot(W, "open-dialog.png");
                                    return true;
                                  },
                                  [&](GtkWindow*) {
                                    Key("Return");
                                    return true;
                                  }});
  E.OpenDialog();
  EXPECT_TRUE(script.Finished());
  EXPECT_TRUE(E.WaitForComplete());
  EXPECT_EQ(BodyText(E), u"Zweites Dokument");
  EXPECT_EQ(Shown, std::vector<std::string>{"Öffnen"});
}

TEST_F(HtmlEditOtherDialogs, OpenCancelledWithEscapeKeepsTheDocument) {
  TDialogScript script("Öffnen", {[&](GtkWindow* W) {
                         EXPECT_TRUE(Focus(W));
                         Key("Escape");
                         return true;
                       }});
  E.OpenDialog();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(BodyText(E), u"Apfel und Birne, apfel und APFEL.");
}

TEST_F(HtmlEditOtherDialogs, SaveAsWritesTheDocument) {
  const std::string target = Dir.Path + "/kopie.htm";
  TDialogScript script("Speichern unter", {[&](GtkWindow* W) {
                                             EXPECT_TRUE(Focus(W));
                                             Key("ctrl+a");
                                             Type(target);
                                             Screenshot(W, "saveas-dialog.png");
                                             return true;
                                           },
                                           [&](GtkWindow*) {
                                             Key("Return");
                                             return true;
                                           }});
  E.SaveDialog();
  EXPECT_TRUE(script.Finished());
  const std::string saved = ReadAll(target);
  EXPECT_NE(saved.find("Apfel und Birne"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<title>Brief</title>"), std::string::npos) << saved;
  EXPECT_EQ(Shown, std::vector<std::string>{"Speichern unter"});
}

TEST_F(HtmlEditOtherDialogs, PropertiesShowTitleAndSize) {
  const std::string size = std::to_string(std::filesystem::file_size(Page)) + " Bytes";
  std::string title, bytes, charset;
  TDialogScript script("Eigenschaften", {[&](GtkWindow* W) {
                         EXPECT_TRUE(Focus(W));
                         if (GtkWidget* l = LabelStartingWith(W, "Brief")) title = gtk_label_get_text(GTK_LABEL(l));
                         if (GtkWidget* l = LabelStartingWith(W, size)) bytes = gtk_label_get_text(GTK_LABEL(l));
                         if (GtkWidget* l = LabelStartingWith(W, "windows-1252"))
                           charset = gtk_label_get_text(GTK_LABEL(l));
                         Screenshot(W, "properties-dialog.png");
                         Key("Escape");
                         return true;
                       }});
  E.Properties();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(title, "Brief");
  EXPECT_EQ(bytes, size);
  EXPECT_EQ(charset, "windows-1252");
  EXPECT_EQ(Shown, std::vector<std::string>{"Eigenschaften"});
}

TEST_F(HtmlEditOtherDialogs, FindCountsTheMatchesAndTellsAMiss) {
  std::string first, miss;
  auto status = [](GtkWindow* W) { return std::string(gtk_label_get_text(GTK_LABEL(WidgetNamed(W, "find-status")))); };
  TDialogScript script("Suchen", {[&](GtkWindow* W) {
                                    EXPECT_TRUE(Focus(W));
                                    Type("apfel");
                                    Key("Return");
                                    return true;
                                  },
                                  [&](GtkWindow* W) {
                                    first = status(W);
                                    if (first.empty()) return false;
                                    Screenshot(W, "find-dialog.png");
                                    Key("ctrl+a");
                                    Type("Kiwi");
                                    Key("alt+w");
                                    return true;
                                  },
                                  [&](GtkWindow* W) {
                                    miss = status(W);
                                    if (miss == first) return false;
                                    Key("Escape");
                                    return true;
                                  }});
  E.Find();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(first, "3 Treffer");
  EXPECT_EQ(miss, "Nicht gefunden");
  EXPECT_EQ(Shown, std::vector<std::string>{"Suchen"});
}

TEST_F(HtmlEditOtherDialogs, ViewSourceShowsTheMarkup) {
  std::string text;
  TDialogScript script("Quelltext", {[&](GtkWindow* W) {
                         EXPECT_TRUE(Focus(W));
                         GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(WidgetNamed(W, "source")));
                         GtkTextIter start, end;
                         gtk_text_buffer_get_bounds(buffer, &start, &end);
                         const TzbGChars all(gtk_text_buffer_get_text(buffer, &start, &end, FALSE));
                         text = all.get();
                         Screenshot(W, "viewsource-dialog.png");
                         Key("Escape");
                         return true;
                       }});
  E.ViewSource();
  EXPECT_TRUE(script.Finished());
  EXPECT_NE(text.find("<title>Brief</title>"), std::string::npos) << text;
  EXPECT_NE(text.find("<p>Apfel und Birne"), std::string::npos) << text;
  EXPECT_EQ(Shown, std::vector<std::string>{"Quelltext – Brief"});
}

TEST_F(HtmlEditOtherDialogs, OptionsToggleImagesOnOk) {
  const gboolean before = webkit_settings_get_auto_load_images(Settings());
  TDialogScript script("Optionen", {[&](GtkWindow* W) {
                                      EXPECT_TRUE(Focus(W));
                                      Key("space");  // the images toggle has the focus
                                      Screenshot(W, "options-dialog.png");
                                      return true;
                                    },
                                    [&](GtkWindow*) {
                                      Key("alt+o");
                                      return true;
                                    }});
  E.Options();
  EXPECT_TRUE(script.Finished());
  EXPECT_NE(webkit_settings_get_auto_load_images(Settings()), before);
  EXPECT_TRUE(webkit_settings_get_enable_javascript(Settings()));  // the script world needs it
  EXPECT_FALSE(webkit_settings_get_enable_javascript_markup(Settings()));
  webkit_settings_set_auto_load_images(Settings(), before);
  EXPECT_EQ(Shown, std::vector<std::string>{"Optionen"});
}

TEST_F(HtmlEditOtherDialogs, OptionsEscapeChangesNothing) {
  const gboolean before = webkit_settings_get_auto_load_images(Settings());
  const gboolean zoomText = webkit_settings_get_zoom_text_only(Settings());
  TDialogScript script("Optionen", {[&](GtkWindow* W) {
                                      EXPECT_TRUE(Focus(W));
                                      Key("space");
                                      return true;
                                    },
                                    [&](GtkWindow*) {
                                      Key("Escape");
                                      return true;
                                    }});
  E.Options();
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(webkit_settings_get_auto_load_images(Settings()), before);
  EXPECT_EQ(webkit_settings_get_zoom_text_only(Settings()), zoomText);
}

}  // namespace
}  // namespace zb::test
