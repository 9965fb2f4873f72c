// The qpdf side of stamping: page sizes of a PDF, overlaying the pages of one PDF onto the pages of
// another without touching their content, and whether a PDF shows anything. Kept free of the project's
// other headers: qpdf 11's headers do not compile as C++20 with clang (its JSON holds a std::vector of
// itself), so this unit is built as C++17 (library zbqpdf). Errors are std::runtime_error (qpdf's own
// exceptions derive from it too).
#pragma once

#include <string>
#include <vector>

namespace zb::print {

// A page as a reader shows it, in points: its crop box, turned by /Rotate.
struct TzbPdfPageSize {
  double Width = 0, Height = 0;
};
std::vector<TzbPdfPageSize> PdfPageSizes(const std::string& APdf);

// APdf with page i of AStamps drawn over page i wherever AStamped[i]: the stamp page becomes a form
// XObject, the page gets it as a resource and two content streams of its own ("q" first, "Q" and the
// placement last). Everything else of APdf is written as it was, streams byte for byte.
std::string OverlayPdfPages(const std::string& APdf, const std::string& AStamps, const std::vector<bool>& AStamped);

// Whether any page shows text, an image or a shading (looking into the forms it draws). Raises for a
// file that cannot be read.
bool PdfFileHasMarks(const std::string& AFileName);

}  // namespace zb::print
