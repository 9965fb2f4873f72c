#include "htmledit/zbHtmlPrintOptions.h"

#include <charconv>
#include <cmath>

#include "platform/print/zbPageSetup.h"
#include "support/zbLocale.h"
#include "support/zbRegistry.h"

namespace zb {
namespace {

// What the engine assumes for a margin it cannot read: 0.3937 inch (10 mm).
constexpr double FallbackMarginInches = 0.3937;
constexpr double FallbackMarginMillimetres = 9.99998;

constexpr std::u16string_view SInvalidRegType = u"Ungültiger Datentyp für '%s'";

char16_t DecimalSeparator() { return CurrentLocale().DecimalSeparator; }

std::u16string Ascii(const char* AFirst, const char* ALast) { return std::u16string(AFirst, ALast); }

// The page-setup values are texts; anything else stored there is refused with the store's own message.
std::u16string ReadPageSetupText(TzbRegistry& AReg, std::u16string_view AName) {
  TzbRegDataInfo info;
  if (AReg.GetDataInfo(AName, info) && info.RegData != rdtString && info.RegData != rdtExpandString)
    throw EzbRegistryError(SInvalidRegType, {AName});
  return AReg.ReadString(AName, u"");
}

// The locale's number rules for a plain decimal number: optional sign, digits, one separator, exponent.
bool TextToMargin(std::u16string_view AText, double& AValue) {
  std::string s;
  char16_t sep = DecimalSeparator();
  bool sepSeen = false;
  for (char16_t c : AText) {
    if (c == sep && !sepSeen) {
      s += '.';
      sepSeen = true;
    } else if ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'e' || c == u'E') {
      s += static_cast<char>(c);
    } else {
      return false;
    }
  }
  const char* first = s.data();
  const char* last = s.data() + s.size();
  if (first != last && *first == '+') ++first;
  auto [end, ec] = std::from_chars(first, last, AValue);
  return ec == std::errc() && end == last && std::isfinite(AValue);
}

double LoadMargin(TzbRegistry& AReg, std::u16string_view AName, TMeasure AMeasure) {
  std::u16string text = ReadPageSetupText(AReg, AName);
  if (text.empty()) return AMeasure == mMetric ? FallbackMarginMillimetres : FallbackMarginInches;
  text = StringReplace(text, u" ", u"", rfReplaceAll);
  char16_t sep = DecimalSeparator();
  if (sep != u'.') text = StringReplace(text, u".", std::u16string(1, sep), 0);
  double v = 0;
  if (!TextToMargin(text, v)) v = FallbackMarginInches;
  return AMeasure == mMetric ? v * MillimetresPerInch : v;
}

}  // namespace

THtmlPrintOptions::THtmlPrintOptions() : FHTMLHeader{u"<html></html>"} {}

namespace {
// A margin of the options in inches, read in the locale's measurement system.
double MarginInches(double AValue) { return LocaleUsesUSMeasure() ? AValue : AValue / MillimetresPerInch; }
}  // namespace

// The engine reads "." on every system, whatever the locale writes.
std::u16string MarginToRegistryText(double AValue) { return print::MarginStoreText(MarginInches(AValue)); }

void THtmlPrintOptions::SaveToRegistry(bool ACheckNameSpace) {
  TzbRegistry reg(KEY_ALL_ACCESS, HKEY_CURRENT_USER);
  if (!reg.OpenKey(PageSetupKey, true)) return;
  if (ACheckNameSpace && SameTextEx(ReadPageSetupText(reg, u""), FsNameSpace, false, true)) return;
  print::WritePageSetupTexts(reg, FHeader, FFooter,
                             {MarginInches(FMargins.Left()), MarginInches(FMargins.Top()),
                              MarginInches(FMargins.Right()), MarginInches(FMargins.Bottom())});
  reg.CloseKey();
}

void LoadPageSetup(THtmlPrintOptions& AOptions) {
  TzbRegistry reg(KEY_ALL_ACCESS, HKEY_CURRENT_USER);
  if (!reg.OpenKey(PageSetupKey, false)) return;
  AOptions.SetHeader(ReadPageSetupText(reg, PageSetupHeader));
  AOptions.SetFooter(ReadPageSetupText(reg, PageSetupFooter));
  TMeasure m = AOptions.Measure();
  THtmlPrintMargins& margins = AOptions.Margins();
  margins.SetLeft(LoadMargin(reg, PageSetupMarginLeft, m));
  margins.SetRight(LoadMargin(reg, PageSetupMarginRight, m));
  margins.SetTop(LoadMargin(reg, PageSetupMarginTop, m));
  margins.SetBottom(LoadMargin(reg, PageSetupMarginBottom, m));
  reg.CloseKey();
}

bool LocaleUsesUSMeasure() { return print::LocaleMeasure() == mUS; }

TMeasure RuntimeMeasureFromLocale() { return LocaleUsesUSMeasure() ? mUS : mMetric; }

double PageSetupDialogMargin(double AValue, TMeasure AMeasure, TMeasure ARuntimeMeasure) {
  if (AMeasure == ARuntimeMeasure) return AValue;
  return ARuntimeMeasure == mUS ? AValue / MillimetresPerInch : AValue * MillimetresPerInch;
}

std::u16string PageSetupDialogMarginText(double AValue, TMeasure AMeasure, TMeasure ARuntimeMeasure) {
  double v = PageSetupDialogMargin(AValue, AMeasure, ARuntimeMeasure);
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  std::u16string text = ec == std::errc() ? Ascii(buf, end) : std::u16string(u"0");
  char16_t sep = DecimalSeparator();
  if (sep != u'.') text = StringReplace(text, u".", std::u16string(1, sep), 0);
  return text;
}

}  // namespace zb
