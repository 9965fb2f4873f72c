// The date-time value (days since 30 December 1899, the fraction being the time of day), encoding and
// validation with the German error texts, the fixed ISO texts, and the pattern formatter's rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/zbException.h"
#include "support/zbLocale.h"

namespace zb {

using TDateTime = double;

class EzbDateTimeError : public EzbException {
 public:
  using EzbException::EzbException;
};

struct TzbDateTimeParts {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
  int DayOfWeek = 0;  // 1 = Sunday
};

bool IsLeapYear(unsigned Year);
int DaysInMonth(unsigned Month, unsigned Year);
bool TryEncodeDateValue(std::uint16_t Year, std::uint16_t Month, std::uint16_t Day, TDateTime& Value);
TDateTime EncodeDateValue(std::uint16_t Year, std::uint16_t Month, std::uint16_t Day);
TDateTime EncodeTimeValue(std::uint16_t Hour, std::uint16_t Minute, std::uint16_t Second, std::uint16_t Millisecond);
TDateTime EncodeDateTime(std::uint16_t Year, std::uint16_t Month, std::uint16_t Day, std::uint16_t Hour,
                         std::uint16_t Minute, std::uint16_t Second, std::uint16_t Millisecond);
// Rounded to the millisecond first, so 23:59:59.999 stays on its day.
TzbDateTimeParts DecodeDateTime(TDateTime Value);

TDateTime CurrentDate();
TDateTime Now();

std::u16string FormatIsoDateTime(TDateTime Value);
std::u16string NowIsoText();
std::u16string FormatIsoDate(TDateTime Value);
// The ISO date followed by the folder separator "/".
std::u16string DateFolderName(TDateTime Value);
std::u16string DateTimeToText(bool WithSeconds, TDateTime Value);

// The pattern rules (letters y m d h n s z t c, am/pm, a/p, ampm, "/", ":", quoted text) with the
// current locale; FormatDateTimeEx (zbStr) adds the zero/non-zero choice and "%D".
std::u16string FormatDateTimeText(std::u16string_view Pattern, TDateTime Value);
std::u16string FormatDateTimeText(std::u16string_view Pattern, TDateTime Value, const TzbLocale& Locale);

}  // namespace zb
