#include "platform/print/zbPrintSpool.h"

#include <cups/cups.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "platform/glib/zbMainWait.h"
#include "platform/print/zbCupsOwner.h"
#include "platform/print/zbPrintError.h"
#include "support/zbFormat.h"
#include "support/zbStr.h"
#include "support/zbUnicode.h"

namespace zb::print {
namespace {

constexpr std::size_t MaxJobNameBytes = 255;
constexpr std::size_t PieceBytes = std::size_t{64} * 1024;
constexpr char PdfMagic[] = "%PDF-";
constexpr std::u16string_view SFileNotReadable = u"Die Druckdatei '%s' kann nicht gelesen werden";
constexpr std::u16string_view SNotPdf = u"Die Druckdatei '%s' ist keine PDF-Datei";
constexpr std::u16string_view SNoService = u"Der Druckdienst ist nicht erreichbar (%s): %s";
constexpr std::u16string_view SNoDefaultPrinter = u"Kein Standarddrucker eingerichtet";
constexpr std::u16string_view SNoSuchPrinter = u"Der Drucker '%s' ist nicht eingerichtet";
constexpr std::u16string_view SJobRefused = u"Druckauftrag für '%s' wurde abgelehnt: %s";
constexpr std::u16string_view SNotSent =
    u"Der Druckdienst hat in diesem Auftrag schon nicht geantwortet; '%s' wurde nicht an ihn gesendet";

// Why a connection failed, as the user can act on it.
constexpr std::u16string_view SCauseNoSocket = u"Er läuft nicht (die Verbindung '%s' gibt es nicht)";
constexpr std::u16string_view SCauseRefused = u"Er nimmt keine Verbindungen an";
constexpr std::u16string_view SCauseNoAccess = u"Der Zugriff auf die Verbindung ist nicht erlaubt";
constexpr std::u16string_view SCauseUnknownHost = u"Der Rechner '%s' ist unbekannt";
constexpr std::u16string_view SCauseUnreachable = u"Der Rechner ist im Netz nicht erreichbar";
constexpr std::u16string_view SCauseOther = u"Die Verbindung schlug fehl (Fehler %d)";

struct TzbTimeoutState {
  bool Expired = false;
};

// Called by libcups when a wait makes no progress for the timeout: give up instead of waiting on.
int OnTimeout(http_t*, void* AState) noexcept {
  static_cast<TzbTimeoutState*>(AState)->Expired = true;
  return 0;
}

void CheckPdfFile(std::u16string_view AFileName) {
  std::ifstream file(Utf16ToUtf8(AFileName), std::ios::binary);
  char head[sizeof PdfMagic - 1] = {};
  if (!file || !file.read(head, sizeof head)) {
    if (!file.eof()) throw EzbPrintError(SFileNotReadable, {AFileName});
  }
  if (std::memcmp(head, PdfMagic, sizeof head) != 0) throw EzbPrintError(SNotPdf, {AFileName});
}

}  // namespace

std::pair<std::string, int> SplitCupsServer(const std::string& AServer) {
  const std::size_t colon = AServer.rfind(':');
  if (AServer.starts_with('/') || colon == std::string::npos || AServer.find(':') != colon ||
      colon + 1 == AServer.size() ||
      !std::all_of(AServer.begin() + static_cast<long>(colon) + 1, AServer.end(),
                   [](char AChar) { return AChar >= '0' && AChar <= '9'; }))
    return {AServer, ippPort()};
  return {AServer.substr(0, colon), std::atoi(AServer.c_str() + colon + 1)};
}

std::u16string PrintJobName(std::u16string_view ATitle) {
  std::u16string name(ATitle);
  std::replace_if(
      name.begin(), name.end(), [](char16_t AChar) { return AChar < 0x20 || AChar == 0x7F; }, u' ');
  name = TrimBlanks(name);
  if (name.empty()) return std::u16string(UntitledJobName);
  std::string utf8 = Utf16ToUtf8(name);
  if (utf8.size() <= MaxJobNameBytes) return name;
  std::size_t cut = MaxJobNameBytes;
  while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
  return Utf8ToUtf16(utf8.substr(0, cut));
}

namespace {

// libcups overwrites errno on its way out of httpConnect2; the cause is found again by a connect of our own.
std::u16string ConnectionCause(const std::string& AHost, int APort) {
  if (AHost.starts_with('/')) {
    struct stat st {};
    if (::stat(AHost.c_str(), &st) != 0) return Format(SCauseNoSocket, {Utf8ToUtf16(AHost)});
    const TzbFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    AHost.copy(address.sun_path, sizeof address.sun_path - 1);
    const int error = fd && ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
    if (error == ECONNREFUSED) return std::u16string(SCauseRefused);
    if (error == EACCES || error == EPERM) return std::u16string(SCauseNoAccess);
    return Format(SCauseOther, {error});
  }
  const std::string port = std::to_string(APort);
  http_addrlist_t* found = httpAddrGetList(AHost.c_str(), AF_UNSPEC, port.c_str());
  if (!found) return Format(SCauseUnknownHost, {Utf8ToUtf16(AHost)});
  httpAddrFreeList(found);
  return std::u16string(SCauseUnreachable);
}

// The destination CUPS itself would choose for none: LPDEST, then PRINTER (but not the historical "lp").
std::string DestinationOf(const std::string& ANamed) {
  if (!ANamed.empty()) return ANamed;
  if (const char* lpdest = std::getenv("LPDEST"); lpdest && *lpdest) return lpdest;
  if (const char* printer = std::getenv("PRINTER"); printer && *printer && std::strcmp(printer, "lp") != 0)
    return printer;
  return {};
}

// What the whole talk with the print service ended in: a job id, or a German error.
struct TzbSpoolResult {
  int Job = 0;
  std::u16string Error;
};

// The talk with the print service; runs in a worker thread (libcups keeps its last error per thread).
// The job is created and its document written in pieces (what cupsPrintFile2 does in one call), so that
// the caller sees a slow but moving upload as alive: every piece counts in AProgress.
int TalkToService(const std::u16string& AFileName, const std::u16string& AJobName, const TzbPrintJobOptions& AOptions,
                  std::atomic<int>& AProgress) {
  std::string server = AOptions.Server.empty() ? std::string(cupsServer()) : Utf16ToUtf8(AOptions.Server);
  const std::u16string serverText = Utf8ToUtf16(server);
  auto [host, port] = SplitCupsServer(server);
  const int timeout = std::max(1, AOptions.TimeoutSeconds);
  TzbHttp http(httpConnect2(host.c_str(), port, nullptr, AF_UNSPEC, cupsEncryption(), 1, timeout * 1000, nullptr));
  if (!http) throw EzbPrintError(SNoService, {serverText, ConnectionCause(host, port)});
  TzbTimeoutState state;
  httpSetTimeout(http.get(), timeout, OnTimeout, &state);

  const std::string destination = DestinationOf(Utf16ToUtf8(AOptions.Destination));
  TzbCupsDests dest(1, cupsGetNamedDest(http.get(), destination.empty() ? nullptr : destination.c_str(), nullptr));
  if (!dest.Get()) {
    if (state.Expired) throw EzbPrintError(SNoAnswer, {serverText});
    const ipp_status_t status = cupsLastError();
    if (status == IPP_STATUS_ERROR_NOT_FOUND || status <= IPP_STATUS_OK_EVENTS_COMPLETE) {
      if (destination.empty()) throw EzbPrintError(std::u16string(SNoDefaultPrinter));
      throw EzbPrintError(SNoSuchPrinter, {Utf8ToUtf16(destination)});
    }
    throw EzbPrintError(SNoService, {serverText, IppStatusText(status)});
  }

  TzbCupsOptions options;
  for (int i = 0; i < dest.Get()->num_options; ++i)
    options.Add(dest.Get()->options[i].name, dest.Get()->options[i].value);
  options.Add("document-format", "application/pdf");
  for (const auto& [name, value] : AOptions.Options) options.Add(Utf16ToUtf8(name).c_str(), Utf16ToUtf8(value).c_str());

  if (AOptions.BeforeSending) AOptions.BeforeSending();
  const std::string jobName = Utf16ToUtf8(AJobName);
  const char* name = dest.Get()->name;
  const int job = cupsCreateJob(http.get(), name, jobName.c_str(), options.Count(), options.Get());
  const auto refused = [&] {
    if (state.Expired) return EzbPrintError(SNoAnswer, {serverText});
    return EzbPrintError(SJobRefused, {AJobName, IppStatusText(cupsLastError())});
  };
  if (job <= 0) throw refused();
  ++AProgress;
  // A job that got no document is taken back; a service that stopped answering gets no second try.
  const auto abandon = [&] {
    if (!state.Expired) cupsCancelJob2(http.get(), name, job, 0);
  };
  std::ifstream file(Utf16ToUtf8(AFileName), std::ios::binary);
  if (!file) {
    abandon();
    throw EzbPrintError(SFileNotReadable, {AFileName});
  }
  bool sent = cupsStartDocument(http.get(), name, job, jobName.c_str(), CUPS_FORMAT_PDF, 1) == HTTP_STATUS_CONTINUE;
  std::vector<char> piece(PieceBytes);
  while (sent && file) {
    file.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const auto count = static_cast<std::size_t>(file.gcount());
    if (count > 0) sent = cupsWriteRequestData(http.get(), piece.data(), count) == HTTP_STATUS_CONTINUE;
    ++AProgress;
  }
  if (sent && !file.eof()) {
    abandon();
    throw EzbPrintError(SFileNotReadable, {AFileName});
  }
  if (cupsFinishDocument(http.get(), name) != IPP_STATUS_OK || !sent) {
    const EzbPrintError error = refused();
    abandon();
    throw error;
  }
  return job;
}

// The talk's input and output, shared with the worker: a talk given up on ends there unseen.
struct TzbSpoolTalk {
  std::u16string FileName, JobName;
  TzbPrintJobOptions Options;
  TzbSpoolResult Result;
  std::atomic<int> Progress = 0;  // steps of the talk so far, counted by the worker
};

void RunTalk(TzbSpoolTalk& ATalk) noexcept {
  try {
    ATalk.Result.Job = TalkToService(ATalk.FileName, ATalk.JobName, ATalk.Options, ATalk.Progress);
  } catch (const EzbException& e) {
    ATalk.Result.Error = e.Message();
  } catch (...) {
    ATalk.Result.Error = Format(SNoService, {u"?", Format(SCauseOther, {0})});
  }
}

// Only the main thread touches these: a batch stops at the first print service that kept silent.
int GBatchDepth = 0;
bool GBatchStalled = false;
unsigned GBatchSerial = 0;

}  // namespace

TzbPrintBatch::TzbPrintBatch() {
  if (GBatchDepth++ == 0) {
    GBatchStalled = false;
    ++GBatchSerial;
  }
}

TzbPrintBatch::~TzbPrintBatch() {
  if (--GBatchDepth == 0) GBatchStalled = false;
}

bool TzbPrintBatch::ServiceStalled() { return GBatchStalled; }

unsigned TzbPrintBatch::Current() { return GBatchDepth > 0 ? GBatchSerial : 0; }

void TzbPrintBatch::NoteServiceStalled() {
  if (GBatchDepth > 0) GBatchStalled = true;
}

std::u16string IppStatusText(int AStatus) {
  switch (AStatus) {
    case IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS: return u"Der Drucker nimmt zurzeit keine Aufträge an";
    case IPP_STATUS_ERROR_PRINTER_IS_DEACTIVATED: return u"Der Drucker ist abgeschaltet";
    case IPP_STATUS_ERROR_NOT_FOUND:
    case IPP_STATUS_ERROR_GONE: return u"Der Drucker ist nicht eingerichtet";
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED: return u"Der Druckdienst erlaubt diesen Auftrag nicht";
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
    case IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED: return u"Der Druckdienst verlangt eine Anmeldung";
    case IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED:
    case IPP_STATUS_ERROR_DOCUMENT_FORMAT_ERROR:
    case IPP_STATUS_ERROR_DOCUMENT_UNPRINTABLE: return u"Der Drucker kann das Dokument nicht verarbeiten";
    case IPP_STATUS_ERROR_REQUEST_ENTITY:
    case IPP_STATUS_ERROR_REQUEST_VALUE:
    case IPP_STATUS_ERROR_TOO_MANY_JOBS:
    case IPP_STATUS_ERROR_TOO_MANY_DOCUMENTS: return u"Der Auftrag ist für den Drucker zu groß";
    case IPP_STATUS_ERROR_BAD_REQUEST:
    case IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES:
    case IPP_STATUS_ERROR_CONFLICTING:
    case IPP_STATUS_ERROR_NOT_POSSIBLE: return u"Der Drucker lehnt die Einstellungen des Auftrags ab";
    case IPP_STATUS_ERROR_TIMEOUT: return u"Der Drucker hat nicht rechtzeitig geantwortet";
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
    case IPP_STATUS_ERROR_BUSY:
    case IPP_STATUS_ERROR_TEMPORARY: return u"Der Druckdienst ist vorübergehend nicht verfügbar";
    case IPP_STATUS_ERROR_DEVICE: return u"Der Drucker meldet eine Störung";
    case IPP_STATUS_ERROR_JOB_CANCELED: return u"Der Auftrag wurde abgebrochen";
    case IPP_STATUS_ERROR_CUPS_PKI:
    case IPP_STATUS_ERROR_CUPS_UPGRADE_REQUIRED: return u"Eine sichere Verbindung kam nicht zustande";
    default: return Format(u"Der Druckdienst meldet den Fehler 0x%.4x", {AStatus});
  }
}

int SendPdfToPrinter(std::u16string_view AFileName, std::u16string_view ATitle, const TzbPrintJobOptions& AOptions) {
  CheckPdfFile(AFileName);
  if (TzbPrintBatch::ServiceStalled()) throw EzbPrintError(SNotSent, {AFileName});
  auto talk = std::make_shared<TzbSpoolTalk>();
  talk->FileName = AFileName;
  talk->JobName = PrintJobName(ATitle);
  talk->Options = AOptions;
  // The bound holds for every stretch without progress: a frozen service costs one bound, a large
  // document on a slow line goes on as long as it moves.
  if (!RunInWorker([talk] { RunTalk(*talk); }, std::max(1, AOptions.TimeoutSeconds) * 1000, &talk->Progress)) {
    TzbPrintBatch::NoteServiceStalled();
    const std::u16string server = AOptions.Server.empty() ? Utf8ToUtf16(cupsServer()) : AOptions.Server;
    throw EzbPrintError(SNoAnswer, {server});
  }
  if (!talk->Result.Error.empty()) throw EzbPrintError(talk->Result.Error);
  return talk->Result.Job;
}

}  // namespace zb::print
