#include "htmledit/zbShDocVw_tlb.h"

namespace zb {

namespace {
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
}

TWebBrowser::TWebBrowser(GtkContainer* AParent) : FEngine(CreateWebBrowser(AParent, *this)) {}

TWebBrowser::~TWebBrowser() = default;

HRESULT TWebBrowser::AmbientInvoke(std::int32_t, std::uint16_t, TVariant*) { return DISP_E_MEMBERNOTFOUND; }
HRESULT TWebBrowser::GetHostInfo(TDocHostUIInfo&) { return E_NOTIMPL; }
HRESULT TWebBrowser::ShowContextMenu(std::uint32_t, const TPoint&) { return S_FALSE; }
HRESULT TWebBrowser::ShowMessage(std::u16string_view, std::u16string_view, std::uint32_t, std::int32_t&) {
  return S_FALSE;
}
HRESULT TWebBrowser::HostExec(const TGUID*, std::uint32_t, std::uint32_t, const TVariant&, TVariant*) {
  return OLECMDERR_E_UNKNOWNGROUP;
}
void TWebBrowser::DocumentComplete(std::u16string_view AUrl) {
  if (OnDocumentComplete) OnDocumentComplete(*this, AUrl);
}

}  // namespace zb
