#include "support/zbDateUtils.h"

#include <cmath>
#include <ctime>

#include "support/zbStr.h"

namespace zb {
namespace {

constexpr std::int64_t MSecsPerDay = 86400000;
constexpr int UnixEpochSerial = 25569;  // 1970-01-01

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(std::int64_t ADays, int& AYear, int& AMonth, int& ADay) {
  ADays += 719468;
  const std::int64_t era = (ADays >= 0 ? ADays : ADays - 146096) / 146097;
  const auto doe = static_cast<unsigned>(ADays - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  ADay = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  AMonth = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  AYear = static_cast<int>(yy + (AMonth <= 2));
}

std::u16string Digits(int AValue, int AMinDigits) {
  std::u16string s = IntToText(AValue < 0 ? -AValue : AValue);
  if (static_cast<int>(s.size()) < AMinDigits) s.insert(0, static_cast<std::size_t>(AMinDigits) - s.size(), u'0');
  return AValue < 0 ? u"-" + s : s;
}

char16_t UpperAscii(char16_t AChar) {
  return (AChar >= u'a' && AChar <= u'z') ? static_cast<char16_t>(AChar - 32) : AChar;
}

bool StartsWithNoCase(std::u16string_view AText, std::size_t AAt, std::u16string_view APrefix) {
  if (AText.size() - AAt < APrefix.size()) return false;
  for (std::size_t k = 0; k < APrefix.size(); ++k)
    if (UpperAscii(AText[AAt + k]) != UpperAscii(APrefix[k])) return false;
  return true;
}

// True when an am/pm element stands after 'from', outside quotes, before the next hour element.
bool AmPmFollows(std::u16string_view AFormat, std::size_t AFrom) {
  for (std::size_t i = AFrom; i < AFormat.size(); ++i) {
    const char16_t c = UpperAscii(AFormat[i]);
    if (c == u'"' || c == u'\'') {
      const std::size_t close = AFormat.find(AFormat[i], i + 1);
      if (close == std::u16string_view::npos) return false;
      i = close;
    } else if (c == u'H') {
      return false;
    } else if (c == u'A' && (StartsWithNoCase(AFormat, i, u"am/pm") || StartsWithNoCase(AFormat, i, u"a/p") ||
                             StartsWithNoCase(AFormat, i, u"ampm"))) {
      return true;
    }
  }
  return false;
}

class TFormatter {
 public:
  TFormatter(TDateTime AValue, const TzbLocale& ALocale) : FParts(DecodeDateTime(AValue)), FLocale(ALocale) {}

  void Run(std::u16string_view AFormat, int ADepth) {
    // Locale patterns may refer to each other; two levels are all that real patterns need.
    if (ADepth > 2) return;
    char16_t lastLetter = 0;
    std::size_t i = 0;
    while (i < AFormat.size()) {
      const char16_t raw = AFormat[i];
      const char16_t c = UpperAscii(raw);
      if (c == u'"' || c == u'\'') {
        const std::size_t close = AFormat.find(raw, i + 1);
        const std::size_t end = close == std::u16string_view::npos ? AFormat.size() : close;
        FOut.append(AFormat.substr(i + 1, end - i - 1));
        i = end == AFormat.size() ? end : end + 1;
        continue;
      }
      if (c == u'/') {
        FOut += FLocale.DateSeparator;
        ++i;
        continue;
      }
      if (c == u':') {
        FOut += FLocale.TimeSeparator;
        ++i;
        continue;
      }
      if (c == u'A') {
        if (StartsWithNoCase(AFormat, i, u"ampm")) {
          FOut += FParts.Hour >= 12 ? FLocale.TimePMString : FLocale.TimeAMString;
          i += 4;
        } else if (StartsWithNoCase(AFormat, i, u"am/pm")) {
          FOut.append(AFormat.substr(FParts.Hour >= 12 ? i + 3 : i, 2));
          i += 5;
        } else if (StartsWithNoCase(AFormat, i, u"a/p")) {
          FOut += AFormat[FParts.Hour >= 12 ? i + 2 : i];
          i += 3;
        } else {
          FOut += raw;
          ++i;
          continue;
        }
        lastLetter = u'A';
        continue;
      }
      if (c != u'Y' && c != u'M' && c != u'D' && c != u'H' && c != u'N' && c != u'S' && c != u'Z' && c != u'T' &&
          c != u'C') {
        FOut += raw;
        ++i;
        continue;
      }
      std::size_t count = 1;
      while (i + count < AFormat.size() && UpperAscii(AFormat[i + count]) == c) ++count;
      const std::size_t next = i + count;
      switch (c) {
        case u'Y': FOut += count <= 2 ? Digits(FParts.Year % 100, 2) : Digits(FParts.Year, 4); break;
        case u'M':
          if (lastLetter == u'H' && count <= 2)
            FOut += Digits(FParts.Minute, count == 1 ? 1 : 2);
          else if (count <= 2)
            FOut += Digits(FParts.Month, static_cast<int>(count));
          else
            FOut += count == 3 ? FLocale.ShortMonthNames[FParts.Month - 1] : FLocale.LongMonthNames[FParts.Month - 1];
          break;
        case u'D':
          if (count <= 2)
            FOut += Digits(FParts.Day, static_cast<int>(count));
          else if (count == 3)
            FOut += FLocale.ShortDayNames[FParts.DayOfWeek - 1];
          else if (count == 4)
            FOut += FLocale.LongDayNames[FParts.DayOfWeek - 1];
          else
            Run(count == 5 ? FLocale.ShortDateFormat : FLocale.LongDateFormat, ADepth + 1);
          break;
        case u'H': {
          int hour = FParts.Hour;
          if (AmPmFollows(AFormat, next)) {
            hour %= 12;
            if (hour == 0) hour = 12;
          }
          FOut += Digits(hour, count >= 2 ? 2 : 1);
          break;
        }
        case u'N': FOut += Digits(FParts.Minute, count >= 2 ? 2 : 1); break;
        case u'S': FOut += Digits(FParts.Second, count >= 2 ? 2 : 1); break;
        case u'Z': FOut += Digits(FParts.Millisecond, count >= 3 ? 3 : 1); break;
        case u'T': Run(count == 1 ? FLocale.ShortTimeFormat : FLocale.LongTimeFormat, ADepth + 1); break;
        case u'C':
          Run(FLocale.ShortDateFormat, ADepth + 1);
          if (FParts.Hour || FParts.Minute || FParts.Second || FParts.Millisecond) {
            FOut += u' ';
            Run(FLocale.LongTimeFormat, ADepth + 1);
          }
          break;
        default: break;
      }
      lastLetter = c;
      i = next;
    }
  }

  std::u16string FOut;

 private:
  TzbDateTimeParts FParts;
  const TzbLocale& FLocale;
};

}  // namespace

bool IsLeapYear(unsigned AYear) { return (AYear % 4 == 0 && AYear % 100 != 0) || AYear % 400 == 0; }

int DaysInMonth(unsigned AMonth, unsigned AYear) {
  if (AMonth == 0 || AMonth > 12) return 0;
  if (AMonth == 2) return IsLeapYear(AYear) ? 29 : 28;
  if (AMonth == 4 || AMonth == 6 || AMonth == 9 || AMonth == 11) return 30;
  return 31;
}

bool TryEncodeDateValue(std::uint16_t AYear, std::uint16_t AMonth, std::uint16_t ADay, TDateTime& AValue) {
  if (AYear < 1 || AYear > 9999 || AMonth < 1 || AMonth > 12 || ADay < 1 || ADay > DaysInMonth(AMonth, AYear))
    return false;
  // The year begins in March, so the leap day is the last day of the shifted year.
  int y = AYear, m = AMonth;
  if (m > 2) {
    m -= 3;
  } else {
    m += 9;
    --y;
  }
  const long long c = y / 100, ya = y % 100;
  // Whole days: every division here is meant to drop its remainder.
  const long long days = (146097 * c) / 4 + (1461 * ya) / 4 + (153 * m + 2) / 5 + ADay - 693900;
  AValue = static_cast<double>(days);
  return true;
}

TDateTime EncodeDateValue(std::uint16_t AYear, std::uint16_t AMonth, std::uint16_t ADay) {
  TDateTime value = 0;
  if (!TryEncodeDateValue(AYear, AMonth, ADay, value))
    throw EzbDateTimeError(u"Ungültiges Datum.\r\nJahr: %.4d\r\nMonat: %.2d\r\nTag: %.2d", {AYear, AMonth, ADay});
  return value;
}

TDateTime EncodeTimeValue(std::uint16_t AHour, std::uint16_t AMinute, std::uint16_t ASecond,
                          std::uint16_t AMillisecond) {
  if (AHour > 23 || AMinute > 59 || ASecond > 59 || AMillisecond > 999)
    throw EzbConvertError(std::u16string(u"Ungültiges Argument zum Codieren der Uhrzeit"));
  return static_cast<double>(AHour * 3600000LL + AMinute * 60000LL + ASecond * 1000LL + AMillisecond) /
         static_cast<double>(MSecsPerDay);
}

TDateTime EncodeDateTime(std::uint16_t AYear, std::uint16_t AMonth, std::uint16_t ADay, std::uint16_t AHour,
                         std::uint16_t AMinute, std::uint16_t ASecond, std::uint16_t AMillisecond) {
  const TDateTime date = EncodeDateValue(AYear, AMonth, ADay);
  return date + EncodeTimeValue(AHour, AMinute, ASecond, AMillisecond);
}

TzbDateTimeParts DecodeDateTime(TDateTime AValue) {
  TzbDateTimeParts parts;
  if (!std::isfinite(AValue) || std::fabs(AValue) > 3.0e6) AValue = 0;  // far outside years 1..9999
  const auto total = static_cast<std::int64_t>(std::llround(AValue * static_cast<double>(MSecsPerDay)));
  std::int64_t days = total / MSecsPerDay;
  std::int64_t ms = total % MSecsPerDay;
  if (ms < 0) {
    // Before the epoch the fraction still counts forward from midnight.
    ms = -ms;
  }
  CivilFromDays(days - UnixEpochSerial, parts.Year, parts.Month, parts.Day);
  parts.Hour = static_cast<int>(ms / 3600000);
  parts.Minute = static_cast<int>(ms / 60000 % 60);
  parts.Second = static_cast<int>(ms / 1000 % 60);
  parts.Millisecond = static_cast<int>(ms % 1000);
  // Day 0 (30 December 1899) was a Saturday.
  parts.DayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
  return parts;
}

TDateTime CurrentDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  TDateTime value = 0;
  TryEncodeDateValue(static_cast<std::uint16_t>(local.tm_year + 1900), static_cast<std::uint16_t>(local.tm_mon + 1),
                     static_cast<std::uint16_t>(local.tm_mday), value);
  return value;
}

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm local{};
  localtime_r(&ts.tv_sec, &local);
  TDateTime date = 0;
  TryEncodeDateValue(static_cast<std::uint16_t>(local.tm_year + 1900), static_cast<std::uint16_t>(local.tm_mon + 1),
                     static_cast<std::uint16_t>(local.tm_mday), date);
  const auto second = static_cast<std::uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);  // leap second
  return date + EncodeTimeValue(static_cast<std::uint16_t>(local.tm_hour), static_cast<std::uint16_t>(local.tm_min),
                                second, static_cast<std::uint16_t>(ts.tv_nsec / 1000000));
}

std::u16string FormatIsoDateTime(TDateTime AValue) {
  const auto p = DecodeDateTime(AValue);
  return Format(u"%.4d-%.2d-%.2d %.2d:%.2d:%.2d", {p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second});
}

std::u16string NowIsoText() { return FormatIsoDateTime(Now()); }

std::u16string FormatIsoDate(TDateTime AValue) {
  const auto p = DecodeDateTime(AValue);
  return Format(u"%0:.4d-%1:.2d-%2:.2d", {p.Year, p.Month, p.Day});
}

std::u16string DateFolderName(TDateTime AValue) { return FormatIsoDate(AValue) + u"/"; }

std::u16string DateTimeToText(bool AWithSeconds, TDateTime AValue) {
  const TzbLocale& locale = CurrentLocale();
  return FormatDateTimeText(
      locale.ShortDateFormat + u" " + (AWithSeconds ? locale.LongTimeFormat : locale.ShortTimeFormat), AValue, locale);
}

std::u16string FormatDateTimeText(std::u16string_view APattern, TDateTime AValue) {
  return FormatDateTimeText(APattern, AValue, CurrentLocale());
}

std::u16string FormatDateTimeText(std::u16string_view APattern, TDateTime AValue, const TzbLocale& ALocale) {
  TFormatter formatter(AValue, ALocale);
  formatter.Run(APattern, 0);
  return formatter.FOut;
}

}  // namespace zb
