#include "platform/print/zbPdfStamp.h"

#include <cairo-pdf.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/glib/zbCairoOwner.h"
#include "platform/print/zbPdfOverlay.h"
#include "platform/print/zbPrintError.h"
#include "support/zbFileCtrl.h"
#include "support/zbUnicode.h"

namespace zb::print {
namespace {

constexpr char FontFamily[] = "Sans";
// Space between two parts of a line, in ems: clearly wider than a word space.
constexpr double PartGap = 1.5;
constexpr char Ellipsis[] = "\u2026";
constexpr std::u16string_view SPdfNotWritable = u"Die PDF-Datei '%s' kann nicht geschrieben werden: %s";

struct TzbBand {
  double Left, Top, Width, Height;  // points
};

struct TzbWidths {
  double Left = 0, Centre = 0, Right = 0;
};

// Centre stays centred on the line. It keeps its full width when the wider side still fits beside
// it, else at least a third of the line; the sides share the rest evenly. Without a centre, a side
// that fits into half the line keeps its full width and the other takes the remainder.
TzbWidths AllocateWidths(double AAvailable, const TzbWidths& ANatural, double AGap) {
  TzbWidths w;
  const TzbWidths& n = ANatural;
  if (n.Centre > 0) {
    double side = std::max(n.Left, n.Right);
    double sideNeed = side > 0 ? side + AGap : 0;
    w.Centre = std::min({n.Centre, AAvailable, std::max(AAvailable / 3, AAvailable - 2 * sideNeed)});
    double sideSpace = std::max(0.0, (AAvailable - w.Centre) / 2 - AGap);
    w.Left = std::min(n.Left, sideSpace);
    w.Right = std::min(n.Right, sideSpace);
  } else if (n.Left == 0 || n.Right == 0) {
    w.Left = std::min(n.Left, AAvailable);
    w.Right = std::min(n.Right, AAvailable);
  } else {
    double space = std::max(0.0, AAvailable - AGap), half = space / 2;
    if (n.Left + n.Right <= space) {
      w = n;
    } else if (n.Left <= half) {
      w.Left = n.Left;
      w.Right = space - n.Left;
    } else if (n.Right <= half) {
      w.Right = n.Right;
      w.Left = space - n.Right;
    } else {
      w.Left = w.Right = half;
    }
  }
  return w;
}

// One line of text: control characters would start new lines or show as boxes.
std::string LineText(std::u16string_view AText) {
  std::u16string line(AText);
  std::replace_if(
      line.begin(), line.end(), [](char16_t AChar) { return AChar < 0x20 || AChar == 0x7F; }, u' ');
  return Utf16ToUtf8(line);
}

class TzbLineWriter {
 public:
  explicit TzbLineWriter(cairo_t* ACairo) : FCairo(ACairo) {
    TzbCairoFontOptions options(cairo_font_options_create());
    // Unhinted metrics keep widths proportional to the size, which the fitting relies on.
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
    FLayout.reset(pango_cairo_create_layout(ACairo));
    pango_cairo_context_set_font_options(pango_layout_get_context(FLayout.get()), options.get());
    pango_layout_context_changed(FLayout.get());
    pango_layout_set_auto_dir(FLayout.get(), FALSE);
    pango_layout_set_single_paragraph_mode(FLayout.get(), TRUE);
    FFont.reset(pango_font_description_new());
    pango_font_description_set_family(FFont.get(), FontFamily);
  }

  // Draws the parts inside ABand, or as close to it as the page allows.
  // Answers whether anything was drawn.
  bool Draw(const TzbLineParts& AParts, const TzbBand& ABand, double APageHeight) {
    if (AParts.Empty()) return false;
    SetSize(PreferredFontSize);
    double height = Measure("Ag").second;
    if (height > ABand.Height) {
      SetSize(std::max(MinimumFontSize, PreferredFontSize * ABand.Height / height));
      height = Measure("Ag").second;
    }
    double top = std::clamp(ABand.Top + (ABand.Height - height) / 2, 0.0, std::max(0.0, APageHeight - height));

    std::string left = LineText(AParts.Left), centre = LineText(AParts.Centre), right = LineText(AParts.Right);
    TzbWidths natural{Measure(left).first, Measure(centre).first, Measure(right).first};
    TzbWidths w = AllocateWidths(ABand.Width, natural, PartGap * FSize);
    double cx = ABand.Left + ABand.Width / 2, lineRight = ABand.Left + ABand.Width;
    bool shown = Show(Fit(left, w.Left), top, [&](double) { return ABand.Left; });
    shown = Show(Fit(centre, w.Centre), top, [&](double AWidth) { return cx - AWidth / 2; }) || shown;
    return Show(Fit(right, w.Right), top, [&](double AWidth) { return lineRight - AWidth; }) || shown;
  }

  double LineHeight() {
    SetSize(PreferredFontSize);
    return Measure("Ag").second;
  }

 private:
  void SetSize(double APoints) {
    FSize = APoints;
    pango_font_description_set_absolute_size(FFont.get(), APoints * PANGO_SCALE);
    pango_layout_set_font_description(FLayout.get(), FFont.get());
  }

  // Logical width and height in points of AText on one unlimited line.
  std::pair<double, double> Measure(const std::string& AText) {
    pango_layout_set_text(FLayout.get(), AText.c_str(), static_cast<int>(AText.size()));
    PangoRectangle logical;
    pango_layout_get_extents(FLayout.get(), nullptr, &logical);
    return {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
  }

  // The longest start of AText (whole characters, trailing blanks dropped) that fits AWidth with an
  // ellipsis after it. Pango's own ellipsis would keep the cut text behind the ellipsis glyph (a
  // reader would find text that is not shown) and stretch it to the full width.
  std::string Fit(const std::string& AText, double AWidth) {
    if (AText.empty() || Measure(AText).first <= AWidth) return AText;
    std::vector<std::size_t> cuts;
    {
      int count = 0;
      const PangoLogAttr* attrs = pango_layout_get_log_attrs_readonly(FLayout.get(), &count);
      const char* text = pango_layout_get_text(FLayout.get());
      for (int i = 1; i < count; ++i)
        if (attrs[i].is_cursor_position)
          cuts.push_back(static_cast<std::size_t>(g_utf8_offset_to_pointer(text, i) - text));
    }
    auto candidate = [&](std::size_t ACut) {
      std::string start = AText.substr(0, ACut);
      while (!start.empty() && static_cast<unsigned char>(start.back()) <= ' ') start.pop_back();
      return start.empty() ? start : start + Ellipsis;
    };
    std::string best;
    std::size_t lo = 0, hi = cuts.size();  // cuts[0, lo) fit
    while (lo < hi) {
      std::size_t mid = (lo + hi) / 2;
      std::string c = candidate(cuts[mid]);
      if (Measure(c).first <= AWidth) {
        best = c;
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return best;
  }

  template <typename TLeftOf>
  bool Show(const std::string& AText, double ATop, TLeftOf ALeftOf) {
    if (AText.empty()) return false;
    double width = Measure(AText).first;
    cairo_move_to(FCairo, ALeftOf(width), ATop);
    pango_cairo_show_layout(FCairo, FLayout.get());
    return true;
  }

  cairo_t* FCairo;
  TzbGObject<PangoLayout> FLayout;
  TzbPangoFontDescription FFont;
  double FSize = PreferredFontSize;
};

cairo_status_t AppendBytes(void* AClosure, const unsigned char* AData, unsigned int ALength) noexcept {
  try {
    static_cast<std::string*>(AClosure)->append(reinterpret_cast<const char*>(AData), ALength);
    return CAIRO_STATUS_SUCCESS;
  } catch (...) {
    return CAIRO_STATUS_NO_MEMORY;
  }
}

// Header and footer of every page, drawn into a PDF of their own with one page per page of the
// input, each of that page's size. Answers whether any page got a line at all.
bool DrawStamps(const std::vector<TzbPdfPageSize>& APages, const TzbStampOptions& AOptions, std::string& ABytes,
                std::vector<bool>& AStamped, std::u16string_view AOutput) {
  TzbCairoSurface surface(cairo_pdf_surface_create_for_stream(AppendBytes, &ABytes, 1, 1));
  TzbCairo cr(cairo_create(surface.get()));
  TzbLineWriter writer(cr.get());
  TzbPageCodeContext context = AOptions.Context;
  context.PageCount = static_cast<int>(APages.size());
  bool any = false;
  AStamped.assign(APages.size(), false);
  for (std::size_t i = 0; i < APages.size(); ++i) {
    const double width = APages[i].Width, height = APages[i].Height;
    cairo_pdf_surface_set_size(surface.get(), width, height);
    context.Page = static_cast<int>(i) + 1;
    TzbMargins m = ClampMargins(AOptions.Margins, width / PointsPerInch, height / PointsPerInch);
    TzbMargins u = ClampMargins(AOptions.Unprintable, width / PointsPerInch, height / PointsPerInch);
    double left = m.Left * PointsPerInch, lineWidth = width - (m.Left + m.Right) * PointsPerInch;
    double top = m.Top * PointsPerInch, bottom = m.Bottom * PointsPerInch;
    // The line is centred in the part of its margin the printer can print.
    double hardTop = std::min(u.Top * PointsPerInch, top), hardBottom = std::min(u.Bottom * PointsPerInch, bottom);
    cairo_set_source_rgb(cr.get(), 0, 0, 0);
    bool drawn =
        writer.Draw(ExpandPageCodes(AOptions.Header, context), {left, hardTop, lineWidth, top - hardTop}, height);
    drawn = writer.Draw(ExpandPageCodes(AOptions.Footer, context),
                        {left, height - bottom, lineWidth, bottom - hardBottom}, height) ||
            drawn;
    AStamped[i] = drawn;
    any = any || drawn;
    cairo_show_page(cr.get());
  }
  cr.reset();
  cairo_surface_finish(surface.get());
  if (cairo_status_t status = cairo_surface_status(surface.get()); status != CAIRO_STATUS_SUCCESS)
    throw EzbPrintError(SPdfNotWritable, {AOutput, Utf8ToUtf16(cairo_status_to_string(status))});
  return any;
}

std::string ReadWholeFile(std::u16string_view AFileName) {
  try {
    return ReadFileBytes(AFileName);
  } catch (const EzbException& e) {
    throw EzbPrintError(SPdfNotReadable, {AFileName, e.Message()});
  }
}

}  // namespace

bool PdfHasMarks(std::u16string_view AFileName) {
  try {
    return PdfFileHasMarks(Utf16ToUtf8(AFileName));
  } catch (const std::exception&) {
    return true;  // what cannot be judged is not held back
  }
}

double StampLineHeight() {
  TzbCairoSurface surface(cairo_pdf_surface_create_for_stream(nullptr, nullptr, 1, 1));
  TzbCairo cr(cairo_create(surface.get()));
  return TzbLineWriter(cr.get()).LineHeight();
}

void StampPdf(std::u16string_view AInput, std::u16string_view AOutput, const TzbStampOptions& AOptions) {
  const std::string input = ReadWholeFile(AInput);
  std::string output;
  try {
    const std::vector<TzbPdfPageSize> pages = PdfPageSizes(input);
    if (pages.empty()) throw EzbPrintError(SPdfNoPages, {AInput});
    for (std::size_t i = 0; i < pages.size(); ++i)
      if (!(pages[i].Width > 0) || !(pages[i].Height > 0))
        throw EzbPrintError(SPdfNotReadable, {AInput, u"Seite " + IntToText(static_cast<int>(i) + 1)});
    std::string stamps;
    std::vector<bool> stamped;
    if (!DrawStamps(pages, AOptions, stamps, stamped, AOutput)) {
      WriteFileAtomic(AOutput, input);
      return;
    }
    output = OverlayPdfPages(input, stamps, stamped);
  } catch (const EzbException&) {
    throw;
  } catch (const std::exception& e) {
    throw EzbPrintError(SPdfNotReadable, {AInput, Utf8ToUtf16(e.what())});
  }
  WriteFileAtomic(AOutput, output);
}

}  // namespace zb::print
