#include "platform/print/zbPageSetup.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <string>

#include "platform/print/zbPrintError.h"
#include "support/zbCOwner.h"
#include "support/zbRegistry.h"
#include "support/zbStr.h"

namespace zb::print {
namespace {

constexpr int MeasureUS = 2;  // LC_MEASUREMENT: 1 metric, 2 U.S.

// Plain ASCII number text; anything else is refused rather than guessed at.
std::optional<double> ParseNumber(std::u16string_view AText) {
  std::string s;
  for (char16_t c : AText) {
    if (c > 0x7F) return std::nullopt;
    s += static_cast<char>(c);
  }
  const char* first = s.data();
  const char* last = first + s.size();
  if (first != last && *first == '+') ++first;
  double v = 0;
  auto [end, ec] = std::from_chars(first, last, v, std::chars_format::fixed);
  if (ec != std::errc() || end != last || !std::isfinite(v)) return std::nullopt;
  return v;
}

// The store's texts; a value of another type counts as missing, and so does one the store fails
// to read: printing goes on with defaults rather than failing over its page setup.
std::optional<std::u16string> ReadText(TzbRegistry& AReg, std::u16string_view AName) {
  try {
    TzbRegDataInfo info;
    if (!AReg.GetDataInfo(AName, info)) return std::nullopt;
    if (info.RegData != rdtString && info.RegData != rdtExpandString) return std::nullopt;
    return AReg.ReadString(AName, u"");
  } catch (const EzbException&) {
    return std::nullopt;
  }
}

double ReadMargin(TzbRegistry& AReg, std::u16string_view AName) {
  std::optional<std::u16string> text = ReadText(AReg, AName);
  std::optional<double> v = text ? ParseMarginText(*text) : std::nullopt;
  return v.value_or(DefaultPrintMargin);
}

unsigned PaperDimension(locale_t ALocale, nl_item AItem) {
  // glibc returns these integers in the pointer's place.
  union {
    unsigned Word;
    const char* Text;
  } v;
  v.Text = nl_langinfo_l(AItem, ALocale);
  return v.Word;
}

void ShrinkPair(double& AFirst, double& ASecond, double AExtent) {
  double limit = std::max(AExtent, 0.0) / 2;
  if (AFirst + ASecond <= limit) return;
  double scale = limit / (AFirst + ASecond);
  AFirst *= scale;
  ASecond *= scale;
}

double NonNegative(double AValue) { return std::isfinite(AValue) && AValue > 0 ? AValue : 0; }

}  // namespace

std::optional<double> ParseMarginText(std::u16string_view AText) {
  std::u16string compact;
  for (char16_t c : AText)
    if (!IsBlank(c)) compact += c;
  if (compact.empty()) return std::nullopt;
  return ParseNumber(compact);
}

std::optional<TzbPaperSize> PaperSizeFromName(std::u16string_view AName) {
  std::size_t sep = AName.rfind(u'_');
  if (sep == std::u16string_view::npos) return std::nullopt;
  std::u16string_view size = AName.substr(sep + 1);
  double unit = 0;
  if (size.ends_with(u"mm"))
    unit = 1 / MillimetresPerInch;
  else if (size.ends_with(u"in"))
    unit = 1;
  else
    return std::nullopt;
  size.remove_suffix(2);
  std::size_t x = size.find(u'x');
  if (x == std::u16string_view::npos) return std::nullopt;
  std::optional<double> w = ParseNumber(size.substr(0, x)), h = ParseNumber(size.substr(x + 1));
  if (!w || !h || *w <= 0 || *h <= 0) return std::nullopt;
  return TzbPaperSize{*w * unit, *h * unit};
}

std::u16string DefaultPaperName() {
  unsigned w = 210, h = 297;
  if (const TzbLocaleOwner loc(newlocale(LC_PAPER_MASK, "", static_cast<locale_t>(nullptr))); loc) {
    w = PaperDimension(loc.get(), _NL_PAPER_WIDTH);
    h = PaperDimension(loc.get(), _NL_PAPER_HEIGHT);
  }
  if (w == 216 && h == 279) return u"na_letter_8.5x11in";
  if (w == 0 || h == 0 || (w == 210 && h == 297)) return u"iso_a4_210x297mm";
  return u"custom_" + IntToText(w) + u"x" + IntToText(h) + u"mm";
}

TMeasure LocaleMeasure() {
  const TzbLocaleOwner loc(newlocale(LC_MEASUREMENT_MASK, "", static_cast<locale_t>(nullptr)));
  if (!loc) return mMetric;
  // glibc gives the number as the first byte of the answer.
  const char* m = nl_langinfo_l(_NL_MEASUREMENT_MEASUREMENT, loc.get());
  return m && m[0] == MeasureUS ? mUS : mMetric;
}

TzbMargins ClampMargins(const TzbMargins& AMargins, double APageWidth, double APageHeight) {
  TzbMargins m{NonNegative(AMargins.Left), NonNegative(AMargins.Top), NonNegative(AMargins.Right),
               NonNegative(AMargins.Bottom)};
  ShrinkPair(m.Left, m.Right, APageWidth);
  ShrinkPair(m.Top, m.Bottom, APageHeight);
  return m;
}

TzbPageSetup ReadPageSetup() {
  TzbPageSetup setup;
  TzbRegistry reg(KEY_READ, HKEY_CURRENT_USER);
  bool open = false;
  try {
    open = reg.OpenKeyReadOnly(PageSetupKey);
  } catch (const EzbException&) {
  }
  if (open) {
    setup.Header = ReadText(reg, PageSetupHeader).value_or(u"");
    setup.Footer = ReadText(reg, PageSetupFooter).value_or(u"");
    setup.Margins.Left = ReadMargin(reg, PageSetupMarginLeft);
    setup.Margins.Right = ReadMargin(reg, PageSetupMarginRight);
    setup.Margins.Top = ReadMargin(reg, PageSetupMarginTop);
    setup.Margins.Bottom = ReadMargin(reg, PageSetupMarginBottom);
    std::u16string orientation = TrimBlanks(ReadText(reg, PageSetupOrientation).value_or(u""));
    if (SameTextEx(orientation, OrientationLandscapeText, false)) setup.Orientation = poLandscape;
    std::u16string paper = TrimBlanks(ReadText(reg, PageSetupPaper).value_or(u""));
    if (PaperSizeFromName(paper)) setup.Paper = paper;
    reg.CloseKey();
  }
  if (setup.Paper.empty()) setup.Paper = DefaultPaperName();
  TzbPaperSize paper =
      PaperSizeFromName(setup.Paper).value_or(TzbPaperSize{210 / MillimetresPerInch, 297 / MillimetresPerInch});
  if (setup.Orientation == poLandscape) std::swap(paper.Width, paper.Height);
  setup.Margins = ClampMargins(setup.Margins, paper.Width, paper.Height);
  return setup;
}

std::u16string MarginStoreText(double AInches) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, AInches, std::chars_format::fixed, 5);
  if (ec != std::errc()) return u"0.00000";
  return std::u16string(buf, end);
}

void WritePageSetupTexts(TzbRegistry& AKey, std::u16string_view AHeader, std::u16string_view AFooter,
                         const TzbMargins& AMargins) {
  AKey.WriteString(PageSetupHeader, AHeader);
  AKey.WriteString(PageSetupFooter, AFooter);
  AKey.WriteString(PageSetupMarginLeft, MarginStoreText(AMargins.Left));
  AKey.WriteString(PageSetupMarginRight, MarginStoreText(AMargins.Right));
  AKey.WriteString(PageSetupMarginTop, MarginStoreText(AMargins.Top));
  AKey.WriteString(PageSetupMarginBottom, MarginStoreText(AMargins.Bottom));
}

void WritePageLayout(TPrintOrientationOption AOrientation, std::u16string_view APaper) {
  if (!PaperSizeFromName(APaper)) throw EzbPrintError(SBadPaper, {APaper});
  TzbRegistry reg(KEY_ALL_ACCESS, HKEY_CURRENT_USER);
  if (!reg.OpenKey(PageSetupKey, true)) throw EzbPrintError(std::u16string(SPageSetupNotWritable));
  reg.WriteString(PageSetupOrientation,
                  AOrientation == poLandscape ? OrientationLandscapeText : OrientationPortraitText);
  reg.WriteString(PageSetupPaper, APaper);
  reg.CloseKey();
}

}  // namespace zb::print
