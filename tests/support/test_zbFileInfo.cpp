#include "support/zbFileInfo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/zbSysUtils.h"
#include "support/zbUnicode.h"

using namespace zb;

namespace {

// Builds VS_VERSIONINFO blocks in the UTF-16 layout.
struct TBlockBuilder {
  static void Pad(std::string& s) {
    while (s.size() % 4) s += '\0';
  }
  static void U16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8 & 0xFF);
  }
  static void U32(std::string& s, std::uint32_t v) {
    U16(s, v & 0xFFFF);
    U16(s, v >> 16);
  }
  static std::string Block(std::u16string_view key, unsigned type, const std::string& value, unsigned valueLength,
                           const std::vector<std::string>& children = {}) {
    std::string b(6, '\0');
    for (char16_t c : key) U16(b, c);
    U16(b, 0);
    Pad(b);
    b += value;
    for (const auto& child : children) {
      Pad(b);
      b += child;
    }
    const std::size_t length = b.size();
    b[0] = static_cast<char>(length & 0xFF);
    b[1] = static_cast<char>(length >> 8);
    b[2] = static_cast<char>(valueLength & 0xFF);
    b[3] = static_cast<char>(valueLength >> 8);
    b[4] = static_cast<char>(type);
    return b;
  }
  static std::string Text(std::u16string_view key, std::u16string_view value, bool trailingNul = true) {
    std::string v;
    for (char16_t c : value) U16(v, c);
    if (trailingNul) U16(v, 0);
    return Block(key, 1, v, static_cast<unsigned>(value.size() + (trailingNul ? 1 : 0)));
  }
  static std::string Fixed(std::uint32_t fileMS, std::uint32_t fileLS, std::uint32_t flags = 0) {
    std::string f;
    const std::uint32_t fields[13] = {0xFEEF04BD, 0x10000, fileMS, fileLS, 0x00050000, 0x00000001, 0x3F,
                                      flags,      0x40004, 1,      0,      0,          0};
    for (auto v : fields) U32(f, v);
    return f;
  }
  static std::string Resource(const std::vector<std::string>& tables, const std::vector<std::uint32_t>& translations,
                              std::uint32_t flags = 0) {
    std::string trans;
    for (auto t : translations) U32(trans, t);
    return Block(
        u"VS_VERSION_INFO", 0, Fixed(0x00050000, 0x000C0003, flags), 52,
        {Block(u"StringFileInfo", 1, "", 0, tables),
         Block(u"VarFileInfo", 1, "", 0, {Block(u"Translation", 0, trans, static_cast<unsigned>(trans.size()))})});
  }
};

// A minimal PE32 image whose only section holds the resource directory with one RT_VERSION entry.
std::string PeImage(const std::string& resource, std::uint32_t imageBase = 0x00400000) {
  using B = TBlockBuilder;
  std::string img(0x200, '\0');
  img[0] = 'M';
  img[1] = 'Z';
  img[0x3C] = 0x40;
  std::string nt = std::string("PE\0\0", 4);
  B::U16(nt, 0x014C);  // i386
  B::U16(nt, 1);       // one section
  B::U32(nt, 0);
  B::U32(nt, 0);
  B::U32(nt, 0);
  B::U16(nt, 224);
  B::U16(nt, 0x0102);
  std::string opt(224, '\0');
  opt[0] = 0x0B;
  opt[1] = 0x01;
  for (int i = 0; i < 4; ++i) opt[28 + i] = static_cast<char>(imageBase >> (8 * i));
  opt[92] = 16;
  std::string rsrc;
  // root, name and language directories, one entry each, then the data entry and the bytes
  auto dir = [&](std::uint32_t id, std::uint32_t target) {
    std::string d(12, '\0');
    B::U16(d, 0);
    B::U16(d, 1);
    B::U32(d, id);
    B::U32(d, target);
    return d;
  };
  rsrc += dir(RT_VERSION, 0x80000018);
  rsrc += dir(1, 0x80000030);
  rsrc += dir(0x0407, 0x48);
  std::string data;
  B::U32(data, 0x1000 + 0x58);
  B::U32(data, static_cast<std::uint32_t>(resource.size()));
  B::U32(data, 0);
  B::U32(data, 0);
  rsrc += data;
  rsrc.resize(0x58, '\0');
  rsrc += resource;
  const auto size = static_cast<std::uint32_t>(rsrc.size());
  for (int i = 0; i < 4; ++i) {
    opt[96 + 16 + i] = static_cast<char>(0x1000u >> (8 * i));
    opt[96 + 20 + i] = static_cast<char>(size >> (8 * i));
  }
  std::string section(".rsrc\0\0\0", 8);
  B::U32(section, size);
  B::U32(section, 0x1000);
  B::U32(section, size);
  B::U32(section, 0x200);
  section.resize(40, '\0');
  const std::string headers = nt + opt + section;
  std::copy(headers.begin(), headers.end(), img.begin() + 0x40);
  return img + rsrc;
}

std::string Table(std::u16string_view key, const std::vector<std::string>& strings) {
  return TBlockBuilder::Block(key, 1, "", 0, strings);
}

TzbFileVersionInfo Parse(const std::string& bytes) { return TzbFileVersionInfo::Attach(bytes.data(), bytes.size()); }

}  // namespace

TEST(VersionInfo, OneTableKeysAndVersions) {
  using B = TBlockBuilder;
  const auto res =
      B::Resource({Table(u"040704b0", {B::Text(u"FileDescription", u"HTML-Dienst"),
                                       B::Text(u"fileversion", u"5.0.12.3"), B::Text(u"CompanyName", u"Vestrum")})},
                  {0x04B00407});
  const auto info = Parse(res);
  EXPECT_EQ(info.LanguageCount(), 1);
  EXPECT_EQ(info.LanguageIds(0), u"040704B0");
  EXPECT_EQ(info.LanguageNames(0), u"Deutsch (Deutschland)");
  EXPECT_EQ(info.FileDescription(), u"HTML-Dienst");
  EXPECT_EQ(info.FileVersion(), u"5.0.12.3");  // keys ignore letter case
  EXPECT_EQ(info.CompanyName(), u"Vestrum");
  EXPECT_EQ(info.Comments(), u"");
  EXPECT_EQ(info.BinFileVersion(), u"5.0.12.3");
  EXPECT_EQ(info.BinProductVersion(), u"5.0.0.1");
  EXPECT_EQ(info.TranslationCount(), 1);
  EXPECT_EQ(info.Translations(0).LangId, 0x0407);
  EXPECT_EQ(info.Translations(0).CodePage, 0x04B0);
  EXPECT_TRUE(info.TranslationMatchesLanguages(true));
  EXPECT_EQ(info.FileOS(), 0x40004u);
  EXPECT_EQ(info.Items(), (std::vector<std::u16string>{u"FileDescription=HTML-Dienst", u"fileversion=5.0.12.3",
                                                       u"CompanyName=Vestrum"}));
}

TEST(VersionInfo, TwoTablesAndLanguageIndex) {
  using B = TBlockBuilder;
  const auto res = B::Resource({Table(u"040704b0", {B::Text(u"ProductName", u"Dienst")}),
                                Table(u"0x04090x04e4", {B::Text(u"ProductName", u"Service")})},
                               {0x04B00407});
  auto info = Parse(res);
  EXPECT_EQ(info.LanguageCount(), 2);
  EXPECT_EQ(info.ProductName(), u"Dienst");
  info.SetLanguageIndex(1);
  EXPECT_EQ(info.ProductName(), u"Service");
  EXPECT_EQ(info.LanguageIds(1), u"040904E4");
  EXPECT_THROW(info.SetLanguageIndex(2), EzbFileVersionInfoError);
  EXPECT_THROW(info.SetLanguageIndex(-1), EzbFileVersionInfoError);
  EXPECT_THROW(info.LanguageIds(2), EzbFileVersionInfoError);
  try {
    info.Languages(5);
  } catch (const EzbFileVersionInfoError& e) {
    EXPECT_EQ(e.Message(), u"Index für Spracheinstellungen ist ungültig");
  }
  EXPECT_FALSE(info.TranslationMatchesLanguages(true));  // two tables, one translation
  EXPECT_TRUE(info.TranslationMatchesLanguages(false));
}

TEST(VersionInfo, ValueForms) {
  using B = TBlockBuilder;
  std::string twoBytes;
  twoBytes += '\x07';
  twoBytes += '\x04';
  std::string longBytes;
  for (char16_t c : std::u16string(u"Langtext")) B::U16(longBytes, c);
  B::U16(longBytes, 0);
  const auto res =
      B::Resource({Table(u"040704b0", {B::Text(u"Comments", u"mit Null"), B::Block(u"LangId", 0, twoBytes, 2),
                                       B::Block(u"Long", 0, longBytes, static_cast<unsigned>(longBytes.size())),
                                       B::Text(u"Empty", u"", false), B::Text(u"Cut", std::u16string(u"ab\0cd", 5))})},
                  {});
  const auto info = Parse(res);
  EXPECT_EQ(info.Comments(), u"mit Null");  // the trailing U+0000 is not part of it
  EXPECT_EQ(info.Value(u"LangId"), u"$0407");
  EXPECT_EQ(info.Value(u"Long"), u"Langtext");
  EXPECT_EQ(info.Value(u"Empty"), u"");
  EXPECT_EQ(info.Value(u"Cut"), u"ab");
  EXPECT_FALSE(info.TranslationMatchesLanguages(false));  // no translation at all
}

TEST(VersionInfo, FileFlags) {
  using B = TBlockBuilder;
  const auto info = Parse(B::Resource({}, {}, 0x01 | 0x02 | 0x20 | 0x40));
  EXPECT_EQ(info.FileFlags(), (1u << ffDebug) | (1u << ffPreRelease) | (1u << ffSpecialBuild));
}

TEST(VersionInfo, DamagedResourcesAreRefused) {
  using B = TBlockBuilder;
  const auto good = B::Resource({Table(u"040704b0", {B::Text(u"A", u"1")})}, {});
  EXPECT_NO_THROW(Parse(good));
  auto expectRefused = [](const std::string& bytes) {
    try {
      Parse(bytes);
      ADD_FAILURE() << "accepted";
    } catch (const EzbFileVersionInfoError& e) {
      EXPECT_EQ(e.Message(), u"Die Datei beinhaltet keine Versionsinformation");
    }
  };
  expectRefused("");
  expectRefused(B::Block(u"VS_VERSION_INFX", 0, B::Fixed(0, 0), 52));
  expectRefused(B::Block(u"VS_VERSION_INFO", 0, B::Fixed(0, 0), 48));
  std::string badSig = B::Fixed(0, 0);
  badSig[0] = 0;
  expectRefused(B::Block(u"VS_VERSION_INFO", 0, badSig, 52));
  expectRefused(B::Resource({Table(u"0407", {})}, {}));                                // short table key
  expectRefused(B::Resource({Table(u"040704b0", {B::Block(u"X", 7, "ab", 2)})}, {}));  // unknown type
  expectRefused(good.substr(0, good.size() / 2));                                      // cut off
  std::string zeroLength = good;
  const std::size_t tableAt = good.find(std::string("0\0"
                                                    "4\0"
                                                    "0\0"
                                                    "7\0",
                                                    8)) -
                              6;
  zeroLength[tableAt] = zeroLength[tableAt + 1] = 0;
  expectRefused(zeroLength);
  // The lower-case root key is accepted; an unknown child ends the parse and keeps what was read.
  const auto stopped =
      Parse(B::Block(u"vs_version_info", 0, B::Fixed(0, 0), 52,
                     {B::Block(u"StringFileInfo", 1, "", 0, {Table(u"040704b0", {B::Text(u"A", u"1")})}),
                      B::Block(u"Other", 1, "", 0), B::Block(u"VarFileInfo", 1, "", 0)}));
  EXPECT_EQ(stopped.Value(u"A"), u"1");
  for (std::size_t cut = 0; cut < good.size(); cut += 3) {
    try {
      Parse(good.substr(0, cut));
    } catch (const EzbFileVersionInfoError&) {
    }
  }
}

TEST(VersionInfo, ReadFromPeFilesNotFromElf) {
  using B = TBlockBuilder;
  char dir[] = "/tmp/zbfileinfo-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string pe = std::string(dir) + "/HtmlService.exe";
  std::ofstream(pe, std::ios::binary) << PeImage(
      B::Resource({Table(u"040704b0", {B::Text(u"FileVersion", u"5.0.0.1")})}, {0x04B00407}));
  EXPECT_TRUE(HasVersionResource(Utf8ToUtf16(pe)));
  TVSFixedFileInfo fixed;
  ASSERT_TRUE(ReadFixedFileInfo(Utf8ToUtf16(pe), fixed));
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00050000u);
  const TzbFileVersionInfo info(Utf8ToUtf16(pe));
  EXPECT_EQ(info.FileVersion(), u"5.0.0.1");
  EXPECT_EQ(info.BinFileVersion(), u"5.0.12.3");

  EXPECT_FALSE(HasVersionResource(u"/proc/self/exe"));
  EXPECT_FALSE(HasVersionResource(u"/no/such/file"));
  EXPECT_FALSE(ReadFixedFileInfo(u"/proc/self/exe", fixed));
  try {
    TzbFileVersionInfo missing(u"/no/such/file");
    ADD_FAILURE();
  } catch (const EzbFileVersionInfoError& e) {
    EXPECT_EQ(e.Message().rfind(u"Die Datei beinhaltet keine Versionsinformation\r\nDatei: \"/no/such/file\"\r\n", 0),
              0u);
  }
  // A damaged PE file is no version resource, never a crash.
  std::string damaged = PeImage(B::Resource({}, {}));
  damaged[0x40 + 4 + 20 + 96 + 16] = '\x7F';
  std::ofstream(pe, std::ios::binary) << damaged;
  EXPECT_FALSE(HasVersionResource(Utf8ToUtf16(pe)));
  std::filesystem::remove_all(dir);
}

TEST(VersionInfo, LanguageTexts) {
  EXPECT_EQ(TzbFileVersionInfo::VersionLanguageId({0x0407, 0x04B0}), u"040704B0");
  EXPECT_EQ(TzbFileVersionInfo::VersionLanguageName(0x0409), u"Englisch (Vereinigte Staaten)");
  EXPECT_EQ(TzbFileVersionInfo::VersionLanguageName(0x7777), u"Sprache 7777");
}

TEST(OSNames, WindowsTable) {
  TzbSystemFacts none;
  auto name = [&](std::uint32_t p, std::uint32_t M, std::uint32_t m, std::uint8_t type = 1, std::u16string csd = u"",
                  std::uint32_t build = 0) {
    TzbOSVersionInfo v;
    v.PlatformId = p;
    v.MajorVersion = M;
    v.MinorVersion = m;
    v.ProductType = type;
    v.CSDVersion = csd;
    v.BuildNumber = build;
    return WindowsNameFromVersion(v, none);
  };
  EXPECT_EQ(name(0, 3, 1), u"Win32s unter Windows 3.x");
  EXPECT_EQ(name(1, 4, 0), u"Windows 95");
  EXPECT_EQ(name(1, 4, 10), u"Windows 98");
  EXPECT_EQ(name(1, 4, 10, 1, u" A "), u"Windows 98 SE");
  EXPECT_EQ(name(1, 4, 90), u"Windows Millennium Edition");
  EXPECT_EQ(name(1, 5, 0), u"Windows");
  EXPECT_EQ(name(2, 4, 0), u"Windows NT");
  EXPECT_EQ(name(2, 5, 0), u"Windows 2000");
  EXPECT_EQ(name(2, 5, 1), u"Windows XP");
  EXPECT_EQ(name(2, 5, 2), u"Windows Server 2003");
  EXPECT_EQ(name(2, 6, 0), u"Windows Vista");
  EXPECT_EQ(name(2, 6, 0, 3), u"Windows Server 2008");
  EXPECT_EQ(name(2, 6, 1), u"Windows 7");
  EXPECT_EQ(name(2, 6, 3, 1, u"", 9600), u"Windows 8.1 Update 1");
  EXPECT_EQ(name(2, 6, 3, 1, u"", 9200), u"Windows 8.1");
  EXPECT_EQ(name(2, 6, 3, 3), u"Windows Server 2012 R2");
  EXPECT_EQ(name(2, 10, 0), u"Windows 10");
  EXPECT_EQ(name(2, 10, 0, 2), u"Windows Server 2016");
  EXPECT_EQ(name(2, 7, 0), u"");
  EXPECT_EQ(name(2, 11, 0), u"");
  EXPECT_EQ(name(3, 10, 0), u"");

  TzbOSVersionInfo xp{5, 1, 2600, 2, u"", 0, 1};
  TzbSystemFacts mc;
  mc.MediaCenter = true;
  EXPECT_EQ(WindowsNameFromVersion(xp, mc), u"Windows XP Media Center Edition");
  TzbSystemFacts tablet;
  tablet.TabletPC = true;
  EXPECT_EQ(WindowsNameFromVersion(xp, tablet), u"Windows XP Tablet PC Edition");
  TzbOSVersionInfo s2003{5, 2, 3790, 2, u"", 0x8000, 3};
  TzbSystemFacts r2;
  r2.ServerR2 = 1;
  EXPECT_EQ(WindowsNameFromVersion(s2003, r2), u"Windows Home Server");
  s2003.SuiteMask = 0;
  EXPECT_EQ(WindowsNameFromVersion(s2003, r2), u"Windows Server 2003 R2");
  s2003.ProductType = 1;
  r2.NativeArchitecture = 9;
  EXPECT_EQ(WindowsNameFromVersion(s2003, r2), u"Windows XP Professional x64 Edition");
}

TEST(OSNames, ReleaseCodesAndVersionText) {
  TzbSystemFacts none;
  auto release = [&](std::uint32_t p, std::uint32_t M, std::uint32_t m, std::uint8_t type = 1,
                     std::u16string csd = u"") {
    TzbOSVersionInfo v{M, m, 0, p, csd, 0, type};
    return WindowsReleaseFromVersion(v, none);
  };
  EXPECT_EQ(release(1, 4, 0), 1);
  EXPECT_EQ(release(1, 4, 0, 1, u" C "), 2);
  EXPECT_EQ(release(1, 4, 10), 3);
  EXPECT_EQ(release(1, 4, 10, 1, u"A"), 4);
  EXPECT_EQ(release(1, 4, 90), 5);
  EXPECT_EQ(release(2, 3, 51), 8);
  EXPECT_EQ(release(2, 4, 0), 9);
  EXPECT_EQ(release(2, 5, 1), 11);
  EXPECT_EQ(release(2, 5, 2, 3), 12);
  EXPECT_EQ(release(2, 6, 0), 15);
  EXPECT_EQ(release(2, 6, 3, 3), 22);
  EXPECT_EQ(release(2, 10, 0), 23);
  EXPECT_EQ(release(2, 10, 0, 3), 24);
  EXPECT_EQ(release(2, 10, 1), 0);
  TzbSystemFacts me;
  me.Kernel32ProductVersionMS = 0x0004005A;
  EXPECT_EQ(WindowsReleaseFromVersion({4, 10, 0, 1, u"", 0, 1}, me), 5);

  TzbOSVersionInfo win10{10, 0, 19045, 2, u" ", 0, 1};
  EXPECT_EQ(WindowsVersionTextFrom(win10, none, u"Professional", true), u"Windows 10 Professional 64 Bit (10.0.19045)");
  EXPECT_EQ(WindowsVersionTextFrom(win10, none, u"", false), u"Windows 10 (10.0.19045)");
  TzbOSVersionInfo xp{5, 1, 2600, 2, u"Service Pack 3", 0, 1};
  EXPECT_EQ(WindowsVersionTextFrom(xp, none, u"", false), u"Windows XP Service Pack 3 (5.1.2600)");
  TzbOSVersionInfo future{12, 0, 1, 2, u"", 0, 1};
  EXPECT_EQ(WindowsVersionTextFrom(future, none, u"", false), u" (12.0.1)");

  const std::u16string linux = WindowsVersionText();
  EXPECT_FALSE(linux.empty());
  EXPECT_EQ(linux.back(), u')');
  if (IsNative64Bit()) {
    EXPECT_NE(linux.find(u" 64 Bit ("), std::u16string::npos);
  }
  EXPECT_EQ(WindowsRelease(), 0);
}
