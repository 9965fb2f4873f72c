#include "platform/print/zbPdfStamp.h"

#include <filesystem>
#include <fstream>

#include "platform/print/zbPrintError.h"
#include "support/zbLocale.h"
#include "support/zbUnicode.h"
#include "tests/print/PdfTestUtil.h"

namespace zb::print {
namespace {

using test::A4Height;
using test::A4Width;
using test::SquareSide;
using test::TBox;
using test::TPdf;

constexpr double Pt = 72;  // points per inch
// The service's page setup: margins in inches as its editor writes them to the store.
constexpr TzbMargins ServiceMargins{0.43307, 0.11667, 0.75, 0.11667};
constexpr char ServiceFooter16[] = "&bSeite &p von &P";
// Glyph boxes poppler reports are a little taller than the line; half a point of slack.
constexpr double Slack = 0.5;

class PdfStampTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCurrentLocale(GermanLocale()); }

  std::string Stamp(const std::vector<test::TPageSpec>& APages, const TzbStampOptions& AOptions) {
    test::WritePdf(FDir / "in.pdf", APages);
    StampPdf(Utf8ToUtf16(FDir / "in.pdf"), Utf8ToUtf16(FDir / "out.pdf"), AOptions);
    return FDir / "out.pdf";
  }
  static TzbStampOptions ServiceOptions() {
    TzbStampOptions o;
    o.Footer = Utf8ToUtf16(ServiceFooter16);
    o.Header = u"&w&b&u";
    o.Margins = ServiceMargins;
    o.Context.Title = u"Preisliste";
    o.Context.Address = u"file:///home/anna/angebot.html";
    return o;
  }

  test::TTempDir FDir;
};

TEST_F(PdfStampTest, FooterAndHeaderSitInTheirMarginsOnEveryPage) {
  std::string out = Stamp({{.Word = "Alpha"}, {.Word = "Bravo"}, {.Word = "Charlie"}}, ServiceOptions());
  TPdf pdf(out);
  ASSERT_TRUE(pdf.Loaded());
  ASSERT_EQ(pdf.PageCount(), 3);
  const char* words[] = {"Alpha", "Bravo", "Charlie"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i + 1);
    auto [w, h] = pdf.Size(i);
    EXPECT_NEAR(w, A4Width, 0.01);
    EXPECT_NEAR(h, A4Height, 0.01);

    std::vector<TBox> footer = pdf.Find(i, "Seite " + std::to_string(i + 1) + " von 3");
    ASSERT_EQ(footer.size(), 1u);
    EXPECT_NEAR(footer[0].Right, w - ServiceMargins.Right * Pt, 1.5);
    EXPECT_GE(footer[0].Top, h - ServiceMargins.Bottom * Pt - Slack);
    EXPECT_LE(footer[0].Bottom, h);

    std::vector<TBox> title = pdf.Find(i, "Preisliste");
    ASSERT_EQ(title.size(), 1u);
    EXPECT_NEAR(title[0].Left, ServiceMargins.Left * Pt, 1.5);
    EXPECT_GE(title[0].Top, 0);
    EXPECT_LE(title[0].Bottom, ServiceMargins.Top * Pt + Slack);
    std::vector<TBox> address = pdf.Find(i, "file:///home/anna/angebot.html");
    ASSERT_EQ(address.size(), 1u);
    EXPECT_NEAR(address[0].Right, w - ServiceMargins.Right * Pt, 1.5);

    // The page itself is carried over as text, in its place.
    std::vector<TBox> word = pdf.Find(i, words[i]);
    ASSERT_EQ(word.size(), 1u);
    EXPECT_NEAR(word[0].Left, test::WordX, 1.5);
    EXPECT_LT(word[0].Top, test::WordBaseline);
    EXPECT_GT(word[0].Bottom, test::WordBaseline - 12);
  }
  // A reader finds and copies the text: pdftotext sees the page's word and the footer.
  std::string text = test::CommandOutput("pdftotext -f 2 -l 2 '" + out + "' -");
  EXPECT_NE(text.find("Bravo"), std::string::npos) << text;
  EXPECT_NE(text.find("Seite 2 von 3"), std::string::npos) << text;
}

// Where the parts end is read from the ink; ink stops short of the advance by the glyph's side bearing.
constexpr double Bearing = 2.5;

TEST_F(PdfStampTest, LongPartsAreCutWithAnEllipsisAndNeverOverlap) {
  TzbStampOptions o = ServiceOptions();
  o.Margins = {0.5, 0.5, 0.5, 0.5};
  std::u16string filler;
  for (int i = 0; i < 40; ++i) filler += u" wort";
  o.Context.Title = u"LINKS" + filler;
  o.Context.Address = u"RECHTS" + filler;
  o.Header = u"&w&bMITTE" + filler + u"&b&u";
  o.Footer = u"&w&b&u";  // no centre: the two sides share the line
  TPdf pdf(Stamp({{.Word = "Alpha"}}, o));
  const double lineLeft = 0.5 * Pt, lineRight = A4Width - 0.5 * Pt, band = 0.5 * Pt;
  const double wordGap = 6;  // wider than a space, narrower than the gap between parts

  auto header = pdf.InkRuns(0, 0, band, wordGap), footer = pdf.InkRuns(0, A4Height - band, A4Height, wordGap);
  ASSERT_EQ(header.size(), 3u);
  ASSERT_EQ(footer.size(), 2u);
  EXPECT_NEAR(header[0].first, lineLeft, 1.5);
  EXPECT_NEAR(header[2].second, lineRight, Bearing);
  EXPECT_LE(header[2].second, lineRight + Slack);
  EXPECT_NEAR((header[1].first + header[1].second) / 2, (lineLeft + lineRight) / 2, 1.5);
  EXPECT_NEAR(footer[0].first, lineLeft, 1.5);
  EXPECT_NEAR(footer[1].second, lineRight, Bearing);
  // Two long sides share the line evenly.
  EXPECT_NEAR(footer[0].second - footer[0].first, footer[1].second - footer[1].first, 9);
  // What is shown is what a reader finds: three cut parts in the header, two in the footer.
  EXPECT_EQ(pdf.Find(0, "…").size(), 5u);
  EXPECT_LT(pdf.Find(0, "wort").size(), 5 * 40u);
  // Each part starts with its own text.
  std::vector<TBox> left = pdf.Find(0, "LINKS"), centre = pdf.Find(0, "MITTE"), right = pdf.Find(0, "RECHTS");
  ASSERT_EQ(left.size(), 2u);
  ASSERT_EQ(centre.size(), 1u);
  ASSERT_EQ(right.size(), 2u);
  EXPECT_NEAR(centre[0].Left, header[1].first, 1.5);
  EXPECT_NEAR(right[0].Left, right[0].Top < band ? header[2].first : footer[1].first, 1.5);
}

TEST_F(PdfStampTest, AShortSideKeepsItsTextBesideALongOne) {
  TzbStampOptions o = ServiceOptions();
  std::u16string filler;
  for (int i = 0; i < 40; ++i) filler += u" wort";
  o.Context.Title = u"LINKS" + filler;
  o.Footer = u"&w&bSeite &p von &P";
  TPdf pdf(Stamp({{.Word = "Alpha"}}, o));
  std::vector<TBox> page = pdf.Find(0, "Seite 1 von 1");
  ASSERT_EQ(page.size(), 1u);
  auto runs = pdf.InkRuns(0, A4Height - ServiceMargins.Bottom * Pt, A4Height, 6);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_NEAR(runs[1].first, page[0].Left, 1);
  EXPECT_NEAR(runs[1].second, A4Width - ServiceMargins.Right * Pt, Bearing);
  EXPECT_LT(runs[0].second, runs[1].first - 6);
}

TEST_F(PdfStampTest, PagesOfEverySizeKeepTheirSize) {
  TzbStampOptions o = ServiceOptions();
  o.Margins = {0.75, 0.75, 0.75, 0.75};
  std::vector<test::TPageSpec> pages = {
      {A4Height, A4Width, "Quer"}, {A4Width, A4Height, "Hoch"}, {419.53, 595.28, "Klein"}};
  TPdf pdf(Stamp(pages, o));
  ASSERT_EQ(pdf.PageCount(), 3);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(pages[i].Word);
    auto [w, h] = pdf.Size(i);
    EXPECT_NEAR(w, pages[i].Width, 0.01);
    EXPECT_NEAR(h, pages[i].Height, 0.01);
    std::vector<TBox> footer = pdf.Find(i, "Seite " + std::to_string(i + 1) + " von 3");
    ASSERT_EQ(footer.size(), 1u);
    EXPECT_NEAR(footer[0].Right, w - 0.75 * Pt, 1.5);
    EXPECT_GE(footer[0].Top, h - 0.75 * Pt);
    EXPECT_LE(footer[0].Bottom, h);
    // A margin wide enough keeps the full font size: 9 pt glyphs are taller than 7.
    EXPECT_GT(footer[0].Bottom - footer[0].Top, 9);
    EXPECT_EQ(pdf.Find(i, pages[i].Word).size(), 1u);
  }
}

TEST_F(PdfStampTest, MarginsTooSmallOrAbsurdStillGiveALineOnThePage) {
  TzbStampOptions o = ServiceOptions();
  o.Margins = {-3, 0, 40, 0};
  TPdf pdf(Stamp({{.Word = "Alpha"}}, o));
  std::vector<TBox> footer = pdf.Find(0, "Seite 1 von 1"), title = pdf.Find(0, "Preisliste");
  ASSERT_EQ(footer.size(), 1u);
  ASSERT_EQ(title.size(), 1u);
  EXPECT_GE(title[0].Top, -Slack);
  EXPECT_LE(footer[0].Bottom, A4Height + Slack);
  // Left clamped to 0, right shrunk to half the page width.
  EXPECT_NEAR(title[0].Left, 0, 1.5);
  EXPECT_NEAR(footer[0].Right, A4Width / 2, 1.5);
  // The smallest font: 5 pt glyphs.
  EXPECT_LT(footer[0].Bottom - footer[0].Top, 7);
}

// The engine's pages are not drawn again: every stream of the input (page content, fonts) is in the
// output byte for byte, colours stay, and the file grows by the stamp alone.
TEST_F(PdfStampTest, TheEnginesPagesAreCarriedOverUnchanged) {
  std::vector<test::TPageSpec> pages;
  for (int i = 0; i < 20; ++i) pages.push_back({.Word = "Seite" + std::to_string(i), .RedSquare = true});
  std::string out = Stamp(pages, ServiceOptions());
  const std::string in = test::FileText(FDir / "in.pdf"), stamped = test::FileText(out);
  int streams = 0;
  for (std::size_t at = in.find("stream\n"); at != std::string::npos; at = in.find("stream\n", at + 1)) {
    if (at >= 3 && in.compare(at - 3, 3, "end") == 0) continue;
    std::size_t end = in.find("endstream", at);
    ASSERT_NE(end, std::string::npos);
    // The end-of-line before "endstream" is not part of the data.
    std::string data = in.substr(at + 7, end - at - 7);
    while (!data.empty() && (data.back() == '\n' || data.back() == '\r')) data.pop_back();
    EXPECT_NE(stamped.find(data), std::string::npos) << "stream at " << at;
    ++streams;
  }
  EXPECT_GE(streams, 21);  // one content stream per page and the font
  // Header and footer of 20 pages and one font subset: a few kilobytes.
  EXPECT_LT(stamped.size(), in.size() + 40000) << in.size();
  TPdf pdf(out);
  ASSERT_EQ(pdf.PageCount(), 20);
  auto [r, g, b] = pdf.Pixel(7, test::SquareX + SquareSide / 2, test::SquareY + SquareSide / 2);
  EXPECT_GT(r, 200);
  EXPECT_LT(g, 50);
  EXPECT_LT(b, 50);
  EXPECT_EQ(pdf.Find(7, "Seite 8 von 20").size(), 1u);
  EXPECT_EQ(pdf.Find(7, "Seite7").size(), 1u);
}

// With a printer's unprintable bands the line is centred in the printable part of its margin.
TEST_F(PdfStampTest, LinesSitInThePrintablePartOfTheirMargins) {
  TzbStampOptions o = ServiceOptions();
  o.Margins = {0.25, 0.7, 0.25, 0.7};
  o.Unprintable = {0.25, 0.5, 0.25, 0.5};
  std::string out = Stamp({{.Word = "Alpha"}}, o);
  TPdf pdf(out);
  auto [w, h] = pdf.Size(0);
  const auto title = pdf.Find(0, "Preisliste");
  ASSERT_EQ(title.size(), 1u);
  EXPECT_GE(title[0].Top, 0.5 * Pt - Slack);
  EXPECT_LE(title[0].Bottom, 0.7 * Pt + Slack);
  EXPECT_NEAR((title[0].Top + title[0].Bottom) / 2, 0.6 * Pt, 1.5);
  const auto footer = pdf.Find(0, "Seite 1 von 1");
  ASSERT_EQ(footer.size(), 1u);
  EXPECT_GE(footer[0].Top, h - 0.7 * Pt - Slack);
  EXPECT_LE(footer[0].Bottom, h - 0.5 * Pt + Slack);
}

// A page the engine left blank still paints its white background: that is no mark.
TEST_F(PdfStampTest, PagesWithoutTextOrImagesHaveNoMarks) {
  const std::string blank = FDir / "blank.pdf";
  {
    TzbCairoSurface surface(cairo_pdf_surface_create(blank.c_str(), test::A4Width, test::A4Height));
    TzbCairo cr(cairo_create(surface.get()));
    for (int i = 0; i < 3; ++i) {
      cairo_set_source_rgb(cr.get(), 1, 1, 1);
      cairo_paint(cr.get());
      cairo_show_page(cr.get());
    }
  }
  EXPECT_FALSE(PdfHasMarks(Utf8ToUtf16(blank)));
  test::WritePdf(FDir / "text.pdf", {{.Word = ""}, {.Word = "Alpha"}});
  EXPECT_TRUE(PdfHasMarks(Utf8ToUtf16(FDir / "text.pdf")));
  // Stamped, the blank pages carry the footer; an unreadable file is not held back.
  StampPdf(Utf8ToUtf16(blank), Utf8ToUtf16(FDir / "stamped.pdf"), ServiceOptions());
  EXPECT_TRUE(PdfHasMarks(Utf8ToUtf16(FDir / "stamped.pdf")));
  EXPECT_TRUE(PdfHasMarks(Utf8ToUtf16(FDir / "fehlt.pdf")));
}

TEST_F(PdfStampTest, EmptyHeaderAndFooterCopyThePages) {
  TzbStampOptions o;
  std::string out = Stamp({{.Word = "Alpha"}, {.Word = "Bravo"}}, o);
  EXPECT_EQ(test::FileText(out), test::FileText(FDir / "in.pdf"));
  TPdf pdf(out);
  ASSERT_EQ(pdf.PageCount(), 2);
  EXPECT_EQ(pdf.Text(0), "Alpha");
  EXPECT_EQ(pdf.Text(1), "Bravo");
}

TEST_F(PdfStampTest, OutputMayReplaceTheInput) {
  test::WritePdf(FDir / "doc.pdf", {{.Word = "Alpha"}});
  std::u16string doc = Utf8ToUtf16(FDir / "doc.pdf");
  StampPdf(doc, doc, ServiceOptions());
  TPdf pdf(FDir / "doc.pdf");
  ASSERT_EQ(pdf.PageCount(), 1);
  EXPECT_EQ(pdf.Find(0, "Seite 1 von 1").size(), 1u);
  EXPECT_EQ(pdf.Find(0, "Alpha").size(), 1u);
}

TEST_F(PdfStampTest, UnreadableInputRaisesAndLeavesNoOutput) {
  std::u16string out = Utf8ToUtf16(FDir / "out.pdf");
  auto messageOf = [&](const std::string& AInput) -> std::string {
    try {
      StampPdf(Utf8ToUtf16(AInput), out, ServiceOptions());
    } catch (const EzbPrintError& e) {
      return Utf16ToUtf8(e.Message());
    }
    return "<no error>";
  };
  std::ofstream(FDir / "damaged.pdf") << "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << >>\n%%EOF\n";
  std::ofstream(FDir / "text.pdf") << "Hallo";
  test::WritePdf(FDir / "good.pdf", {{.Word = "Alpha"}, {.Word = "Bravo"}});
  std::string good = test::FileText(FDir / "good.pdf");
  std::ofstream(FDir / "cut.pdf") << good.substr(0, good.size() / 3);
  for (std::string name : {"damaged.pdf", "text.pdf", "missing.pdf", "cut.pdf"}) {
    SCOPED_TRACE(name);
    std::string message = messageOf(FDir / name);
    EXPECT_EQ(message.rfind("Die PDF-Datei '" + (FDir / name) + "' kann nicht gelesen werden: ", 0), 0u) << message;
    EXPECT_FALSE(std::filesystem::exists(FDir / "out.pdf"));
  }
  // An output that existed before stays as it was.
  std::ofstream(FDir / "out.pdf") << "vorher";
  messageOf(FDir / "damaged.pdf");
  EXPECT_EQ(test::FileText(FDir / "out.pdf"), "vorher");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FDir.Path()), {}), 5);  // no temporary left
}

}  // namespace
}  // namespace zb::print
