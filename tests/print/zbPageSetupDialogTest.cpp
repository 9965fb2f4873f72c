// The page-setup dialog on a real display over a real store: what it shows, what OK writes, that
// Escape writes nothing, and the margin unit of the locale.
#include "platform/print/zbPageSetupDialog.h"

#include <cstdlib>
#include <filesystem>

#include "platform/print/zbPrintError.h"
#include "support/zbRegistry.h"
#include "tests/print/GtkTestUtil.h"
#include "tests/registry/RegTestEnv.h"

// glibc's newlocale keeps the split LOCPATH list it builds for our own U.S. locale; not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace zb::print {
namespace {

using test::EntryText;
using test::Focus;
using test::Key;
using test::WidgetNamed;

class PageSetupDialogTest : public zb::test::TRegistryEnv {
 protected:
  void SetUp() override {
    TRegistryEnv::SetUp();
    ::setenv("LC_MEASUREMENT", "C.UTF-8", 1);
    ::setenv("LC_PAPER", "C.UTF-8", 1);
  }
  void TearDown() override {
    ::unsetenv("LOCPATH");
    ::unsetenv("LC_MEASUREMENT");
    ::unsetenv("LC_PAPER");
    TRegistryEnv::TearDown();
  }
  static void Store(std::u16string_view AName, std::u16string_view AText) {
    WriteRegistryString(HKEY_CURRENT_USER, PageSetupKey, AName, AText);
  }
  static std::u16string Stored(std::u16string_view AName) {
    return ReadRegistryString(HKEY_CURRENT_USER, PageSetupKey, AName, u"<none>");
  }
  // A U.S. locale of our own: the machine may have none installed.
  bool UseUSLocale() {
    static const std::string locales = [] {
      char tmpl[] = "/tmp/zbprintdlg-locales-XXXXXX";
      std::string dir = ::mkdtemp(tmpl);
      std::string cmd = "localedef -i en_US -f UTF-8 " + dir + "/en_US.UTF-8 >/dev/null 2>&1";
      return std::system(cmd.c_str()) >= 0 && std::filesystem::exists(dir + "/en_US.UTF-8") ? dir : std::string();
    }();
    if (locales.empty()) return false;
    ::setenv("LOCPATH", locales.c_str(), 1);
    ::setenv("LC_MEASUREMENT", "en_US.UTF-8", 1);
    return true;
  }
};

TEST_F(PageSetupDialogTest, MarginStoreTexts) {
  EXPECT_EQ(MarginStoreText(0.75), u"0.75000");
  EXPECT_EQ(MarginStoreText(20 / 25.4), u"0.78740");
  EXPECT_EQ(MarginStoreText(0), u"0.00000");
  EXPECT_EQ(MarginStoreText(10.5), u"10.50000");
}

TEST_F(PageSetupDialogTest, LocaleMeasure) {
  EXPECT_EQ(LocaleMeasure(), mMetric);  // C.UTF-8
  ::setenv("LC_MEASUREMENT", "xx_YY.UTF-8", 1);
  EXPECT_EQ(LocaleMeasure(), mMetric);  // not installed
  if (!UseUSLocale()) GTEST_SKIP() << "no U.S. locale could be made";
  EXPECT_EQ(LocaleMeasure(), mUS);
}

TEST_F(PageSetupDialogTest, ShowsTheStoredPageSetupInMillimetres) {
  Store(PageSetupHeader, u"&w&bSeite &p von &P");
  Store(PageSetupFooter, u"&u&b&d");
  Store(PageSetupMarginLeft, u"0.75000");
  Store(PageSetupMarginRight, u"0.5");
  Store(PageSetupMarginTop, u"1");
  Store(PageSetupMarginBottom, u"0.25");
  Store(PageSetupOrientation, u"landscape");
  Store(PageSetupPaper, u"na_legal_8.5x14in");
  bool shown = false;
  EXPECT_FALSE(ShowPageSetupDialog(nullptr, [&](TzbPageSetupDialog& ADialog) {
    shown = true;
    GtkWindow* window = ADialog.Window();
    EXPECT_STREQ(gtk_window_get_title(window), "Seite einrichten");
    EXPECT_EQ(ADialog.Unit(), mMetric);
    EXPECT_EQ(EntryText(WidgetNamed(window, "margin-left")), "19.05");
    EXPECT_EQ(EntryText(WidgetNamed(window, "margin-right")), "12.70");
    EXPECT_EQ(EntryText(WidgetNamed(window, "margin-top")), "25.40");
    EXPECT_EQ(EntryText(WidgetNamed(window, "margin-bottom")), "6.35");
    EXPECT_EQ(EntryText(WidgetNamed(window, "header")), "&w&bSeite &p von &P");
    EXPECT_EQ(EntryText(WidgetNamed(window, "footer")), "&u&b&d");
    EXPECT_STREQ(gtk_combo_box_get_active_id(GTK_COMBO_BOX(WidgetNamed(window, "paper"))), "na_legal_8.5x14in");
    EXPECT_NE(test::LabelStartingWith(window, "Ränder (Millimeter)"), nullptr);
    TzbPageSetup v = ADialog.Values();
    EXPECT_EQ(v.Orientation, poLandscape);
    EXPECT_EQ(v.Margins, (TzbMargins{0.75, 1, 0.5, 0.25}));
    test::Screenshot(window, "page-setup-metric.png");
    ADialog.Cancel();
  }));
  EXPECT_TRUE(shown);
}

TEST_F(PageSetupDialogTest, OkWritesFiveDecimalInchesAndOurOwnValues) {
  Store(PageSetupMarginTop, u"0.11667");  // 2.96 mm shown; kept exactly while nobody changes it
  EXPECT_TRUE(ShowPageSetupDialog(nullptr, [&](TzbPageSetupDialog& ADialog) {
    ADialog.SetHeader(u"&wÄ");
    ADialog.SetFooter(u"&bSeite &p von &P");
    ADialog.SetOrientation(poLandscape);
    ADialog.SetPaper(u"iso_a5_148x210mm");
    ASSERT_TRUE(Focus(ADialog.Window()));
    // The user types 20 into the left margin and confirms with Enter in that field.
    Key("alt+l ctrl+a");
    test::Type("20");
    Key("Return");
  }));
  EXPECT_EQ(Stored(PageSetupHeader), u"&wÄ");
  EXPECT_EQ(Stored(PageSetupFooter), u"&bSeite &p von &P");
  EXPECT_EQ(Stored(PageSetupMarginLeft), u"0.78740");
  EXPECT_EQ(Stored(PageSetupMarginTop), u"0.11667");
  EXPECT_EQ(Stored(PageSetupMarginRight), u"0.75000");
  EXPECT_EQ(Stored(PageSetupMarginBottom), u"0.75000");
  EXPECT_EQ(Stored(PageSetupOrientation), u"landscape");
  EXPECT_EQ(Stored(PageSetupPaper), u"iso_a5_148x210mm");
}

TEST_F(PageSetupDialogTest, TheOkButtonsMnemonicConfirms) {
  EXPECT_TRUE(ShowPageSetupDialog(nullptr, [&](TzbPageSetupDialog& ADialog) {
    ADialog.SetMargins(10, 20, 15.5, 25.4);
    ASSERT_TRUE(Focus(ADialog.Window()));
    Key("alt+o");
  }));
  EXPECT_EQ(Stored(PageSetupMarginLeft), u"0.39370");
  EXPECT_EQ(Stored(PageSetupMarginTop), u"0.78740");
  EXPECT_EQ(Stored(PageSetupMarginRight), u"0.61024");
  EXPECT_EQ(Stored(PageSetupMarginBottom), u"1.00000");
  EXPECT_EQ(Stored(PageSetupHeader), u"");
  EXPECT_EQ(Stored(PageSetupOrientation), u"portrait");
  EXPECT_EQ(Stored(PageSetupPaper), u"iso_a4_210x297mm");  // the C locale's paper
}

TEST_F(PageSetupDialogTest, EscapeWritesNothing) {
  Store(PageSetupHeader, u"alt");
  EXPECT_FALSE(ShowPageSetupDialog(nullptr, [&](TzbPageSetupDialog& ADialog) {
    ADialog.SetHeader(u"neu");
    ADialog.SetMargins(1, 2, 3, 4);
    ASSERT_TRUE(Focus(ADialog.Window()));
    Key("Escape");
  }));
  EXPECT_EQ(Stored(PageSetupHeader), u"alt");
  EXPECT_EQ(Stored(PageSetupMarginLeft), u"<none>");
  EXPECT_EQ(Stored(PageSetupOrientation), u"<none>");
}

// The dialog's buttons are its action table: Abbrechen writes nothing, OK writes the store.
TEST_F(PageSetupDialogTest, TheButtonsAreTheDialogsActions) {
  const auto press = [](TzbPageSetupDialog& ADialog, const char* AAction) {
    EXPECT_EQ(test::WindowActions(ADialog.Window(), "setup"), (std::vector<std::string>{"cancel", "ok"}));
    GtkWidget* button = test::ButtonFor(ADialog.Window(), std::string("setup.") + AAction);
    ASSERT_NE(button, nullptr) << AAction;
    ASSERT_TRUE(Focus(ADialog.Window()));
    gtk_widget_grab_focus(button);
    Key("space");
  };
  EXPECT_FALSE(ShowPageSetupDialog(nullptr, [&](TzbPageSetupDialog& ADialog) {
    ADialog.SetHeader(u"neu");
    press(ADialog, "cancel");
  }));
  EXPECT_EQ(Stored(PageSetupHeader), u"<none>");
  EXPECT_TRUE(ShowPageSetupDialog(nullptr, [&](TzbPageSetupDialog& ADialog) {
    ADialog.SetHeader(u"neu");
    press(ADialog, "ok");
  }));
  EXPECT_EQ(Stored(PageSetupHeader), u"neu");
}

TEST_F(PageSetupDialogTest, ConfirmWritesWithoutTheUser) {
  Store(PageSetupPaper, u"custom_200x300mm");
  TzbTopLevel parent(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_widget_show(parent.get());
  EXPECT_TRUE(ShowPageSetupDialog(GTK_WINDOW(parent.get()), [&](TzbPageSetupDialog& ADialog) {
    EXPECT_EQ(gtk_window_get_transient_for(ADialog.Window()), GTK_WINDOW(parent.get()));
    EXPECT_TRUE(gtk_window_get_modal(ADialog.Window()));
    ADialog.MoveOutOfSight();
    ADialog.SetOrientation(poLandscape);
    ADialog.Confirm();
  }));
  EXPECT_EQ(Stored(PageSetupMarginLeft), u"0.75000");
  EXPECT_EQ(Stored(PageSetupOrientation), u"landscape");
  EXPECT_EQ(Stored(PageSetupPaper), u"custom_200x300mm");  // another paper stays available
  EXPECT_EQ(Stored(PageSetupFooter), u"");
}

TEST_F(PageSetupDialogTest, AUSLocaleShowsInches) {
  if (!UseUSLocale()) GTEST_SKIP() << "no U.S. locale could be made";
  Store(PageSetupMarginLeft, u"0.75000");
  Store(PageSetupMarginTop, u"0.5");
  EXPECT_TRUE(ShowPageSetupDialog(nullptr, [&](TzbPageSetupDialog& ADialog) {
    EXPECT_EQ(ADialog.Unit(), mUS);
    EXPECT_EQ(EntryText(WidgetNamed(ADialog.Window(), "margin-left")), "0.75");
    EXPECT_EQ(EntryText(WidgetNamed(ADialog.Window(), "margin-top")), "0.50");
    EXPECT_NE(test::LabelStartingWith(ADialog.Window(), "Ränder (Zoll)"), nullptr);
    test::Screenshot(ADialog.Window(), "page-setup-us.png");
    ADialog.SetMargins(1, 0.5, 1.25, 0.4);
    ADialog.Confirm();
  }));
  EXPECT_EQ(Stored(PageSetupMarginLeft), u"1.00000");
  EXPECT_EQ(Stored(PageSetupMarginTop), u"0.50000");
  EXPECT_EQ(Stored(PageSetupMarginRight), u"1.25000");
  EXPECT_EQ(Stored(PageSetupMarginBottom), u"0.40000");
}

TEST_F(PageSetupDialogTest, APaperWithoutASizeIsRefused) {
  TzbPageSetupDialog dialog(nullptr);
  EXPECT_THROW(dialog.SetPaper(u"A4"), EzbPrintError);
}

}  // namespace
}  // namespace zb::print

int main(int argc, char** argv) { return zb::print::test::RunGtkTests(argc, argv); }
