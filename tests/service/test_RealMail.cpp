// Mail shaped like the mail people receive: XHTML doctypes and namespaces, an XML prolog, unclosed
// tags, Outlook's conditional comments and <o:p>, VML buttons, centred table layouts, emoji. Each is
// converted, counted and printed by the real service and must come out as the same document does
// with a plain HTML doctype, nothing of it lost.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ServiceFixture.h"
#include "service/HtmlServiceBlocks.h"
#include "service/HtmlServiceConst.h"
#include "support/zbUnicode.h"
#include "tests/TestEnv.h"
#include "tests/print/PdfTestUtil.h"

namespace zb::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void WriteAll(const fs::path& APath, const std::string& AText) { std::ofstream(APath, std::ios::binary) << AText; }

struct TMail {
  const char* File;
  const char* LastWords;  // the mail's last line: a document cut short loses it first
  const char* Words;      // from its middle
};

const TMail Mails[] = {
    {"xhtml-strict.html", "Ende der Nachricht Strict", "Sendungsnummer: 00340434161094042557"},
    {"xhtml-transitional-table.html", "Ende der Nachricht Transitional", "Wollmütze Nordlicht"},
    {"outlook-vml.htm", "Ende der Nachricht Outlook", "die Unterlagen für die Sitzung am Montag"},
    {"xhtml-vml-button.html", "Ende der Nachricht VML", "Neues Passwort wählen"},
};

// The same document with the plain HTML doctype in place of whatever stood before <html.
std::string WithHtmlDoctype(const std::string& AMail) {
  return "<!DOCTYPE html>\n" + AMail.substr(AMail.find("<html"));
}

// The Windows-1252 bytes of a conversion as UTF-8, to look for words in them.
std::string TextOf(const fs::path& APath) {
  std::u16string text;
  for (const unsigned char c : ReadAll(APath)) text += c == 0x80 ? u'€' : static_cast<char16_t>(c);
  return Utf16ToUtf8(text);
}

class RealMail : public ::testing::Test {
 protected:
  void SetUp() override { Bus.StartService(); }
  fs::path Dir() const { return fs::path(Bus.Folder()); }
  std::int32_t Text(std::int32_t ACode, const std::string& AUtf8) const {
    const auto answer = Bus.Request(ACode, MakeTextBlock(Utf8ToUtf16(AUtf8)));
    EXPECT_TRUE(answer.Value) << ACode << " " << answer.Error;
    return answer.Value.value_or(-999);
  }
  // The fixture copied into the test's folder under its own name and as the plain-doctype twin.
  std::pair<fs::path, fs::path> Copies(const TMail& AMail) const {
    const std::string mail = ReadAll(fs::path(ZB_MAIL_FIXTURES) / AMail.File);
    const fs::path original = Dir() / AMail.File, twin = Dir() / ("html5-" + std::string(AMail.File));
    WriteAll(original, mail);
    WriteAll(twin, WithHtmlDoctype(mail));
    return {original, twin};
  }
  TPrivateBus Bus;
};

TEST_F(RealMail, ConvertsToTheTextOfTheSameMailWithAPlainDoctype) {
  for (const TMail& m : Mails) {
    SCOPED_TRACE(m.File);
    const auto [original, twin] = Copies(m);
    const fs::path text = Dir() / (std::string(m.File) + ".txt"), twinText = Dir() / (std::string(m.File) + ".5.txt");
    EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + original.string() + ";DST:" + text.string()), 1);
    EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + twin.string() + ";DST:" + twinText.string()), 1);
    ASSERT_TRUE(fs::exists(text));
    const std::string converted = TextOf(text);
    EXPECT_EQ(ReadAll(text), ReadAll(twinText));
    EXPECT_NE(converted.find(m.LastWords), std::string::npos) << converted;
    EXPECT_NE(converted.find(m.Words), std::string::npos) << converted;
    // Neither the engine's XML error page nor what Outlook alone shows, nor a hidden preheader.
    EXPECT_EQ(converted.find("error"), std::string::npos) << converted;
    EXPECT_EQ(converted.find("Vorschautext"), std::string::npos) << converted;
    EXPECT_EQ(Text(HS_COUNTALLIMAGES, original.string()), Text(HS_COUNTALLIMAGES, twin.string()));
  }
}

TEST_F(RealMail, ALoadedXhtmlMailIsEditedAndSavedAsHtml) {
  const auto [original, twin] = Copies(Mails[0]);
  EXPECT_EQ(Text(HS_LOADFROMFILE, original.string()), 1);
  EXPECT_EQ(Text(HS_PASTEHTMLEND, "<p>Nachtrag am Ende</p>"), 1);
  const fs::path saved = Dir() / "saved.html";
  EXPECT_EQ(Text(HS_SAVETOFILE, saved.string()), 1);
  const std::string html = ReadAll(saved);
  EXPECT_NE(html.find("Sendungsnummer"), std::string::npos) << html;
  EXPECT_NE(html.find("Ende der Nachricht Strict"), std::string::npos) << html;
  EXPECT_NE(html.find("Nachtrag am Ende"), std::string::npos) << html;
  EXPECT_NE(html.find("🚚"), std::string::npos) << html;
}

// A name the engine treats as XML keeps the XML parser: a well-formed XHTML document shows its text.
TEST_F(RealMail, AnXhtmlFileKeepsTheXmlParser) {
  const fs::path doc = Dir() / "page.xhtml", text = Dir() / "page.txt";
  WriteAll(doc,
           "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t"
           "</title></head><body><p>Wohlgeformt<br/>und ganz</p></body></html>");
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + doc.string() + ";DST:" + text.string()), 1);
  EXPECT_NE(TextOf(text).find("Wohlgeformt\nund ganz"), std::string::npos) << TextOf(text);
}

// An XML document the parser gives up on is no document: nothing is written, and nothing is printed.
TEST_F(RealMail, AnXmlFileThatIsNotWellFormedIsNeitherConvertedNorPrinted) {
  const fs::path doc = Dir() / "broken.xhtml", text = Dir() / "broken.txt";
  WriteAll(doc,
           "<?xml version=\"1.0\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>Vorher<br>"
           "<p>Nachher</body></html>");
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + doc.string() + ";DST:" + text.string()), -1);
  EXPECT_FALSE(fs::exists(text)) << ReadAll(text);
  EXPECT_EQ(Text(HS_COUNTALLIMAGES, doc.string()), -1);
  EXPECT_EQ(Text(HS_PING, ""), 1);
}

TEST_F(RealMail, PrintsHoldTheMailsWords) {
  NEEDS_CUPS();
  const std::string run = std::to_string(::getpid());
  std::string list;
  for (const TMail& m : Mails) {
    // A title of this run's own comes first, so the job is found in the shared queue.
    std::string mail = ReadAll(fs::path(ZB_MAIL_FIXTURES) / m.File);
    const std::size_t head = mail.find("<head>") + 6;
    mail.insert(head, "<title>RealMail " + run + " " + m.File + "</title>");
    WriteAll(Dir() / m.File, mail);
    list += (list.empty() ? "" : ",") + (Dir() / m.File).string();
  }
  EXPECT_EQ(Text(HS_PRINTFILES, list), 1);
  for (const TMail& m : Mails) {
    SCOPED_TRACE(m.File);
    const fs::path job = WaitForJob("RealMail " + run + " " + m.File);
    ASSERT_FALSE(job.empty());
    const print::test::TPdf pdf(job.string());
    ASSERT_TRUE(pdf.Loaded());
    std::string text;
    for (int i = 0; i < pdf.PageCount(); ++i) text += pdf.Text(i) + "\n";
    EXPECT_NE(text.find(m.LastWords), std::string::npos) << text;
    EXPECT_NE(text.find(m.Words), std::string::npos) << text;
    EXPECT_EQ(text.find("error"), std::string::npos) << text;
    EXPECT_NE(text.find("Seite 1 von"), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace zb::test
