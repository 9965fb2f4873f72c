#include "service/Main.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "errors/ExceptDlg.h"
#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbMainWait.h"
#include "platform/print/zbPrintFolder.h"
#include "platform/webkit/zbWebKitUtils.h"
#include "service/HtmlServiceConst.h"
#include "support/zbDateUtils.h"
#include "support/zbFileCtrl.h"
#include "support/zbFormat.h"
#include "support/zbShellAPI.h"
#include "support/zbSound.h"
#include "support/zbStr.h"
#include "support/zbUnicode.h"

namespace zb {

namespace {

constexpr char PingDelayVariable[] = "HTMLSERVICE_TEST_PING_DELAY_MS";
constexpr std::int32_t ClientWidth = 484;
constexpr std::int32_t ClientHeight = 562;
// A TPoint coordinate with this value leaves the coordinate unchanged.
constexpr std::int32_t Unchanged = INT32_MIN;

}  // namespace

// --- TApplication -------------------------------------------------------------------------------

TApplication::TApplication(TzbBusServer& ABus) : FBus(ABus) {}

void TApplication::SetTitle(std::u16string ATitle) {
  FTitle = std::move(ATitle);
  g_set_application_name(Utf16ToUtf8(FTitle).c_str());
}

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
  // The name goes before the answer does: a client that sends its next request on receiving it
  // reaches (or starts) a new instance, never this one while it shuts the engine down.
  FBus.ReleaseName();
  if (FRunning) gtk_main_quit();
}

// --- the bus side of the form ------------------------------------------------------------------

TServiceOptions TServiceOptions::FromEnvironment() {
  TServiceOptions options;
  const auto number = [](const char* AName, unsigned long AMin, unsigned long AMax, unsigned& AValue) {
    if (const char* text = std::getenv(AName)) {
      char* end = nullptr;
      const unsigned long value = std::strtoul(text, &end, 10);
      if (end != text && *end == 0 && value >= AMin && value <= AMax) AValue = static_cast<unsigned>(value);
    }
  };
  number(PingDelayVariable, 0, 60000, options.PingDelayMs);
  number("HTMLSERVICE_DOCUMENT_TIMEOUT_MS", 1, 600000, options.DocumentTimeoutMs);
  unsigned kill = 0;
  number("HTMLSERVICE_TEST_KILL_ENGINE_AT_COMPLETE", 0, 1, kill);
  options.KillEngineAtComplete = kill == 1;
  kill = 0;
  number("HTMLSERVICE_TEST_KILL_ENGINE_AT_PRINT", 0, 1, kill);
  options.KillEngineAtPrint = kill == 1;
  kill = 0;
  number("HTMLSERVICE_TEST_KILL_ENGINE_AT_LAUNCH", 0, 1, kill);
  options.KillEngineAtLaunch = kill == 1;
  return options;
}

class TfrmHtmlService::TRequestHandler : public IzbBusHandler {
 public:
  explicit TRequestHandler(TfrmHtmlService& AForm) : FForm(AForm) {}

  std::int32_t HandleRequest(const TzbBusRequest& ARequest) override {
    // Whatever an operation lets through is still an answer for the caller, never a bus error.
    try {
      return ServiceWndProc(FForm, ARequest.Code, TBlockView(ARequest.Data, ARequest.Size));
    } catch (const std::exception& e) {
      FForm.ApplicationException(e);
      return HS_FAILED;
    }
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
            [](const auto& AV) -> TOleVariantBytes {
              using T = std::decay_t<decltype(AV)>;
              if constexpr (std::is_same_v<T, std::u16string>) {
                TOleVariantBytes bytes{};
                bytes[0] = VT_BSTR;  // the text itself follows the record
                return bytes;
              } else {
                return MakeOleVariant(TCommandValue(AV));
              }
            },
            ACall.Value);
        TBlock block = MakeExecCmdBlock(cmd);
        if (const auto* text = std::get_if<std::u16string>(&ACall.Value)) {
          const TBlock tail = MakeTextBlock(*text);
          block.insert(block.end(), tail.begin(), tail.end());
        }
        return block;
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
  // 1. The form and its layout: the editor fills the whole client area.
  FHost.reset(gtk_offscreen_window_new());
  gtk_window_set_default_size(GTK_WINDOW(FHost.get()), ClientWidth, ClientHeight);
  FHtmlEdit = std::make_unique<TzbHtmlEdit>(this, GTK_CONTAINER(FHost.get()));
  gtk_widget_set_size_request(FHtmlEdit->Widget(), ClientWidth, ClientHeight);
  FHtmlEdit->OnDocumentComplete = [this](TWebBrowser&, std::u16string_view AUrl) { HtmlEditDocumentComplete(AUrl); };
  FHtmlEdit->SetEnableDDE(false);
  FHtmlEdit->SetWaitTimeout(static_cast<int>(FOptions.DocumentTimeoutMs));
  {
    THtmlPrintOptions& print = FHtmlEdit->PrintOptions();
    print.Margins().SetLeft(10.999978);
    print.Margins().SetTop(2.963418);
    print.Margins().SetRight(19.05);
    print.Margins().SetBottom(2.963418);
    print.SetHTMLHeader({u"<html></html>"});
    print.SetFooter(u"&bSeite &p von &P");
    print.SetOrientation(poPortrait);
  }
  using D = TDownloadControlOption;
  FHtmlEdit->SetDownloadOptions({D::DLCTL_NO_SCRIPTS, D::DLCTL_NO_JAVA, D::DLCTL_NO_RUNACTIVEXCTLS,
                                 D::DLCTL_NO_DLACTIVEXCTLS, D::DLCTL_NO_FRAMEDOWNLOAD, D::DLCTL_FORCEOFFLINE,
                                 D::DLCTL_SILENT, D::DLCTL_OFFLINE});
  // The form's stored properties are in place: the component finishes its loading (masks, key filter).
  FHtmlEdit->Loaded();
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
  // Print folders that a killed instance left behind.
  print::RemoveDeadPrintFolders();
  // 7. The dispatcher takes over every request.
  FRequests = std::make_unique<TRequestHandler>(*this);
  // Errors that reach a C callback (engine signals, bus, timers) end there, in the same hook.
  SetCallbackErrorHook([this](const std::exception& AException) { ApplicationException(AException); });
  FApplication.Bus().SetHandler(FRequests.get());
  // 8. The engine's sandbox: a system that cannot give it still gets its documents served, and the
  //    log says once per start why the web process runs with the user's full rights.
  if (const std::u16string& problem = webkit::WebSandboxProblem(); !problem.empty())
    ApplicationException(EzbException(Format(
        u"Der Web-Prozess der HTML-Engine läuft ohne Sandbox, weil %s. Der Dienst arbeitet weiter, aber ein Fehler "
        u"der Engine in einem Dokument hätte die vollen Rechte des Benutzers. Abhilfe: die Pakete bubblewrap und "
        u"xdg-dbus-proxy installieren und Benutzer-Namensräume erlauben (sysctl user.max_user_namespaces, "
        u"kernel.unprivileged_userns_clone) und den Dienst neu starten.",
        {problem})));
  // Shown at once; the offscreen host has no task-bar window for DoShow to hide.
  gtk_widget_show_all(FHost.get());
  // Nobody sees the editor, so the engine need not lay out and paint it on every frame; it stays
  // realised for printing and the dialogs.
  gtk_widget_hide(FHtmlEdit->Widget());
}

TfrmHtmlService::~TfrmHtmlService() {
  FApplication.Bus().SetHandler(nullptr);
  SetCallbackErrorHook(nullptr);
  FHtmlEdit.reset();  // before its host window
}

std::int32_t TfrmHtmlService::Ping() {
  if (FOptions.PingDelayMs > 0) WaitOnMainContext([] { return false; }, static_cast<int>(FOptions.PingDelayMs));
  return HS_OK;
}

std::int32_t TfrmHtmlService::SetWndPos(const TPoint& AValue) {
  if (AValue.X > Unchanged) FLeft = AValue.X;
  if (AValue.Y > Unchanged) FTop = AValue.Y;
  gtk_window_move(GTK_WINDOW(FHost.get()), FLeft, FTop);
  return HS_OK;
}

std::int32_t TfrmHtmlService::Terminate() {
  // Closing the main form ends the loop once this answer is on its way.
  FApplication.Terminate();
  return HS_OK;
}

void TfrmHtmlService::ApplicationException(const std::exception& AException) {
  // Nothing may leave the hook: it runs inside GLib callbacks, where an exception would end the process.
  std::u16string logFile;
  try {
    logFile = ServiceLogFileName(Now());
    const TFileage& age = zb::ApplicationFileage;
    TzbExceptionHandler::SetApplicationFileage(
        EncodeDateTime(age.Year, age.Month, age.Day, age.Hour, age.Minute, age.Second, age.Millisecond));
    TzbExceptionHandler::SetLogFilename(logFile);
    TzbExceptionHandler::OnExceptionHandler(this, AException);
  } catch (const std::exception& logError) {
    std::fprintf(stderr, "htmlservice: the error report could not be written to %s: %s; the error was: %s\n",
                 Utf16ToUtf8(logFile).c_str(), logError.what(), AException.what());
  } catch (...) {
    std::fprintf(stderr, "htmlservice: the error report could not be written; the error was: %s\n", AException.what());
  }
}

void KillChildWebProcesses() {
  // In its sandbox the web process is a grandchild, below bubblewrap's two processes, which carry its
  // program in their arguments until it runs: those are killed as well, so that a web process that is
  // still being launched ends too.
  std::map<std::string, std::pair<std::string, bool>> processes;  // pid -> parent, is (or launches) one
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string pid, name, state, ppid;
    if (!(stat >> pid >> name >> state >> ppid)) continue;
    std::ifstream cmdline(entry.path() / "cmdline");
    const std::string arguments((std::istreambuf_iterator<char>(cmdline)), {});
    // The kernel keeps 15 characters of a process name.
    processes[pid] = {ppid, name.rfind("(WebKitWebProce", 0) == 0 ||
                                (name == "(bwrap)" && arguments.find("/WebKitWebProcess") != std::string::npos)};
  }
  const std::string self = std::to_string(getpid());
  for (const auto& [pid, process] : processes) {
    if (!process.second) continue;
    std::string parent = process.first;
    for (int depth = 0; depth < 8 && parent != self && processes.count(parent); ++depth)
      parent = processes[parent].first;
    if (parent == self) ::kill(std::stoi(pid), SIGKILL);
  }
}

void SetupServiceEnvironment() {
  SetLogFolder(ServiceLogFolder());
  TzbExceptionHandler::SetSilentMode(true);
}

std::u16string ServiceLogFileName(double ANow) {
  return GetLogFolder(false) + FormatDateTimeEx(LogFileNameFormat, ANow);
}

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
      // A block shorter than the record is refused instead of read past its end. A text value
      // travels behind the record, inside the block.
      auto cmd = ReadExecCmdBlock(AData);
      if (!cmd) {
        answer = HS_FAILED;
      } else if (OleVariantType(cmd->oleValue) == VT_BSTR && AData.size() > THtmlExecCmdSize) {
        const std::u16string text = ReadTextBlock(AData.subspan(THtmlExecCmdSize));
        answer = AForm.ExecCmd(*cmd, &text);
      } else {
        answer = AForm.ExecCmd(*cmd);
      }
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
