#include "platform/print/zbPageCodes.h"

#include <vector>

#include "support/zbStr.h"

namespace zb::print {
namespace {

constexpr std::u16string_view TwentyFourHourTime = u"hh:nn:ss";

}  // namespace

TzbLineParts ExpandPageCodes(std::u16string_view ATemplate, const TzbPageCodeContext& AContext) {
  return ExpandPageCodes(ATemplate, AContext, CurrentLocale());
}

TzbLineParts ExpandPageCodes(std::u16string_view ATemplate, const TzbPageCodeContext& AContext,
                             const TzbLocale& ALocale) {
  std::vector<std::u16string> segments(1);
  for (std::size_t i = 0; i < ATemplate.size(); ++i) {
    std::u16string& out = segments.back();
    if (ATemplate[i] != u'&' || i + 1 == ATemplate.size()) {
      out += ATemplate[i];
      continue;
    }
    char16_t code = ATemplate[++i];
    switch (code) {
      case u'w': out += AContext.Title; break;
      case u'u': out += AContext.Address; break;
      case u'd': out += FormatDateTimeText(ALocale.ShortDateFormat, AContext.When, ALocale); break;
      case u'D': out += FormatDateTimeText(ALocale.LongDateFormat, AContext.When, ALocale); break;
      case u't': out += FormatDateTimeText(ALocale.LongTimeFormat, AContext.When, ALocale); break;
      case u'T': out += FormatDateTimeText(TwentyFourHourTime, AContext.When, ALocale); break;
      case u'p': out += IntToText(AContext.Page); break;
      case u'P': out += IntToText(AContext.PageCount); break;
      case u'&': out += u'&'; break;
      case u'b': segments.emplace_back(); break;
      default: out += u'&'; out += code;
    }
  }
  TzbLineParts parts;
  parts.Left = segments.front();
  if (segments.size() == 2) parts.Right = segments[1];
  if (segments.size() >= 3) {
    for (std::size_t i = 1; i + 1 < segments.size(); ++i) parts.Centre += segments[i];
    parts.Right = segments.back();
  }
  return parts;
}

}  // namespace zb::print
