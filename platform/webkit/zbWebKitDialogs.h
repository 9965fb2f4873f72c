// The engine's other dialogs over GTK and WebKit: open, save as, properties, find, view source and
// options. Registered as the view's handlers of the standard and the browser group's commands; each
// is modal, returns when it is closed, and a cancel is no error.
#pragma once

#include <webkit2/webkit2.h>

#include <cstdint>
#include <functional>
#include <string>

#include "htmledit/zbMsHtml_tlb.h"
#include "htmledit/zbShDocVw_tlb.h"

namespace zb::webkit {

// What the dialogs need of their view and its adapter: the adapter's own load and save, so the load
// states and the document's charset work as for any other call, and the host's dialog watching.
struct TDialogContext {
  WebKitWebView* View = nullptr;
  std::function<void(std::u16string_view)> Navigate;
  std::function<HRESULT(std::u16string_view)> Save;
  // The serialised document as the adapter's save writes it, before its encoding.
  std::function<std::u16string()> Source;
  std::function<std::u16string()> Charset;
  // The document's own title: the view's title property follows a load only later.
  std::function<std::u16string()> Title;
  std::function<void(GtkWidget*)> Shown;
};

HRESULT OpenCommand(const TDialogContext& AContext);
// AExecOpt OLECMDEXECOPT_DONTPROMPTUSER with a file name in AIn saves there without a dialog.
HRESULT SaveAsCommand(std::uint32_t AExecOpt, const TVariant& AIn, const TDialogContext& AContext);
HRESULT PropertiesCommand(const TDialogContext& AContext);
HRESULT FindCommand(const TDialogContext& AContext);
HRESULT ViewSourceCommand(const TDialogContext& AContext);
HRESULT OptionsCommand(const TDialogContext& AContext);

}  // namespace zb::webkit
