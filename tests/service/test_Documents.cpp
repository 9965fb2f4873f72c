// Document requests end to end: the real service with the real engine on a private bus. Load, save,
// plain text, image counts, insertion and commands, in the sequences the suite sends, and hostile input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "ServiceFixture.h"
#include "service/HtmlServiceBlocks.h"
#include "service/HtmlServiceConst.h"
#include "support/zbUnicode.h"
#include "tests/TestEnv.h"

namespace zb::test {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& APath, const std::string& AText) { std::ofstream(APath, std::ios::binary) << AText; }

THtmlExecCmd Command(std::int32_t AId) {
  THtmlExecCmd cmd;
  cmd.iCmdID = AId;
  return cmd;
}

class Documents : public ::testing::Test {
 protected:
  void SetUp() override { Bus.StartService(); }
  fs::path Dir() const { return fs::path(Bus.Folder()); }
  std::string Path(const std::string& AName) const { return (Dir() / AName).string(); }
  std::int32_t Text(std::int32_t ACode, const std::string& AUtf8) const {
    const auto answer = Bus.Request(ACode, MakeTextBlock(Utf8ToUtf16(AUtf8)));
    EXPECT_TRUE(answer.Value) << ACode << " " << answer.Error;
    return answer.Value.value_or(-999);
  }
  std::int32_t Exec(const THtmlExecCmd& ACmd) const {
    return Bus.Request(HS_EXECCMD, MakeExecCmdBlock(ACmd)).Value.value_or(-999);
  }
  std::string Log() const {
    std::string all;
    const fs::path folder = Dir() / "XDG_STATE_HOME" / "Vestrum-Logs" / "Plumadesk 5.0";
    if (fs::is_directory(folder))
      for (const auto& e : fs::directory_iterator(folder)) {
        const std::string bytes = ReadAll(e.path());
        std::u16string text;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
          text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1])
                                                                                   << 8);
        all += Utf16ToUtf8(text);
      }
    return all;
  }
  TPrivateBus Bus;
};

TEST_F(Documents, LoadRefusesWhatIsNoReadableFile) {
  fs::create_directory(Dir() / "folder.htm");
  mkfifo(Path("pipe.htm").c_str(), 0600);
  EXPECT_EQ(Text(HS_LOADFROMFILE, Path("folder.htm")), -1);
  EXPECT_EQ(Text(HS_LOADFROMFILE, Path("missing.htm")), -1);
  EXPECT_EQ(Text(HS_LOADFROMFILE, Path("pipe.htm")), -1);  // would never complete
  EXPECT_EQ(Text(HS_LOADFROMFILE, "/dev/zero"), -1);
  EXPECT_EQ(Text(HS_LOADFROMFILE, ""), -1);
  EXPECT_EQ(Bus.Request(HS_LOADFROMFILE, {}).Value, -1);
  // Nothing loaded, nothing loading: the save has nothing to write.
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("out.htm")), -1);
  EXPECT_FALSE(fs::exists(Path("out.htm")));
  WriteFile(Path("a.htm"), "<html><body><p>Hallo</p></body></html>");
  EXPECT_EQ(Text(HS_LOADFROMFILE, Path("a.htm")), 1);
}

TEST_F(Documents, TheSuitesSequenceLoadPasteExecSaveReload) {
  WriteFile(Path("mail.htm"), "<html><head><meta charset=\"utf-8\"></head><body><p>Mitte</p></body></html>");
  EXPECT_EQ(Text(HS_LOADFROMFILE, Path("mail.htm")), 1);
  EXPECT_EQ(Text(HS_PASTEHTMLSTART, "<p id=\"first\">Anfang</p>"), 1);
  EXPECT_EQ(Text(HS_PASTEPLAINEND, "<i>Ende</i>"), 1);
  EXPECT_EQ(Exec(Command(6)), 1);  // Bold over the whole document
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("saved.htm")), 1);
  const std::string saved = ReadAll(Path("saved.htm"));
  const auto first = saved.find("Anfang"), middle = saved.find("Mitte"), end = saved.find("&lt;i&gt;Ende&lt;/i&gt;");
  ASSERT_NE(first, std::string::npos) << saved;
  ASSERT_NE(middle, std::string::npos) << saved;
  ASSERT_NE(end, std::string::npos) << saved;
  EXPECT_LT(first, middle);
  EXPECT_LT(middle, end);
  EXPECT_NE(saved.find("<b>"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("<i>"), std::string::npos);  // the plain text stays text

  // The saved file loads again with the same text (the parser may tidy the markup).
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("saved.htm") + ";DST:" + Path("saved.txt")), 1);
  const std::string text = ReadAll(Path("saved.txt"));
  EXPECT_LT(text.find("Anfang"), text.find("Mitte"));
  EXPECT_NE(text.find("Mitte<i>Ende</i>"), std::string::npos) << text;
  // A save into a folder that does not exist fails and leaves nothing behind.
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("none/x.htm")), -1);
  EXPECT_FALSE(fs::exists(Path("none")));
}

TEST_F(Documents, ConcatAndPasteAtTheEndGiveTheSameDocument) {
  WriteFile(Path("a.htm"), "<html><body><div>Text</div></body></html>");
  std::string results[2];
  const std::int32_t codes[2] = {HS_CONCATHTML, HS_PASTEHTMLEND};
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Text(HS_LOADFROMFILE, Path("a.htm")), 1);
    EXPECT_EQ(Text(codes[i], "<b>x</b>"), 1);
    EXPECT_EQ(Text(HS_SAVETOFILE, Path("r" + std::to_string(i) + ".htm")), 1);
    results[i] = ReadAll(Path("r" + std::to_string(i) + ".htm"));
  }
  EXPECT_EQ(results[0], results[1]);
  EXPECT_NE(results[0].find("<b>x</b>"), std::string::npos) << results[0];
  EXPECT_LT(results[0].find("Text"), results[0].find("<b>x</b>"));
}

TEST_F(Documents, InsertionAtTheEdgesGoesBeforeTheFirstAndAfterTheLastContentOfAnyKind) {
  struct TCase {
    const char* Body;
    const char* Start;  // the saved markup around the text inserted at the start
    const char* End;    // and at the end
  } cases[] = {
      {"<p>Gr\xC3\xBC\xC3\x9F"
       "e<br><img src=\"sig.gif\"></p>",
       "<p><i>S</i>Gr", "<img src=\"sig.gif\"><i>E</i></p>"},
      {"\n  <p>Gr\xC3\xBC\xC3\x9F"
       "e<br><img src=\"sig.gif\"></p>\n  <!-- Ende -->\n",
       "<p><i>S</i>Gr", "<img src=\"sig.gif\"><i>E</i></p>"},
      {"<img src=\"logo.gif\"><p>Text</p>", "<i>S</i><img src=\"logo.gif\">", "Text<i>E</i></p>"},
      {"<br>Text<br>", "<body><i>S</i><br>Text", "Text<br><i>E</i>"},
      {"<table><tr><td>A</td></tr></table><p>Mitte</p><table><tr><td>B</td></tr></table>", "<body><i>S</i><table>",
       "</table><i>E</i></body>"},
      {"<div></div><p>Text</p><p></p>", "<body><i>S</i><div></div>", "<p></p><i>E</i></body>"},
      {"", "<i>S</i>", "E</i></body>"},  // the start is then before the inserted text, in its element
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Body);
    WriteFile(Path("edge.htm"),
              std::string("<html><head><meta charset=\"utf-8\"></head><body>") + c.Body + "</body></html>");
    ASSERT_EQ(Text(HS_LOADFROMFILE, Path("edge.htm")), 1);
    EXPECT_EQ(Text(HS_PASTEHTMLEND, "<i>E</i>"), 1);
    EXPECT_EQ(Text(HS_PASTEHTMLSTART, "<i>S</i>"), 1);
    EXPECT_EQ(Text(HS_SAVETOFILE, Path("saved.htm")), 1);
    const std::string saved = ReadAll(Path("saved.htm"));
    EXPECT_NE(saved.find(c.Start), std::string::npos) << saved;
    EXPECT_NE(saved.find(c.End), std::string::npos) << saved;
  }
  // Plain text goes to the same places.
  WriteFile(Path("sig.htm"),
            "<html><body><img src=\"a.gif\"><p>Gr\xC3\xBC\xC3\x9F"
            "e<br><img src=\"sig.gif\"></p></body></html>");
  ASSERT_EQ(Text(HS_LOADFROMFILE, Path("sig.htm")), 1);
  EXPECT_EQ(Text(HS_PASTEPLAINEND, "Ende"), 1);
  EXPECT_EQ(Text(HS_PASTEPLAINSTART, "Anfang"), 1);
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("saved.htm")), 1);
  const std::string saved = ReadAll(Path("saved.htm"));
  EXPECT_NE(saved.find("<body>Anfang<img src=\"a.gif\">"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<img src=\"sig.gif\">Ende</p>"), std::string::npos) << saved;
}

TEST_F(Documents, AFirstRequestRightAfterStartUsesTheBlankDocument) {
  // The characters of UTF-8 as they arrive when it was read as ANSI: repaired to one character.
  const std::u16string misread = FromAnsiBytes(
      "Gr\xC3\xBC\xC3\x9F"
      "e");
  EXPECT_EQ(Bus.Request(HS_PASTEPLAINEND, MakeTextBlock(misread)).Value, 1);
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("blank.htm")), 1);
  const std::string saved = ReadAll(Path("blank.htm"));
  const std::u16string decoded = FromAnsiBytes(saved);
  EXPECT_TRUE(saved.find("Gr\xC3\xBC\xC3\x9F"
                         "e") != std::string::npos ||          // saved as UTF-8
              decoded.find(u"Grüße") != std::u16string::npos)  // or in the document's ANSI set
      << saved;
}

TEST_F(Documents, PlainTextConversionKeysAndTargets) {
  WriteFile(Path("a.htm"),
            "<html><body><p>Gr&uuml;&szlig;e &euro;</p><script>document.body.innerHTML='x'</script></body></html>");
  WriteFile(Path("b.htm"), ReadAll(Path("a.htm")));
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "DST:" + Path("b.txt") + ";SRC:" + Path("a.htm")), 1);
  EXPECT_EQ(ReadAll(Path("b.txt")).substr(0, 10),
            "Gr\xFC\xDF"
            "e \x80");  // Windows-1252, no preamble
  // A character the code page lacks is one "?", also outside the Basic Multilingual Plane.
  WriteFile(Path("astral.htm"), "<html><body>a&#x1F600;b&#x10348;c&#x4E2D;d</body></html>");
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("astral.htm") + ";DST:" + Path("astral.txt")), 1);
  EXPECT_EQ(ReadAll(Path("astral.txt")), "a?b?c?d");
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "src:" + Path("a.htm") + ";dst:" + Path("c.txt")), 1);
  EXPECT_EQ(ReadAll(Path("c.txt")), ReadAll(Path("b.txt")));
  fs::create_directory(Dir() / "semi;colon");
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("a.htm") + ";DST:\"" + Path("semi;colon/d.txt") + "\""), 1);
  EXPECT_TRUE(fs::exists(Path("semi;colon/d.txt")));
  // Without DST the source is replaced by its own plain text.
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("b.htm")), 1);
  EXPECT_EQ(ReadAll(Path("b.htm")), ReadAll(Path("b.txt")));
  // A source the engine cannot show is never replaced by the empty page it shows instead.
  const std::string pdf = "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";
  WriteFile(Path("a.pdf"), pdf);
  Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("a.pdf"));
  EXPECT_EQ(ReadAll(Path("a.pdf")), pdf);
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("missing.htm") + ";DST:" + Path("e.txt")), -1);
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "DST:" + Path("e.txt")), -1);
  EXPECT_FALSE(fs::exists(Path("e.txt")));
  // A target that cannot be written is a failed conversion, and logged.
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("a.htm") + ";DST:" + Path("no/such/f.txt")), -1);
  EXPECT_NE(Log().find("no/such/f.txt"), std::string::npos);
}

TEST_F(Documents, AConversionNeverReplacesAFileByAnEmptyText) {
  using namespace std::string_literals;
  const std::string png =
      "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x01\x00\x00\x00\x01\x08\x02"
      "\x00\x00\x00\x90\x77\x53\xde\x00\x00\x00\x0c\x49\x44\x41\x54\x78\x9c\x63\xf8\xcf\xc0\x00\x00\x03\x01"
      "\x01\x00\xc9\xfe\x92\xef\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82"s;
  WriteFile(Path("sig.png"), png);
  WriteFile(Path("sig.gif"), png);  // a misleading name: the engine sniffs the image all the same
  // An image document: refused in place and with a target, the image stays, no target appears.
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("sig.png")), -1);
  EXPECT_EQ(ReadAll(Path("sig.png")), png);
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("sig.gif")), -1);
  EXPECT_EQ(ReadAll(Path("sig.gif")), png);
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("sig.png") + ";DST:" + Path("sig.txt")), -1);
  EXPECT_FALSE(fs::exists(Path("sig.txt")));
  EXPECT_NE(Log().find("kein HTML- oder Textdokument (image/png)"), std::string::npos) << Log();
  // An HTML document without text keeps its markup in place; to another target its empty text is written.
  const std::string pictures = "<html><body><img src=\"sig.png\"><br></body></html>";
  WriteFile(Path("pictures.htm"), pictures);
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("pictures.htm")), -1);
  EXPECT_EQ(ReadAll(Path("pictures.htm")), pictures);
  EXPECT_NE(Log().find("enthält keinen Text"), std::string::npos);
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("pictures.htm") + ";DST:" + Path("pictures.txt")), 1);
  EXPECT_TRUE(fs::exists(Path("pictures.txt")));
  // Plain text is a text document: converted in place as before.
  WriteFile(Path("note.txt"), "Hallo\n");
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("note.txt")), 1);
  EXPECT_NE(ReadAll(Path("note.txt")).find("Hallo"), std::string::npos);
}

TEST_F(Documents, ImagesAndBackgroundCounts) {
  WriteFile(Path("two.htm"),
            "<html><body style=\"background-image: url(x.gif)\"><img src=\"a.png\"><p><img "
            "src=\"http://127.0.0.1:1/b.png\"></p></body></html>");
  WriteFile(Path("none.htm"), "<html><body><p>keine Bilder</p></body></html>");
  WriteFile(Path("css.htm"), "<html><head><style>body{background-image:url(x.gif)}</style></head><body></body></html>");
  EXPECT_EQ(Text(HS_CONTAINSBACKGROUNDIMAGES, Path("two.htm")), 2);
  EXPECT_EQ(Text(HS_COUNTIMAGES, Path("two.htm")), 3);
  EXPECT_EQ(Text(HS_COUNTALLIMAGES, Path("two.htm")), 4);
  EXPECT_EQ(Text(HS_COUNTIMAGES, Path("none.htm")), 1);
  EXPECT_EQ(Text(HS_COUNTALLIMAGES, Path("none.htm")), 1);
  EXPECT_EQ(Text(HS_CONTAINSBACKGROUNDIMAGES, Path("none.htm")), 3);
  EXPECT_EQ(Text(HS_CONTAINSBACKGROUNDIMAGES, Path("css.htm")), 3);  // only the inline style counts
  for (std::int32_t code : {HS_COUNTIMAGES, HS_CONTAINSBACKGROUNDIMAGES, HS_COUNTALLIMAGES}) {
    EXPECT_EQ(Text(code, Path("missing.htm")), -1);
    EXPECT_EQ(Text(code, Dir().string()), -1);
  }
  // The counted document stays loaded.
  EXPECT_EQ(Text(HS_COUNTIMAGES, Path("two.htm")), 3);
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("counted.htm")), 1);
  EXPECT_NE(ReadAll(Path("counted.htm")).find("a.png"), std::string::npos);
}

TEST_F(Documents, CommandsWithValuesAndBadIdentifiers) {
  WriteFile(Path("a.htm"), "<html><body><p>Text</p></body></html>");
  EXPECT_EQ(Text(HS_LOADFROMFILE, Path("a.htm")), 1);
  // A text value through the typed method.
  auto font = Bus.Call("ExecCmd", g_variant_new("(ibv)", 16, FALSE, g_variant_new_string("Courier New")));
  EXPECT_EQ(font.Value, 1) << font.Error;
  auto color = Bus.Call("ExecCmd", g_variant_new("(ibv)", 18, FALSE, g_variant_new_string("#ff0000")));
  EXPECT_EQ(color.Value, 1) << color.Error;
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("styled.htm")), 1);
  const std::string styled = ReadAll(Path("styled.htm"));
  EXPECT_NE(styled.find("Courier New"), std::string::npos) << styled;
  EXPECT_TRUE(styled.find("#ff0000") != std::string::npos || styled.find("rgb(255, 0, 0)") != std::string::npos)
      << styled;

  for (std::int32_t id : {0, 78, -1}) EXPECT_EQ(Exec(Command(id)), -1) << id;
  EXPECT_EQ(Bus.Request(HS_EXECCMD, std::vector<std::uint8_t>(21, 0)).Value, -1);
  THtmlExecCmd pointer = Command(16);
  pointer.oleValue[0] = VT_BSTR;  // a pointer into the sender's memory: refused, never followed
  EXPECT_EQ(Exec(pointer), -1);
  const std::string log = Log();
  EXPECT_NE(log.find("Unbekannter Befehl 78"), std::string::npos) << log;
  EXPECT_NE(log.find("Speicher des Absenders"), std::string::npos);
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
}

TEST_F(Documents, IntegerColoursAreWindowsColourValues) {
  WriteFile(Path("a.htm"), "<html><body><p>Farbe</p></body></html>");
  // The saved colour, as the engine writes it: a hex text or an rgb() function.
  const auto colourIn = [](const std::string& AHtml, int R, int G, int B) {
    char hex[8], rgb[32];
    std::snprintf(hex, sizeof hex, "#%02x%02x%02x", R, G, B);
    std::snprintf(rgb, sizeof rgb, "rgb(%d, %d, %d)", R, G, B);
    return AHtml.find(hex) != std::string::npos || AHtml.find(rgb) != std::string::npos;
  };
  struct TCase {
    std::int32_t Cmd;
    TCommandValue Value;
    int R, G, B;
  } cases[] = {
      {18, std::int32_t{255}, 255, 0, 0},       // 0x00BBGGRR: pure red
      {18, std::int32_t{0xFF0000}, 0, 0, 255},  // pure blue
      {18, std::int32_t{0x123456}, 0x56, 0x34, 0x12},
      {3, std::int32_t{0}, 0, 0, 0},  // a black text would already be black
      {18, std::uint8_t{128}, 128, 0, 0},
      {18, 255.0, 255, 0, 0},
      {3, std::int32_t{0x00FF00}, 0, 255, 0},
      {3, std::int32_t{0x0000FF}, 255, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Cmd << " " << c.R << "," << c.G << "," << c.B);
    ASSERT_EQ(Text(HS_LOADFROMFILE, Path("a.htm")), 1);
    THtmlExecCmd cmd = Command(c.Cmd);
    cmd.oleValue = MakeOleVariant(c.Value);
    EXPECT_EQ(Exec(cmd), 1);
    EXPECT_EQ(Text(HS_SAVETOFILE, Path("c.htm")), 1);
    const std::string saved = ReadAll(Path("c.htm"));
    EXPECT_TRUE(colourIn(saved, c.R, c.G, c.B)) << saved;
  }
  // Texts stay what they say.
  ASSERT_EQ(Text(HS_LOADFROMFILE, Path("a.htm")), 1);
  auto named = Bus.Call("ExecCmd", g_variant_new("(ibv)", 18, FALSE, g_variant_new_string("red")));
  EXPECT_EQ(named.Value, 1) << named.Error;
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("n.htm")), 1);
  const std::string saved = ReadAll(Path("n.htm"));
  EXPECT_TRUE(saved.find("\"red\"") != std::string::npos || colourIn(saved, 255, 0, 0)) << saved;
}

TEST_F(Documents, HostileDocumentsNeitherRunScriptsNorReachTheNetwork) {
  const TLocalListener listener;
  const std::string& base = listener.Base();
  WriteFile(Path("evil.htm"), "<html><head><meta http-equiv=\"refresh\" content=\"0;url=" + base +
                                  "/r\"><link rel=stylesheet href=\"" + base + "/s.css\"><link rel=prefetch href=\"" +
                                  base + "/p\"></head><body><img src=\"" + base + "/i.png\"><iframe src=\"" + base +
                                  "/f\"></iframe><p id=t>sicher</p><script>document.getElementById('t')"
                                  ".textContent='Skript lief';new Image().src='" +
                                  base + "/js'</script></body></html>");
  EXPECT_EQ(Text(HS_CONVERTHTMLTOPLAIN, "SRC:" + Path("evil.htm") + ";DST:" + Path("evil.txt")), 1);
  EXPECT_EQ(Text(HS_COUNTALLIMAGES, Path("evil.htm")), 2);
  EXPECT_EQ(Text(HS_PASTEHTMLEND, "<img src=\"" + base + "/pasted.png\"><script>document.title='x'</script>"), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::string plain = ReadAll(Path("evil.txt"));
  EXPECT_NE(plain.find("sicher"), std::string::npos) << plain;
  EXPECT_EQ(plain.find("Skript lief"), std::string::npos);
  EXPECT_FALSE(listener.Contacted()) << "a document reached the network";
}

TEST_F(Documents, ADocumentLostWithTheEngineIsNeverReportedAsSaved) {
  WriteFile(Path("mail.htm"), "<html><body><p>Originaltext der Mail</p></body></html>");
  ASSERT_EQ(Text(HS_LOADFROMFILE, Path("mail.htm")), 1);
  KillWebProcessesOf(Bus.Request(1280, {}).Value.value_or(0));  // unknown codes answer the pid
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // Before, the paste landed in a fresh blank document and the save wrote it over the mail: "saved".
  EXPECT_EQ(Text(HS_PASTEHTMLEND, "<p>Anhang</p>"), -1);
  EXPECT_EQ(Exec(Command(6)), -1);
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("saved.htm")), -1);
  EXPECT_FALSE(fs::exists(Path("saved.htm")));
  EXPECT_NE(Log().find("muss neu geladen werden"), std::string::npos);
  // A later load works as usual.
  ASSERT_EQ(Text(HS_LOADFROMFILE, Path("mail.htm")), 1);
  EXPECT_EQ(Text(HS_PASTEHTMLEND, "<p>Anhang</p>"), 1);
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("saved.htm")), 1);
  const std::string saved = ReadAll(Path("saved.htm"));
  EXPECT_NE(saved.find("Originaltext"), std::string::npos);
  EXPECT_NE(saved.find("Anhang"), std::string::npos);
}

TEST_F(Documents, TheStartUpBlankDocumentIsNotALostDocument) {
  KillWebProcessesOf(Bus.Request(1280, {}).Value.value_or(0));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(Text(HS_PASTEHTMLEND, "<p>Neu</p>"), 1);
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("neu.htm")), 1);
  EXPECT_NE(ReadAll(Path("neu.htm")).find("Neu"), std::string::npos);
}

TEST_F(Documents, ATransformedDocumentIsNeverSavedEmpty) {
  WriteFile(Path("t.xsl"),
            "<?xml version=\"1.0\"?><xsl:stylesheet version=\"1.0\" "
            "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"><xsl:template match=\"/\"><html><body><p>"
            "<xsl:value-of select=\"/brief/text\"/></p></body></html></xsl:template></xsl:stylesheet>");
  WriteFile(Path("brief.xml"),
            "<?xml version=\"1.0\"?><?xml-stylesheet type=\"text/xsl\" href=\"t.xsl\"?>"
            "<brief><text>Umgewandelt</text></brief>");
  WriteFile(Path("target.htm"), "alt");
  Text(HS_LOADFROMFILE, Path("brief.xml"));
  const std::int32_t saved = Text(HS_SAVETOFILE, Path("target.htm"));
  const std::string content = ReadAll(Path("target.htm"));
  if (saved == 1) {
    EXPECT_NE(content.find("Umgewandelt"), std::string::npos) << content;
  } else {
    EXPECT_EQ(saved, -1);
    EXPECT_EQ(content, "alt");
    EXPECT_NE(Log().find("gespeichert"), std::string::npos);
  }
}

TEST_F(Documents, HugeInputIsServedAndTheServiceGoesOn) {
  const std::u16string big(5 * 1024 * 1024, u'x');  // 10 MB of UTF-16
  EXPECT_EQ(Bus.Request(HS_PASTEPLAINEND, MakeTextBlock(big)).Value, 1);
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("big.htm")), 1);
  EXPECT_GT(fs::file_size(Path("big.htm")), 5u * 1024 * 1024);
  EXPECT_EQ(Bus.Request(HS_LOADFROMFILE, MakeTextBlock(big)).Value, -1);  // a 5 M-character file name
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
}

class SlowDocuments : public Documents {
 protected:
  void SetUp() override { Bus.StartService({{"HTMLSERVICE_DOCUMENT_TIMEOUT_MS", "1"}}); }
};

TEST_F(SlowDocuments, AWaitThatRunsOutAnswersMinusOneAndIsLogged) {
  WriteFile(Path("a.htm"), "<html><body><p>" + std::string(200000, 'y') + "</p></body></html>");
  EXPECT_EQ(Text(HS_LOADFROMFILE, Path("a.htm")), -1);
  EXPECT_EQ(Text(HS_COUNTIMAGES, Path("a.htm")), -1);
  EXPECT_NE(Log().find("nicht innerhalb von"), std::string::npos);
  EXPECT_EQ(Bus.Call("Ping", nullptr).Value, 1);
}

class BoundedDocuments : public Documents {
 protected:
  static constexpr int BoundMs = 8000;
  void SetUp() override { Bus.StartService({{"HTMLSERVICE_DOCUMENT_TIMEOUT_MS", std::to_string(BoundMs)}}); }
};

TEST_F(BoundedDocuments, TheEnginesWorkEndsWithTheWaitSoTheNextRequestIsServed) {
  std::string mail = "<html><head><meta charset=\"utf-8\"></head><body>";
  for (int i = 0; i < 60000; ++i) mail += "<p>Absatz " + std::to_string(i) + " der langen Mail</p>\n";
  mail += "</body></html>";
  WriteFile(Path("long.htm"), mail);
  WriteFile(Path("small.htm"), "<html><body><p>klein</p></body></html>");
  ASSERT_EQ(Text(HS_LOADFROMFILE, Path("long.htm")), 1);
  EXPECT_EQ(Exec(Command(6)), -1);  // Bold over all of it outlasts the bound
  EXPECT_NE(Log().find("nicht rechtzeitig geantwortet"), std::string::npos) << Log();
  // The next request meets an engine that is free again: served within its own bound.
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(Text(HS_LOADFROMFILE, Path("small.htm")), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(BoundMs));  // hang guard
  EXPECT_EQ(Text(HS_LOADFROMFILE, Path("small.htm")), 1);
  EXPECT_EQ(Exec(Command(6)), 1);
  EXPECT_EQ(Text(HS_SAVETOFILE, Path("small-bold.htm")), 1);
  EXPECT_NE(ReadAll(Path("small-bold.htm")).find("<b>klein</b>"), std::string::npos);
}

// A mail of about ABytes in many short lines; with AInvalid, bytes that are not UTF-8 in every line.
std::string LongMail(std::size_t ABytes, bool AInvalid) {
  std::string mail = "<html><head><meta charset=\"utf-8\"></head><body>";
  for (int i = 0; mail.size() < ABytes; ++i) {
    mail += "<p>Zeile " + std::to_string(i) + " mit Grüßen aus Wien";
    if (AInvalid) mail += " \xFF\xC3(\x80";
    mail += "</p>\n";
  }
  return mail + "<p>Ende der Mail</p></body></html>";
}

// A bound short enough for the suite; the engine's Indent runs for minutes over these mails.
class RunawayCommands : public Documents {
 protected:
  static constexpr int BoundMs = 5000;
  void SetUp() override { Bus.StartService({{"HTMLSERVICE_DOCUMENT_TIMEOUT_MS", std::to_string(BoundMs)}}); }
};

TEST_F(RunawayCommands, ACommandPastItsBoundLosesNothingButItself) {
  struct TCase {
    std::size_t Size;
    bool Invalid;
    bool SelectAll;
  };
  for (const TCase c : {TCase{64 * 1024, true, false}, TCase{256 * 1024, false, true}}) {
    SCOPED_TRACE(std::to_string(c.Size / 1024) + " KB");
    WriteFile(Path("long.htm"), LongMail(c.Size, c.Invalid));
    ASSERT_EQ(Text(HS_LOADFROMFILE, Path("long.htm")), 1);
    ASSERT_EQ(Text(HS_PASTEPLAINSTART, "Anrede "), 1);  // an edit that exists only in the engine
    ASSERT_EQ(Text(HS_SAVETOFILE, Path("before.htm")), 1);
    if (c.SelectAll) {
      EXPECT_EQ(Exec(Command(64)), 1);
    }
    EXPECT_EQ(Exec(Command(20)), -1);  // Indent
    EXPECT_NE(Log().find("nicht rechtzeitig geantwortet"), std::string::npos);
    // The document is back as it was before the command, edits included.
    EXPECT_EQ(Text(HS_SAVETOFILE, Path("after.htm")), 1);
    const std::string before = ReadAll(Path("before.htm"));
    const std::string after = ReadAll(Path("after.htm"));
    EXPECT_EQ(after, before);
    EXPECT_EQ(after.find("<blockquote"), std::string::npos);
    EXPECT_EQ(Text(HS_PASTEHTMLEND, "<p>Nachtrag</p>"), 1);
    EXPECT_EQ(Text(HS_SAVETOFILE, Path("after.htm")), 1);
    const std::string edited = ReadAll(Path("after.htm"));
    for (const char* part : {"Anrede", "Zeile 0 mit Grüßen", "Ende der Mail", "Nachtrag"})
      EXPECT_NE(edited.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(Log().find("muss neu geladen werden"), std::string::npos);
}

}  // namespace
}  // namespace zb::test
