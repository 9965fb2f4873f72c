#include "errors/ExceptDlg.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/zbFileCtrl.h"
#include "support/zbSound.h"
#include "support/zbStr.h"

using namespace zb;
namespace fs = std::filesystem;

namespace {

const std::u16string Separator(100, u'-');

std::u16string ReadUtf16File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  return text;
}

int Count(const TStrings& lines, const std::u16string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

class Report : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCurrentLocale(GermanLocale());
    SetApplicationTitle(u"Vestrum Plumadesk 5.0 - HTML Service");
    TzbExceptionHandler::SetApplicationFileage(0);
    StartExceptionTracking();
    char pattern[] = "/tmp/zbexcept-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    FDir = pattern;
    SetLogFolder(Utf8ToUtf16(FDir + "/logs"));
  }
  void TearDown() override {
    fs::remove_all(FDir);
    SetLogFolder(u"");
    TzbExceptionHandler::SetLogFilename(u"");
  }
  std::string FDir;
};

struct TControl : IzbReportControl {
  TControl(std::u16string c, std::u16string n, const TControl* p) : Class(std::move(c)), Nm(std::move(n)), Par(p) {}
  std::u16string ClassName() const override { return Class; }
  std::u16string Name() const override { return Nm; }
  const IzbReportControl* Parent() const override { return Par; }
  std::u16string Class, Nm;
  const TControl* Par;
};

[[gnu::noinline]] void RaiseFromHere() { throw EzbException(u"Fehler <b>fett</b>"); }

}  // namespace

TEST(NiceMHz, Rounding) {
  EXPECT_EQ(RoundToNiceMHz(2394), 2390);
  EXPECT_EQ(RoundToNiceMHz(2395), 2400);
  EXPECT_EQ(RoundToNiceMHz(1666), 1666);
  EXPECT_EQ(RoundToNiceMHz(3309), 3300);
  EXPECT_EQ(RoundToNiceMHz(3310), 3320);
  EXPECT_EQ(RoundToNiceMHz(3327), 3333);
  EXPECT_EQ(RoundToNiceMHz(2999), 3000);
  EXPECT_EQ(RoundToNiceMHz(0), 0);
}

TEST(Message, Normalisation) {
  EXPECT_EQ(NormaliseErrorMessage(u"  Datei fehlt \r\n"), u"Datei fehlt.");
  EXPECT_EQ(NormaliseErrorMessage(u"Schon da."), u"Schon da.");
  EXPECT_EQ(NormaliseErrorMessage(u" \u00A0\t "), u"");
  EXPECT_EQ(NormaliseErrorMessage(u"Zeile 1\nZeile 2"), u"Zeile 1\r\nZeile 2.");
  EXPECT_EQ(NormaliseErrorMessage(u"a\rb\r\nc"), u"a\r\nb\r\nc.");
  EXPECT_EQ(ExceptionMessage(EzbException(u"ä")), u"ä");
  EXPECT_EQ(ExceptionMessage(std::runtime_error("\xC3\xA4")), u"ä");
}

TEST(StackLines, Formats) {
  TzbLocationInfo full;
  full.UnitName = u"Main";
  full.ProcedureName = u"Main.TfrmHtmlService.ExecCmd";
  full.SourceName = u"Main.cpp";
  full.LineNumber = 120;
  EXPECT_EQ(FormatStackLine(0x67A0C4, 0x401000, &full, 100),
            u"(002790C4) [0067A0C4] Main.TfrmHtmlService.ExecCmd (Line 120, \"Main.cpp\" + 20)");
  EXPECT_EQ(FormatStackLine(0x67A0C4, 0x401000, &full, 0),
            u"(002790C4) [0067A0C4] Main.TfrmHtmlService.ExecCmd (Line 120, \"Main.cpp\")");
  TzbLocationInfo dotted = full;
  dotted.UnitName = u"zb.Main";
  dotted.ProcedureName = u"Main.Run";
  dotted.LineNumber = 0;
  EXPECT_EQ(FormatStackLine(0x2000, 0x1000, &dotted, 0), u"(00001000) [00002000] zb.Main.Run");
  TzbLocationInfo bare;
  bare.ProcedureName = u"memcpy";
  EXPECT_EQ(FormatStackLine(0x2000, 0x1000, &bare, 0), u"(00001000) [00002000] memcpy");
  EXPECT_EQ(FormatStackLine(0x2000, 0x1000, nullptr, 0), u"(00001000) [00002000]");
}

extern "C" void _start();  // the program's entry, from the C library's start files: no line information

TEST(StackLines, AFrameWithoutLineInformationOfItsOwnHasNoSourcePosition) {
  const TzbLocationLookup lookup;
  const auto start = reinterpret_cast<std::uintptr_t>(&_start);
  for (std::uintptr_t offset : {1u, 8u, 20u}) {
    const auto info = lookup.Lookup(start + offset);
    ASSERT_TRUE(info) << offset;
    EXPECT_EQ(info->ProcedureName, u"_start") << offset;
    EXPECT_EQ(info->SourceName, u"") << Utf16ToUtf8(info->SourceName) << " " << info->LineNumber;
    EXPECT_EQ(info->UnitName, u"");
    EXPECT_EQ(info->LineNumber, 0u);
  }
  // Code with line information keeps its position.
  const auto own = lookup.Lookup(reinterpret_cast<std::uintptr_t>(&RaiseFromHere) + 4);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->SourceName, u"test_ExceptDlg.cpp");
  EXPECT_GT(own->LineNumber, 0u);
}

TEST(ImagePrefix, PeHeadersAndOthers) {
  std::string pe(512, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3C] = 0x40;
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  pe[0x44] = 0x4C;
  pe[0x45] = 0x01;                // i386
  pe[0x40 + 24 + 28 + 2] = 0x40;  // image base 0x00400000
  EXPECT_EQ(ImageBasePrefix(pe.data(), pe.size(), 0x00400000), std::u16string(ReportIndent));
  EXPECT_EQ(ImageBasePrefix(pe.data(), pe.size(), 0x10000000), u"<00400000> ");
  EXPECT_EQ(std::u16string(u"<00400000> ").size(), ReportIndent.size());
  pe[0x44] = 0x00;  // another machine
  EXPECT_EQ(ImageBasePrefix(pe.data(), pe.size(), 0x10000000), std::u16string(ReportIndent));
  const char elf[64] =
      "\x7F"
      "ELF";
  EXPECT_EQ(ImageBasePrefix(elf, sizeof elf, 0x10000000), std::u16string(ReportIndent));
  EXPECT_EQ(ImageBasePrefix(nullptr, 0, 0), std::u16string(ReportIndent));
  std::string lying = pe;
  lying[0x3C] = '\xF0';
  lying[0x3D] = '\xFF';  // NT header far outside the page
  EXPECT_EQ(ImageBasePrefix(lying.data(), lying.size(), 0), std::u16string(ReportIndent));
}

TEST_F(Report, FiveSectionsWithStackModulesAndControls) {
  try {
    RaiseFromHere();
  } catch (const EzbException&) {
  }
  const TControl form(u"TfrmHtmlService", u"frmHtmlService", nullptr);
  const TControl panel(u"TPanel", u"pnlMain", &form);
  const TControl edit(u"TzbHtmlEdit", u"HtmlEdit", &panel);
  TStrings lines = {u"stale"};
  FillReport(lines, &edit, AllReportSections);
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(lines[0], u"Vestrum Plumadesk 5.0 - HTML Service vom 30.12.1899 00:00");
  EXPECT_EQ(lines[1], Separator);
  EXPECT_EQ(Count(lines, Separator), 5);
  EXPECT_EQ(lines.back(), Separator);
  EXPECT_EQ(lines[2].rfind(u"Stackliste, erzeugt am ", 0), 0u);
  // The innermost frame is the function that raised, found with its source file and line.
  EXPECT_NE(lines[3].find(u"RaiseFromHere"), std::u16string::npos) << Utf16ToUtf8(lines[3]);
  EXPECT_NE(lines[3].find(u"(Line "), std::u16string::npos);
  EXPECT_NE(lines[3].find(u"\"test_ExceptDlg.cpp\""), std::u16string::npos);
  EXPECT_EQ(lines[3][0], u'(');

  const auto at = [&](std::u16string_view prefix) {
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i].rfind(prefix, 0) == 0) return i;
    return lines.size();
  };
  const std::size_t system = at(u"System:     ");
  ASSERT_LT(system, lines.size());
  EXPECT_EQ(lines[system + 1].rfind(u"Prozessor:  ", 0), 0u);
  EXPECT_NE(lines[system + 1].find(u" MHz "), std::u16string::npos);
  EXPECT_EQ(lines[system + 2].rfind(u"Bildschirm: ", 0), 0u);
  EXPECT_NE(lines[system + 2].find(u" pixels, "), std::u16string::npos);
  EXPECT_EQ(lines[system + 3], Separator);
  const std::size_t modules = at(u"Liste geladener Module:");
  ASSERT_LT(modules, lines.size());
  EXPECT_EQ(lines[modules + 1][0], u'[');
  EXPECT_NE(lines[modules + 1].find(u"test_ExceptDlg"), std::u16string::npos);  // the program itself, lowest first
  EXPECT_EQ(lines[modules + 2], std::u16string(ReportIndent) + u"(keine Versionsinformationen)");
  const std::size_t controls = at(u"Hierarchie aktiver Controls:");
  ASSERT_LT(controls + 4, lines.size());
  EXPECT_EQ(lines[controls + 1], u"TzbHtmlEdit \"HtmlEdit\"");
  EXPECT_EQ(lines[controls + 2], u"TPanel \"pnlMain\"");
  EXPECT_EQ(lines[controls + 3], u"TfrmHtmlService \"frmHtmlService\"");
}

TEST_F(Report, SectionsLeftOutWhenEmpty) {
  ClearLastExceptionStack();
  TzbExceptionHandler::SetApplicationFileage(EncodeDateTime(2019, 3, 29, 12, 3, 9, 0));
  TStrings lines;
  FillReport(lines, nullptr, AllReportSections);
  EXPECT_EQ(lines[0], u"Vestrum Plumadesk 5.0 - HTML Service vom 29.03.2019 12:03");
  EXPECT_EQ(Count(lines, Separator), 3);  // header, system, modules
  EXPECT_EQ(lines[2].rfind(u"System:     ", 0), 0u);
  FillReport(lines, nullptr, rsHeader);
  EXPECT_EQ(lines.size(), 2u);
}

TEST_F(Report, LogFileNames) {
  const std::u16string folder = GetLogFolder(false);
  TzbExceptionHandler::SetLogFilename(u"x.log");
  EXPECT_EQ(TzbExceptionHandler::GetLogFilename(), folder + u"x.log");
  TzbExceptionHandler::SetLogFilename(u"/var/tmp/x.log");
  EXPECT_EQ(TzbExceptionHandler::GetLogFilename(), u"/var/tmp/x.log");
  TzbExceptionHandler::SetLogFilename(u"");
  EXPECT_EQ(TzbExceptionHandler::GetLogFilename(), folder + u"Error.log");
}

TEST_F(Report, PlainLogNewestFirstInUtf16) {
  const std::string file = FDir + "/logs/sub/HtmlService 20190329120303.log";
  TzbExceptionHandler::SetLogFilename(Utf8ToUtf16(file));
  TzbExceptionHandler::SilentException(u"erster Fehler <b>");
  TzbExceptionHandler::SilentException(EzbException(u"zweiter\nFehler"));
  std::ifstream raw(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(raw)), {});
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_NE(bytes.substr(0, 2), std::string("\xFF\xFE"));  // no byte-order mark
  const std::u16string text = ReadUtf16File(file);
  EXPECT_EQ(text.find(u'\n'), text.find(u"\r\n") + 1);  // CR LF line ends
  const std::size_t second = text.find(u"zweiter\r\nFehler.");
  const std::size_t first = text.find(u"erster Fehler <b>.");
  ASSERT_NE(second, std::u16string::npos);
  ASSERT_NE(first, std::u16string::npos);
  EXPECT_LT(second, first);
  EXPECT_EQ(text.substr(19, 2 + 19), u"\r\n" + std::u16string(19, u'='));
  EXPECT_EQ(text[4], u'-');  // yyyy-mm-dd hh:nn:ss
  const std::u16string between = u"\r\n\r\n\r\n\r\n" + std::u16string(100, u'*') + u"\r\n\r\n\r\n";
  EXPECT_NE(text.find(std::u16string(100, u'-') + between), std::u16string::npos);
  EXPECT_NE(text.find(std::u16string(100, u'=') + u"\r\nVestrum Plumadesk 5.0 - HTML Service vom 30.12.1899 00:00\r\n"),
            std::u16string::npos);
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::others_read, fs::perms::none);
}

TEST_F(Report, XmpEntriesAndMasking) {
  const std::string file = FDir + "/logs/Errors.Xmp";
  TzbExceptionHandler::SetLogFilename(Utf8ToUtf16(file));
  try {
    RaiseFromHere();  // so that the report has its stack section and the tags fall as in practice
  } catch (const EzbException&) {
  }
  TzbExceptionHandler::SilentException(u"erster <b>Fehler</b>");
  std::u16string text = ReadUtf16File(file);
  EXPECT_EQ(
      text.rfind(
          u"<?xmp version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<!-- Errors Logfile -->\r\n<XMP>\r\n  <Exceptions>\r\n"
          u"  <Exception>\r\n    <Date type=\"timestamp\">",
          0),
      0u);
  EXPECT_NE(text.find(u"    <Message type=\"plain\">\r\n    erster (b)Fehler(/b).\r\n    </Message>\r\n"),
            std::u16string::npos);
  EXPECT_NE(text.find(u"    <Program type=\"plain\">\r\n    Vestrum Plumadesk 5.0 - HTML Service vom"),
            std::u16string::npos);
  EXPECT_NE(text.find(u"    <Modules type=\"plain\">\r\n    <!-- Liste geladener Module -->\r\n"),
            std::u16string::npos);
  const std::u16string closing = u"  </Exception>\r\n  </Exceptions>\r\n</XMP>";
  EXPECT_EQ(text.rfind(closing), text.size() - closing.size());
  EXPECT_NE(text.find(u"    <StackDump type=\"plain\">\r\n    <!-- Stackliste, erzeugt am "), std::u16string::npos);
  EXPECT_NE(text.find(u"    </StackDump>\r\n    <System type=\"plain\">\r\n    System:     "), std::u16string::npos);
  TzbExceptionHandler::SilentException(u"zweiter");
  text = ReadUtf16File(file);
  EXPECT_LT(text.find(u"zweiter."), text.find(u"erster (b)Fehler(/b)."));
  EXPECT_EQ(text.rfind(u"<?xmp", 0), 0u);
  EXPECT_EQ(text.find(u"<?xmp", 1), std::u16string::npos);
  EXPECT_EQ(text.substr(text.size() - 6), u"</XMP>");
  // Angle brackets stay in the plain format.
  const std::string plain = FDir + "/logs/plain.txt";
  TzbExceptionHandler::SetLogFilename(Utf8ToUtf16(plain));
  TzbExceptionHandler::SilentException(u"<b>");
  EXPECT_NE(ReadUtf16File(plain).find(u"<b>."), std::u16string::npos);
  // A full stop in a folder name is no extension.
  const std::string dotted = FDir + "/logs/a.XMP/name";
  TzbExceptionHandler::SetLogFilename(Utf8ToUtf16(dotted));
  TzbExceptionHandler::SilentException(u"x");
  EXPECT_EQ(ReadUtf16File(dotted).find(u"<XMP>"), std::u16string::npos);
}

TEST_F(Report, ReportAsXmpText) {
  try {
    RaiseFromHere();
  } catch (const EzbException& e) {
    const std::u16string text = TzbExceptionHandler::ExceptionReportAsXMP(e);
    EXPECT_EQ(text.rfind(u"Fehler (b)fett(/b).\r\n\r\nVestrum Plumadesk 5.0", 0), 0u);
    EXPECT_EQ(text.find(u'<'), std::u16string::npos);
    EXPECT_FALSE(IsBlank(text.back()));
  }
  const std::u16string empty = TzbExceptionHandler::ExceptionReportAsXMP(EzbException(u"  "));
  EXPECT_EQ(empty.rfind(u"Vestrum Plumadesk 5.0 - HTML Service vom", 0), 0u);
  EXPECT_EQ(empty.back(), u'-');
}

TEST_F(Report, AFailedLogWriteKeepsEarlierEntries) {
  const std::string file = FDir + "/logs/HtmlService.log";
  TzbExceptionHandler::SetLogFilename(Utf8ToUtf16(file));
  TzbExceptionHandler::SilentException(u"frühere Meldung");
  const std::u16string before = ReadUtf16File(file);
  // A size limit makes the write fail as a full disk would, also for root.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(before.size()), static_cast<rlim_t>(before.size())};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      TzbExceptionHandler::SilentException(u"neue Meldung");
    } catch (const EzbFileError&) {
      _exit(0);
    }
    _exit(1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was not reported";
  EXPECT_EQ(ReadUtf16File(file), before);
  // A log folder that cannot be created: the error reaches the caller, nothing crashes.
  std::ofstream(FDir + "/blocker") << "x";
  TzbExceptionHandler::SetLogFilename(Utf8ToUtf16(FDir + "/blocker/sub/x.log"));
  EXPECT_THROW(TzbExceptionHandler::SilentException(u"x"), EzbFileError);
}

TEST(WaitCursor, Nesting) {
  std::vector<TCursor> shown;
  SetScreenCursorHandler([&](TCursor c) { shown.push_back(c); });
  BeginWaitCursor(crHourGlass);
  BeginWaitCursor(crHourGlass);
  EXPECT_FALSE(EndWaitCursor());
  EXPECT_EQ(ScreenCursor(), crHourGlass);
  EXPECT_TRUE(EndWaitCursor());
  EXPECT_EQ(ScreenCursor(), crDefault);
  EXPECT_TRUE(EndWaitCursor());
  EXPECT_EQ(shown, (std::vector<TCursor>{crHourGlass, crDefault}));
  SetScreenCursorHandler(nullptr);
}
