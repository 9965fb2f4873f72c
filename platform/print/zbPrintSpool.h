// Sends a finished PDF to a CUPS destination as one job. Every failure (no print service, no default
// printer, a refused job, a service that stops answering) is an EzbPrintError naming the cause;
// nothing waits longer than the timeout without progress.
#pragma once

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
  int TimeoutSeconds = 10;  // for connecting and for every wait for the service
};

// Job name when the document has no title.
constexpr std::u16string_view UntitledJobName = u"Unbenanntes Dokument";

// The job name for ATitle: control characters become spaces, at most 255 bytes of UTF-8 (IPP's
// limit), UntitledJobName when blank.
std::u16string PrintJobName(std::u16string_view ATitle);

// Returns the job id.
int SendPdfToPrinter(std::u16string_view AFileName, std::u16string_view ATitle,
                     const TzbPrintJobOptions& AOptions = {});

}  // namespace zb::print
