// The editor's printing, preview, dialogs and zoom: each is one command to the document's command
// target; the engine's handlers do the work.
#include <climits>
#include <memory>

#include "htmledit/zbHtmlEd.h"
#include "support/zbStr.h"

namespace zb {

bool ApplyPrintOptionsToDialog = false;
bool HidePageSetupDialog = false;

namespace {
constexpr std::uint16_t VT_ARRAY_OF_BYTES = 0x2011;

// The engine's answer as an integer, as the variant conversion gives it.
std::int32_t VarToInt(const TVariant& AValue) {
  if (const auto* i = std::get_if<std::int32_t>(&AValue)) return *i;
  if (const auto* d = std::get_if<double>(&AValue); d && *d >= INT32_MIN && *d <= INT32_MAX)
    return static_cast<std::int32_t>(*d);
  throw EzbConvertError(SInvalidInteger, {VarToText(AValue)});
}
}  // namespace

void TzbCustomHtmlEdit::Print(bool APromptUser) {
  std::u16string html;
  for (const auto& line : PrintOptions().HTMLHeader()) html += line + u"\r\n";
  auto stream = std::make_shared<TVarStream>();
  stream->Bytes.reserve(html.size() * 2);
  for (char16_t c : html) {
    stream->Bytes += static_cast<char>(c & 0xFF);
    stream->Bytes += static_cast<char>(c >> 8);
  }
  auto array = std::make_shared<TVarArray>();
  array->VarType = VT_ARRAY_OF_BYTES;
  array->Items = {PrintOptions().Header(), PrintOptions().Footer(), std::shared_ptr<const TVarStream>(stream)};
  TVariant out;
  InvokeCMD(false, OLECMDID_PRINT, APromptUser ? OLECMDEXECOPT_PROMPTUSER : OLECMDEXECOPT_DONTPROMPTUSER,
            std::shared_ptr<const TVarArray>(array), &out);
}

void TzbCustomHtmlEdit::PrintWithOptions() {
  HidePageSetupDialog = true;
  PageSetup(true);
  Print(false);
}

void TzbCustomHtmlEdit::PrintPreview() { InvokeCMD(false, OLECMDID_PRINTPREVIEW, OLECMDEXECOPT_DODEFAULT); }

void TzbCustomHtmlEdit::PageSetup(bool AUsePrintOptions) {
  if (AUsePrintOptions) ApplyPrintOptionsToDialog = true;
  InvokeCMD(false, OLECMDID_PAGESETUP, OLECMDEXECOPT_DODEFAULT);
}

void TzbCustomHtmlEdit::OpenDialog() { InvokeCMD(false, OLECMDID_OPEN, OLECMDEXECOPT_DODEFAULT); }
void TzbCustomHtmlEdit::SaveDialog() { InvokeCMD(false, OLECMDID_SAVEAS, OLECMDEXECOPT_DODEFAULT); }
void TzbCustomHtmlEdit::Properties() { InvokeCMD(false, OLECMDID_PROPERTIES, OLECMDEXECOPT_DODEFAULT); }
void TzbCustomHtmlEdit::CopyToClipboard() { InvokeCMD(false, OLECMDID_COPY, OLECMDEXECOPT_DODEFAULT); }
void TzbCustomHtmlEdit::SelectAll() { InvokeCMD(false, OLECMDID_SELECTALL, OLECMDEXECOPT_DODEFAULT); }

void TzbCustomHtmlEdit::UnselectAll() {
  auto document = DOC();
  if (!document) return;
  if (!document->execCommand(u"Unselect", false, TVariant(std::u16string())))
    throw EzbOleError(E_FAIL, u"Die Auswahl des Dokuments konnte nicht aufgehoben werden");
}

void TzbCustomHtmlEdit::Find() { InvokeCMD(true, BrowserFind, OLECMDEXECOPT_DODEFAULT); }
void TzbCustomHtmlEdit::ViewSource() { InvokeCMD(true, BrowserViewSource, OLECMDEXECOPT_DODEFAULT); }
void TzbCustomHtmlEdit::Options() { InvokeCMD(true, BrowserOptions, OLECMDEXECOPT_DODEFAULT); }

TZoomRange TzbCustomHtmlEdit::ZoomRange() {
  TVariant out;
  InvokeCMD(false, OLECMDID_GETZOOMRANGE, OLECMDEXECOPT_DONTPROMPTUSER, TVariant{}, &out);
  const auto bits = static_cast<std::uint32_t>(VarToInt(out));
  return {static_cast<std::int32_t>(bits & 0xFFFF), static_cast<std::int32_t>(bits >> 16)};
}

void TzbCustomHtmlEdit::Zoom(std::int32_t AValue) {
  const TZoomRange range = ZoomRange();
  const std::int32_t level = AValue < range.Low ? range.Low : AValue > range.High ? range.High : AValue;
  TVariant out;
  InvokeCMD(false, OLECMDID_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, level, &out);
}

std::int32_t TzbCustomHtmlEdit::ZoomValue() {
  TVariant out;
  InvokeCMD(false, OLECMDID_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, TVarNull{}, &out);
  return VarToInt(out);
}

}  // namespace zb
