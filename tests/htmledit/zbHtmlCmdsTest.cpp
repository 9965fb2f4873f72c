// Command table, option masks and the font-size rules: no engine needed.
#include <gtest/gtest.h>

#include "htmledit/zbHtmlCmds.h"
#include "htmledit/zbHtmlEd.h"

namespace zb {
namespace {

TEST(HtmlCommandName, KeepsTheProtocolNumbers) {
  EXPECT_EQ(HtmlCommandName(1), u"2D-Position");
  EXPECT_EQ(HtmlCommandName(6), u"Bold");
  EXPECT_EQ(HtmlCommandName(16), u"FontName");
  EXPECT_EQ(HtmlCommandName(53), u"Open");
  EXPECT_EQ(HtmlCommandName(64), u"SelectAll");
  EXPECT_EQ(HtmlCommandName(77), u"Unselect");
  EXPECT_EQ(HtmlCommandName(0), u"");
  EXPECT_EQ(HtmlCommandName(78), u"");
  EXPECT_EQ(HtmlCommandName(-1), u"");
  EXPECT_EQ(HtmlCommandName(INT32_MIN), u"");
  for (int I = 1; I < HtmlCommandCount; ++I) {
    std::u16string A = AsciiUpperCase(HtmlCommandName(I)), B = AsciiUpperCase(HtmlCommandName(I + 1));
    EXPECT_LT(A, B) << I;  // alphabetical order is what makes the numbers
  }
}

TEST(HtmlCommandID, FindsEveryNameInAnyCase) {
  for (int I = 1; I <= HtmlCommandCount; ++I) {
    EXPECT_EQ(HtmlCommandID(HtmlCommandName(I)), I);
    EXPECT_EQ(HtmlCommandID(AsciiUpperCase(HtmlCommandName(I))), I);
  }
  EXPECT_EQ(HtmlCommandID(u"bold"), 6);
  EXPECT_EQ(HtmlCommandID(u"foreCOLOR"), 18);
  EXPECT_EQ(HtmlCommandID(u"2d-position"), 1);
  EXPECT_EQ(HtmlCommandID(u""), 0);
  EXPECT_EQ(HtmlCommandID(u"Bol"), 0);
  EXPECT_EQ(HtmlCommandID(u"Bold "), 0);
  EXPECT_EQ(HtmlCommandID(u"6"), 0);
  EXPECT_EQ(HtmlCommandID(u"B\u00D6LD"), 0);
}

TEST(Options, MasksAndStoredDefaults) {
  EXPECT_EQ(static_cast<std::uint32_t>(DownloadControlMask(TzbHtmlEdit::DefaultDownloadOptions)), 0x800017F0u);
  EXPECT_EQ(TzbHtmlEdit::DefaultDownloadOptions.Bits(), DefaultStoredDownloadOptions);
  EXPECT_EQ(UserInterfaceMask(TzbHtmlEdit::DefaultUserInterfaceOptions), 0x141B4u);
  EXPECT_EQ(TzbHtmlEdit::DefaultUserInterfaceOptions.Bits(), DefaultStoredUserInterfaceOptions);
  using O = TDownloadControlOption;
  TDownloadControlOptions Service{O::DLCTL_NO_SCRIPTS,       O::DLCTL_NO_JAVA,          O::DLCTL_NO_RUNACTIVEXCTLS,
                                  O::DLCTL_NO_DLACTIVEXCTLS, O::DLCTL_NO_FRAMEDOWNLOAD, O::DLCTL_FORCEOFFLINE,
                                  O::DLCTL_SILENT,           O::DLCTL_OFFLINE};
  EXPECT_EQ(static_cast<std::uint32_t>(DownloadControlMask(Service)), 0xD0001780u);
  EXPECT_EQ(DownloadControlMask({}), 0);
  EXPECT_EQ(UserInterfaceMask({TUserInterfaceOption::DIALOG}), 1u);
  EXPECT_EQ(UserInterfaceMask({TUserInterfaceOption::ENABLE_ACTIVEX_INACTIVATE_MODE}), 0x20000000u);
  EXPECT_EQ(TDownloadControlOptions::FromBits(0xFFFFFFFF).Bits(), (1u << 19) - 1);
}

TEST(FontSizeFromText, UnitsHtmlSizesAndLocaleSeparator) {
  EXPECT_EQ(FontSizeFromText(u"10pt", u'.'), 10);
  EXPECT_EQ(FontSizeFromText(u"10PT", u'.'), 10);
  EXPECT_EQ(FontSizeFromText(u"13.5px", u'.'), 13);
  EXPECT_EQ(FontSizeFromText(u"13.5px", u','), 0);
  EXPECT_EQ(FontSizeFromText(u"13,5px", u','), 13);
  EXPECT_EQ(FontSizeFromText(u" 9.99 pt", u'.'), 9);
  EXPECT_EQ(FontSizeFromText(u"3", u'.'), 12);
  EXPECT_EQ(FontSizeFromText(u"1", u'.'), 8);
  EXPECT_EQ(FontSizeFromText(u"7", u'.'), 36);
  EXPECT_EQ(FontSizeFromText(u"8", u'.'), 0);
  EXPECT_EQ(FontSizeFromText(u"larger", u'.'), 0);
  EXPECT_EQ(FontSizeFromText(u"", u'.'), 0);
  EXPECT_EQ(FontSizeFromText(u"pt", u'.'), 0);
  EXPECT_EQ(FontSizeFromText(u"1e99pt", u'.'), 0);
  EXPECT_EQ(FontSizeFromText(u"99999999999999pt", u'.'), 0);
}

}  // namespace
}  // namespace zb
