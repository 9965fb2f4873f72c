#include "support/zbLocale.h"

#include <glib.h>
#include <langinfo.h>
#include <locale.h>

#include <mutex>
#include <optional>

#include "support/zbCOwner.h"
#include "support/zbUnicode.h"

namespace zb {
namespace {

// The German long date, also the pattern of any locale whose dates are written with dots.
constexpr std::u16string_view GermanLongDate = u"dddd, d. mmmm yyyy";

std::u16string U(const char* AUtf8) { return Utf8ToUtf16(AUtf8 ? AUtf8 : ""); }

// Letters of a literal must not act as pattern elements.
void AppendLiteral(std::u16string& AOut, char AChar) {
  if (g_ascii_isalpha(AChar)) {
    AOut += u'"';
    AOut += static_cast<char16_t>(AChar);
    AOut += u'"';
  } else {
    AOut += static_cast<char16_t>(static_cast<unsigned char>(AChar));
  }
}

std::u16string ShortTimeFrom(std::u16string ALongTime) {
  // The short time is the long time without its seconds element and the separator before it.
  const auto s = ALongTime.find(u"ss");
  if (s == std::u16string::npos) return ALongTime;
  std::size_t from = s;
  while (from > 0 && (ALongTime[from - 1] == u':' || ALongTime[from - 1] == u'.')) --from;
  ALongTime.erase(from, s + 2 - from);
  return ALongTime;
}

// Converts a text of the locale's own character set to UTF-16.
std::u16string LocaleText(locale_t ALoc, nl_item AItem) {
  const char* raw = nl_langinfo_l(AItem, ALoc);
  const char* codeset = nl_langinfo_l(CODESET, ALoc);
  if (!raw) return {};
  if (!codeset || g_ascii_strcasecmp(codeset, "UTF-8") == 0) return U(raw);
  const TzbOwner<gchar, g_free> utf8(g_convert(raw, -1, "UTF-8", codeset, nullptr, nullptr, nullptr));
  return utf8 ? U(utf8.get()) : FromLatin1Bytes(raw);
}

}  // namespace

std::u16string PatternFromStrftime(const std::string& AFormat) {
  std::u16string out;
  for (std::size_t i = 0; i < AFormat.size(); ++i) {
    const char c = AFormat[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      std::size_t end = i;
      while (end < AFormat.size() && static_cast<unsigned char>(AFormat[end]) >= 0x80) ++end;
      out += Utf8ToUtf16(std::string_view(AFormat).substr(i, end - i));
      i = end - 1;
      continue;
    }
    if (c != '%' || i + 1 >= AFormat.size()) {
      AppendLiteral(out, c);
      continue;
    }
    char d = AFormat[++i];
    // Flags and the E/O modifiers do not change which element is meant.
    while ((d == '-' || d == '_' || d == '0' || d == '^' || d == '#' || d == 'E' || d == 'O') && i + 1 < AFormat.size())
      d = AFormat[++i];
    switch (d) {
      case 'd': out += u"dd"; break;
      case 'e': out += u"d"; break;
      case 'm': out += u"mm"; break;
      case 'Y':
      case 'G': out += u"yyyy"; break;
      case 'y':
      case 'g': out += u"yy"; break;
      case 'b':
      case 'h': out += u"mmm"; break;
      case 'B': out += u"mmmm"; break;
      case 'a': out += u"ddd"; break;
      case 'A': out += u"dddd"; break;
      case 'H':
      case 'I': out += u"hh"; break;
      case 'k':
      case 'l': out += u"h"; break;
      case 'M': out += u"nn"; break;
      case 'S': out += u"ss"; break;
      case 'p':
      case 'P': out += u"ampm"; break;
      case 'T': out += u"hh:nn:ss"; break;
      case 'R': out += u"hh:nn"; break;
      case 'r': out += u"hh:nn:ss ampm"; break;
      case 'D': out += u"mm/dd/yy"; break;
      case 'F': out += u"yyyy-mm-dd"; break;
      case 'n':
      case 't': out += u' '; break;
      case '%': out += u'%'; break;
      default: break;  // time zone, week numbers and the like have no element
    }
  }
  return out;
}

const TzbLocale& GermanLocale() {
  static const TzbLocale german = [] {
    TzbLocale l;
    l.ShortDateFormat = u"dd.mm.yyyy";
    l.LongDateFormat = GermanLongDate;
    l.ShortTimeFormat = u"hh:nn";
    l.LongTimeFormat = u"hh:nn:ss";
    l.DateSeparator = u'.';
    l.TimeSeparator = u':';
    l.DecimalSeparator = u',';
    l.ShortMonthNames = {u"Jan", u"Feb", u"Mär", u"Apr", u"Mai", u"Jun",
                         u"Jul", u"Aug", u"Sep", u"Okt", u"Nov", u"Dez"};
    l.LongMonthNames = {u"Januar", u"Februar", u"März",      u"April",   u"Mai",      u"Juni",
                        u"Juli",   u"August",  u"September", u"Oktober", u"November", u"Dezember"};
    l.ShortDayNames = {u"So", u"Mo", u"Di", u"Mi", u"Do", u"Fr", u"Sa"};
    l.LongDayNames = {u"Sonntag", u"Montag", u"Dienstag", u"Mittwoch", u"Donnerstag", u"Freitag", u"Samstag"};
    return l;
  }();
  return german;
}

TzbLocale LocaleFromEnvironment() {
  TzbLocaleOwner handle(newlocale(LC_TIME_MASK | LC_NUMERIC_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr)));
  if (!handle) handle.reset(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr)));
  TzbLocale l;
  if (!handle) return GermanLocale();
  const locale_t loc = handle.get();
  const std::string dateFmt = Utf16ToUtf8(LocaleText(loc, D_FMT));
  const std::string timeFmt = Utf16ToUtf8(LocaleText(loc, T_FMT));
  l.ShortDateFormat = PatternFromStrftime(dateFmt);
  l.LongTimeFormat = PatternFromStrftime(timeFmt);
  if (l.LongTimeFormat.empty()) l.LongTimeFormat = u"hh:nn:ss";
  l.ShortTimeFormat = ShortTimeFrom(l.LongTimeFormat);
  l.DateSeparator = u'/';
  for (char c : dateFmt)
    if (c == '.' || c == '/' || c == '-') {
      l.DateSeparator = static_cast<char16_t>(c);
      break;
    }
  l.TimeSeparator = u':';
  for (char c : timeFmt)
    if (c == ':' || c == '.') {
      l.TimeSeparator = static_cast<char16_t>(c);
      break;
    }
  const std::u16string radix = LocaleText(loc, RADIXCHAR);
  l.DecimalSeparator = radix.empty() ? u'.' : radix[0];
  l.TimeAMString = LocaleText(loc, AM_STR);
  l.TimePMString = LocaleText(loc, PM_STR);
  for (int i = 0; i < 12; ++i) {
    l.ShortMonthNames[i] = LocaleText(loc, static_cast<nl_item>(ABMON_1 + i));
    l.LongMonthNames[i] = LocaleText(loc, static_cast<nl_item>(MON_1 + i));
  }
  for (int i = 0; i < 7; ++i) {
    l.ShortDayNames[i] = LocaleText(loc, static_cast<nl_item>(ABDAY_1 + i));
    l.LongDayNames[i] = LocaleText(loc, static_cast<nl_item>(DAY_1 + i));
  }
  // glibc has no long date pattern; build one in the order of the short date.
  const auto dayPos = l.ShortDateFormat.find(u'd'), monthPos = l.ShortDateFormat.find(u'm'),
             yearPos = l.ShortDateFormat.find(u'y');
  if (yearPos < dayPos && yearPos < monthPos)
    l.LongDateFormat = u"dddd, yyyy mmmm d";
  else if (monthPos < dayPos)
    l.LongDateFormat = u"dddd, mmmm d, yyyy";
  else
    l.LongDateFormat = l.DateSeparator == u'.' ? GermanLongDate : u"dddd, d mmmm yyyy";
  return l;
}

namespace {
std::mutex& LocaleMutex() {
  static std::mutex m;
  return m;
}
std::optional<TzbLocale>& LocaleSlot() {
  static std::optional<TzbLocale> slot;
  return slot;
}
}  // namespace

const TzbLocale& CurrentLocale() {
  std::lock_guard lock(LocaleMutex());
  auto& slot = LocaleSlot();
  if (!slot) slot = LocaleFromEnvironment();
  return *slot;
}

void SetCurrentLocale(const TzbLocale& ALocale) {
  std::lock_guard lock(LocaleMutex());
  LocaleSlot() = ALocale;
}

}  // namespace zb
