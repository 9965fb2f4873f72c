#include "errors/ExceptLogReader.h"

#include <filesystem>
#include <system_error>

#include "support/zbException.h"
#include "support/zbFileCtrl.h"
#include "support/zbStr.h"

namespace zb {
namespace {

constexpr std::u16string_view SNoLogEntry = u"Keine Fehlermeldung im Protokoll gefunden";

TStrings SplitCrLf(std::u16string_view AText) {
  TStrings lines;
  std::size_t start = 0;
  while (start <= AText.size()) {
    const std::size_t end = AText.find(u"\r\n", start);
    if (end == std::u16string_view::npos) {
      lines.emplace_back(AText.substr(start));
      break;
    }
    lines.emplace_back(AText.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::u16string FromUtf16LE(std::string_view ABytes) {
  std::u16string text;
  text.reserve(ABytes.size() / 2);
  for (std::size_t i = 0; i + 1 < ABytes.size(); i += 2)
    text += static_cast<char16_t>(static_cast<unsigned char>(ABytes[i]) |
                                  static_cast<unsigned>(static_cast<unsigned char>(ABytes[i + 1])) << 8);
  return text;
}

}  // namespace

TzbLogEntry ParseNewestLogEntry(std::u16string_view AText) {
  const TStrings lines = SplitCrLf(AText);
  const std::u16string head(19, u'='), body(100, u'='), next(100, u'*');
  if (lines.size() < 4 || lines[1] != head) throw EzbFileError(std::u16string(SNoLogEntry));
  TzbLogEntry entry;
  entry.Written = lines[0];
  std::size_t i = 2;
  for (; i < lines.size() && lines[i] != body; ++i) {
    if (i > 2) entry.Message += u"\r\n";
    entry.Message += lines[i];
  }
  if (i == lines.size()) throw EzbFileError(std::u16string(SNoLogEntry));
  for (++i; i < lines.size() && lines[i] != next; ++i) entry.Details.push_back(lines[i]);
  // The entry closes with empty lines of its own; a report never ends with one.
  while (!entry.Details.empty() && entry.Details.back().empty()) entry.Details.pop_back();
  return entry;
}

TzbLogEntry ReadNewestLogEntry(std::u16string_view AFileName) {
  return ParseNewestLogEntry(FromUtf16LE(ReadFileBytes(AFileName)));
}

std::u16string NewestLogFile(std::u16string_view AFolder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(fs::path(Utf16ToUtf8(AFolder)), ec);
  std::u16string newest;
  fs::file_time_type newestTime{};
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path& path = it->path();
    if (!it->is_regular_file(ec) || !SameTextEx(Utf8ToUtf16(path.extension().string()), u".log", false)) continue;
    const auto time = it->last_write_time(ec);
    if (ec) continue;
    if (newest.empty() || time > newestTime) {
      newest = Utf8ToUtf16(path.string());
      newestTime = time;
    }
  }
  return newest;
}

}  // namespace zb
