// The editor's dialog watching against the engine's real page-setup dialog: filled from PrintOptions
// and confirmed without the user when asked, hidden for PrintWithOptions, and the caption rule.
#include <gtk/gtk.h>

#include <cstdlib>

#include "htmledit/zbHtmlEd.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbGtkOwner.h"
#include "support/zbRegistry.h"
#include "tests/htmledit/zbHtmlEdTestEnv.h"

namespace zb::test {
namespace {

// The user's registry hive in a temporary folder, so the page setup the dialog writes stays there.
class HtmlEditDialogs : public ::testing::Test {
 protected:
  TzbHtmlEdit& E = *GEdit;
  TTempDir Dir;
  TScopedEnv Config{"XDG_CONFIG_HOME", Dir.Path};
  void SetUp() override {
    ASSERT_TRUE(LoadAndWait(E, Dir.Write("brief.htm", "<html><head><title>Brief</title></head><body>x</body></html>")));
    Saved = E.PrintOptions();
  }
  void TearDown() override {
    E.SetPrintOptions(Saved);
    E.OnShowDialog = nullptr;
    ApplyPrintOptionsToDialog = HidePageSetupDialog = false;
  }
  static std::u16string Stored(std::u16string_view AName) {
    return ReadRegistryString(HKEY_CURRENT_USER, u"Software\\Microsoft\\Internet Explorer\\PageSetup", AName, u"-");
  }
  void SetOptions() {
    THtmlPrintOptions& o = E.PrintOptions();
    o.SetHeader(u"Kopf &w");
    o.SetFooter(u"&bSeite &p von &P");
    o.SetOrientation(poLandscape);
    o.Margins().SetLeft(25.4);
    o.Margins().SetTop(12.7);
    o.Margins().SetRight(25.4);
    o.Margins().SetBottom(12.7);
  }
  THtmlPrintOptions Saved;
};

TEST_F(HtmlEditDialogs, PageSetupWithPrintOptionsIsFilledAndConfirmedWithoutTheUser) {
  SetOptions();
  std::vector<std::string> shown;
  E.OnShowDialog = [&](TzbCustomHtmlEdit&, GtkWidget* ADialog) {
    shown.push_back(gtk_window_get_title(GTK_WINDOW(ADialog)));
  };
  E.PageSetup(true);  // returns once the dialog confirmed itself
  EXPECT_FALSE(ApplyPrintOptionsToDialog);
  EXPECT_EQ(Stored(u"header"), u"Kopf &w");
  EXPECT_EQ(Stored(u"footer"), u"&bSeite &p von &P");
  EXPECT_EQ(Stored(u"margin_left"), u"1.00000");
  EXPECT_EQ(Stored(u"margin_top"), u"0.50000");
  EXPECT_EQ(Stored(u"zb_orientation"), u"landscape");
  EXPECT_EQ(shown, std::vector<std::string>{"Seite einrichten"});
}

TEST_F(HtmlEditDialogs, PrintWithOptionsConfirmsTheHiddenPageSetupFirst) {
  SetOptions();
  // Printing itself needs a print service; here it is the page setup before it that counts.
  ::setenv("CUPS_SERVER", (Dir.Path + "/no-cups").c_str(), 1);
  E.PrintWithOptions();
  ::unsetenv("CUPS_SERVER");
  EXPECT_FALSE(HidePageSetupDialog);
  EXPECT_FALSE(ApplyPrintOptionsToDialog);
  EXPECT_EQ(Stored(u"margin_right"), u"1.00000");
  EXPECT_EQ(Stored(u"header"), u"Kopf &w");
}

// A host that answers a dialog as soon as it is announced: the run ends with that answer. A watchdog
// cancels a dialog the run would otherwise hold for ever, and fails the test.
TEST_F(HtmlEditDialogs, AHostAnswersThePrintDialogAtOnce) {
  struct TWatchdog {
    GtkWidget* Dialog = nullptr;
    bool Fired = false;
    TzbSource Timer;
  } dog;
  std::vector<std::string> shown;
  E.OnShowDialog = [&](TzbCustomHtmlEdit&, GtkWidget* ADialog) {
    shown.push_back(gtk_window_get_title(GTK_WINDOW(ADialog)));
    gtk_dialog_response(GTK_DIALOG(ADialog), GTK_RESPONSE_CANCEL);
    dog.Dialog = ADialog;
    dog.Timer = TzbSource(g_timeout_add_seconds(
        20,
        +[](gpointer AData) noexcept -> gboolean {
          auto* d = static_cast<TWatchdog*>(AData);
          d->Fired = true;
          d->Timer.Ended();
          gtk_dialog_response(GTK_DIALOG(d->Dialog), GTK_RESPONSE_CANCEL);
          return G_SOURCE_REMOVE;
        },
        &dog));
  };
  E.Print(true);  // cancelled: nothing is printed
  EXPECT_EQ(shown, std::vector<std::string>{"Drucken"});
  EXPECT_FALSE(dog.Fired);
}

TEST(DialogCaption, TheApplicationsTitleReplacesTheEnginesName) {
  g_set_application_name("Mail");
  TzbTopLevel dialog(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_window_set_title(GTK_WINDOW(dialog.get()), "Microsoft Internet Explorer");
  ReplaceDialogCaption(dialog.get());
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog.get())), "Mail");
  gtk_window_set_title(GTK_WINDOW(dialog.get()), "Seite einrichten - Internet Explorer");
  ReplaceDialogCaption(dialog.get());
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog.get())), "Seite einrichten - Mail");
}

}  // namespace
}  // namespace zb::test
