#include "platform/print/zbPrintSpool.h"

#include <cups/cups.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/print/zbCupsOwner.h"
#include "platform/print/zbPrintError.h"
#include "support/zbStr.h"
#include "support/zbUnicode.h"

namespace zb::print {
namespace {

constexpr std::size_t MaxJobNameBytes = 255;
constexpr char PdfMagic[] = "%PDF-";
constexpr std::u16string_view SFileNotReadable = u"Die Druckdatei '%s' kann nicht gelesen werden";
constexpr std::u16string_view SNotPdf = u"Die Druckdatei '%s' ist keine PDF-Datei";
constexpr std::u16string_view SNoService = u"Der Druckdienst ist nicht erreichbar (%s): %s";
constexpr std::u16string_view SNoAnswer = u"Der Druckdienst antwortet nicht (%s)";
constexpr std::u16string_view SNoDefaultPrinter = u"Kein Standarddrucker eingerichtet";
constexpr std::u16string_view SNoSuchPrinter = u"Der Drucker '%s' ist nicht eingerichtet";
constexpr std::u16string_view SJobRefused = u"Druckauftrag für '%s' wurde abgelehnt: %s";

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

// "host", "host:port" or "/socket".
std::pair<std::string, int> SplitServer(const std::string& AServer) {
  std::size_t colon = AServer.rfind(':');
  if (AServer.starts_with('/') || colon == std::string::npos || AServer.find(':') != colon ||
      colon + 1 == AServer.size() ||
      !std::all_of(AServer.begin() + static_cast<long>(colon) + 1, AServer.end(),
                   [](char c) { return c >= '0' && c <= '9'; }))
    return {AServer, ippPort()};
  return {AServer.substr(0, colon), std::atoi(AServer.c_str() + colon + 1)};
}

}  // namespace

std::u16string PrintJobName(std::u16string_view ATitle) {
  std::u16string name(ATitle);
  std::replace_if(
      name.begin(), name.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; }, u' ');
  name = TrimBlanks(name);
  if (name.empty()) return std::u16string(UntitledJobName);
  std::string utf8 = Utf16ToUtf8(name);
  if (utf8.size() <= MaxJobNameBytes) return name;
  std::size_t cut = MaxJobNameBytes;
  while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
  return Utf8ToUtf16(utf8.substr(0, cut));
}

int SendPdfToPrinter(std::u16string_view AFileName, std::u16string_view ATitle, const TzbPrintJobOptions& AOptions) {
  CheckPdfFile(AFileName);
  const std::u16string jobName = PrintJobName(ATitle);

  std::string server = AOptions.Server.empty() ? std::string(cupsServer()) : Utf16ToUtf8(AOptions.Server);
  const std::u16string serverText = Utf8ToUtf16(server);
  auto [host, port] = SplitServer(server);
  const int timeout = std::max(1, AOptions.TimeoutSeconds);
  TzbHttp http(httpConnect2(host.c_str(), port, nullptr, AF_UNSPEC, cupsEncryption(), 1, timeout * 1000, nullptr));
  if (!http) {
    int error = errno;
    throw EzbPrintError(SNoService, {serverText, Utf8ToUtf16(std::strerror(error))});
  }
  TzbTimeoutState state;
  httpSetTimeout(http.get(), timeout, OnTimeout, &state);

  const std::string destination = Utf16ToUtf8(AOptions.Destination);
  TzbCupsDests dest(1, cupsGetNamedDest(http.get(), destination.empty() ? nullptr : destination.c_str(), nullptr));
  if (!dest.Get()) {
    if (state.Expired) throw EzbPrintError(SNoAnswer, {serverText});
    if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND || cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE) {
      if (destination.empty()) throw EzbPrintError(std::u16string(SNoDefaultPrinter));
      throw EzbPrintError(SNoSuchPrinter, {AOptions.Destination});
    }
    throw EzbPrintError(SNoService, {serverText, Utf8ToUtf16(cupsLastErrorString())});
  }

  TzbCupsOptions options;
  for (int i = 0; i < dest.Get()->num_options; ++i)
    options.Add(dest.Get()->options[i].name, dest.Get()->options[i].value);
  options.Add("document-format", "application/pdf");
  for (const auto& [name, value] : AOptions.Options) options.Add(Utf16ToUtf8(name).c_str(), Utf16ToUtf8(value).c_str());

  const std::string file = Utf16ToUtf8(AFileName);
  int job = cupsPrintFile2(http.get(), dest.Get()->name, file.c_str(), Utf16ToUtf8(jobName).c_str(), options.Count(),
                           options.Get());
  if (job > 0) return job;
  if (state.Expired) throw EzbPrintError(SNoAnswer, {serverText});
  throw EzbPrintError(SJobRefused, {jobName, Utf8ToUtf16(cupsLastErrorString())});
}

}  // namespace zb::print
