// The service form TfrmHtmlService, the application object that runs the message loop, and
// ServiceWndProc, the dispatcher that turns every request into one operation of the form.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "htmledit/zbHtmlEd.h"
#include "platform/bus/zbBusServer.h"
#include "platform/glib/zbGtkOwner.h"
#include "service/HtmlServiceBlocks.h"

namespace zb {

class TfrmHtmlService;

// The application: its title, its "window handle" (the process id, which answers unknown codes),
// the bus object that stands in for the application window, and the GTK main loop.
class TApplication {
 public:
  explicit TApplication(TzbBusServer& ABus);

  const std::u16string& Title() const { return FTitle; }
  // Also the desktop's name of the program, which its dialogs' captions use.
  void SetTitle(std::u16string ATitle);
  std::int32_t Handle() const;
  TzbBusServer& Bus() { return FBus; }

  void Run();
  // Ends the loop once the current request has been answered and gives the bus name back at once;
  // queued requests are refused.
  void Terminate();
  bool Terminated() const { return FTerminated; }

 private:
  TzbBusServer& FBus;
  std::u16string FTitle;
  bool FTerminated = false;
  bool FRunning = false;
};

// The pending document action of the form.
enum class THtmlAction : std::uint8_t {
  haNone,
  haLoadFile,
  haSaveFile,
  haPageSetup,
  haPrint,
  haPrintSetup,
  haPrintPreview,
  haCopyToClb,
  haConvertToPlain,
  haCountImages,
};

// The longest a request waits for the engine to complete a document; then it gives up with -1
// and a log entry. A 50 MB mail loads in well under half of it.
constexpr unsigned DefaultDocumentTimeoutMs = 60000;

// Values read once at start-up from the environment.
struct TServiceOptions {
  // Test aid (HTMLSERVICE_TEST_PING_DELAY_MS): Ping waits this long, serving the main context
  // meanwhile, so that tests can send requests while one is running. 0 outside tests.
  unsigned PingDelayMs = 0;
  // HTMLSERVICE_DOCUMENT_TIMEOUT_MS (1 to 600000) overrides the bound of every document wait.
  unsigned DocumentTimeoutMs = DefaultDocumentTimeoutMs;
  // Test aid (HTMLSERVICE_TEST_KILL_ENGINE_AT_COMPLETE=1): the first conversion's document-complete
  // handler kills the engine's web process before it reads the document. Unset in normal use.
  bool KillEngineAtComplete = false;
  // Test aid (HTMLSERVICE_TEST_KILL_ENGINE_AT_PRINT=1): the first file of a print list loses its
  // web process right before it is printed.
  bool KillEngineAtPrint = false;
  // Test aid (HTMLSERVICE_TEST_KILL_ENGINE_AT_LAUNCH=1): the first load kills the web process it has
  // just made the engine start, before that process reports to the engine. Unset in normal use.
  bool KillEngineAtLaunch = false;
  static TServiceOptions FromEnvironment();
};

// A document the service may load: an existing regular file (links followed) it can read. Folders,
// devices and pipes are refused: a pipe or /dev/zero would never complete.
bool IsDocumentFile(const std::u16string& AFilename);
// The command value of a record: the variant types that live inside its 16 bytes, or a text that
// travels behind the record in the same block. False for a type that refers to the sender's memory.
bool CommandValueOf(const THtmlExecCmd& ACommand, const std::u16string* AText, TVariant& AValue);

// The hidden service form: its host is a GtkOffscreenWindow (shown, never on screen, no task-bar
// entry, no input), which will carry the editor's engine view.
class TfrmHtmlService {
 public:
  TfrmHtmlService(TApplication& AOwner, TServiceOptions AOptions = {});
  ~TfrmHtmlService();
  TfrmHtmlService(const TfrmHtmlService&) = delete;
  TfrmHtmlService& operator=(const TfrmHtmlService&) = delete;

  TApplication& Application() { return FApplication; }
  GtkWidget* Host() const { return FHost.get(); }
  TzbHtmlEdit& HtmlEdit() { return *FHtmlEdit; }
  const std::u16string& InternalSaveFile() const { return FsInternalSaveFile; }
  std::int32_t Left() const { return FLeft; }
  std::int32_t Top() const { return FTop; }
  const std::u16string& Caption() const { return FCaption; }
  THtmlAction HtmlAction() const { return FHtmlAction; }
  bool Busy() const { return FbBusy; }

  // Window operations.
  std::int32_t Ping();
  std::int32_t SetWndPos(const TPoint& AValue);
  std::int32_t Terminate();

  // Document operations.
  std::int32_t LoadFromFile(const std::u16string& AFilename);
  std::int32_t SaveToFile(const std::u16string& AFilename);
  std::int32_t ConvertHtmlToPlain(const std::u16string& AFileNames);
  std::int32_t ConvertFileToPlain(const std::u16string& ASource, const std::u16string& ATarget);
  std::int32_t CountImages(const std::u16string& AFilename);
  std::int32_t ContainsBackgroundImages(const std::u16string& AFilename);
  std::int32_t CountAllImages(const std::u16string& AFilename);

  // Print operations.
  std::int32_t PrintFiles(const std::u16string& AFilenames);
  std::int32_t PrintWithDlg(const std::u16string& AFilename);
  std::int32_t PrintPreview(const std::u16string& AFilename);
  std::int32_t PageSetup();
  std::int32_t SetDefaultPageOptions(const std::u16string& ANameSpace);
  void PrintFile(const std::u16string& AFilename);

  // Insertion and command operations.
  std::int32_t ConcatHtml(const std::u16string& AHtmlSource, bool APlain);
  std::int32_t PasteIntoHtml(const std::u16string& AHtmlSource, bool APlain, int APosition);
  // AText: a text value that came behind the record in the block (the typed method sends one).
  std::int32_t ExecCmd(const THtmlExecCmd& ACommand, const std::u16string* AText = nullptr);

  // The editor's OnDocumentComplete.
  void HtmlEditDocumentComplete(std::u16string_view AUrl);

  // The application-wide error hook: every error that leaves a request unanswered, and every error
  // the insertion and command operations catch, is written as a report into the minute's log file.
  // An error while writing the log goes to stderr (the journal); the service keeps serving.
  void ApplicationException(const std::exception& AE);

 private:
  class TRequestHandler;
  // Sets the action and the busy flag, starts the load and waits for document-complete; false when
  // the wait gave up or the engine could not load the file. The busy state is reset in any case.
  // Loads and conversions process everything pending; the image requests handle one message at a time.
  enum class TWaitKind { wkProcessAll, wkOneAtATime };
  bool LoadAndWait(const std::u16string& AFilename, THtmlAction AAction, TWaitKind AKind);
  bool LoadAndWaitFor(const std::u16string& AFilename, THtmlAction AAction, TWaitKind AKind);
  // Logs an error that was found, not raised, with the stack of the place that found it.
  void ReportError(const EzbException& AE);
  // Waits until the engine reports the document complete; raises when it does not within the bound.
  void WaitForCompletion();
  bool LoadedDocumentIs(const std::u16string& AFilename);
  bool LoadedDocumentIsSafe(const std::u16string& AFilename) noexcept;
  // True (and logged) when the suite's document died with the engine: acting on the blank document the
  // engine would offer instead reports lost work as success.
  bool DocumentLost();
  bool EngineFailed();
  // Loads the markup kept before a command into the fresh engine after the command took the engine
  // down; the document counts as lost only when that fails.
  void RestoreDocument(const std::string& AMarkup);
  std::int32_t ImageRequest(const std::u16string& AFilename, bool AImages, bool ABackground);

  TApplication& FApplication;
  TServiceOptions FOptions;
  TzbTopLevel FHost;
  std::unique_ptr<TRequestHandler> FRequests;
  std::u16string FCaption;
  std::int32_t FLeft = 133;
  std::int32_t FTop = 101;
  std::unique_ptr<TzbHtmlEdit> FHtmlEdit;
  THtmlAction FHtmlAction = THtmlAction::haNone;
  bool FbBusy = false;
  std::u16string FsInternalSaveFile;
  std::u16string FsPendingSource;   // the file the current load waits for
  bool FbConversionFailed = false;  // the document-complete handler could not write the text
  // Whether the load completed with that file: an engine that dies after that (while the handler works
  // or before the wait returns) costs the next request, not this one.
  bool FbCompletedWithFile = false;
  // The engine holds a document the suite loaded or changed; once the engine died under it, that
  // document is lost until the next load.
  bool FbHoldsDocument = false;
  bool FbDocumentLost = false;
};

// Test aid: kills the engine's web processes among this process's children.
void KillChildWebProcesses();

// The service's environment at start-up: the log folder below the shared documents and silent logging.
void SetupServiceEnvironment();
// The log file of an error at the given local time: log folder + "HtmlService YYYYMMDDHHNNNN.log".
std::u16string ServiceLogFileName(double ANow);

// The request dispatcher: decodes the block by the code's kind, calls exactly one operation of the
// form and answers its result; codes outside the table answer the application handle's value.
std::int32_t ServiceWndProc(TfrmHtmlService& AForm, std::int32_t ACode, TBlockView AData);

// The typed methods of the bus interface, each a request code with its argument shape.
std::vector<TzbBusMethod> ServiceBusMethods();

}  // namespace zb
