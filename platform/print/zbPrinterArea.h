// Where a printer can put ink: the unprintable bands at the paper's edges, from CUPS (the PPD's
// ImageableArea or the printer's IPP media margins), and the job margins that keep every mark,
// header and footer included, inside the printable area.
#pragma once

#include <optional>
#include <string_view>

#include "platform/print/zbPageSetup.h"

namespace zb::print {

// The unprintable bands (inches) of ADestination (empty: the default destination, as sending resolves
// it) for the paper APaper (PWG name) in portrait. Nothing when the service, the destination or any
// media information is missing: such a printer is treated as one without bands, as a PDF printer is.
// The only call that asks CUPS. It asks from a worker thread while the main loop goes on, and throws
// EzbPrintError when the service keeps silent past ATimeoutSeconds; inside a TzbPrintBatch that
// stalls the batch, and an answer is kept for the batch's other files.
std::optional<TzbMargins> QueryUnprintableBands(std::u16string_view ADestination, std::u16string_view APaper,
                                                int ATimeoutSeconds = 5);

// Portrait bands as they fall on a landscape page (the printer turns the page either way, so each
// side gets the wider of the two bands that may land there).
TzbMargins BandsForOrientation(const TzbMargins& APortrait, TPrintOrientationOption AOrientation);

// The margins of one job: each stored margin, grown to at least its band; a margin that carries the
// header or footer line grows until the line of ALineHeight points fits between the band and the
// content, with a small gap. The store keeps its values.
TzbMargins JobMargins(const TzbMargins& AStored, const TzbMargins& ABands, bool AHeader, bool AFooter,
                      double ALineHeight);

}  // namespace zb::print
