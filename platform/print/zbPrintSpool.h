// Sends a finished PDF to a CUPS destination as one job. Every failure (no print service, no default
// printer, a refused job, a service that stops answering) is an EzbPrintError naming the cause in
// German; nothing waits longer than the timeout.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zb::print {

struct TzbPrintJobOptions {
  std::u16string Destination;  // empty: the default destination
  std::u16string Server;       // empty: libcups's choice (CUPS_SERVER, client.conf); "/path" is a socket
  // CUPS job options ("copies" = "2", "sides" = "two-sided-long-edge"), over the destination's own.
  std::vector<std::pair<std::u16string, std::u16string>> Options;
  int TimeoutSeconds = 10;  // the bound of every stretch of the talk without progress
  // Runs in the worker once the destination is known, just before the document is sent; lets a test
  // freeze the print service between the two steps.
  std::function<void()> BeforeSending;
};

// Job name when the document has no title.
constexpr std::u16string_view UntitledJobName = u"Unbenanntes Dokument";

// The job name for ATitle: control characters become spaces, at most 255 bytes of UTF-8 (IPP's
// limit), UntitledJobName when blank.
std::u16string PrintJobName(std::u16string_view ATitle);

// While one lives (a request that prints several files), a print service that did not answer within
// its bound is not asked again: the files after it fail at once with a German error each.
class TzbPrintBatch {
 public:
  TzbPrintBatch();
  ~TzbPrintBatch();
  TzbPrintBatch(const TzbPrintBatch&) = delete;
  TzbPrintBatch& operator=(const TzbPrintBatch&) = delete;
  static bool ServiceStalled();
  // The live batch, different for each request; 0 outside one. What the print service said within
  // one batch may be kept for its other files.
  static unsigned Current();
  // A print service kept silent past its bound (the spool's own or GTK's print job).
  static void NoteServiceStalled();
};

// The host and port (ippPort() when none is given) of a CUPS server as CUPS_SERVER and client.conf
// name it: "host", "host:port", "[v6]:port" or "/socket" (a socket's port is unused).
std::pair<std::string, int> SplitCupsServer(const std::string& AServer);

// A German sentence for an IPP status code of the print service.
std::u16string IppStatusText(int AStatus);

// The talk with the print service runs in a worker thread; the main loop goes on meanwhile and the
// caller waits at most TimeoutSeconds for each step of it. Returns the job id.
int SendPdfToPrinter(std::u16string_view AFileName, std::u16string_view ATitle,
                     const TzbPrintJobOptions& AOptions = {});

}  // namespace zb::print
