// PDFs for the printing tests: written with cairo, read back with poppler (text, page sizes, where a
// text sits), in a temporary folder of the test's own.
#pragma once

#include <cairo-pdf.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <poppler.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/glib/zbCairoOwner.h"

namespace zb::print::test {

constexpr double A4Width = 595.2756, A4Height = 841.8898;  // points

class TTempDir {
 public:
  TTempDir() {
    char tmpl[] = "/tmp/zbprint-test-XXXXXX";
    if (::mkdtemp(tmpl)) FPath = tmpl;
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  std::string operator/(const std::string& AName) const { return FPath + "/" + AName; }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

struct TPageSpec {
  double Width = A4Width, Height = A4Height;
  std::string Word;        // drawn with its baseline at (WordX, WordBaseline)
  bool RedSquare = false;  // a red square of SquareSide points at (SquareX, SquareY), top-left origin
};
constexpr double SquareX = 200, SquareY = 400, SquareSide = 50;
constexpr double WordX = 144, WordBaseline = 300;

inline void WritePdf(const std::string& APath, const std::vector<TPageSpec>& APages) {
  TzbCairoSurface surface(cairo_pdf_surface_create(APath.c_str(), APages.front().Width, APages.front().Height));
  TzbCairo cr(cairo_create(surface.get()));
  for (const TPageSpec& page : APages) {
    cairo_pdf_surface_set_size(surface.get(), page.Width, page.Height);
    cairo_select_font_face(cr.get(), "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr.get(), 24);
    cairo_move_to(cr.get(), WordX, WordBaseline);
    cairo_show_text(cr.get(), page.Word.c_str());
    if (page.RedSquare) {
      cairo_set_source_rgb(cr.get(), 1, 0, 0);
      cairo_rectangle(cr.get(), SquareX, SquareY, SquareSide, SquareSide);
      cairo_fill(cr.get());
      cairo_set_source_rgb(cr.get(), 0, 0, 0);
    }
    cairo_show_page(cr.get());
  }
}

// A text's box in points, from the page's top-left corner.
struct TBox {
  double Left = 0, Top = 0, Right = 0, Bottom = 0;
  double CentreX() const { return (Left + Right) / 2; }
};

class TPdf {
 public:
  explicit TPdf(const std::string& APath) : FPath(APath) {
    TzbGObject<GFile> file(g_file_new_for_path(APath.c_str()));
    FDoc.reset(poppler_document_new_from_gfile(file.get(), nullptr, nullptr, nullptr));
  }
  bool Loaded() const { return static_cast<bool>(FDoc); }
  int PageCount() const { return poppler_document_get_n_pages(FDoc.get()); }
  std::pair<double, double> Size(int AIndex) const {
    double w = 0, h = 0;
    poppler_page_get_size(Page(AIndex).get(), &w, &h);
    return {w, h};
  }
  std::string Text(int AIndex) const {
    TzbGChars text(poppler_page_get_text(Page(AIndex).get()));
    return text ? text.get() : "";
  }
  // Horizontal extents (points) of the ink between ATop and ABottom, gaps narrower than AMinGap closed.
  std::vector<std::pair<double, double>> InkRuns(int AIndex, double ATop, double ABottom, double AMinGap) const {
    constexpr double Scale = 4;
    auto [w, h] = Size(AIndex);
    int pw = static_cast<int>(w * Scale), ph = static_cast<int>(h * Scale);
    TzbCairoSurface image(cairo_image_surface_create(CAIRO_FORMAT_RGB24, pw, ph));
    TzbCairo cr(cairo_create(image.get()));
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());
    cairo_scale(cr.get(), Scale, Scale);
    poppler_page_render(Page(AIndex).get(), cr.get());
    cairo_surface_flush(image.get());
    const unsigned char* data = cairo_image_surface_get_data(image.get());
    int stride = cairo_image_surface_get_stride(image.get());
    std::vector<std::pair<double, double>> runs;
    for (int x = 0; x < pw; ++x) {
      bool ink = false;
      for (int y = std::max(0, static_cast<int>(ATop * Scale)); y < std::min(ph, static_cast<int>(ABottom * Scale));
           ++y)
        ink = ink || data[y * stride + x * 4 + 1] < 128;
      if (!ink) continue;
      double left = x / Scale, right = (x + 1) / Scale;
      if (!runs.empty() && left - runs.back().second < AMinGap)
        runs.back().second = right;
      else
        runs.push_back({left, right});
    }
    return runs;
  }
  // Colour (r, g, b, 0..255) at a point (points from the top-left corner) of the page rendered at 72 dpi.
  std::array<int, 3> Pixel(int AIndex, double AX, double AY) const {
    auto [w, h] = Size(AIndex);
    TzbCairoSurface image(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(w) + 1, static_cast<int>(h) + 1));
    TzbCairo cr(cairo_create(image.get()));
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());
    poppler_page_render(Page(AIndex).get(), cr.get());
    cairo_surface_flush(image.get());
    const unsigned char* px = cairo_image_surface_get_data(image.get()) +
                              static_cast<int>(AY) * cairo_image_surface_get_stride(image.get()) +
                              static_cast<int>(AX) * 4;
    return {px[2], px[1], px[0]};
  }
  // Pixels of the page (72 dpi) between ATop and ABottom whose colour is clearly not grey, as pdftoppm
  // renders it (poppler's Splash, as a printer driver would; its cairo output draws colour glyph fonts
  // as black shapes).
  int ColouredPixels(int AIndex, double ATop, double ABottom) const {
    TTempDir dir;
    const std::string page = std::to_string(AIndex + 1);
    const std::string command = "pdftoppm -png -r 72 -singlefile -f " + page + " -l " + page + " '" + FPath + "' '" +
                                (dir / "page") + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return -1;
    TzbCairoSurface image(cairo_image_surface_create_from_png((dir / "page.png").c_str()));
    if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS) return -1;
    cairo_surface_flush(image.get());
    const unsigned char* data = cairo_image_surface_get_data(image.get());
    const int stride = cairo_image_surface_get_stride(image.get());
    const int w = cairo_image_surface_get_width(image.get()), h = cairo_image_surface_get_height(image.get());
    int count = 0;
    for (int y = std::max(0, static_cast<int>(ATop)); y < std::min(h, static_cast<int>(ABottom)); ++y)
      for (int x = 0; x < w; ++x) {
        const unsigned char* px = data + y * stride + x * 4;
        const int hi = std::max({px[0], px[1], px[2]}), lo = std::min({px[0], px[1], px[2]});
        count += hi - lo > 80;
      }
    return count;
  }
  // The words of the page (runs of characters without blanks) with their boxes, in reading order.
  struct TWord {
    std::string Text;
    TBox Box;
  };
  std::vector<TWord> Words(int AIndex) const {
    TzbGObject<PopplerPage> page = Page(AIndex);
    TzbGChars text(poppler_page_get_text(page.get()));
    PopplerRectangle* rects = nullptr;
    guint count = 0;
    std::vector<TWord> words;
    if (!text || !poppler_page_get_text_layout(page.get(), &rects, &count)) return words;
    double w = 0, h = 0;
    poppler_page_get_size(page.get(), &w, &h);
    const char* p = text.get();
    bool open = false;
    for (guint i = 0; i < count && *p; ++i, p = g_utf8_next_char(p)) {
      const gunichar c = g_utf8_get_char(p);
      if (g_unichar_isspace(c)) {
        open = false;
        continue;
      }
      const PopplerRectangle& r = rects[i];
      const TBox box{r.x1, r.y1, r.x2, r.y2};  // the layout answers from the top-left corner
      if (!open) words.push_back({"", box});
      TWord& word = words.back();
      word.Text.append(p, g_utf8_next_char(p) - p);
      word.Box = {std::min(word.Box.Left, box.Left), std::min(word.Box.Top, box.Top),
                  std::max(word.Box.Right, box.Right), std::max(word.Box.Bottom, box.Bottom)};
      open = true;
    }
    g_free(rects);
    return words;
  }
  // Every place of AText on the page, left to right.
  std::vector<TBox> Find(int AIndex, const std::string& AText) const {
    TzbGObject<PopplerPage> page = Page(AIndex);
    double w = 0, h = 0;
    poppler_page_get_size(page.get(), &w, &h);
    TzbGList<PopplerRectangle, poppler_rectangle_free> found(poppler_page_find_text(page.get(), AText.c_str()));
    std::vector<TBox> boxes;
    // poppler answers in PDF space: y grows upwards from the bottom edge.
    for (GList* l = found.get(); l; l = l->next) {
      auto* r = static_cast<PopplerRectangle*>(l->data);
      boxes.push_back({r->x1, h - r->y2, r->x2, h - r->y1});
    }
    std::sort(boxes.begin(), boxes.end(), [](const TBox& a, const TBox& b) { return a.Left < b.Left; });
    return boxes;
  }

 private:
  TzbGObject<PopplerPage> Page(int AIndex) const {
    return TzbGObject<PopplerPage>(poppler_document_get_page(FDoc.get(), AIndex));
  }
  std::string FPath;
  TzbGObject<PopplerDocument> FDoc;
};

// Output of a command line (pdftotext, pdfinfo).
inline std::string CommandOutput(const std::string& ACommand) {
  std::string out;
  if (FILE* p = ::popen(ACommand.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

inline std::string FileText(const std::string& APath) {
  std::ifstream f(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline int PdfInfoPages(const std::string& APath) {
  std::string info = CommandOutput("pdfinfo '" + APath + "' 2>/dev/null");
  std::size_t at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

}  // namespace zb::print::test
