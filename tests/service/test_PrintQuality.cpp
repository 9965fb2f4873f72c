// Prints that look like the document, read back from the PDF that reached the queue as a person holding
// the paper would judge it: colour emoji in colour, every column of a wide table, no line cut across a
// page break, every mark inside a laser printer's printable area, no blank pages passed off as a print.
// The PDFs stay in build/test-output/print-quality/ for people to look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "PrintFixture.h"
#include "ServiceFixture.h"
#include "tests/TestEnv.h"
#include "tests/print/PdfTestUtil.h"

namespace zb::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using print::test::TBox;
using print::test::TPdf;

std::string Mail(const std::string& ATitle, const std::string& AHead, const std::string& ABody) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + ATitle + "</title>" + AHead + "</head><body>" +
         ABody + "</body></html>";
}

// The usual newsletter: a centred 600 px table with inline styles; its one tall cell holds the sections
// (heading, paragraph, a line of footer links each), long enough to run over several pages.
std::string NewsletterBody(int ASections) {
  std::string cell;
  for (int i = 1; i <= ASections; ++i) {
    cell +=
        "<table width=\"100%\" cellpadding=\"0\" cellspacing=\"0\"><tr><td style=\"padding:4px 0\">"
        "<h2 style=\"margin:0 0 8px;font-size:20px\">Abschnitt " +
        std::to_string(i) +
        "</h2><p style=\"margin:0 0 6px\">Liebe Leserin, lieber Leser, in diesem Abschnitt finden Sie "
        "Neuigkeiten aus unserem Haus, Termine für die kommenden Wochen und Hinweise zu Ihrem Konto." +
        std::string(i % 3 == 0 ? " Bitte lesen Sie alles in Ruhe durch und melden Sie sich bei Fragen." : "") +
        "</p><div style=\"text-align:center;font:13px/20px Arial,sans-serif;margin-bottom:" +
        std::to_string(10 + i % 7) +
        "px\"><a href=\"https://example.org/a\" style=\"color:#0066cc\">Impressum</a> | "
        "<a href=\"https://example.org/b\" style=\"color:#0066cc\">Datenschutz</a> | "
        "<a href=\"https://example.org/c\" style=\"color:#0066cc\">Abmelden</a> | Zeile " +
        std::to_string(i) +
        "</div></td></tr><tr><td align=\"center\" style=\"font:12px/18px Arial,sans-serif;color:#999999;"
        "padding:2px 0 " +
        std::to_string(6 + i % 5) +
        "px\">Sie erhalten diese Nachricht, weil Sie den Newsletter bestellt haben. "
        "Weitere Angebote unter example.org, Hilfe unter example.org/hilfe, Kontakt unter example.org/kontakt, "
        "Adresse: Beispielstraße " +
        std::to_string(i) + ", 1010 Wien</td></tr></table>";
  }
  return "<table width=\"100%\" cellpadding=\"0\" cellspacing=\"0\" border=\"0\" style=\"background:#f4f4f4\"><tr>"
         "<td align=\"center\"><table width=\"600\" cellpadding=\"0\" cellspacing=\"0\" border=\"0\" "
         "style=\"background:#ffffff;margin:0 auto\"><tr><td style=\"padding:12px 24px;"
         "font:15px/22px Arial,sans-serif;color:#333333\">" +
         cell + "</td></tr></table></td></tr></table>";
}

class PrintQuality : public TPrintTest {
 protected:
  // Prints ADocument with the title Tag() + ASuffix and answers the PDF that reached the queue, also
  // kept in the test output folder.
  fs::path PrintAndFetch(const std::string& AHead, const std::string& ABody, const std::string& ASuffix = "") {
    const std::string title = Tag() + ASuffix;
    const fs::path doc = Write(title + ".htm", Mail(title, AHead, ABody));
    EXPECT_EQ(PrintFiles(doc.string()), 1);
    const fs::path job = WaitForJob(title);
    if (!job.empty()) {
      const fs::path keep = fs::path(ZB_TEST_OUTPUT) / "print-quality";
      fs::create_directories(keep);
      fs::copy_file(job, keep / (title + ".pdf"), fs::copy_options::overwrite_existing);
    }
    return job;
  }
  // The suite's page setup: its footer and the metric default margins of 0.75 mm.
  void SuiteDefaults() { ASSERT_EQ(Bus.Call("SetDefaultPageOptions", g_variant_new("(s)", "Plumadesk")).Value, 0); }
  std::u16string Log() const {
    const fs::path logs = fs::path(Bus.Folder()) / "XDG_STATE_HOME" / "Vestrum-Logs" / "Plumadesk 5.0";
    std::string log;
    if (fs::is_directory(logs)) {
      for (const auto& e : fs::directory_iterator(logs)) log += ReadAll(e.path());
    }
    std::u16string text;
    for (std::size_t i = 0; i + 1 < log.size(); i += 2)
      text += static_cast<char16_t>(static_cast<unsigned char>(log[i]) | static_cast<unsigned char>(log[i + 1]) << 8);
    return text;
  }
};

bool IsFooterWord(const std::string& AWord) {
  return AWord == "Seite" || AWord == "von" ||
         (!AWord.empty() && std::all_of(AWord.begin(), AWord.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

TEST_F(PrintQuality, ColourEmojiPrintInColour) {
  NEEDS_CUPS();
  Bus.StartService();
  const fs::path job = PrintAndFetch("",
                                     "<p style=\"font-size:64px;margin:0\">&#x1F600;&#x1F389;&#x1F34E;</p>"
                                     "<p style=\"font-size:64px;margin:0;color:#000\">Schwarz</p>");
  ASSERT_FALSE(job.empty());
  const TPdf pdf(job.string());
  ASSERT_EQ(pdf.PageCount(), 1);
  const auto word = pdf.Find(0, "Schwarz");
  ASSERT_EQ(word.size(), 1u) << pdf.Text(0);
  // The emoji line sits above the black word: thousands of coloured pixels there, yellow and red.
  EXPECT_GT(pdf.ColouredPixels(0, 0, word[0].Top), 2000);
  EXPECT_LT(pdf.ColouredPixels(0, word[0].Top, word[0].Bottom), 50);
}

TEST_F(PrintQuality, EveryColumnOfAWideTableIsOnThePage) {
  NEEDS_CUPS();
  Bus.StartService();
  std::string table = "<table border=\"1\" cellspacing=\"0\" cellpadding=\"6\" style=\"white-space:nowrap\"><tr>";
  for (int c = 1; c <= 14; ++c) table += "<th>Spalte" + std::to_string(c) + "</th>";
  table += "</tr>";
  for (int r = 1; r <= 10; ++r) {
    table += "<tr>";
    for (int c = 1; c <= 14; ++c) table += "<td>" + std::to_string(r * 1000 + c) + ",56 €</td>";
    table += "</tr>";
  }
  table += "</table>";
  const fs::path job = PrintAndFetch("", table);
  ASSERT_FALSE(job.empty());
  const TPdf pdf(job.string());
  ASSERT_GE(pdf.PageCount(), 1);
  const auto [width, height] = pdf.Size(0);
  for (int c = 1; c <= 14; ++c) {
    SCOPED_TRACE(c);
    const auto head = pdf.Find(0, "Spalte" + std::to_string(c));
    ASSERT_GE(head.size(), 1u) << pdf.Text(0);
    EXPECT_LE(head.back().Right, width - 0.75 * PointsPerInch + 1);
    EXPECT_GE(head.front().Left, 0.75 * PointsPerInch - 1);
  }
  // Shrunk to fit, not to a stamp: the last column's words are still a readable size.
  const auto last = pdf.Find(0, "Spalte14");
  ASSERT_EQ(last.size(), 1u);
  EXPECT_GT(last[0].Bottom - last[0].Top, 4);
}

TEST_F(PrintQuality, AWideLayoutKeepsItsRightEndAndANarrowOneIsNotEnlarged) {
  NEEDS_CUPS();
  Bus.StartService();
  const fs::path wide =
      PrintAndFetch("",
                    "<div style=\"width:1100px;display:flex;justify-content:space-between\"><span>Linksaußen</span>"
                    "<span>Rechtsaußen</span></div>",
                    " breit");
  const fs::path narrow = PrintAndFetch("", "<p style=\"font-size:16px\">Schmal</p>", " schmal");
  ASSERT_FALSE(wide.empty());
  ASSERT_FALSE(narrow.empty());
  const TPdf pdf(wide.string());
  const auto [width, height] = pdf.Size(0);
  const auto right = pdf.Find(0, "Rechtsaußen");
  ASSERT_EQ(right.size(), 1u) << pdf.Text(0);
  EXPECT_LE(right[0].Right, width - 0.75 * PointsPerInch + 1);
  // The narrow page prints at the engine's own size, however wide the other one was.
  const auto small = TPdf(narrow.string()).Find(0, "Schmal");
  ASSERT_EQ(small.size(), 1u);
  const auto left = pdf.Find(0, "Linksaußen");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_GT(small[0].Bottom - small[0].Top, left[0].Bottom - left[0].Top);
}

// Table-layout mails over several pages: no glyph drawn into the top or bottom margin (a line cut at
// the page end would put its halves there), each footer link line once and whole.
TEST_F(PrintQuality, TableLayoutMailsKeepTheirLinesWholeAcrossPageBreaks) {
  NEEDS_CUPS();
  Bus.StartService();
  const int sections = 40;
  const fs::path job = PrintAndFetch("", NewsletterBody(sections));
  ASSERT_FALSE(job.empty());
  const TPdf pdf(job.string());
  ASSERT_GE(pdf.PageCount(), 3);
  std::map<int, int> seen;
  for (int p = 0; p < pdf.PageCount(); ++p) {
    SCOPED_TRACE(p + 1);
    const auto [width, height] = pdf.Size(p);
    const auto words = pdf.Words(p);
    for (std::size_t i = 0; i < words.size(); ++i) {
      const TBox& b = words[i].Box;
      if (IsFooterWord(words[i].Text) && b.Top > height - 0.75 * PointsPerInch) continue;
      EXPECT_GE(b.Top, 0.75 * PointsPerInch - 0.5) << words[i].Text;
      EXPECT_LE(b.Bottom, height - 0.75 * PointsPerInch + 0.5) << words[i].Text;
      if (words[i].Text == "Zeile" && i + 1 < words.size()) ++seen[std::atoi(words[i + 1].Text.c_str())];
    }
  }
  for (int i = 1; i <= sections; ++i) EXPECT_EQ(seen[i], 1) << "link line " << i;
}

TEST_F(PrintQuality, LongTablesStillFlowAcrossPages) {
  NEEDS_CUPS();
  Bus.StartService();
  std::string rows;
  for (int i = 1; i <= 300; ++i)
    rows += "<tr><td>Zeile</td><td>" + std::to_string(i) + "</td><td>Artikel mit einer Beschreibung</td></tr>";
  const fs::path job = PrintAndFetch("", "<table border=\"1\" cellspacing=\"0\">" + rows + "</table>");
  ASSERT_FALSE(job.empty());
  const TPdf pdf(job.string());
  ASSERT_GE(pdf.PageCount(), 4);
  std::map<int, int> seen;
  for (int p = 0; p < pdf.PageCount(); ++p) {
    const auto [width, height] = pdf.Size(p);
    const auto words = pdf.Words(p);
    int rowsHere = 0;
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
      if (words[i].Text != "Zeile") continue;
      ++rowsHere;
      ++seen[std::atoi(words[i + 1].Text.c_str())];
      EXPECT_LE(words[i].Box.Bottom, height - 0.75 * PointsPerInch + 0.5);
    }
    // The table fills its pages instead of moving whole to a page of its own.
    if (p + 1 < pdf.PageCount()) {
      EXPECT_GT(rowsHere, 20) << "page " << p + 1;
    }
  }
  for (int i = 1; i <= 300; ++i) EXPECT_EQ(seen[i], 1) << "row " << i;
}

// A laser printer's PPD marks 6.35 mm at the sides and 12.7 mm at top and bottom as unprintable; with
// the suite's 0.75 mm margins every word, the footer included, must still land inside.
TEST_F(PrintQuality, EveryMarkLandsInsideALaserPrintersPrintableArea) {
  NEEDS_CUPS();
  if (Env("ZB_TEST_PRINT_LASER").empty()) {
    GTEST_SKIP() << "needs cups-filters' laser printer PPD";
  }
  Bus.StartService({{"LPDEST", Env("ZB_TEST_PRINT_LASER")}});
  SuiteDefaults();
  std::string body;
  for (int i = 1; i <= 120; ++i)
    body += "<p style=\"margin:0\">Absatz " + std::to_string(i) +
            " mit Text bis an den rechten Rand, der hier "
            "umbricht, weil er länger ist als eine Zeile es sein kann, auch auf breitem Papier.</p>";
  const fs::path job = PrintAndFetch("", body);
  ASSERT_FALSE(job.empty());
  const TPdf pdf(job.string());
  ASSERT_GE(pdf.PageCount(), 2);
  constexpr double Side = 18, TopBottom = 36;  // points, the PPD's ImageableArea
  int footers = 0;
  for (int p = 0; p < pdf.PageCount(); ++p) {
    SCOPED_TRACE(p + 1);
    const auto [width, height] = pdf.Size(p);
    for (const auto& word : pdf.Words(p)) {
      EXPECT_GE(word.Box.Left, Side) << word.Text;
      EXPECT_LE(word.Box.Right, width - Side) << word.Text;
      EXPECT_GE(word.Box.Top, TopBottom) << word.Text;
      EXPECT_LE(word.Box.Bottom, height - TopBottom) << word.Text;
    }
    footers += static_cast<int>(pdf.Find(p, "Seite " + std::to_string(p + 1) + " von").size());
  }
  EXPECT_EQ(footers, pdf.PageCount());
}

// A PDF printer has no unprintable band: the stored margins stay as they are.
TEST_F(PrintQuality, APdfPrinterKeepsTheStoredMargins) {
  NEEDS_CUPS();
  for (const auto& [name, inches] : {std::pair{"margin_left", "0.20000"}, std::pair{"margin_top", "0.20000"}})
    ASSERT_EQ(Reg({"set", PageSetupKey, name, "REG_SZ", inches}).ExitCode, 0);
  Bus.StartService();
  const fs::path job = PrintAndFetch("", "<p>Ganz oben links</p>");
  ASSERT_FALSE(job.empty());
  const auto words = TPdf(job.string()).Find(0, "Ganz oben links");
  ASSERT_EQ(words.size(), 1u);
  EXPECT_NEAR(words[0].Left, 0.2 * PointsPerInch + 6, 2);
}

// A large HTML manual with the style sheet such manuals bring: sections the engine may skip while they
// are off screen (content-visibility: auto). Skipped on paper too, they printed as blank pages with
// only the footer on them.
TEST_F(PrintQuality, ALargeManualWithItsStyleSheetPrintsItsText) {
  NEEDS_CUPS();
  Bus.StartService();
  const std::string style =
      "<style>body{font:14px/1.5 Georgia,serif;max-width:60em;margin:0 auto}"
      "section{content-visibility:auto;contain-intrinsic-size:auto 500px;border-bottom:1px solid #ccc}"
      "h2{font-family:sans-serif;color:#234}code{background:#eee}</style>";
  std::string body;
  constexpr int Sections = 400;
  for (int i = 1; i <= Sections; ++i) {
    body += "<section><h2>Kapitel " + std::to_string(i) + "</h2>";
    for (int p = 0; p < 3; ++p)
      body += "<p>Dieser Absatz beschreibt eine Einstellung des Programms, <code>option_" + std::to_string(p) +
              "</code>, und wie sie sich auf den Druck auswirkt.</p>";
    body += "</section>";
  }
  const fs::path job = PrintAndFetch(style, body);
  ASSERT_FALSE(job.empty()) << "not printed";
  const TPdf pdf(job.string());
  const int pages = pdf.PageCount();
  ASSERT_GE(pages, 30);
  for (int p : {0, pages / 2, pages - 1}) EXPECT_GE(pdf.Find(p, "Absatz").size(), 1u) << "page " << p + 1;
  EXPECT_GE(pdf.Find(pages - 1, "Kapitel " + std::to_string(Sections)).size(), 1u);
}
// A two-column layout table whose right cell is centred vertically: both columns break between lines.
TEST_F(PrintQuality, TwoColumnLayoutsBreakBetweenLinesInBothColumns) {
  NEEDS_CUPS();
  Bus.StartService();
  std::string left, right;
  for (int i = 1; i <= 120; ++i) {
    left += "<p style=\"margin:0 0 7px;font:15px/23px Arial\">Links " + std::to_string(i) +
            " Text der linken Spalte mit mehr Worten</p>";
    right +=
        "<div style=\"font:13px/19px Arial;padding:3px 0\"><a href=\"#\">Impressum</a> | <a href=\"#\">Datenschutz</a> "
        "Rechts " +
        std::to_string(i) + "</div>";
  }
  const std::string body =
      "<center><table width=\"640\" cellpadding=\"10\" style=\"border:1px solid #ccc\"><tr><td valign=\"top\" "
      "width=\"60%\" style=\"padding:14px\">" +
      left + "</td><td valign=\"middle\" style=\"padding:9px\">" + right + "</td></tr></table></center>";
  const fs::path job = PrintAndFetch("", body);
  ASSERT_FALSE(job.empty());
  const TPdf pdf(job.string());
  for (int p = 0; p < pdf.PageCount(); ++p) {
    const auto [width, height] = pdf.Size(p);
    for (const auto& w : pdf.Words(p)) {
      if (IsFooterWord(w.Text) && w.Box.Top > height - 0.75 * PointsPerInch) continue;
      EXPECT_GE(w.Box.Top, 0.75 * PointsPerInch - 0.5) << "page " << p + 1 << " " << w.Text;
      EXPECT_LE(w.Box.Bottom, height - 0.75 * PointsPerInch + 0.5) << "page " << p + 1 << " " << w.Text;
    }
  }
}
// Pages without a single mark from a document with text are no print: nothing reaches the queue, the
// log says why in German, and the next file prints.
TEST_F(PrintQuality, BlankPagesOfADocumentWithTextAreNotSent) {
  NEEDS_CUPS();
  Bus.StartService();
  const fs::path blank = Write(Tag() + " leer.htm", Mail(Tag() + " leer", "<style>body{opacity:0}</style>",
                                                         "<p>Unsichtbarer Text auf jeder Seite</p>"));
  const fs::path next = Write(Tag() + " danach.htm", Mail(Tag() + " danach", "", "<p>Sichtbar</p>"));
  EXPECT_EQ(PrintFiles(blank.string() + "," + next.string()), 1);
  ASSERT_FALSE(WaitForJob(Tag() + " danach").empty());
  // Jobs arrive in order: the blank one would be in before the next.
  for (const auto& e : fs::directory_iterator(Env("ZB_TEST_PRINT_OUT"))) {
    if (e.path().extension() == ".title") {
      EXPECT_NE(ReadAll(e.path()), Tag() + " leer");
    }
  }
  EXPECT_NE(Log().find(u"nur leere Druckseiten"), std::u16string::npos);
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
}

}  // namespace
}  // namespace zb::test
