// htmlservice-errorview: shows an error the service has logged in the exception dialog, the way a program
// that is not silent would have shown it: the newest entry of a log file, or of the newest log in the
// service's log folder.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "errors/ExceptDlgForm.h"
#include "errors/ExceptLogReader.h"
#include "platform/glib/zbCallbackGuard.h"
#include "service/HtmlServiceConst.h"
#include "support/zbFileCtrl.h"
#include "support/zbShellAPI.h"
#include "support/zbStr.h"
#include "support/zbUnicode.h"

namespace {

using namespace zb;

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

constexpr const char* HelpText =
    "Usage: htmlservice-errorview [LOGFILE]\n"
    "Shows the newest entry of an error log of the Plumadesk HTML service in the exception dialog.\n"
    "Without LOGFILE the newest *.log in the service's log folder is used\n"
    "($XDG_STATE_HOME/Vestrum-Logs/Plumadesk 5.0, default ~/.local/state/...).\n"
    "Exit 0 when the dialog was shown and closed, 1 on failure, 2 on wrong usage.\n";

// The logged report instead of one of this process.
class TLogEntryDialog : public TExceptionDialog {
 public:
  explicit TLogEntryDialog(TStrings ADetails) : FDetails(std::move(ADetails)) {}

 protected:
  void FillDetails() override { SetDetailsLines(FDetails); }

 private:
  TStrings FDetails;
};

int Fail(const std::string& AMessage) {
  std::fprintf(stderr, "htmlservice-errorview: %s\n", AMessage.c_str());
  return ExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && argv[1][0] == '-' && std::strcmp(argv[1], "--help") != 0)) {
    std::fprintf(stderr, "%sTry 'htmlservice-errorview --help'.\n", argc > 2 ? "too many arguments\n" : "");
    return ExitUsage;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(HelpText, stdout);
    return ExitOk;
  }
  // The dialog's Save proposes the log folder unless the user chose another one before.
  const std::u16string folder = ServiceLogFolder();
  SetLogFolder(folder);
  std::u16string logFile;
  if (argc == 2) {
    logFile = Utf8ToUtf16(argv[1]);
  } else {
    logFile = NewestLogFile(folder);
    if (logFile.empty()) return Fail("no error log in " + Utf16ToUtf8(folder));
  }
  TzbLogEntry entry;
  try {
    entry = ReadNewestLogEntry(logFile);
  } catch (const std::exception& e) {
    return Fail(Utf16ToUtf8(logFile) + ": " + e.what());
  }
  if (!gtk_init_check(&argc, &argv)) {
    const char* display = g_getenv("DISPLAY");
    return Fail(std::string("cannot open the display \"") + (display ? display : "") + "\"");
  }
  SetApplicationTitle(ServiceTitle);
  // A failure inside the dialog (a report that cannot be saved) is shown in front of it.
  SetCallbackErrorHook(
      [](const std::exception& AException) { TExceptionDialog::OnExceptionHandler(nullptr, AException); });
  TExceptionDialog::SetDialogClass([details = entry.Details] { return std::make_unique<TLogEntryDialog>(details); });
  try {
    TExceptionDialog::OnExceptionHandler(nullptr, EzbException(entry.Message));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  return ExitOk;
}
