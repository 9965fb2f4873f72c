// The editor over the real engine: life cycle, saving and loading, design mode, content access,
// commands and text ranges, documents that are not HTML, and a dying web process.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <webkit2/webkit2.h>

#include "htmledit/zbHtmlCmds.h"
#include "support/zbFileCtrl.h"
#include "tests/TestEnv.h"
#include "tests/htmledit/zbHtmlEdTestEnv.h"

namespace zb::test {
namespace {

// The engine's own crash path: the web process is ended under it.
bool KillWebProcess(TzbHtmlEdit& AEdit) {
  webkit_web_view_terminate_web_process(WEBKIT_WEB_VIEW(AEdit.Widget()));
  return WaitOnMainContext([&] { return AEdit.DefaultInterface().EngineFailed(); }, 10000);
}

class HtmlEdit : public ::testing::Test {
 protected:
  TzbHtmlEdit& E = *GEdit;
  TTempDir Dir;
  void Load(const std::string& AHtml, const std::string& AName = "doc.htm") {
    ASSERT_TRUE(LoadAndWait(E, Dir.Write(AName, AHtml)));
  }
};

TEST_F(HtmlEdit, OptionsAmbientMaskAndHostAnswers) {
  EXPECT_EQ(static_cast<std::uint32_t>(E.DownloadOptionValue()), 0x800017F0u);
  EXPECT_EQ(E.UserInterfaceValue(), 0x141B4u);
  EXPECT_TRUE(E.ReplaceCaption());
  EXPECT_FALSE(E.EnableDDE());
  EXPECT_EQ(E.PrintOptions().Orientation(), poPortrait);

  bool InvokeCalled = false;
  E.OnInvoke = [&](TzbCustomHtmlEdit&, std::int32_t, std::uint16_t, TVariant*) {
    InvokeCalled = true;
    return S_OK;
  };
  TVariant Mask;
  EXPECT_EQ(E.Invoke(DISPID_AMBIENT_DLCONTROL, DISPATCH_PROPERTYGET, &Mask), S_OK);
  EXPECT_EQ(Mask, TVariant(static_cast<std::int32_t>(0x800017F0u)));
  EXPECT_FALSE(InvokeCalled);
  E.Invoke(-5501, DISPATCH_PROPERTYGET, &Mask);
  EXPECT_TRUE(InvokeCalled);
  E.OnInvoke = nullptr;

  void* Out = &Mask;
  EXPECT_EQ(E.ShowContextMenu(0, {}), S_FALSE);
  EXPECT_EQ(E.GetDropTarget(Out), S_OK);
  EXPECT_EQ(Out, nullptr);
  Out = &Mask;
  EXPECT_EQ(E.GetExternal(Out), S_FALSE);
  EXPECT_EQ(Out, nullptr);
  EXPECT_EQ(E.QueryService(CGID_MSHTML, CGID_MSHTML, Out), E_NOINTERFACE);
  std::uint32_t Count = 7;
  EXPECT_EQ(E.GetTypeInfoCount(Count), E_NOTIMPL);
  EXPECT_EQ(Count, 0u);
  TDocHostUIInfo Info;
  EXPECT_EQ(E.GetHostInfo(Info), S_OK);
  EXPECT_EQ(Info.cbSize, 20u);
  EXPECT_EQ(Info.dwFlags, 0x141B4u);
  std::u16string Key;
  EXPECT_EQ(E.GetOverrideKeyPath(Key), S_OK);
  EXPECT_EQ(E.ShowHelp(u"", 0, 0), S_FALSE);
  EXPECT_EQ(E.Exec(nullptr, 1, 0, {}, nullptr), OLECMDERR_E_UNKNOWNGROUP);
  bool Cancelled = false;
  E.OnRefresh = [&](TzbCustomHtmlEdit&, std::int32_t, bool& Cancel) { Cancel = Cancelled = true; };
  EXPECT_EQ(E.Exec(&CGID_DocHostCommandHandler, 2300, 0, {}, nullptr), S_OK);
  EXPECT_TRUE(Cancelled);
  E.OnRefresh = nullptr;
  EXPECT_EQ(E.Exec(&CGID_DocHostCommandHandler, 2300, 0, {}, nullptr), OLECMDERR_E_NOTSUPPORTED);

  // The service's layout: the mask follows the set at once.
  using O = TDownloadControlOption;
  E.SetDownloadOptions({O::DLCTL_NO_SCRIPTS, O::DLCTL_NO_JAVA, O::DLCTL_NO_RUNACTIVEXCTLS, O::DLCTL_NO_DLACTIVEXCTLS,
                        O::DLCTL_NO_FRAMEDOWNLOAD, O::DLCTL_FORCEOFFLINE, O::DLCTL_SILENT, O::DLCTL_OFFLINE});
  E.Invoke(DISPID_AMBIENT_DLCONTROL, DISPATCH_PROPERTYGET, &Mask);
  EXPECT_EQ(Mask, TVariant(static_cast<std::int32_t>(0xD0001780u)));
  E.SetDownloadOptions(TzbHtmlEdit::DefaultDownloadOptions);
}

TEST_F(HtmlEdit, BlankDocumentFileIsUniqueAndLoads) {
  std::u16string Plain = GetTempFolder() + BlankDocumentName + BlankDocumentExt;
  E.AssignDocument();
  std::u16string First = E.BlankDocumentFile();
  ASSERT_TRUE(FileExists(First));
  EXPECT_EQ(ReadFileBytes(First), "<html><div>&nbsp;</div></html>");
  ASSERT_TRUE(E.WaitForComplete());
  EXPECT_EQ(E.GetDocumentFilename().substr(0, 8), u"file:///");
  // The plain name is taken now, so the next one is a numbered variant.
  ASSERT_TRUE(FileExists(Plain));
  E.Clear();
  EXPECT_NE(E.BlankDocumentFile(), Plain);
  EXPECT_NE(E.BlankDocumentFile(), First);
  EXPECT_TRUE(E.WaitForComplete());
  EXPECT_EQ(BodyText(E), u"\u00A0");
  // The engine shows the second one only: the first is gone, so they never pile up.
  EXPECT_FALSE(FileExists(First));
  const std::u16string Second = E.BlankDocumentFile();
  ASSERT_TRUE(FileExists(Second));
  // A file that is no longer the blank text is no blank document of ours: it stays.
  WriteFileAtomic(Second, "fremd");
  Load("<html><body><p>x</p></body></html>");
  EXPECT_EQ(ReadFileBytes(Second), "fremd");
  EXPECT_TRUE(E.BlankDocumentFile().empty());
  std::remove(Utf16ToUtf8(Second).c_str());
}

TEST_F(HtmlEdit, DesignModeRoundTripAndSaveOnNextLoad) {
  std::string File = Dir.Write("edit.htm", "<html><body><p>one</p></body></html>");
  ASSERT_TRUE(LoadAndWait(E, File));
  EXPECT_FALSE(E.GetDesignMode());
  E.SetDesignMode(true);
  EXPECT_TRUE(E.GetDesignMode());
  EXPECT_TRUE(SameTextEx(E.DOC()->designMode(), u"on", false));
  IHtmlTextRange R = E.HtmlTextRange();
  ASSERT_TRUE(R.TextRange);
  R.TextRange->collapse(true);
  R.TextRange->moveEnd(u"character", 2147483647);
  R.TextRange->moveStart(u"character", 2147483647);
  R.PasteHTML(u"<b>two</b>");
  // A design-mode document is written back to its own file before the next one loads.
  Load("<html><body>next</body></html>", "next.htm");
  EXPECT_FALSE(E.GetDesignMode());
  EXPECT_NE(ReadAll(File).find("<b>two</b>"), std::string::npos) << ReadAll(File);

  E.SetDesignMode(false);
  EXPECT_FALSE(E.GetDesignMode());
  // While loading, design mode is left alone.
  E.LoadFromFile(Utf8ToUtf16(File), true);
  E.SetDesignMode(true);
  ASSERT_TRUE(E.WaitForComplete());
  EXPECT_FALSE(E.GetDesignMode());
}

TEST_F(HtmlEdit, LoadFromFileOfAMissingFileStillCompletes) {
  int Completed = 0;
  E.OnDocumentComplete = [&](TWebBrowser&, std::u16string_view) { ++Completed; };
  EXPECT_EQ(E.LoadFromFile(Utf8ToUtf16(Dir.Path + "/missing.htm"), true), 0);
  EXPECT_TRUE(E.WaitForComplete());
  Pump(100);
  EXPECT_EQ(Completed, 1);
  E.OnDocumentComplete = nullptr;
  EXPECT_EQ(BodyText(E), u"");
}

TEST_F(HtmlEdit, SaveAndLoadKeepTheDocumentAndItsCharacterSet) {
  Load(
      "<html><head><meta charset=\"windows-1252\"><title>t</title></head><body>Gr\xFC\xDF"
      "e</body></html>");
  std::string Bytes;
  EXPECT_EQ(E.SaveToStream(Bytes), S_OK);
  EXPECT_NE(Bytes.find("Gr\xFC\xDF"
                       "e"),
            std::string::npos);
  // A character the document's set lacks survives as a character reference.
  IHtmlTextRange R = E.HtmlTextRange();
  E.SetDesignMode(true);
  R = E.HtmlTextRange();
  R.TextRange->moveStart(u"character", -100);
  R.TextRange->moveEnd(u"character", 100);
  R.TextRange->put_text(u"\u20AC \u4E2D");
  Bytes.clear();
  ASSERT_EQ(E.SaveToStream(Bytes), S_OK);
  EXPECT_NE(Bytes.find("\x80 &#20013;"), std::string::npos) << Bytes;

  std::string Out = Dir.Path + "/saved.htm";
  EXPECT_EQ(E.SaveToFile(Utf8ToUtf16(Out)), S_OK);
  EXPECT_EQ(ReadAll(Out), Bytes);
  EXPECT_LT(E.SaveToFile(Utf8ToUtf16(Dir.Path + "/no/such/folder/x.htm")), 0);

  TStringList Lines;
  ASSERT_EQ(E.SaveToStrings(Lines), S_OK);
  ASSERT_FALSE(Lines.empty());
  EXPECT_EQ(E.LoadFromStrings({u"<html><body>\u00E4 \u4E2D lines</body></html>"}), S_OK);
  EXPECT_EQ(BodyText(E), u"\u00E4 \u4E2D lines");
  EXPECT_EQ(E.LoadFromStream("<p>from bytes</p>"), S_OK);
  EXPECT_EQ(BodyText(E), u"from bytes");
}

TEST_F(HtmlEdit, HeaderCutRules) {
  Load("<HTML><HEAD><TITLE>x</TITLE></HEAD>\r\n<BODY>b</BODY></HTML>");
  std::u16string Header = E.GetDocumentHeader();
  // The engine writes its own serialisation; the cut rule is what matters.
  ASSERT_GE(Header.size(), 8u);
  EXPECT_TRUE(SameTextEx(Header.substr(Header.size() - 8, 7), u"</head>", false)) << Utf16ToUtf8(Header);
  std::u16string Source = E.GetDocumentSource();
  EXPECT_EQ(Source.substr(0, Header.size()), Header);
  EXPECT_EQ(Header.back(), Source[Header.size() - 1]);
}

TEST_F(HtmlEdit, PlainTextExportInAnsi) {
  Load(
      "<html><head><meta charset=utf-8></head><body><p>Gr\xC3\xBC\xC3\x9F"
      "e \xE2\x82\xAC \xE4\xB8\xAD</p>"
      "<script>var hidden = 1;</script></body></html>");
  std::string Out = Dir.Path + "/plain.txt";
  EXPECT_EQ(E.SaveToPlainFile(Utf8ToUtf16(Out)), 0);
  EXPECT_EQ(ReadAll(Out),
            "Gr\xFC\xDF"
            "e \x80 ?");
  EXPECT_EQ(E.SaveToPlainFile(Utf8ToUtf16(Dir.Path + "/no/such/dir/p.txt")), 1);
  EXPECT_EQ(E.SaveToPlainFile(u""), 1);
}

TEST_F(HtmlEdit, TextRangesCountAnImageAsOneCharacterAndNoWhitespaceBetweenBlocks) {
  Load("<html><body>\n <p>ab<img src=\"x.gif\">cd</p>\n <p>ef<br></p>\n</body></html>");
  E.SetDesignMode(true);
  auto R = E.HtmlTextRange().TextRange;
  ASSERT_TRUE(R);
  R->collapse(true);
  EXPECT_EQ(R->moveEnd(u"character", -2147483647), 0);
  EXPECT_EQ(R->moveEnd(u"character", 2147483647), 8);  // a b image c d e f line break
  R->collapse(true);
  EXPECT_EQ(R->moveEnd(u"character", 3), 3);
  EXPECT_EQ(R->moveStart(u"character", 2), 2);
  EXPECT_EQ(R->htmlText(), u"<img src=\"x.gif\">");
  EXPECT_EQ(R->moveStart(u"character", 1), 1);
  EXPECT_EQ(R->moveEnd(u"character", 2), 2);
  EXPECT_EQ(R->text(), u"cd");
  E.SetDesignMode(false);
}

TEST_F(HtmlEdit, DefaultBodyStyleAndCurrentFont) {
  Load("<html><body><p><font face='&quot;Times New Roman&quot;, serif'><b>bold</b></font></p></body></html>");
  E.SetDefaultBodyStyle(u"Tahoma", 10);
  auto Style = E.DOC()->body()->style();
  EXPECT_EQ(Style->fontSize(), u"10pt");
  EXPECT_EQ(Style->fontFamily(), u"Tahoma");
  E.SetDesignMode(true);
  IHtmlTextRange R = E.HtmlTextRange();
  ASSERT_TRUE(R.TextRange);
  R.TextRange->moveStart(u"character", 1);
  R.TextRange->moveEnd(u"character", 1);
  R.TextRange->select();
  TFontInfo F = E.CurrentFontInfo();
  EXPECT_EQ(F.Fontname, u"Times New Roman");
  EXPECT_EQ(F.Size, 10);
  EXPECT_TRUE(F.FontStyle.Contains(TFontStyle::fsBold));
  EXPECT_FALSE(F.FontStyle.Contains(TFontStyle::fsItalic));
  EXPECT_FALSE(F.FontStyle.Contains(TFontStyle::fsStrikeOut));
  E.SetDesignMode(false);
}

TEST_F(HtmlEdit, TextRangeMovesClampAtTheEnds) {
  Load("<html><body><p>abc</p><p>def</p></body></html>");
  E.SetDesignMode(true);
  auto R = E.HtmlTextRange().TextRange;
  ASSERT_TRUE(R);
  R->collapse(true);
  EXPECT_EQ(R->moveEnd(u"character", -2147483647), 0);
  EXPECT_EQ(R->moveStart(u"character", 0), 0);
  EXPECT_EQ(R->moveEnd(u"character", 4), 4);
  EXPECT_EQ(R->text(), u"abcd");
  EXPECT_EQ(R->moveEnd(u"character", 2147483647), 2);
  EXPECT_EQ(R->moveStart(u"character", 2147483647), 6);
  EXPECT_EQ(R->text(), u"");
  EXPECT_THROW(R->moveStart(u"word", 1), EzbOleError);
  R->put_text(u"<b>x</b>");
  EXPECT_EQ(BodyText(E), u"abc\n\ndef<b>x</b>");
  R = E.HtmlTextRange().TextRange;
  R->collapse(true);
  R->moveEnd(u"character", -2147483647);
  R->select();
  IHtmlTextRange P{R};
  // Two ANSI characters that are the bytes of UTF-8 become the one character they encode.
  EXPECT_TRUE(P.PasteHTMLUTF8(u"\u00C3\u00A4<i>!</i>"));
  EXPECT_EQ(BodyText(E).substr(0, 3), u"\u00E4!a");
  EXPECT_THROW(IHtmlTextRange{}.PasteHTML(u"x"), EzbOleError);
  E.SetDesignMode(false);
}

TEST_F(HtmlEdit, EveryCommandRunsOrFailsCleanly) {
  std::string Doc = "<html><body><p>Hello <a name=m>mark</a> world</p></body></html>";
  Load(Doc);
  std::string Table;
  for (int Id = 1; Id <= HtmlCommandCount; ++Id) {
    std::u16string Name = HtmlCommandName(Id);
    if (Name == u"Print" || Name == u"Open" || Name == u"Refresh" || Name == u"Stop" || Name == u"SaveAs" ||
        Name == u"Paste" || Name == u"Cut" || Name == u"Copy")
      continue;  // dialogs, navigation and the clipboard are covered elsewhere
    Load(Doc);
    E.SetDesignMode(true);
    auto D = E.DOC();
    ASSERT_TRUE(D->execCommand(u"SelectAll", false, std::int32_t(0)));
    bool Supported = D->queryCommandSupported(Name);
    TVariant Value = Name == u"CreateBookmark" ? TVariant(std::u16string(u"bm")) : TVariant{};
    try {
      D->execCommand(Name, false, Value);
      EXPECT_TRUE(Supported) << Utf16ToUtf8(Name);
    } catch (const EzbOleError&) {
      EXPECT_FALSE(Supported) << Utf16ToUtf8(Name);
    }
    Table += Utf16ToUtf8(Name) + (Supported ? " yes\n" : " no\n");
    EXPECT_NE(E.DOC(), nullptr);
    E.SetDesignMode(false);  // or the next load writes this document back over the original
  }
  Load(Doc);
  E.SetDesignMode(true);
  auto D = E.DOC();
  D->execCommand(u"SelectAll", false, std::int32_t(0));
  EXPECT_TRUE(D->execCommand(u"Bold", false, {}));
  EXPECT_NE(E.GetDocumentSource().find(u"<b>"), std::u16string::npos) << Utf16ToUtf8(E.GetDocumentSource());
  EXPECT_THROW(D->execCommand(u"", false, {}), EzbOleError);
  EXPECT_THROW(D->execCommand(u"NoSuchCommand", false, {}), EzbOleError);
  D->execCommand(u"SelectAll", false, std::int32_t(0));
  EXPECT_TRUE(D->execCommand(u"BlockDirRTL", false, {}));
  EXPECT_NE(E.GetDocumentSource().find(u"dir=\"rtl\""), std::u16string::npos);
  std::string SaveAs = Dir.Path + "/saveas.htm";
  EXPECT_TRUE(D->execCommand(u"SaveAs", false, Utf8ToUtf16(SaveAs)));
  EXPECT_TRUE(std::filesystem::exists(SaveAs));
  E.SetDesignMode(false);
  if (::testing::Test::HasFailure()) std::cerr << Table;
}

TEST_F(HtmlEdit, CommandTarget) {
  Load("<html><body><p>text</p></body></html>");
  TVariant Out;
  EXPECT_EQ(E.InvokeCMD(false, OLECMDID_SELECTALL, OLECMDEXECOPT_DONTPROMPTUSER), S_OK);
  EXPECT_EQ(E.HtmlTextRange().TextRange->text(), u"text");
  EXPECT_EQ(E.InvokeCMD(false, OLECMDID_GETZOOMRANGE, 0, {}, &Out), S_OK);
  EXPECT_EQ(Out, TVariant(std::int32_t(4 << 16)));
  EXPECT_EQ(E.InvokeCMD(false, OLECMDID_ZOOM, 0, std::int32_t(4), &Out), S_OK);
  EXPECT_EQ(E.InvokeCMD(false, OLECMDID_ZOOM, 0, {}, &Out), S_OK);
  EXPECT_EQ(Out, TVariant(std::int32_t(4)));
  EXPECT_EQ(E.InvokeCMD(false, OLECMDID_ZOOM, 0, std::int32_t(9), &Out), E_INVALIDARG);
  EXPECT_EQ(E.InvokeCMD(false, OLECMDID_COPY, 0), S_OK);
  // The browser group has find, view source and options (their dialogs are tested on their own).
  EXPECT_EQ(E.InvokeCMD(true, 99, 0), OLECMDERR_E_NOTSUPPORTED);
  // The engine has its print command (the service's tests print through it) and its open dialog.
  EXPECT_TRUE(E.DOC()->queryCommandSupported(u"Print"));
  EXPECT_TRUE(E.DOC()->queryCommandSupported(u"Open"));
}

TEST_F(HtmlEdit, ZoomIsClampedToTheEnginesRange) {
  Load("<html><body><p>text</p></body></html>");
  EXPECT_EQ(E.ZoomRange().Low, 0);
  EXPECT_EQ(E.ZoomRange().High, 4);
  E.Zoom(10);
  EXPECT_EQ(E.ZoomValue(), 4);
  E.Zoom(-1);
  EXPECT_EQ(E.ZoomValue(), 0);
  E.Zoom(3);
  EXPECT_EQ(E.ZoomValue(), 3);
}

TEST_F(HtmlEdit, FramesAndThumbnail) {
  Dir.Write("inner.htm", "<html><body>inner</body></html>");
  Load("<html><body><iframe src='inner.htm'></iframe><object data='inner.htm'></object>x</body></html>");
  EXPECT_EQ(E.FrameCount(), 2);
  EXPECT_EQ(E.GetFrame(5), nullptr);
  TzbImage Image;
  EXPECT_FALSE(E.GetThumbnail(Image));
  Image.Width = 64;
  Image.Height = 48;
  ASSERT_TRUE(E.GetThumbnail(Image));
  EXPECT_EQ(Image.Pixels.size(), 64u * 48u);
}

TEST_F(HtmlEdit, DocumentsThatAreNotHtmlLoadWithoutHarm) {
  static const unsigned char Png[] = {
      0x89, 'P',  'N',  'G',  0x0D, 0x0A, 0x1A, 0x0A, 0,    0,    0,   0x0D, 'I',  'H',  'D',  'R',  0,
      0,    0,    1,    0,    0,    0,    1,    8,    6,    0,    0,   0,    0x1F, 0x15, 0xC4, 0x89, 0,
      0,    0,    0x0A, 'I',  'D',  'A',  'T',  0x78, 0x9C, 0x63, 0,   1,    0,    0,    5,    0,    1,
      0x0D, 0x0A, 0x2D, 0xB4, 0,    0,    0,    0,    'I',  'E',  'N', 'D',  0xAE, 0x42, 0x60, 0x82};
  struct TCase {
    const char* Name;
    std::string Bytes;
  };
  std::string Nested;
  for (int I = 0; I < 20000; ++I) Nested += "<div><span>";
  Nested += "deep";
  std::string Big = "<html><body>";
  std::string Para = "<p>";
  while (Para.size() < 16384) Para += "A line of a very large mail body, repeated. ";
  Para += "</p>\n";
  while (Big.size() < 50u * 1024 * 1024) Big += Para;
  Big += "</body></html>";
  TCase Cases[] = {
      {"image.png", std::string(reinterpret_cast<const char*>(Png), sizeof Png)},
      {"doc.pdf", "%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n"},
      {"empty.htm", ""},
      {"bad-utf8.htm", "<html><head><meta charset=utf-8></head><body>\xC3\x28 \xFF\xFE \xED\xA0\x80 ok</body></html>"},
      {"nested.htm", Nested},
      {"big.htm", Big},
  };
  E.SetWaitTimeout(180000);  // the 50 MB document takes its time under a virtual display
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    ASSERT_TRUE(LoadAndWait(E, Dir.Write(C.Name, C.Bytes)));
    EXPECT_FALSE(E.DefaultInterface().EngineFailed());
    std::string Out = Dir.Path + "/out.txt";
    E.SaveToPlainFile(Utf8ToUtf16(Out));
    std::u16string Source = E.GetDocumentSource();
    if (std::string(C.Name) == "image.png") {
      EXPECT_EQ(E.DOC()->images()->length(), 1);
    }
    if (std::string(C.Name) == "bad-utf8.htm") {
      EXPECT_NE(BodyText(E).find(u"ok"), std::u16string::npos);
    }
    if (std::string(C.Name) == "big.htm") {
      EXPECT_GT(Source.size(), 50u * 1024 * 1024);
    }
  }
  E.SetWaitTimeout(DefaultWaitTimeoutMs);
}

TEST_F(HtmlEdit, NoDocumentAnswers) {
  // A dying web process ends the document; every operation then answers as without one.
  Load("<html><body>alive</body></html>");
  E.DefaultInterface().Stop();
  auto Old = E.DOC();
  ASSERT_TRUE(Old);
  ASSERT_TRUE(KillWebProcess(E));
  EXPECT_EQ(E.DOC(), nullptr);
  EXPECT_THROW(Old->body(), EzbOleError);
  std::string Bytes;
  EXPECT_EQ(E.SaveToStream(Bytes), S_FALSE);
  EXPECT_EQ(E.SaveToFile(Utf8ToUtf16(Dir.Path + "/x.htm")), S_FALSE);
  EXPECT_EQ(E.GetDocumentSource(), u"");
  EXPECT_EQ(E.GetDocumentHeader(), u"");
  EXPECT_EQ(E.SaveToPlainFile(Utf8ToUtf16(Dir.Path + "/x.txt")), 1);
  EXPECT_FALSE(E.GetDesignMode());
  EXPECT_EQ(E.GetDocumentFilename(), u"");
  EXPECT_EQ(E.InvokeCMD(false, OLECMDID_ZOOM, 0), S_FALSE);
  EXPECT_EQ(E.HtmlTextRange().TextRange, nullptr);
  EXPECT_EQ(E.CurrentFontInfo().Size, 0);
  E.SetDefaultBodyStyle(u"Tahoma", 10);
  // The next request starts from a fresh document.
  E.SetDesignMode(true);
  ASSERT_TRUE(E.WaitForComplete());
  E.SetDesignMode(true);
  EXPECT_TRUE(E.GetDesignMode());
  EXPECT_EQ(BodyText(E), u"\u00A0");
  E.SetDesignMode(false);
}

}  // namespace
}  // namespace zb::test

namespace zb::test {
namespace {

// A document may not replace itself: a refresh would drop the user's edits or pull another local file in.
TEST_F(HtmlEdit, MetaRefreshNeitherReloadsNorSwapsInAnotherFile) {
  const std::string secret = Dir.Write("secret.txt", "SECRET-CONTENT");
  Load("<html><head><meta http-equiv=\"refresh\" content=\"0;url=file://" + secret +
       "\"></head><body>mail</body></html>");
  Pump(1500);
  EXPECT_EQ(BodyText(E), u"mail");
  Load("<html><head><meta http-equiv=\"refresh\" content=\"1\"></head><body>orig</body></html>", "self.htm");
  E.SetDesignMode(true);
  IHtmlTextRange R = E.HtmlTextRange();
  R.TextRange->collapse(false);
  R.TextRange->moveStart(u"character", 100);
  R.PasteHTML(u"<b>PASTED</b>");
  Pump(2000);
  EXPECT_EQ(BodyText(E), u"origPASTED");
}

TEST_F(HtmlEdit, AStoppedOrReplacedLoadDoesNotBlockTheNextOne) {
  const std::string a = Dir.Write("a.htm", "<p>A</p>"), b = Dir.Write("b.htm", "<p>B</p>");
  E.LoadFromFile(Utf8ToUtf16(a), true);
  E.DefaultInterface().Stop();
  ASSERT_TRUE(LoadAndWait(E, b));
  EXPECT_EQ(BodyText(E), u"B");
  E.LoadFromFile(Utf8ToUtf16(a), true);
  ASSERT_TRUE(LoadAndWait(E, b));  // replaces the load of a before it finished
  EXPECT_EQ(BodyText(E), u"B");
  ASSERT_TRUE(LoadAndWait(E, a));
  EXPECT_EQ(BodyText(E), u"A");
}

TEST_F(HtmlEdit, SavedDocumentsReadBackInTheirOwnCharacterSet) {
  // UTF-8 named only by its byte-order mark keeps the mark.
  Load(
      "\xEF\xBB\xBF<html><body>Gr\xC3\xBC\xC3\x9F"
      "e</body></html>",
      "bom.htm");
  std::string out = Dir.Path + "/bom-saved.htm";
  ASSERT_EQ(E.SaveToFile(Utf8ToUtf16(out)), S_OK);
  ASSERT_TRUE(LoadAndWait(E, out));
  EXPECT_EQ(BodyText(E), u"Grüße");
  // UTF-16 likewise.
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : std::u16string(u"<html><body>\u05E9\u05DC\u05D5\u05DD</body></html>")) {
    utf16 += static_cast<char>(c & 0xFF);
    utf16 += static_cast<char>(c >> 8);
  }
  Load(utf16, "utf16.htm");
  out = Dir.Path + "/utf16-saved.htm";
  ASSERT_EQ(E.SaveToFile(Utf8ToUtf16(out)), S_OK);
  ASSERT_TRUE(LoadAndWait(E, out));
  EXPECT_EQ(BodyText(E), u"\u05E9\u05DC\u05D5\u05DD");
  // A set iconv knows under another name.
  Load("<html><head><meta charset=\"ISO-8859-8-I\"></head><body>\xF9\xEC\xE5\xED</body></html>", "hebrew.htm");
  out = Dir.Path + "/hebrew-saved.htm";
  ASSERT_EQ(E.SaveToFile(Utf8ToUtf16(out)), S_OK);
  ASSERT_TRUE(LoadAndWait(E, out));
  EXPECT_EQ(BodyText(E), u"\u05E9\u05DC\u05D5\u05DD");
}

// A load without history hands an HTML file over as its bytes; the engine must still find the same
// character set and type as when it reads the file itself, and the history must not grow.
TEST_F(HtmlEdit, ALoadWithoutHistoryGivesTheSameDocumentAsTheFile) {
  std::string utf16le = "\xFF\xFE", utf16be = "\xFE\xFF";
  for (char16_t c : std::u16string(u"<p>\u05E9\u05DC\u05D5\u05DD \u20AC</p>")) {
    utf16le += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    utf16be += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
  }
  const std::string longComment = "<!--" + std::string(1500, 'x') + "-->";
  const std::pair<const char*, std::string> Files[] = {
      {"latin.htm",
       "<p>Gr\xFC\xDF"
       "e \x80</p>"},
      {"utf8-unnamed.htm",
       "<p>Gr\xC3\xBC\xC3\x9F"
       "e</p>"},
      {"utf8-bom.htm",
       "\xEF\xBB\xBF<p>Gr\xC3\xBC\xC3\x9F"
       "e</p>"},
      {"utf16le.htm", utf16le},
      {"utf16be.htm", utf16be},
      {"greek.htm", "<meta charset=iso-8859-7><p>\xE1\xE2\xE3</p>"},
      {"koi8.htm",
       "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=koi8-r\"></head><p>\xD0\xD2</p>"},
      {"late-head.htm", "<head><title>t</title>" + longComment + "<meta charset=windows-1251></head><p>\xCF\xF0</p>"},
      {"late-body.htm", "<body>" + longComment + "<meta charset=windows-1251><p>\xCF\xF0</p>"},
      {"meta-utf16.htm",
       "<meta charset=utf-16><p>Gr\xC3\xBC\xC3\x9F"
       "e</p>"},
      {"unknown-label.htm",
       "<meta charset=x-kein-zeichensatz><p>Gr\xFC\xDF"
       "e</p>"},
      {"xml-decl.htm", "<?xml version=\"1.0\" encoding=\"iso-8859-2\"?><html><body><p>\xB1\xB6</p></body></html>"},
      {"UPPER.HTM",
       "<p>Gr\xFC\xDF"
       "e</p>"},
      {"empty.htm", ""},
      {"plain.txt",
       "Gr\xC3\xBC\xC3\x9F"
       "e <p>kein HTML</p>"},
      {"data.xml",
       "<?xml version=\"1.0\"?><brief>Gr\xC3\xBC\xC3\x9F"
       "e</brief>"},
  };
  WebKitBackForwardList* History = webkit_web_view_get_back_forward_list(WEBKIT_WEB_VIEW(E.Widget()));
  for (const auto& [Name, Bytes] : Files) {
    SCOPED_TRACE(Name);
    const std::u16string File = Utf8ToUtf16(Dir.Write(Name, Bytes));
    E.LoadFromFile(File, false);
    ASSERT_TRUE(E.WaitForComplete());
    const std::u16string Text = BodyText(E), Charset = E.DOC()->charset(), Type = E.DOC()->contentType(),
                         Url = E.DOC()->url();
    const guint Entries = webkit_back_forward_list_get_length(History);
    E.LoadFromFile(File, false, navNoHistory);
    ASSERT_TRUE(E.WaitForComplete());
    EXPECT_EQ(BodyText(E), Text);
    EXPECT_EQ(E.DOC()->charset(), Charset);
    EXPECT_EQ(E.DOC()->contentType(), Type);
    EXPECT_EQ(E.DOC()->url(), Url);
    if (std::string_view(Name).ends_with(".htm") || std::string_view(Name).ends_with(".HTM")) {
      EXPECT_EQ(webkit_back_forward_list_get_length(History), Entries);
    }
  }
}

// A load for reading takes the text the document posted at its end; it must be the finished
// document's (its own style sheet applied) and must never stand for a document changed since.
TEST_F(HtmlEdit, TextPostedAtTheLoadsEndIsTheFinishedDocumentsAndGoesStaleOnAChange) {
  Dir.Write("hide.css", ".weg{display:none}");
  const std::string File = Dir.Write("styled.htm",
                                     "<html><head><link rel=stylesheet href=hide.css></head><body><p>sichtbar</p>"
                                     "<p class=weg>verborgen</p><p>Gr\xFC\xDF"
                                     "e</p></body></html>");
  ASSERT_TRUE(LoadAndWait(E, File));
  const std::optional<std::u16string> Expected = E.DOC()->bodyText();
  ASSERT_TRUE(Expected);
  EXPECT_EQ(Expected->find(u"verborgen"), std::u16string::npos);

  E.LoadFromFile(Utf8ToUtf16(File), false, navNoHistory | navReadBodyText);
  ASSERT_TRUE(E.WaitForComplete());
  EXPECT_EQ(E.DOC()->contentType(), u"text/html");
  EXPECT_EQ(E.DOC()->bodyText(), Expected);
  EXPECT_EQ(E.DOC()->bodyText(), Expected);  // the second read as the first

  E.SetDesignMode(true);
  IHtmlTextRange R = E.HtmlTextRange();
  R.TextRange->collapse(false);
  R.TextRange->moveStart(u"character", 100);
  R.PasteHTML(u"<b>NEU</b>");
  const std::optional<std::u16string> Changed = E.DOC()->bodyText();
  ASSERT_TRUE(Changed);
  EXPECT_NE(Changed->find(u"NEU"), std::u16string::npos) << Utf16ToUtf8(*Changed);
  E.SetDesignMode(false);

  // A frameset document posts what a read of it gives.
  E.LoadFromFile(Utf8ToUtf16(Dir.Write("frames.htm", "<html><frameset cols=*><frame src=x.htm></frameset></html>")),
                 false, navNoHistory | navReadBodyText);
  ASSERT_TRUE(E.WaitForComplete());
  const auto FramesetText = E.DOC()->bodyText();
  E.LoadFromFile(Utf8ToUtf16(Dir.Path + "/frames.htm"), false);
  ASSERT_TRUE(E.WaitForComplete());
  EXPECT_EQ(FramesetText, E.DOC()->bodyText());
}

TEST_F(HtmlEdit, PlainTextKeepsItsLinesAndIFramesTakeNoScript) {
  Load("<html><body><p>start</p></body></html>");
  E.SetDesignMode(true);
  IHtmlTextRange R = E.HtmlTextRange();
  R.TextRange->collapse(false);
  R.TextRange->moveStart(u"character", 100);
  R.TextRange->put_text(u"line1\r\nline2\n-- \rsig");
  std::string bytes;
  ASSERT_EQ(E.SaveToStream(bytes), S_OK);
  EXPECT_NE(bytes.find("line1<br>line2<br>-- <br>sig"), std::string::npos) << bytes;
  auto D = E.DOC();
  ASSERT_TRUE(D);
  D->execCommand(u"SelectAll", false, TVariant{});
  D->execCommand(u"InsertIFrame", false, TVariant(std::u16string(u"javascript:parent.document.title='RAN'")));
  Pump(500);
  bytes.clear();
  ASSERT_EQ(E.SaveToStream(bytes), S_OK);
  EXPECT_EQ(bytes.find("RAN</title>"), std::string::npos);
  EXPECT_EQ(bytes.find("javascript:"), std::string::npos);
}

}  // namespace
}  // namespace zb::test
