// The print preview on a real display with real PDFs: pages and zoom by key, closing, and the two
// actions (printing, page setup with a new PDF).
#include "platform/print/zbPrintPreview.h"

#include <fstream>

#include "platform/print/zbPrintError.h"
#include "support/zbUnicode.h"
#include "tests/print/GtkTestUtil.h"
#include "tests/print/PdfTestUtil.h"

namespace zb::print {
namespace {

using test::Focus;
using test::Key;
using test::WaitFor;

class PrintPreviewTest : public ::testing::Test {
 protected:
  std::u16string Pdf(const std::string& AName, int APages) {
    std::vector<test::TPageSpec> pages;
    for (int i = 1; i <= APages; ++i) pages.push_back({test::A4Width, test::A4Height, "Seite " + std::to_string(i)});
    test::WritePdf(FDir / AName, pages);
    return Utf8ToUtf16(FDir / AName);
  }
  static std::string PageLabel(GtkWindow* AWindow) {
    GtkWidget* label = test::WidgetNamed(AWindow, "page-number");
    return label ? gtk_label_get_text(GTK_LABEL(label)) : "<none>";
  }
  test::TTempDir FDir;
};

TEST_F(PrintPreviewTest, PagesAndZoomFollowTheKeysAndEscapeCloses) {
  TzbPrintPreview preview(nullptr, u"Brief", Pdf("brief.pdf", 3), {});
  bool shown = false;
  preview.Run([&](TzbPrintPreview& APreview) {
    shown = true;
    GtkWindow* window = APreview.Window();
    EXPECT_STREQ(gtk_window_get_title(window), "Druckvorschau – Brief");
    EXPECT_TRUE(gtk_window_get_modal(window));
    EXPECT_EQ(APreview.PageCount(), 3);
    EXPECT_EQ(APreview.Page(), 1);
    EXPECT_EQ(APreview.Zoom(), pzWholePage);
    EXPECT_EQ(PageLabel(window), "Seite 1 von 3");
    ASSERT_TRUE(Focus(window));

    Key("Page_Down");
    ASSERT_TRUE(WaitFor([&] { return APreview.Page() == 2; }));
    EXPECT_EQ(PageLabel(window), "Seite 2 von 3");
    Key("End");
    ASSERT_TRUE(WaitFor([&] { return APreview.Page() == 3; }));
    Key("Page_Down");  // stays on the last page
    Key("Page_Up");
    ASSERT_TRUE(WaitFor([&] { return APreview.Page() == 2; }));
    Key("Home");
    ASSERT_TRUE(WaitFor([&] { return APreview.Page() == 1; }));

    const double whole = APreview.Scale();
    Key("ctrl+plus");
    ASSERT_TRUE(WaitFor([&] { return APreview.Zoom() != pzWholePage; }));
    EXPECT_GT(APreview.Scale(), whole);
    const TzbPreviewZoom zoomed = APreview.Zoom();
    Key("ctrl+plus");
    ASSERT_TRUE(WaitFor([&] { return APreview.Zoom() != zoomed; }));
    Key("ctrl+minus");
    ASSERT_TRUE(WaitFor([&] { return APreview.Zoom() == zoomed; }));
    APreview.SetZoom(pz100);
    EXPECT_DOUBLE_EQ(APreview.Scale(), 1);
    test::Screenshot(window, "print-preview-100.png");

    Key("Escape");
  });
  EXPECT_TRUE(shown);
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(preview.Window())));
}

TEST_F(PrintPreviewTest, PageWidthFillsTheWidth) {
  TzbPrintPreview preview(nullptr, u"", Pdf("breit.pdf", 1), {});
  preview.Run([&](TzbPrintPreview& APreview) {
    EXPECT_STREQ(gtk_window_get_title(APreview.Window()), "Druckvorschau");
    const double whole = APreview.Scale();
    APreview.SetZoom(pzPageWidth);
    GtkWidget* pages = test::WidgetNamed(APreview.Window(), "pages");
    // The page's width is the visible width less the grey rim.
    ASSERT_TRUE(
        WaitFor([&] { return gtk_widget_get_allocated_height(pages) >= test::A4Height * 96 / 72 * APreview.Scale(); }));
    EXPECT_GT(APreview.Scale(), whole);
    const double pageWidth = test::A4Width * 96 / 72 * APreview.Scale();
    EXPECT_NEAR(pageWidth + 32, gtk_widget_get_allocated_width(pages), 1);
    APreview.Close();
  });
}

TEST_F(PrintPreviewTest, PageSetupShowsTheNewPdfAndPrintGetsTheWindow) {
  const std::u16string longer = Pdf("neu.pdf", 5);
  int setups = 0, prints = 0;
  GtkWindow* printParent = nullptr;
  TzbPreviewActions actions{
      [&](GtkWindow* AParent) {
        ++prints;
        printParent = AParent;
      },
      [&](GtkWindow*) {
        ++setups;
        return longer;
      },
  };
  TzbPrintPreview preview(nullptr, u"Brief", Pdf("brief.pdf", 3), actions);
  preview.Run([&](TzbPrintPreview& APreview) {
    ASSERT_TRUE(Focus(APreview.Window()));
    Key("End");
    ASSERT_TRUE(WaitFor([&] { return APreview.Page() == 3; }));
    Key("alt+e");  // "Seite _einrichten…"
    ASSERT_TRUE(WaitFor([&] { return APreview.PageCount() == 5; }));
    EXPECT_EQ(APreview.Page(), 3);
    EXPECT_EQ(PageLabel(APreview.Window()), "Seite 3 von 5");
    EXPECT_EQ(APreview.Pdf(), longer);
    EXPECT_TRUE(gtk_widget_is_sensitive(test::WidgetNamed(APreview.Window(), "next-page")));
    EXPECT_TRUE(gtk_widget_is_sensitive(test::WidgetNamed(APreview.Window(), "previous-page")));
    test::Screenshot(APreview.Window(), "print-preview.png");
    Key("ctrl+p");
    ASSERT_TRUE(WaitFor([&] { return prints == 1; }));
    EXPECT_EQ(printParent, APreview.Window());
    Key("alt+s");  // "_Schließen"
  });
  EXPECT_EQ(setups, 1);
  EXPECT_EQ(prints, 1);
}

TEST_F(PrintPreviewTest, KeepingTheOldPdfAndTheFreeFunction) {
  const std::u16string pdf = Pdf("brief.pdf", 2);
  int setups = 0;
  bool shown = false;
  ShowPrintPreview(nullptr, u"Brief", pdf, {nullptr, [&](GtkWindow*) { return ++setups, std::u16string(); }},
                   [&](GtkWindow* AWindow) {
                     shown = true;
                     ASSERT_TRUE(Focus(AWindow));
                     Key("alt+e");
                     ASSERT_TRUE(WaitFor([&] { return setups == 1; }));
                     EXPECT_EQ(PageLabel(AWindow), "Seite 1 von 2");
                     Key("ctrl+p");  // no print action: nothing happens
                     Key("Escape");
                   });
  EXPECT_TRUE(shown);
}

// Each action of the window's table by its key and by its button; an action the test does not know
// fails it, so that every new one is reached too.
TEST_F(PrintPreviewTest, EveryActionAnswersItsKeyAndItsButton) {
  int prints = 0, setups = 0;
  TzbPreviewActions actions{[&](GtkWindow*) { ++prints; }, [&](GtkWindow*) { return ++setups, std::u16string(); }};
  TzbPrintPreview preview(nullptr, u"Brief", Pdf("brief.pdf", 3), actions);
  preview.Run([&](TzbPrintPreview& APreview) {
    GtkWindow* window = APreview.Window();
    const auto click = [&](const std::string& AAction) {
      GtkWidget* button = test::ButtonFor(window, "preview." + AAction);
      ASSERT_NE(button, nullptr) << AAction;
      gtk_widget_grab_focus(button);
      Key("space");
    };
    const std::vector<std::string> known{"close",         "first-page", "last-page",   "next-page",   "page-setup",
                                         "previous-page", "print",      "scroll-down", "scroll-left", "scroll-right",
                                         "scroll-up",     "zoom-in",    "zoom-out"};
    EXPECT_EQ(test::WindowActions(window, "preview"), known);
    ASSERT_TRUE(Focus(window));

    Key("Page_Down");
    ASSERT_TRUE(WaitFor([&] { return APreview.Page() == 2; }));
    click("next-page");
    ASSERT_TRUE(WaitFor([&] { return APreview.Page() == 3; }));
    EXPECT_FALSE(gtk_widget_is_sensitive(test::ButtonFor(window, "preview.next-page")));
    Key("Page_Up");
    ASSERT_TRUE(WaitFor([&] { return APreview.Page() == 2; }));
    click("previous-page");
    ASSERT_TRUE(WaitFor([&] { return APreview.Page() == 1; }));
    EXPECT_FALSE(gtk_widget_is_sensitive(test::ButtonFor(window, "preview.previous-page")));
    Key("End");
    ASSERT_TRUE(WaitFor([&] { return APreview.Page() == 3; }));
    Key("Home");
    ASSERT_TRUE(WaitFor([&] { return APreview.Page() == 1; }));

    Key("ctrl+p");
    ASSERT_TRUE(WaitFor([&] { return prints == 1; }));
    click("print");
    ASSERT_TRUE(WaitFor([&] { return prints == 2; }));
    Key("alt+e");  // the button's mnemonic
    ASSERT_TRUE(WaitFor([&] { return setups == 1; }));
    click("page-setup");
    ASSERT_TRUE(WaitFor([&] { return setups == 2; }));

    Key("ctrl+plus");
    ASSERT_TRUE(WaitFor([&] { return APreview.Zoom() != pzWholePage; }));
    const double zoomed = APreview.Scale();
    Key("ctrl+minus");
    ASSERT_TRUE(WaitFor([&] { return APreview.Scale() < zoomed; }));

    // The arrows scroll only the focused page; on a button they move the focus.
    APreview.SetZoom(pz200);
    GtkWidget* pages = test::WidgetNamed(window, "pages");
    GtkScrolledWindow* scroller = GTK_SCROLLED_WINDOW(gtk_widget_get_ancestor(pages, GTK_TYPE_SCROLLED_WINDOW));
    GtkAdjustment* vertical = gtk_scrolled_window_get_vadjustment(scroller);
    GtkAdjustment* horizontal = gtk_scrolled_window_get_hadjustment(scroller);
    ASSERT_TRUE(
        WaitFor([&] { return gtk_adjustment_get_upper(horizontal) > gtk_adjustment_get_page_size(horizontal); }));
    GtkWidget* print = test::ButtonFor(window, "preview.print");
    gtk_widget_grab_focus(print);
    Key("Down");
    ASSERT_TRUE(WaitFor([&] { return gtk_window_get_focus(window) != print; }));
    EXPECT_EQ(gtk_adjustment_get_value(vertical), 0);
    gtk_widget_grab_focus(pages);
    Key("Down");
    ASSERT_TRUE(WaitFor([&] { return gtk_adjustment_get_value(vertical) > 0; }));
    Key("Up");
    ASSERT_TRUE(WaitFor([&] { return gtk_adjustment_get_value(vertical) == 0; }));
    Key("Right");
    ASSERT_TRUE(WaitFor([&] { return gtk_adjustment_get_value(horizontal) > 0; }));
    Key("Left");
    ASSERT_TRUE(WaitFor([&] { return gtk_adjustment_get_value(horizontal) == 0; }));

    click("close");
  });
  EXPECT_EQ(prints, 2);
  EXPECT_EQ(setups, 2);
}

TEST_F(PrintPreviewTest, AFileThatIsNoPdfIsRefused) {
  const std::string path = FDir / "kaputt.pdf";
  std::ofstream(path) << "kein PDF";
  EXPECT_THROW(TzbPrintPreview(nullptr, u"x", Utf8ToUtf16(path), {}), EzbPrintError);
}

}  // namespace
}  // namespace zb::print

int main(int argc, char** argv) { return zb::print::test::RunGtkTests(argc, argv); }
