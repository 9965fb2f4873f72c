#include "platform/print/zbPrinterArea.h"

#include <cups/cups.h>

#include <algorithm>
#include <string>

#include "platform/print/zbCupsOwner.h"
#include "support/zbUnicode.h"

namespace zb::print {
namespace {

constexpr double HundredthMmPerInch = 100 * MillimetresPerInch;
// Between the header/footer line and the content: a third of the line's 9 pt font.
constexpr double LineGapPoints = 3;

using TzbDestInfo = TzbOwner<cups_dinfo_t, cupsFreeDestInfo>;

int GiveUp(http_t*, void*) noexcept { return 0; }

std::pair<std::string, int> SplitServer(const std::string& AServer) {
  const std::size_t colon = AServer.rfind(':');
  if (AServer.starts_with('/') || colon == std::string::npos || colon + 1 == AServer.size() ||
      !std::all_of(AServer.begin() + static_cast<long>(colon) + 1, AServer.end(),
                   [](char AChar) { return AChar >= '0' && AChar <= '9'; }))
    return {AServer, ippPort()};
  return {AServer.substr(0, colon), std::atoi(AServer.c_str() + colon + 1)};
}

}  // namespace

std::optional<TzbMargins> QueryUnprintableBands(std::u16string_view ADestination, std::u16string_view APaper,
                                                int ATimeoutSeconds) {
  auto [host, port] = SplitServer(cupsServer());
  const int timeout = std::max(1, ATimeoutSeconds);
  TzbHttp http(httpConnect2(host.c_str(), port, nullptr, AF_UNSPEC, cupsEncryption(), 1, timeout * 1000, nullptr));
  if (!http) return std::nullopt;
  httpSetTimeout(http.get(), timeout, GiveUp, nullptr);
  const std::string destination = Utf16ToUtf8(ADestination);
  TzbCupsDests dest(1, cupsGetNamedDest(http.get(), destination.empty() ? nullptr : destination.c_str(), nullptr));
  if (!dest.Get()) return std::nullopt;
  TzbDestInfo info(cupsCopyDestInfo(http.get(), dest.Get()));
  if (!info) return std::nullopt;
  cups_size_t size{};
  const std::string paper = Utf16ToUtf8(APaper);
  if (!cupsGetDestMediaByName(http.get(), dest.Get(), info.get(), paper.c_str(), CUPS_MEDIA_FLAGS_DEFAULT, &size) &&
      !cupsGetDestMediaDefault(http.get(), dest.Get(), info.get(), CUPS_MEDIA_FLAGS_DEFAULT, &size))
    return std::nullopt;
  return TzbMargins{size.left / HundredthMmPerInch, size.top / HundredthMmPerInch, size.right / HundredthMmPerInch,
                    size.bottom / HundredthMmPerInch};
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
