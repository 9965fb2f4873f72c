#include "htmledit/zbHtmlPrintOptions.h"

#include <cstdlib>
#include <filesystem>

#include "support/zbLocale.h"
#include "support/zbRegistry.h"
#include "tests/registry/RegTestEnv.h"

// glibc's newlocale keeps the split LOCPATH list it builds for our own U.S. locale; not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace zb {
namespace {

class PrintOptionsTest : public test::TRegistryEnv {
 protected:
  static void SetUpTestSuite() {
    // A U.S. locale of our own: the machine may have none installed.
    char tmpl[] = "/tmp/zbreg-locale-XXXXXX";
    if (!::mkdtemp(tmpl)) return;
    FLocales = tmpl;
    std::string cmd = "localedef -i en_US -f UTF-8 " + FLocales + "/en_US.UTF-8 >/dev/null 2>&1";
    FHaveUS = std::system(cmd.c_str()) == 0 && std::filesystem::exists(FLocales + "/en_US.UTF-8");
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(FLocales, ec);
  }
  void SetUp() override {
    TRegistryEnv::SetUp();
    ::unsetenv("LC_ALL");
    ::setenv("LC_MEASUREMENT", "C", 1);
    // Numbers with a decimal point, whatever the language the tests run under.
    ::setenv("LC_NUMERIC", "C", 1);
    SetCurrentLocale(LocaleFromEnvironment());
  }
  void TearDown() override {
    ::unsetenv("LOCPATH");
    ::unsetenv("LC_MEASUREMENT");
    ::unsetenv("LC_NUMERIC");
    TRegistryEnv::TearDown();
  }
  bool UseUSMeasure() {
    if (!FHaveUS) return false;
    ::setenv("LOCPATH", FLocales.c_str(), 1);
    ::setenv("LC_MEASUREMENT", "en_US.UTF-8", 1);
    return LocaleUsesUSMeasure();
  }
  static std::u16string Stored(std::u16string_view Name) {
    return ReadRegistryString(HKEY_CURRENT_USER, PageSetupKey, Name, u"<none>");
  }
  static void Store(std::u16string_view Name, std::u16string_view Text) {
    WriteRegistryString(HKEY_CURRENT_USER, PageSetupKey, Name, Text);
  }

  static inline std::string FLocales;
  static inline bool FHaveUS = false;
};

TEST_F(PrintOptionsTest, Defaults) {
  THtmlPrintOptions o;
  EXPECT_EQ(o.HTMLHeader(), TStringList{u"<html></html>"});
  EXPECT_EQ(o.Header(), u"");
  EXPECT_EQ(o.Footer(), u"");
  EXPECT_EQ(o.Margins(), THtmlPrintMargins());
  EXPECT_EQ(o.Margins().Left(), 0.75);
  EXPECT_EQ(o.Margins().Bottom(), 0.75);
  EXPECT_EQ(o.Orientation(), poPortrait);
  EXPECT_EQ(o.Measure(), mMetric);
  EXPECT_EQ(o.NameSpace(), u"");
  EXPECT_FALSE(THtmlPrintMargins::IsStored(0.75));
  EXPECT_TRUE(THtmlPrintMargins::IsStored(19.05));
  THtmlPrintMargins m;
  m.SetTop(3);
  o.SetMargins(m);
  EXPECT_EQ(o.Margins().Top(), 3);
}

TEST_F(PrintOptionsTest, MarginTexts) {
  EXPECT_FALSE(LocaleUsesUSMeasure());
  EXPECT_EQ(MarginToRegistryText(0.75), u"0.02953");
  EXPECT_EQ(MarginToRegistryText(19.05), u"0.75000");
  EXPECT_EQ(MarginToRegistryText(10.999978), u"0.43307");
  EXPECT_EQ(MarginToRegistryText(2.963418), u"0.11667");
  SetCurrentLocale(GermanLocale());  // decimal comma
  EXPECT_EQ(MarginToRegistryText(19.05), u"0.75000");
  EXPECT_EQ(PageSetupDialogMarginText(1.5, mMetric, mMetric), u"1,5");
  if (!UseUSMeasure()) GTEST_SKIP() << "no U.S. locale could be built";
  EXPECT_EQ(MarginToRegistryText(0.75), u"0.75000");
  EXPECT_EQ(RuntimeMeasureFromLocale(), mUS);
}

TEST_F(PrintOptionsTest, DialogConversion) {
  EXPECT_EQ(PageSetupDialogMargin(19.05, mMetric, mMetric), 19.05);
  EXPECT_DOUBLE_EQ(PageSetupDialogMargin(19.05, mMetric, mUS), 0.75);
  EXPECT_DOUBLE_EQ(PageSetupDialogMargin(0.75, mUS, mMetric), 19.05);
  EXPECT_EQ(PageSetupDialogMarginText(0.75, mUS, mMetric), u"19.05");
  EXPECT_EQ(PageSetupDialogMarginText(10.999978, mMetric, mMetric), u"10.999978");
}

TEST_F(PrintOptionsTest, SaveWritesSixTextsUnlessTheNameSpaceMatches) {
  THtmlPrintOptions o;
  o.SetHeader(u"&w&b&u");
  o.SetFooter(u"&bSeite &p von &P");
  o.Margins().SetLeft(10.999978);
  o.Margins().SetTop(2.963418);
  o.Margins().SetRight(19.05);
  o.Margins().SetBottom(2.963418);

  o.SaveToRegistry(true);  // no default value reads as "", which equals the empty namespace
  EXPECT_EQ(Stored(u"header"), u"<none>");
  EXPECT_TRUE(TzbRegistry().KeyExists(PageSetupKey));

  Store(u"", u"abc");
  o.SetNameSpace(u"ABC");
  o.SaveToRegistry(true);
  EXPECT_EQ(Stored(u"footer"), u"<none>");

  o.SetNameSpace(u"xyz");
  o.SaveToRegistry(true);
  EXPECT_EQ(Stored(u"header"), u"&w&b&u");
  EXPECT_EQ(Stored(u"footer"), u"&bSeite &p von &P");
  EXPECT_EQ(Stored(u"margin_left"), u"0.43307");
  EXPECT_EQ(Stored(u"margin_right"), u"0.75000");
  EXPECT_EQ(Stored(u"margin_top"), u"0.11667");
  EXPECT_EQ(Stored(u"margin_bottom"), u"0.11667");
  TzbRegistry reg;
  ASSERT_TRUE(reg.OpenKey(PageSetupKey, false));
  EXPECT_EQ(reg.GetDataType(u"margin_left"), rdtString);
  TStringList names;
  reg.GetValueNames(names);
  EXPECT_EQ(names,
            (TStringList{u"", u"header", u"footer", u"margin_left", u"margin_right", u"margin_top", u"margin_bottom"}));
  reg.CloseKey();

  o.SetNameSpace(u"abc");
  o.SetHeader(u"changed");
  o.SaveToRegistry(false);
  EXPECT_EQ(Stored(u"header"), u"changed");
}

TEST_F(PrintOptionsTest, SaveRefusesANonTextNameSpace) {
  {
    TzbRegistry reg;
    ASSERT_TRUE(reg.OpenKey(PageSetupKey, true));
    reg.WriteInteger(u"", 1);
  }
  THtmlPrintOptions o;
  try {
    o.SaveToRegistry(true);
    FAIL() << "no error";
  } catch (const EzbRegistryError& e) {
    EXPECT_EQ(Utf16ToUtf8(e.Message()), "Ungültiger Datentyp für ''");
  }
  EXPECT_EQ(Stored(u"header"), u"<none>");
}

TEST_F(PrintOptionsTest, LoadReadsTheStore) {
  THtmlPrintOptions o;
  LoadPageSetup(o);  // no key: nothing changes, nothing is created
  EXPECT_EQ(o.Margins(), THtmlPrintMargins());
  EXPECT_FALSE(TzbRegistry().KeyExists(PageSetupKey));

  Store(u"header", u"H");
  Store(u"footer", u"F");
  Store(u"margin_left", u"0.75000");
  Store(u"margin_right", u"0. 5");
  Store(u"margin_bottom", u"abc");
  LoadPageSetup(o);
  EXPECT_EQ(o.Header(), u"H");
  EXPECT_EQ(o.Footer(), u"F");
  EXPECT_DOUBLE_EQ(o.Margins().Left(), 19.05);
  EXPECT_DOUBLE_EQ(o.Margins().Right(), 12.7);  // spaces removed: 0.5 inch
  EXPECT_DOUBLE_EQ(o.Margins().Top(), 9.99998);
  EXPECT_DOUBLE_EQ(o.Margins().Bottom(), 0.3937 * 25.4);

  SetCurrentLocale(GermanLocale());
  THtmlPrintOptions us;
  us.SetMeasure(mUS);
  LoadPageSetup(us);
  EXPECT_DOUBLE_EQ(us.Margins().Left(), 0.75);
  EXPECT_DOUBLE_EQ(us.Margins().Top(), 0.3937);

  {
    TzbRegistry reg;
    ASSERT_TRUE(reg.OpenKey(PageSetupKey, false));
    reg.WriteInteger(u"margin_left", 3);
  }
  THtmlPrintOptions bad;
  try {
    LoadPageSetup(bad);
    FAIL() << "no error";
  } catch (const EzbRegistryError& e) {
    EXPECT_EQ(Utf16ToUtf8(e.Message()), "Ungültiger Datentyp für 'margin_left'");
  }
  EXPECT_EQ(bad.Header(), u"H");  // read before the failing value
}

}  // namespace
}  // namespace zb
