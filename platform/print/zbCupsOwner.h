// Owners for CUPS's handles; the drawing handles' owners are platform/glib's.
#pragma once

#include <cups/cups.h>

#include "platform/glib/zbGOwner.h"

namespace zb::print {

// One destination from cupsGetNamedDest, or the array of cupsGetDests2.
class TzbCupsDests {
 public:
  TzbCupsDests() = default;
  TzbCupsDests(int ACount, cups_dest_t* ADests) noexcept : FCount(ACount), FDests(ADests) {}
  TzbCupsDests(const TzbCupsDests&) = delete;
  TzbCupsDests& operator=(const TzbCupsDests&) = delete;
  ~TzbCupsDests() {
    if (FDests) cupsFreeDests(FCount, FDests);
  }
  int Count() const noexcept { return FCount; }
  cups_dest_t* Get() const noexcept { return FDests; }

 private:
  int FCount = 0;
  cups_dest_t* FDests = nullptr;
};

// The option array of cupsAddOption.
class TzbCupsOptions {
 public:
  TzbCupsOptions() = default;
  TzbCupsOptions(const TzbCupsOptions&) = delete;
  TzbCupsOptions& operator=(const TzbCupsOptions&) = delete;
  ~TzbCupsOptions() {
    if (FOptions) cupsFreeOptions(FCount, FOptions);
  }
  void Add(const char* AName, const char* AValue) { FCount = cupsAddOption(AName, AValue, FCount, &FOptions); }
  int Count() const noexcept { return FCount; }
  cups_option_t* Get() const noexcept { return FOptions; }

 private:
  int FCount = 0;
  cups_option_t* FOptions = nullptr;
};

using TzbHttp = TzbOwner<http_t, httpClose>;

}  // namespace zb::print
