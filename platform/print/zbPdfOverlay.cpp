#include "platform/print/zbPdfOverlay.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cmath>
#include <utility>

namespace zb::print {
namespace {

// A page as a reader shows it: the crop box, turned by /Rotate.
struct TzbPageGeometry {
  QPDFObjectHandle::Rectangle Box;
  double Width = 0, Height = 0;
};

TzbPageGeometry GeometryOf(QPDFPageObjectHelper& APage) {
  TzbPageGeometry g;
  g.Box = APage.getCropBox(false, false).getArrayAsRectangle();
  double w = std::abs(g.Box.urx - g.Box.llx), h = std::abs(g.Box.ury - g.Box.lly);
  QPDFObjectHandle rotate = APage.getAttribute("/Rotate", false);
  long long turns = rotate.isInteger() ? rotate.getIntValue() : 0;
  if (((turns % 360 + 360) % 360) / 90 % 2 == 1) std::swap(w, h);
  g.Width = w;
  g.Height = h;
  return g;
}

// Header and footer of every page, drawn into a PDF of their own with one page per page of the

// Looks through a content stream, and the forms it draws, for anything that puts ink on paper: text,
// an image, a shading. Paths alone do not count: the engine paints page backgrounds even on pages it
// left blank.
class TzbMarkFinder : public QPDFObjectHandle::ParserCallbacks {
 public:
  TzbMarkFinder(const QPDFObjectHandle& AResources, int ADepth) : FResources(AResources), FDepth(ADepth) {}
  bool Found() const { return FFound; }

  void handleObject(QPDFObjectHandle AObject) override {
    if (AObject.isName()) {
      FLastName = AObject.getName();
    } else if (AObject.isInlineImage()) {
      Mark();
    } else if (AObject.isOperator()) {
      const std::string op = AObject.getOperatorValue();
      if (op == "Tj" || op == "TJ" || op == "'" || op == "\"" || op == "sh" || op == "BI")
        Mark();
      else if (op == "Do")
        DrawXObject();
    }
  }
  void handleEOF() override {}

 private:
  void Mark() {
    FFound = true;
    terminateParsing();
  }
  void DrawXObject() {
    QPDFObjectHandle xobjects = FResources.isDictionary() ? FResources.getKey("/XObject") : QPDFObjectHandle();
    QPDFObjectHandle xobject = xobjects.isDictionary() ? xobjects.getKey(FLastName) : QPDFObjectHandle();
    if (!xobject.isStream()) return;
    QPDFObjectHandle subtype = xobject.getDict().getKey("/Subtype");
    if (subtype.isName() && subtype.getName() == "/Image") return Mark();
    if (FDepth >= 8) return Mark();  // deeper than any engine draws: better printed than held back
    QPDFObjectHandle resources = xobject.getDict().getKey("/Resources");
    TzbMarkFinder inner(resources.isDictionary() ? resources : FResources, FDepth + 1);
    xobject.parseAsContents(&inner);
    if (inner.Found()) Mark();
  }

  QPDFObjectHandle FResources;
  int FDepth;
  std::string FLastName;
  bool FFound = false;
};

void Open(QPDF& APdf, const char* AName, const std::string& ABytes) {
  APdf.setSuppressWarnings(true);
  APdf.processMemoryFile(AName, ABytes.data(), ABytes.size());
}

}  // namespace

std::vector<TzbPdfPageSize> PdfPageSizes(const std::string& APdf) {
  QPDF pdf;
  Open(pdf, "input", APdf);
  std::vector<TzbPdfPageSize> sizes;
  for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
    const TzbPageGeometry g = GeometryOf(page);
    sizes.push_back({g.Width, g.Height});
  }
  return sizes;
}

std::string OverlayPdfPages(const std::string& APdf, const std::string& AStamps, const std::vector<bool>& AStamped) {
  QPDF pdf, stamps;
  Open(pdf, "input", APdf);
  Open(stamps, "stamps", AStamps);
  std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
  std::vector<QPDFPageObjectHelper> stampPages = QPDFPageDocumentHelper(stamps).getAllPages();
  for (std::size_t i = 0; i < pages.size() && i < stampPages.size() && i < AStamped.size(); ++i) {
    if (!AStamped[i]) continue;
    QPDFPageObjectHelper& page = pages[i];
    QPDFObjectHandle form = pdf.copyForeignObject(stampPages[i].getFormXObjectForPage());
    QPDFObjectHandle resources = page.getAttribute("/Resources", true);
    if (!resources.isDictionary())
      resources = page.getObjectHandle().replaceKeyAndGetNew("/Resources", QPDFObjectHandle::newDictionary());
    QPDFObjectHandle xobjects = resources.getKey("/XObject");
    if (!xobjects.isDictionary())
      xobjects = resources.replaceKeyAndGetNew("/XObject", QPDFObjectHandle::newDictionary());
    int suffix = 0;
    const std::string name = resources.getUniqueResourceName("/ZbStamp", suffix);
    xobjects.replaceKey(name, form);
    const std::string placement = page.placeFormXObject(form, name, GeometryOf(page).Box, true, true, true);
    // The engine's graphics state is closed off first, so the stamp sits where it was drawn.
    page.addPageContents(pdf.newStream("q\n"), true);
    page.addPageContents(pdf.newStream("\nQ\n" + placement + "\n"), false);
  }
  QPDFWriter writer(pdf);
  writer.setOutputMemory();
  // Streams as they are: no decoding, no compressing what the engine left uncompressed.
  writer.setDecodeLevel(qpdf_dl_none);
  writer.setCompressStreams(false);
  writer.write();
  std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
  return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

bool PdfFileHasMarks(const std::string& AFileName) {
  QPDF pdf;
  pdf.setSuppressWarnings(true);
  pdf.processFile(AFileName.c_str());
  for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
    TzbMarkFinder finder(page.getAttribute("/Resources", false), 0);
    page.parseContents(&finder);
    if (finder.Found()) return true;
  }
  return false;
}

}  // namespace zb::print
