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

bool IsLeapYear(unsigned AYear);
int DaysInMonth(unsigned AMonth, unsigned AYear);
bool TryEncodeDateValue(std::uint16_t AYear, std::uint16_t AMonth, std::uint16_t ADay, TDateTime& AValue);
TDateTime EncodeDateValue(std::uint16_t AYear, std::uint16_t AMonth, std::uint16_t ADay);
TDateTime EncodeTimeValue(std::uint16_t AHour, std::uint16_t AMinute, std::uint16_t ASecond,
                          std::uint16_t AMillisecond);
TDateTime EncodeDateTime(std::uint16_t AYear, std::uint16_t AMonth, std::uint16_t ADay, std::uint16_t AHour,
                         std::uint16_t AMinute, std::uint16_t ASecond, std::uint16_t AMillisecond);
// Rounded to the millisecond first, so 23:59:59.999 stays on its day.
TzbDateTimeParts DecodeDateTime(TDateTime AValue);

TDateTime CurrentDate();
TDateTime Now();

std::u16string FormatIsoDateTime(TDateTime AValue);
std::u16string NowIsoText();
std::u16string FormatIsoDate(TDateTime AValue);
// The ISO date followed by the folder separator "/".
std::u16string DateFolderName(TDateTime AValue);
std::u16string DateTimeToText(bool AWithSeconds, TDateTime AValue);

// The pattern rules (letters y m d h n s z t c, am/pm, a/p, ampm, "/", ":", quoted text) with the
// current locale; FormatDateTimeEx (zbStr) adds the zero/non-zero choice and "%D".
std::u16string FormatDateTimeText(std::u16string_view APattern, TDateTime AValue);
std::u16string FormatDateTimeText(std::u16string_view APattern, TDateTime AValue, const TzbLocale& ALocale);

}  // namespace zb
