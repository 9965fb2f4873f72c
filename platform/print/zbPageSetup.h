// The page setup printing works with, read from the engine's page-setup store (header, footer,
// margins) plus two values of our own in the same key (orientation, paper). Reading never fails:
// missing or unusable values give defaults; margins are clamped so that the page keeps room for text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/print/zbPageSetupStore.h"

namespace zb {
class TzbRegistry;
}

namespace zb::print {

// Our own values in the page-setup key (HKEY_CURRENT_USER), both texts.
constexpr std::u16string_view PageSetupOrientation = u"zb_orientation";
constexpr std::u16string_view PageSetupPaper = u"zb_paper";
constexpr std::u16string_view OrientationPortraitText = u"portrait";
constexpr std::u16string_view OrientationLandscapeText = u"landscape";

struct TzbMargins {
  double Left = DefaultPrintMargin, Top = DefaultPrintMargin, Right = DefaultPrintMargin,
         Bottom = DefaultPrintMargin;  // inches
  bool operator==(const TzbMargins&) const = default;
};

struct TzbPaperSize {
  double Width = 0, Height = 0;  // inches, portrait
  bool operator==(const TzbPaperSize&) const = default;
};

struct TzbPageSetup {
  std::u16string Header, Footer;
  TzbMargins Margins;
  TPrintOrientationOption Orientation = poPortrait;
  std::u16string Paper;  // PWG self-describing name, e.g. "iso_a4_210x297mm"
  // The paper's own size, for a paper chosen in the print dialog whose name tells none (a printer's
  // own paper from its PPD, a custom one); the name's size otherwise.
  std::optional<TzbPaperSize> PaperSize;
};

// "0.75000" → 0.75; spaces anywhere are ignored, "." is the only decimal separator, whatever the
// locale. Empty, malformed or non-finite texts give nothing.
std::optional<double> ParseMarginText(std::u16string_view AText);

// The size a PWG self-describing name ends with ("…_210x297mm", "…_8.5x11in"); nothing when the name
// has no such ending or a size of zero.
std::optional<TzbPaperSize> PaperSizeFromName(std::u16string_view AName);

// The paper of the user's locale (LC_PAPER) as a PWG name: "iso_a4_210x297mm", "na_letter_8.5x11in",
// otherwise "custom_<w>x<h>mm".
std::u16string DefaultPaperName();

// The measurement system of the user's locale (LC_MEASUREMENT of the environment, whatever the
// process's own locale is); a locale that is not installed counts as metric.
TMeasure LocaleMeasure();

// Negative or non-finite margins become 0; when the two margins of a direction take more than half of
// the page in that direction, both shrink in proportion to exactly half. Page size in inches.
TzbMargins ClampMargins(const TzbMargins& AMargins, double APageWidth, double APageHeight);

// The page setup from the store; margins clamped against the paper in its orientation.
TzbPageSetup ReadPageSetup();

// The store's margin text: inches with exactly five decimals and ".", whatever the locale.
std::u16string MarginStoreText(double AInches);

// Writes the engine's values (header, footer, the four margins in inches) into the open page-setup key.
void WritePageSetupTexts(TzbRegistry& AKey, std::u16string_view AHeader, std::u16string_view AFooter,
                         const TzbMargins& AMargins);

// Writes our two values, creating the key. Raises EzbPrintError for a paper name without a size and
// the store's errors.
void WritePageLayout(TPrintOrientationOption AOrientation, std::u16string_view APaper);

}  // namespace zb::print
