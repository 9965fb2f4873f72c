// Header and footer stamped onto every page of a PDF (file in, file out). The pages are carried over
// as they are, text staying text, each with its own size; the header is written inside the top
// margin, the footer inside the bottom margin, between the left and the right margin.
#pragma once

#include <string>
#include <string_view>

#include "platform/print/zbPageCodes.h"
#include "platform/print/zbPageSetup.h"

namespace zb::print {

struct TzbStampOptions {
  std::u16string Header, Footer;  // with page-setup codes
  TzbMargins Margins;             // inches; clamped per page (ClampMargins)
  // Inches at each edge the printer cannot print; the header and footer are centred in the part of
  // their margin outside it. Zero (a PDF printer) centres them in the whole margin.
  TzbMargins Unprintable{0, 0, 0, 0};
  TzbPageCodeContext Context;  // Page and PageCount are set for each page
};

// The line's font: sans, PreferredFontSize points, smaller down to MinimumFontSize where a margin is
// too narrow for it.
constexpr double PreferredFontSize = 9;
constexpr double MinimumFontSize = 5;

// Height in points of the header/footer line at PreferredFontSize.
double StampLineHeight();

// Whether any page of the PDF shows text, an image or a shading (paths alone are not counted: a blank
// page of the engine still paints its background). An unreadable file counts as marked.
bool PdfHasMarks(std::u16string_view AFileName);

// Writes AOutput atomically (it may be AInput). An unreadable or damaged input raises EzbPrintError
// and leaves AOutput as it was; so does a failed write (EzbFileError).
void StampPdf(std::u16string_view AInput, std::u16string_view AOutput, const TzbStampOptions& AOptions);

}  // namespace zb::print
