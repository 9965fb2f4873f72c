#include "platform/print/zbPrinterArea.h"

#include <cups/cups.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "platform/glib/zbMainWait.h"
#include "platform/print/zbCupsOwner.h"
#include "platform/print/zbPrintError.h"
#include "platform/print/zbPrintSpool.h"
#include "support/zbUnicode.h"

namespace zb::print {
namespace {

constexpr double HundredthMmPerInch = 100 * MillimetresPerInch;
// Between the header/footer line and the content: a third of the line's 9 pt font.
constexpr double LineGapPoints = 3;

using TzbDestInfo = TzbOwner<cups_dinfo_t, cupsFreeDestInfo>;

// One question to the print service, shared with the worker that asks it.
struct TzbBandsQuery {
  std::string Destination, Paper;
  int TimeoutSeconds = 0;
  std::optional<TzbMargins> Bands;
  std::atomic<bool> Silent = false;  // libcups gave up on a silent service
  std::atomic<int> Progress = 0;     // answers so far
};

int GiveUp(http_t*, void* AQuery) noexcept {
  static_cast<TzbBandsQuery*>(AQuery)->Silent = true;
  return 0;
}

// Runs in the worker: libcups blocks for as long as the service takes.
void AskBands(TzbBandsQuery& AQuery) {
  auto [host, port] = SplitCupsServer(cupsServer());
  const int timeoutMs = AQuery.TimeoutSeconds * 1000;
  TzbHttp http(httpConnect2(host.c_str(), port, nullptr, AF_UNSPEC, cupsEncryption(), 1, timeoutMs, nullptr));
  if (!http) return;
  ++AQuery.Progress;
  httpSetTimeout(http.get(), AQuery.TimeoutSeconds, GiveUp, &AQuery);
  const char* named = AQuery.Destination.empty() ? nullptr : AQuery.Destination.c_str();
  TzbCupsDests dest(1, cupsGetNamedDest(http.get(), named, nullptr));
  if (!dest.Get()) return;
  ++AQuery.Progress;
  TzbDestInfo info(cupsCopyDestInfo(http.get(), dest.Get()));
  if (!info) return;
  cups_size_t size{};
  if (!cupsGetDestMediaByName(http.get(), dest.Get(), info.get(), AQuery.Paper.c_str(), CUPS_MEDIA_FLAGS_DEFAULT,
                              &size) &&
      !cupsGetDestMediaDefault(http.get(), dest.Get(), info.get(), CUPS_MEDIA_FLAGS_DEFAULT, &size))
    return;
  AQuery.Bands = TzbMargins{size.left / HundredthMmPerInch, size.top / HundredthMmPerInch,
                            size.right / HundredthMmPerInch, size.bottom / HundredthMmPerInch};
}

// The answer within the current batch: the printer does not change between the files of one request.
struct TzbBandsMemo {
  unsigned Batch = 0;
  std::string Destination, Paper;
  std::optional<TzbMargins> Bands;
};
TzbBandsMemo GBandsMemo;  // main thread only

}  // namespace

std::optional<TzbMargins> QueryUnprintableBands(std::u16string_view ADestination, std::u16string_view APaper,
                                                int ATimeoutSeconds) {
  if (TzbPrintBatch::ServiceStalled()) return std::nullopt;
  std::string destination = Utf16ToUtf8(ADestination), paper = Utf16ToUtf8(APaper);
  const unsigned batch = TzbPrintBatch::Current();
  if (batch != 0 && GBandsMemo.Batch == batch && GBandsMemo.Destination == destination && GBandsMemo.Paper == paper)
    return GBandsMemo.Bands;
  auto query = std::make_shared<TzbBandsQuery>();
  query->Destination = std::move(destination);
  query->Paper = std::move(paper);
  query->TimeoutSeconds = std::max(1, ATimeoutSeconds);
  // The bound holds for each answer: libcups's own timeout does not end every one of its waits.
  const bool ended = RunInWorker([query] { AskBands(*query); }, query->TimeoutSeconds * 1000, &query->Progress);
  if (!ended || query->Silent) {
    TzbPrintBatch::NoteServiceStalled();
    throw EzbPrintError(SNoAnswer, {Utf8ToUtf16(cupsServer())});
  }
  if (batch != 0) GBandsMemo = TzbBandsMemo{batch, query->Destination, query->Paper, query->Bands};
  return query->Bands;
}

TzbMargins BandsForOrientation(const TzbMargins& APortrait, TPrintOrientationOption AOrientation) {
  if (AOrientation != poLandscape) return APortrait;
  const double across = std::max(APortrait.Top, APortrait.Bottom), along = std::max(APortrait.Left, APortrait.Right);
  return TzbMargins{across, along, across, along};
}

TzbMargins JobMargins(const TzbMargins& AStored, const TzbMargins& ABands, bool AHeader, bool AFooter,
                      double ALineHeight) {
  const double line = (ALineHeight + LineGapPoints) / PointsPerInch;
  TzbMargins m = AStored;
  m.Left = std::max(m.Left, ABands.Left);
  m.Right = std::max(m.Right, ABands.Right);
  // Only a printer with a band moves the line: on one without, it may sit in a margin of any size.
  m.Top = std::max(m.Top, ABands.Top > 0 && AHeader ? ABands.Top + line : ABands.Top);
  m.Bottom = std::max(m.Bottom, ABands.Bottom > 0 && AFooter ? ABands.Bottom + line : ABands.Bottom);
  return m;
}

}  // namespace zb::print
