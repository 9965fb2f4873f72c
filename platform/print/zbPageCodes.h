// The page-setup codes of header and footer texts ("&w", "&p", "&b", …) expanded for one page into
// the three parts of the line: left, centre, right.
#pragma once

#include <string>
#include <string_view>

#include "support/zbDateUtils.h"

namespace zb::print {

struct TzbPageCodeContext {
  std::u16string Title;    // &w
  std::u16string Address;  // &u
  TDateTime When = 0;      // &d &D &t &T
  int Page = 1;            // &p
  int PageCount = 1;       // &P
};

struct TzbLineParts {
  std::u16string Left, Centre, Right;
  bool operator==(const TzbLineParts&) const = default;
  bool Empty() const { return Left.empty() && Centre.empty() && Right.empty(); }
};

// &w title, &u address, &d/&D short/long date and &t time in the current locale (zbLocale), &T
// 24-hour time, &p page, &P page count, && "&". &b splits the line: the text before the first &b is
// left; with one &b the rest is right; with more, the text up to the second &b is centred, the text
// after the last is right, and any text between the second and the last joins the centre.
// Unknown codes and a trailing "&" stay as written; expanded values are never read as codes.
TzbLineParts ExpandPageCodes(std::u16string_view ATemplate, const TzbPageCodeContext& AContext);
TzbLineParts ExpandPageCodes(std::u16string_view ATemplate, const TzbPageCodeContext& AContext,
                             const TzbLocale& ALocale);

}  // namespace zb::print
