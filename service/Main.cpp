#include "service/Main.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "errors/ExceptDlg.h"
#include "service/HtmlServiceConst.h"
#include "support/zbDateUtils.h"
#include "support/zbFileCtrl.h"
#include "support/zbShellAPI.h"
#include "support/zbSound.h"
#include "support/zbStr.h"
#include "support/zbUnicode.h"

namespace zb {

namespace {

constexpr char kPingDelayVariable[] = "HTMLSERVICE_TEST_PING_DELAY_MS";
constexpr std::int32_t kClientWidth = 484;
constexpr std::int32_t kClientHeight = 562;
// A TPoint coordinate with this value leaves the coordinate unchanged.
constexpr std::int32_t kUnchanged = INT32_MIN;

}  // namespace

// --- TApplication -------------------------------------------------------------------------------

TApplication::TApplication(TzbBusServer& ABus) : FBus(ABus) {}

std::int32_t TApplication::Handle() const { return static_cast<std::int32_t>(getpid()); }

void TApplication::Run() {
  if (FTerminated) return;
  FRunning = true;
  gtk_main();
  FRunning = false;
}

void TApplication::Terminate() {
  if (FTerminated) return;
  FTerminated = true;
  FBus.Stop();
  if (FRunning) gtk_main_quit();
}

void TApplication::ProcessMessages() {
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

void TApplication::HandleMessage() { g_main_context_iteration(nullptr, TRUE); }

// --- the bus side of the form ------------------------------------------------------------------

TServiceOptions TServiceOptions::FromEnvironment() {
  TServiceOptions options;
  if (const char* delay = std::getenv(kPingDelayVariable)) {
    char* end = nullptr;
    unsigned long value = std::strtoul(delay, &end, 10);
    if (end != delay && *end == 0 && value <= 60000) options.PingDelayMs = static_cast<unsigned>(value);
  }
  return options;
}

class TfrmHtmlService::TRequestHandler : public IzbBusHandler {
 public:
  explicit TRequestHandler(TfrmHtmlService& AForm) : FForm(AForm) {}

  std::int32_t HandleRequest(const TzbBusRequest& ARequest) override {
    return ServiceWndProc(FForm, ARequest.Code, TBlockView(ARequest.Data, ARequest.Size));
  }

  std::vector<std::uint8_t> BuildBlock(const TzbBusMethod& AMethod, const TzbBusCall& ACall) override {
    switch (AMethod.Args) {
      case TzbBusArgs::baNone: return {};
      case TzbBusArgs::baText: return MakeTextBlock(ACall.Text);
      case TzbBusArgs::baPoint: return MakePointBlock({ACall.X, ACall.Y});
      case TzbBusArgs::baCommand: {
        THtmlExecCmd cmd;
        cmd.iCmdID = ACall.Command;
        cmd.bShowUI = ACall.ShowUI ? VARIANT_TRUE : 0;
        cmd.oleValue = std::visit(
            [](const auto& v) -> TOleVariantBytes {
              using T = std::decay_t<decltype(v)>;
              if constexpr (std::is_same_v<T, std::u16string>) {
                throw EzbException(u"A text value cannot be carried in the command record");
              } else {
                return MakeOleVariant(TCommandValue(v));
              }
            },
            ACall.Value);
        return MakeExecCmdBlock(cmd);
      }
    }
    return {};
  }

  void RequestFailed(const std::exception& AError) override { FForm.ApplicationException(AError); }

 private:
  TfrmHtmlService& FForm;
};

std::vector<TzbBusMethod> ServiceBusMethods() {
  using A = TzbBusArgs;
  return {
      {"Ping", A::baNone, HS_PING},
      {"LoadFromFile", A::baText, HS_LOADFROMFILE},
      {"SaveToFile", A::baText, HS_SAVETOFILE},
      {"PrintFiles", A::baText, HS_PRINTFILES},
      {"PrintWithDlg", A::baText, HS_PRINTWITHDLG},
      {"PrintPreview", A::baText, HS_PRINTPREVIEW},
      {"PageSetup", A::baNone, HS_PAGESETUP},
      {"SetDefaultPageOptions", A::baText, HS_SETDEFAULTPAGEOPTIONS},
      {"ConvertHtmlToPlain", A::baText, HS_CONVERTHTMLTOPLAIN},
      {"ConcatHtml", A::baText, HS_CONCATHTML},
      {"ConcatPlain", A::baText, HS_CONCATPLAIN},
      {"PasteHtmlAtStart", A::baText, HS_PASTEHTMLSTART},
      {"PasteHtmlAtEnd", A::baText, HS_PASTEHTMLEND},
      {"PastePlainAtStart", A::baText, HS_PASTEPLAINSTART},
      {"PastePlainAtEnd", A::baText, HS_PASTEPLAINEND},
      {"CountImages", A::baText, HS_COUNTIMAGES},
      {"ContainsBackgroundImages", A::baText, HS_CONTAINSBACKGROUNDIMAGES},
      {"CountAllImages", A::baText, HS_COUNTALLIMAGES},
      {"ExecCmd", A::baCommand, HS_EXECCMD},
      {"SetWndPos", A::baPoint, HS_SETWNDPOS},
      {"Terminate", A::baNone, HS_TERMINATE},
  };
}

// --- TfrmHtmlService ---------------------------------------------------------------------------

TfrmHtmlService::TfrmHtmlService(TApplication& AOwner, TServiceOptions AOptions)
    : FApplication(AOwner), FOptions(AOptions) {
  // 1. The form and its layout. The editor component HtmlEdit is created here with the editor.
  FHost.reset(gtk_offscreen_window_new());
  gtk_window_set_default_size(GTK_WINDOW(FHost.get()), kClientWidth, kClientHeight);
  gtk_window_move(GTK_WINDOW(FHost.get()), FLeft, FTop);
  // 2. Transparency: an offscreen window is never on screen, so there is nothing to blend away.
  // 3. The caption.
  FCaption = ServiceTitle;
  gtk_window_set_title(GTK_WINDOW(FHost.get()), Utf16ToUtf8(FCaption).c_str());
  // 4. The error hook ApplicationException is installed here with the error handler.
  // 5. The busy state.
  FHtmlAction = THtmlAction::haNone;
  FbBusy = false;
  // 6. The engine's navigation click, silenced for the user for good.
  try {
    MuteAppEventSound(AppEventNavigating);
  } catch (const std::exception& e) {
    ApplicationException(e);
  }
  // 7. The dispatcher takes over every request.
  FRequests = std::make_unique<TRequestHandler>(*this);
  FApplication.Bus().SetHandler(FRequests.get());
  // Shown at once; the offscreen host has no task-bar window for DoShow to hide.
  gtk_widget_show_all(FHost.get());
}

TfrmHtmlService::~TfrmHtmlService() { FApplication.Bus().SetHandler(nullptr); }

std::int32_t TfrmHtmlService::Ping() {
  if (FOptions.PingDelayMs > 0) {
    bool elapsed = false;
    g_timeout_add(
        FOptions.PingDelayMs,
        [](gpointer AFlag) -> gboolean {
          *static_cast<bool*>(AFlag) = true;
          return G_SOURCE_REMOVE;
        },
        &elapsed);
    while (!elapsed) FApplication.HandleMessage();
  }
  return HS_OK;
}

std::int32_t TfrmHtmlService::SetWndPos(const TPoint& Value) {
  if (Value.X > kUnchanged) FLeft = Value.X;
  if (Value.Y > kUnchanged) FTop = Value.Y;
  gtk_window_move(GTK_WINDOW(FHost.get()), FLeft, FTop);
  return HS_OK;
}

std::int32_t TfrmHtmlService::Terminate() {
  // Closing the main form ends the loop once this answer is on its way.
  FApplication.Terminate();
  return HS_OK;
}

// The operations below need the editor component and answer as an operation that cannot run.
// Each gets its body with the editor, the printing and the command support.

std::int32_t TfrmHtmlService::LoadFromFile(const std::u16string&) { return HS_FAILED; }  // filled in with the editor
std::int32_t TfrmHtmlService::SaveToFile(const std::u16string&) { return HS_FAILED; }    // filled in with the editor

std::int32_t TfrmHtmlService::ConvertHtmlToPlain(const std::u16string& AFileNames) {
  const std::u16string dst = GetListValue(AFileNames, u"DST", u":", u";", u"");
  const std::u16string src = GetListValue(AFileNames, u"SRC", u":", u";", u"");
  return ConvertFileToPlain(src, dst);
}

std::int32_t TfrmHtmlService::ConvertFileToPlain(const std::u16string&, const std::u16string&) {
  return HS_FAILED;  // filled in with the editor
}

std::int32_t TfrmHtmlService::CountImages(const std::u16string&) { return HS_FAILED; }  // filled in with the editor
std::int32_t TfrmHtmlService::ContainsBackgroundImages(const std::u16string&) {
  return HS_FAILED;  // filled in with the editor
}
std::int32_t TfrmHtmlService::CountAllImages(const std::u16string&) { return HS_FAILED; }  // filled in with the editor

std::int32_t TfrmHtmlService::PrintFiles(const std::u16string&) { return HS_FAILED; }    // filled in with printing
std::int32_t TfrmHtmlService::PrintWithDlg(const std::u16string&) { return HS_FAILED; }  // filled in with printing
std::int32_t TfrmHtmlService::PrintPreview(const std::u16string&) { return HS_FAILED; }  // filled in with printing
std::int32_t TfrmHtmlService::PageSetup() { return HS_FAILED; }                          // filled in with printing
std::int32_t TfrmHtmlService::SetDefaultPageOptions(const std::u16string&) {
  return HS_FAILED;  // filled in with the print options
}

std::int32_t TfrmHtmlService::ConcatHtml(const std::u16string& AHtmlSource, bool APlain) {
  return PasteIntoHtml(AHtmlSource, APlain, 1);
}

std::int32_t TfrmHtmlService::PasteIntoHtml(const std::u16string&, bool, int) {
  return HS_FAILED;  // filled in with the editor's text ranges
}

std::int32_t TfrmHtmlService::ExecCmd(const THtmlExecCmd& ACommand) {
  // A value that refers to the sender's memory (a text, an object, an array, a reference) cannot be
  // read from here: it is refused rather than followed.
  const std::uint16_t type = OleVariantType(ACommand.oleValue);
  const bool inline_ = type <= VT_DATE || type == VT_BOOL || (type >= VT_I1 && type <= VT_UI8);
  if (!inline_) {
    ApplicationException(EzbException(u"Befehl %d: der Wert vom Typ %d verweist auf Speicher des Absenders",
                                      {ACommand.iCmdID, type}));
    return HS_FAILED;
  }
  return HS_FAILED;  // filled in with the command table
}

void TfrmHtmlService::ApplicationException(const std::exception& E) {
  const std::u16string logFile = ServiceLogFileName(Now());
  try {
    const TFileage& age = zb::ApplicationFileage;
    TzbExceptionHandler::SetApplicationFileage(
        EncodeDateTime(age.Year, age.Month, age.Day, age.Hour, age.Minute, age.Second, age.Millisecond));
    TzbExceptionHandler::SetLogFilename(logFile);
    TzbExceptionHandler::OnExceptionHandler(this, E);
  } catch (const std::exception& logError) {
    std::fprintf(stderr, "htmlservice: the error report could not be written to %s: %s; the error was: %s\n",
                 Utf16ToUtf8(logFile).c_str(), logError.what(), E.what());
  }
}

void SetupServiceEnvironment() {
  SetLogFolder(IncludeTrailingChar(GetSpecialFolder(sfCommonDocuments), u'/') + LogSubFolder);
  TzbExceptionHandler::SetSilentMode(true);
}

std::u16string ServiceLogFileName(double ANow) { return GetLogFolder(false) + FormatDateTimeEx(LogFileNameFormat, ANow); }

// --- ServiceWndProc ----------------------------------------------------------------------------

std::int32_t ServiceWndProc(TfrmHtmlService& AForm, std::int32_t ACode, TBlockView AData) {
  std::int32_t answer = AForm.Application().Handle();
  switch (ACode) {
    case HS_PING: answer = AForm.Ping(); break;
    case HS_LOADFROMFILE: answer = AForm.LoadFromFile(ReadTextBlock(AData)); break;
    case HS_SAVETOFILE: answer = AForm.SaveToFile(ReadTextBlock(AData)); break;
    case HS_PRINTFILES: answer = AForm.PrintFiles(ReadTextBlock(AData)); break;
    case HS_PRINTWITHDLG: answer = AForm.PrintWithDlg(ReadTextBlock(AData)); break;
    case HS_PRINTPREVIEW: answer = AForm.PrintPreview(ReadTextBlock(AData)); break;
    case HS_PAGESETUP: answer = AForm.PageSetup(); break;
    case HS_SETDEFAULTPAGEOPTIONS: answer = AForm.SetDefaultPageOptions(ReadTextBlock(AData)); break;
    case HS_CONVERTHTMLTOPLAIN: answer = AForm.ConvertHtmlToPlain(ReadTextBlock(AData)); break;
    case HS_CONCATHTML: answer = AForm.ConcatHtml(ReadTextBlock(AData), false); break;
    case HS_CONCATPLAIN: answer = AForm.ConcatHtml(ReadTextBlock(AData), true); break;
    case HS_PASTEHTMLSTART: answer = AForm.PasteIntoHtml(ReadTextBlock(AData), false, 0); break;
    case HS_PASTEHTMLEND: answer = AForm.PasteIntoHtml(ReadTextBlock(AData), false, 1); break;
    case HS_PASTEPLAINSTART: answer = AForm.PasteIntoHtml(ReadTextBlock(AData), true, 0); break;
    case HS_PASTEPLAINEND: answer = AForm.PasteIntoHtml(ReadTextBlock(AData), true, 1); break;
    case HS_COUNTIMAGES: answer = AForm.CountImages(ReadTextBlock(AData)); break;
    case HS_CONTAINSBACKGROUNDIMAGES: answer = AForm.ContainsBackgroundImages(ReadTextBlock(AData)); break;
    case HS_COUNTALLIMAGES: answer = AForm.CountAllImages(ReadTextBlock(AData)); break;
    case HS_EXECCMD: {
      // A block shorter than the record is refused instead of read past its end.
      auto cmd = ReadExecCmdBlock(AData);
      answer = cmd ? AForm.ExecCmd(*cmd) : HS_FAILED;
      break;
    }
    case HS_SETWNDPOS: {
      auto point = ReadPointBlock(AData);
      answer = point ? AForm.SetWndPos(*point) : HS_FAILED;
      break;
    }
    case HS_TERMINATE: answer = AForm.Terminate(); break;
    default: break;  // not a request: nothing is called
  }
  return answer;
}

}  // namespace zb
