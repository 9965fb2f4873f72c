// The engine's print command over WebKit: the view is printed to a PDF with the page setup's paper,
// orientation and margins, header and footer are stamped onto every page, and the result goes to the
// default printer. Registered as the view's handler of the standard print command.
#pragma once

#include <webkit2/webkit2.h>

#include <cstdint>
#include <functional>
#include <string>

#include "htmledit/zbMsHtml_tlb.h"
#include "htmledit/zbShDocVw_tlb.h"
#include "platform/print/zbPageSetup.h"

namespace zb::webkit {

// Header, footer and HTML header of the print command's argument (an array of header text, footer
// text and a stream of UTF-16 HTML); null when the argument carries none, so the store's apply.
struct TPrintTexts {
  std::u16string Header, Footer, HtmlHeader;
};
bool PrintTextsFromArgument(const TVariant& AIn, TPrintTexts& ATexts);

// Prints AView to a PDF file APdf with ASetup's paper, orientation and margins (no header or footer).
// AFailed tells a dead web process; raises EzbException when printing fails or runs out of time.
void PrintViewToPdf(WebKitWebView* AView, const std::string& APdf, const print::TzbPageSetup& ASetup, int ATimeoutMs,
                    const std::function<bool()>& AFailed);

// What the print commands need of their view and host: the bound of the engine's waits, whether the
// web process died, and the host's dialog watching (every dialog once it is on screen).
struct TPrintContext {
  int TimeoutMs = 0;
  std::function<bool()> Failed;
  std::function<void(GtkWidget*, IzbPageSetupFields*)> Shown;
};

// The whole print command: the argument's texts (or the store's), rendering, stamping, sending.
// AExecOpt OLECMDEXECOPT_PROMPTUSER shows the print dialog first; cancelling it prints nothing.
HRESULT PrintCommand(WebKitWebView* AView, std::uint32_t AExecOpt, const TVariant& AIn, const TPrintContext& AContext);
// The preview of the stamped pages with the store's header and footer; returns when it is closed.
HRESULT PreviewCommand(WebKitWebView* AView, const TPrintContext& AContext);
// The page-setup dialog; what the user confirms is written to the page-setup store.
HRESULT PageSetupCommand(const TPrintContext& AContext);

}  // namespace zb::webkit
