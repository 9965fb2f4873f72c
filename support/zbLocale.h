// Locale facts for dates and numbers: read once from glibc (LC_TIME, LC_NUMERIC) and converted to the
// system's pattern letters, or a fixed German profile that tests and the service can select.
#pragma once

#include <array>
#include <string>

namespace zb {

struct TzbLocale {
  std::u16string ShortDateFormat;  // e.g. "dd.mm.yyyy"
  std::u16string LongDateFormat;
  std::u16string ShortTimeFormat;  // e.g. "hh:nn"
  std::u16string LongTimeFormat;   // e.g. "hh:nn:ss"
  char16_t DateSeparator = u'.';
  char16_t TimeSeparator = u':';
  char16_t DecimalSeparator = u',';
  std::u16string TimeAMString, TimePMString;
  std::array<std::u16string, 12> ShortMonthNames, LongMonthNames;
  std::array<std::u16string, 7> ShortDayNames, LongDayNames;  // Sunday first
};

// German settings, as the service was used with.
const TzbLocale& GermanLocale();
// The user's locale from the environment (LC_ALL, LC_TIME, LANG); "C" when that cannot be loaded.
TzbLocale LocaleFromEnvironment();
// Converts a strftime pattern ("%d.%m.%Y") to the pattern letters ("dd.mm.yyyy").
std::u16string PatternFromStrftime(const std::string& AFormat);

// The process-wide locale; loaded from the environment on first use.
const TzbLocale& CurrentLocale();
void SetCurrentLocale(const TzbLocale& ALocale);

}  // namespace zb
