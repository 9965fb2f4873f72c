// The editor's dialog watching against the engine's real page-setup dialog: filled from PrintOptions
// and confirmed without the user when asked, hidden for PrintWithOptions, and the caption rule.
#include <gtk/gtk.h>

#include <gtk/gtkunixprint.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "htmledit/zbHtmlEd.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbGtkOwner.h"
#include "support/zbRegistry.h"
#include "tests/htmledit/zbHtmlEdTestEnv.h"
#include "tests/print/PdfTestUtil.h"

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

// A paper only the printer knows (from its PPD, or one the user defined) reaches the rendered pages
// with its size, not the locale's default paper in its place.
TEST_F(HtmlEditDialogs, APrintersOwnPaperChosenInThePrintDialogIsThePagesSize) {
  const char* out = std::getenv("ZB_TEST_PRINT_OUT");
  if (!out || !std::getenv("CUPS_SERVER")) GTEST_SKIP() << "needs the private print service of scripts/with-cups";
  const std::string title = "Postkarte " + std::to_string(::getpid());
  ASSERT_TRUE(LoadAndWait(E, Dir.Write("karte.htm", "<html><head><meta charset=\"utf-8\"><title>" + title +
                                                        "</title></head><body>Gruß</body></html>")));
  struct TPick {
    GtkWidget* Dialog = nullptr;
    TzbSource Timer;
  } pick;
  E.OnShowDialog = [&](TzbCustomHtmlEdit&, GtkWidget* ADialog) {
    const TzbGObject<GtkPrintSettings> settings(gtk_print_settings_new());
    gtk_print_settings_set_printer(settings.get(), "zbtest");
    gtk_print_unix_dialog_set_settings(GTK_PRINT_UNIX_DIALOG(ADialog), settings.get());
    pick.Dialog = ADialog;
    // Once the queue is listed and chosen: a 4 x 6 in paper of the printer's own, and OK.
    pick.Timer = TzbSource(g_timeout_add(
        50,
        +[](gpointer APick) noexcept -> gboolean {
          auto* p = static_cast<TPick*>(APick);
          auto* dialog = GTK_PRINT_UNIX_DIALOG(p->Dialog);
          GtkPrinter* printer = gtk_print_unix_dialog_get_selected_printer(dialog);
          if (!printer || g_strcmp0(gtk_printer_get_name(printer), "zbtest") != 0) return G_SOURCE_CONTINUE;
          const TzbGObject<GtkPageSetup> page(gtk_page_setup_new());
          GtkPaperSize* paper = gtk_paper_size_new_custom("ppd_Postkarte", "Postkarte", 4, 6, GTK_UNIT_INCH);
          gtk_page_setup_set_paper_size(page.get(), paper);
          gtk_paper_size_free(paper);
          gtk_print_unix_dialog_set_page_setup(dialog, page.get());
          p->Timer.Ended();
          gtk_dialog_response(GTK_DIALOG(p->Dialog), GTK_RESPONSE_OK);
          return G_SOURCE_REMOVE;
        },
        &pick));
  };
  E.Print(true);
  std::string pdf;
  for (int i = 0; i < 300 && pdf.empty(); ++i) {
    for (const auto& e : std::filesystem::directory_iterator(out))
      if (e.path().extension() == ".title" && print::test::FileText(e.path().string()) == title) {
        const std::string candidate = std::filesystem::path(e.path()).replace_extension(".pdf").string();
        if (std::filesystem::exists(candidate)) pdf = candidate;
      }
    if (pdf.empty()) WaitOnMainContext([] { return false; }, 100);
  }
  ASSERT_FALSE(pdf.empty()) << "no job came out";
  const print::test::TPdf printed(pdf);
  ASSERT_TRUE(printed.Loaded());
  const auto [width, height] = printed.Size(0);
  EXPECT_NEAR(width, 4 * 72, 1);
  EXPECT_NEAR(height, 6 * 72, 1);
  EXPECT_NE(printed.Text(0).find("Gruß"), std::string::npos);
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
