// Reading the plain error log back: the newest entry (the first in the file) with its message and
// report lines, for showing a logged error again.
#pragma once

#include <string>
#include <string_view>

#include "errors/ExceptDlg.h"

namespace zb {

struct TzbLogEntry {
  std::u16string Written;  // the entry's time stamp line
  std::u16string Message;  // CR LF between its lines; empty for an empty message
  TStrings Details;        // the report lines
};

// The newest entry of a plain log (UTF-16LE, CR LF). Raises EzbFileError when the file cannot be read
// or holds no entry.
TzbLogEntry ReadNewestLogEntry(std::u16string_view AFileName);
TzbLogEntry ParseNewestLogEntry(std::u16string_view AText);

// The most recently changed "*.log" file in Folder; empty when there is none.
std::u16string NewestLogFile(std::u16string_view AFolder);

}  // namespace zb
