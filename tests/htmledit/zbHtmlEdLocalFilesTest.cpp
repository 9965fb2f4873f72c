// A document reads local files only from its own folder and the folders below it (a mail's
// attachments); every other local address is refused like a remote one, however it is spelt: style
// sheets, imports, frames and images alike.
#include <algorithm>
#include <filesystem>

#include "platform/glib/zbGOwner.h"
#include "tests/htmledit/zbHtmlEdTestEnv.h"

namespace zb::test {
namespace {

namespace fs = std::filesystem;

class HtmlEditLocalFiles : public ::testing::Test {
 protected:
  TzbHtmlEdit& E = *GEdit;
  TTempDir Dir;
  // Characters the engine's rule language reads specially, a space and a non-ASCII letter.
  const std::string Mail = "Post [1] (a+b) ä.$^";

  static std::string Svg(const std::string& AColour) {
    return "<svg xmlns='http://www.w3.org/2000/svg' width='300' height='150'><rect width='300' height='150' fill='" +
           AColour + "'/></svg>";
  }

  void SetUp() override {
    for (const char* Folder : {"/Post [1] (a+b) ä.$^/att", "/Post [1] (a+b) ä.$^x", "/post [1] (a+b) ä.$^", "/other"})
      fs::create_directories(Dir.Path + Folder);
    // Each sheet hides the paragraph of its name: a paragraph that stays visible was never styled.
    Dir.Write(Mail + "/att/own.css", "#own{display:none}");
    Dir.Write(Mail + "/att/own-import.css", "@import url('../../other/imported.css');#ownimport{display:none}");
    Dir.Write(Mail + "/att/frame.htm", "<html><body style='background:#00ff00'></body></html>");
    Dir.Write(Mail + "/att/image.svg", Svg("#ffff00"));
    Dir.Write(Mail + "x/sibling.css", "#sibling{display:none}");
    Dir.Write("post [1] (a+b) ä.$^/case.css", "#case{display:none}");
    for (const char* Name : {"far", "imported", "dots", "escaped", "slash", "absolute"})
      Dir.Write(std::string("other/") + Name + ".css", std::string("#") + Name + "{display:none}");
    Dir.Write("other/frame.htm", "<html><body style='background:#ff0000'></body></html>");
    Dir.Write("other/image.svg", Svg("#0000ff"));
  }

  std::string Document() const {
    const TzbGChars Absolute(g_filename_to_uri((Dir.Path + "/other/absolute.css").c_str(), nullptr, nullptr));
    return "<html><head>"
           "<link rel=stylesheet href='att/own.css'><link rel=stylesheet href='att/own-import.css'>"
           "<link rel=stylesheet href='../other/far.css'>"
           "<link rel=stylesheet href='att/../../other/dots.css'>"
           "<link rel=stylesheet href='att/%2e%2e/%2e%2e/other/escaped.css'>"
           "<link rel=stylesheet href='att/..%2F..%2Fother/slash.css'>"
           "<link rel=stylesheet href='../Post%20%5B1%5D%20(a+b)%20%C3%A4.$%5Ex/sibling.css'>"
           "<link rel=stylesheet href='../post%20%5B1%5D%20(a+b)%20%C3%A4.$%5E/case.css'>"
           "<link rel=stylesheet href='" +
           std::string(Absolute.get()) +
           "'>"
           "<style>@import url('../other/imported.css');</style></head><body>"
           "<p id=own>OWN</p><p id=ownimport>OWNIMPORT</p><p id=far>FAR</p><p id=imported>IMPORTED</p>"
           "<p id=dots>DOTS</p><p id=escaped>ESCAPED</p><p id=slash>SLASH</p><p id=sibling>SIBLING</p>"
           "<p id=case>CASE</p><p id=absolute>ABSOLUTE</p>"
           "<iframe src='att/frame.htm'></iframe><iframe src='../other/frame.htm'></iframe>"
           "<img src='att/image.svg'><img src='../other/image.svg'></body></html>";
  }
};

TEST_F(HtmlEditLocalFiles, StyleSheetsImportsAndFramesOnlyFromTheDocumentsFolder) {
  const std::string File = Dir.Write(Mail + "/mail.htm", Document());
  using O = TDownloadControlOption;
  E.SetDownloadOptions({O::DLCTL_DLIMAGES});  // frames allowed
  // From its address, and as its bytes with the text posted at the load's end.
  for (const std::int32_t Flags : {0, navNoHistory | navReadBodyText}) {
    SCOPED_TRACE(Flags);
    E.LoadFromFile(Utf8ToUtf16(File), true, Flags);
    ASSERT_TRUE(E.WaitForComplete());
    const std::u16string Text = BodyText(E);
    // The folder's own sheets apply, the sheet it imports from elsewhere does not.
    EXPECT_EQ(Text.find(u"OWN"), std::u16string::npos) << Utf16ToUtf8(Text);
    for (const char16_t* Refused :
         {u"FAR", u"IMPORTED", u"DOTS", u"ESCAPED", u"SLASH", u"SIBLING", u"CASE", u"ABSOLUTE"})
      EXPECT_NE(Text.find(Refused), std::u16string::npos) << Utf16ToUtf8(Refused);
    // Frames and images show as what they paint: the folder's own in green and yellow, the other's
    // in red and blue would be.
    ASSERT_EQ(E.FrameCount(), 2);
    Pump(300);
    TzbImage Image;
    Image.Width = 200;
    Image.Height = 150;
    ASSERT_TRUE(E.GetThumbnail(Image));
    const auto Count = [&](std::uint32_t AColour) {
      return std::count_if(Image.Pixels.begin(), Image.Pixels.end(),
                           [&](std::uint32_t P) { return (P & 0xFFFFFF) == AColour; });
    };
    EXPECT_GT(Count(0x00FF00), 100);
    EXPECT_GT(Count(0xFFFF00), 100);
    EXPECT_EQ(Count(0xFF0000), 0);
    EXPECT_EQ(Count(0x0000FF), 0);
  }
  E.SetDownloadOptions(TzbHtmlEdit::DefaultDownloadOptions);
}

// A document that came as bytes has no folder: it reads no local file at all.
TEST_F(HtmlEditLocalFiles, ADocumentWithoutAFolderReadsNoLocalFile) {
  const TzbGChars Sheet(g_filename_to_uri((Dir.Path + "/other/far.css").c_str(), nullptr, nullptr));
  ASSERT_EQ(E.LoadFromStream("<html><head><link rel=stylesheet href='" + std::string(Sheet.get()) +
                             "'></head><body><p id=far>FAR</p></body></html>"),
            S_OK);
  ASSERT_TRUE(E.WaitForComplete());
  EXPECT_NE(BodyText(E).find(u"FAR"), std::u16string::npos);
}

}  // namespace
}  // namespace zb::test
