#include "platform/webkit/zbWebKitBrowser.h"

#include <cairo.h>
#include <gtk/gtk.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/glib/zbCairoOwner.h"
#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGtkOwner.h"
#include "platform/webkit/zbWebKitDialogs.h"
#include "platform/webkit/zbWebKitPrint.h"
#include "platform/webkit/zbWebKitScript.h"
#include "platform/webkit/zbWebKitUtils.h"
#include "support/zbFileCtrl.h"
#include "support/zbUnicode.h"

namespace zb::webkit {
namespace {

// Download-control bits the adapter maps onto WebKit.
constexpr std::int32_t DLCTL_DLIMAGES = 0x10;
constexpr std::int32_t DLCTL_VIDEOS = 0x20;
constexpr std::int32_t DLCTL_BGSOUNDS = 0x40;
constexpr std::int32_t DLCTL_NO_FRAMEDOWNLOAD = 0x1000;
constexpr std::int32_t DLCTL_NOFRAMES = 0x80000;
// The engine's answer when the host has no mask.
constexpr std::int32_t DefaultDownloadMask = DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS;

// Zoom levels 0..4 of the standard zoom command, smallest to largest text.
constexpr double ZoomLevels[] = {0.7, 0.85, 1.0, 1.2, 1.5};
constexpr std::int32_t DefaultZoom = 2;

constexpr const char* EmptyDocument = "<html><head></head><body></body></html>";

// A call without the helpers fails with this text (within the engine's message) before it does anything.
constexpr const char16_t* PreludeMissing = u"zb: helpers missing";
constexpr const char* PreludeCheck = "if(!globalThis.__zb)throw new Error('zb: helpers missing');";

// Posts the document's type and its body's text (null without a body) once the document and all it
// loads are finished: what a read at the end of the load would give, without the round trip.
constexpr const char* TextMessage = "zbText";
constexpr const char* PostTextAtLoad =
    "(function(){var d=document;function post(){var b=d.body;"
    "window.webkit.messageHandlers.zbText.postMessage([d.contentType,b?b.innerText:null]);}"
    "if(d.readyState==='complete')post();else window.addEventListener('load',post,{once:true});})();";

bool IsLocalScheme(const char* AUri) {
  return AUri &&
         (g_str_has_prefix(AUri, "file:") || g_str_has_prefix(AUri, "about:") || g_str_has_prefix(AUri, "data:"));
}

// Two spellings of one address: file addresses compare as the files they name.
bool SameAddress(const char* ALeft, const std::string& ARight) {
  if (ARight == ALeft) return true;
  TzbGChars fileA(g_filename_from_uri(ALeft, nullptr, nullptr)),
      fileB(g_filename_from_uri(ARight.c_str(), nullptr, nullptr));
  return fileA.get() && fileB.get() && std::strcmp(fileA.get(), fileB.get()) == 0;
}

// A file named .htm or .html is an HTML document whatever its content says: mails and manuals with an
// XHTML doctype or namespace are typed application/xhtml+xml by GIO's sniffing, and the engine's XML
// parser would show only the text before their first unclosed tag, or its error page. Such a file goes to
// the engine as its bytes, typed text/html, with the file's address as base; the engine finds the
// character set itself (byte-order mark, <meta>, else the default) as for the file. A load that keeps
// its history loads a file GIO types text/html from its address, since a bytes load leaves no history
// entry. Every other file, and one that cannot be read here, loads from its address.
TzbGBytes HtmlFileBytes(const std::string& AUri, bool AKeepHistory) {
  if (!g_str_has_prefix(AUri.c_str(), "file:") || AUri.find_first_of("?#") != std::string::npos) return {};
  TzbGChars path(g_filename_from_uri(AUri.c_str(), nullptr, nullptr));
  if (!path) return {};
  TzbGChars lower(g_ascii_strdown(path.get(), -1));
  if (!g_str_has_suffix(lower.get(), ".htm") && !g_str_has_suffix(lower.get(), ".html")) return {};
  TzbGObject<GFile> file(g_file_new_for_path(path.get()));
  // The content type is sniffed from the file's first bytes: asked only where it decides the load.
  static constexpr char kindOnly[] = G_FILE_ATTRIBUTE_STANDARD_TYPE;
  static constexpr char kindAndType[] = G_FILE_ATTRIBUTE_STANDARD_TYPE "," G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE;
  TzbGObject<GFileInfo> info(
      g_file_query_info(file.get(), AKeepHistory ? kindAndType : kindOnly, G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
  if (!info || g_file_info_get_file_type(info.get()) != G_FILE_TYPE_REGULAR) return {};
  if (AKeepHistory) {
    const char* type = g_file_info_get_content_type(info.get());
    TzbGChars mime(type ? g_content_type_get_mime_type(type) : nullptr);
    if (mime && std::strcmp(mime.get(), "text/html") == 0) return {};
  }
  gchar* data = nullptr;
  gsize size = 0;
  if (!g_file_get_contents(path.get(), &data, &size, nullptr)) return {};
  TzbGBytes bytes(g_bytes_new_take(data, size));
  if (size == 0) return {};  // the engine refuses empty bytes; an empty file loads from its address
  return bytes;
}

std::string ToUri(std::u16string_view AUrl) {
  std::string url = Utf16ToUtf8(AUrl);
  TzbGChars scheme(g_uri_parse_scheme(url.c_str()));
  if (scheme.get() && std::char_traits<char>::length(scheme.get()) > 1) return url;
  TzbGChars absolute(g_canonicalize_filename(url.c_str(), nullptr));
  TzbGChars uri(g_filename_to_uri(absolute.get(), nullptr, nullptr));
  return uri.get() ? uri.get() : url;
}

std::string VariantToJs(const TVariant& AValue) {
  switch (AValue.index()) {
    case 2: return std::get<bool>(AValue) ? "true" : "false";
    case 3: return std::to_string(std::get<std::int32_t>(AValue));
    case 4: {
      double d = std::get<double>(AValue);
      if (!std::isfinite(d)) return "0";
      char buf[G_ASCII_DTOSTR_BUF_SIZE];
      return g_ascii_dtostr(buf, sizeof buf, d);
    }
    case 5: return JsQuote(std::u16string_view(std::get<std::u16string>(AValue)));
    default: return "undefined";
  }
}

// An integer colour of the command protocol is a Windows colour value, 0x00BBGGRR; as a decimal text the
// engine would read 255 as the short hex colour #255 and ignore 16711680. Text colours stay as they are.
TVariant CommandValue(const std::u16string& AUpperName, const TVariant& AValue) {
  if (AUpperName != u"FORECOLOR" && AUpperName != u"BACKCOLOR") return AValue;
  std::uint32_t bits = 0;
  if (const auto* i = std::get_if<std::int32_t>(&AValue)) {
    bits = static_cast<std::uint32_t>(*i);
  } else if (const auto* d = std::get_if<double>(&AValue);
             d && std::isfinite(*d) && std::trunc(*d) == *d && *d >= INT32_MIN && *d <= UINT32_MAX) {
    bits = static_cast<std::uint32_t>(static_cast<std::int64_t>(*d));
  } else {
    return AValue;
  }
  char css[8];
  std::snprintf(css, sizeof css, "#%02x%02x%02x", bits & 0xFF, (bits >> 8) & 0xFF, (bits >> 16) & 0xFF);
  return Utf8ToUtf16(css);
}

// The web's names for some character sets differ from iconv's.
std::string IconvCharset(const std::string& ACharset) {
  static constexpr std::pair<const char*, const char*> names[] = {
      {"ISO-8859-8-I", "ISO-8859-8"}, {"x-mac-cyrillic", "MAC-CYRILLIC"}, {"x-mac-roman", "MACINTOSH"},
      {"macintosh", "MACINTOSH"},     {"x-user-defined", "ISO-8859-1"},   {"windows-874", "CP874"}};
  for (const auto& [Web, Iconv] : names)
    if (g_ascii_strcasecmp(ACharset.c_str(), Web) == 0) return Iconv;
  return ACharset;
}

// Bytes of AText (UTF-8) in ACharset; characters the set lacks become character references. A UTF-16
// document gets its byte-order mark, and so does UTF-8 whose markup does not name its set: the next
// load reads them by the mark, as this one did.
std::string EncodeDocument(const std::string& AText, const std::string& AWebCharset) {
  const std::string targetCharset = IconvCharset(AWebCharset);
  const bool utf8 = targetCharset.empty() || g_ascii_strcasecmp(targetCharset.c_str(), "UTF-8") == 0;
  if (utf8) {
    TzbGChars lower(g_ascii_strdown(AText.c_str(), static_cast<gssize>(std::min<std::size_t>(AText.size(), 4096))));
    const bool named = std::strstr(lower.get(), "charset=utf-8") || std::strstr(lower.get(), "charset=\"utf-8");
    return named || targetCharset.empty() ? AText : "\xEF\xBB\xBF" + AText;
  }
  if (g_ascii_strncasecmp(targetCharset.c_str(), "UTF-16", 6) == 0) {
    const bool be = g_ascii_strcasecmp(targetCharset.c_str(), "UTF-16BE") == 0;
    gsize written = 0;
    TzbGChars wide(g_convert(AText.data(), static_cast<gssize>(AText.size()), be ? "UTF-16BE" : "UTF-16LE", "UTF-8",
                             nullptr, &written, nullptr));
    if (wide.get()) return std::string(be ? "\xFE\xFF" : "\xFF\xFE") + std::string(wide.get(), written);
  }
  gsize written = 0;
  TzbGChars whole(g_convert(AText.data(), static_cast<gssize>(AText.size()), targetCharset.c_str(), "UTF-8", nullptr,
                            &written, nullptr));
  if (whole) return std::string(whole.get(), written);
  // An unknown set falls back to ASCII with references, which reads right under any ASCII-based label.
  GIConv conv = g_iconv_open(targetCharset.c_str(), "UTF-8");
  if (conv == reinterpret_cast<GIConv>(-1)) conv = g_iconv_open("US-ASCII", "UTF-8");
  if (conv == reinterpret_cast<GIConv>(-1)) return AText;
  std::string r;
  const char* p = AText.data();
  const char* end = p + AText.size();
  while (p < end) {
    const char* next = g_utf8_find_next_char(p, end);
    if (!next) next = end;
    char buf[16];
    gchar* in = const_cast<gchar*>(p);
    gsize inLeft = static_cast<gsize>(next - p);
    gchar* out = buf;
    gsize outLeft = sizeof buf;
    if (g_iconv(conv, &in, &inLeft, &out, &outLeft) == static_cast<gsize>(-1)) {
      g_iconv(conv, nullptr, nullptr, nullptr, nullptr);
      r += "&#" + std::to_string(g_utf8_get_char_validated(p, next - p)) + ";";
    } else {
      r.append(buf, static_cast<std::size_t>(out - buf));
    }
    p = next;
  }
  g_iconv_close(conv);
  return r;
}

struct TView;

// A document, element, range or selection belongs to one load of one view; once the view loaded
// something else or its web process died, the handle refuses every call.
struct TRef {
  std::shared_ptr<TView> View;
  unsigned Generation = 0;
  std::string DocExpr;
};

struct TView : std::enable_shared_from_this<TView> {
  IzbBrowserHost& Host;
  // In this order: the signals go first, then the view (out of the host's container, if any), then the
  // window of its own.
  TzbTopLevel OwnWindow;
  TzbOwnedWidget<WebKitWebView> View;
  TWebViewSignals Signals;
  int ReadyState = READYSTATE_UNINITIALIZED;
  bool HasDocument = false;
  bool Failed = false;
  bool LoadFailed = false;
  bool ShowingErrorPage = false;
  // The address of the load the adapter itself started, until its navigation is decided. Any other
  // main-frame navigation (a meta refresh, to this file or another, or a replaced load's late request)
  // would change the document behind the host's back and is ignored.
  std::string ExpectedUri;
  // The address of the adapter's load that is under way; failures of other loads are not its own.
  std::string CurrentUri;
  unsigned Generation = 0;
  // Whether anything of ours may have switched the current document's design mode on; a new document
  // starts without it.
  bool DesignModeMayBeOn = false;
  // What a document loaded for reading posted as its load ended; valid until our next call into it.
  struct TPosted {
    unsigned Generation = 0;
    TVariant Type, Text;
  };
  std::optional<TPosted> Posted;
  TzbOwner<WebKitUserScript, webkit_user_script_unref> TextScript;  // installed for the load under way only
  // Held here, so the signal below is disconnected from a live manager whatever the view did with it.
  TzbGObject<WebKitUserContentManager> Content;
  TzbSignal TextSignal;
  int CallTimeout = DefaultCallTimeoutMs;
  std::int32_t Zoom = DefaultZoom;
  std::map<std::uint32_t, IWebBrowser2::TStandardCommand> StandardCommands;
  // The browser group's commands (find, view source, options).
  std::map<std::uint32_t, IWebBrowser2::TStandardCommand> BrowserCommands;

  explicit TView(IzbBrowserHost& AHost) : Host(AHost) {}

  void Create(GtkContainer* AParent) {
    Content = TzbGObject<WebKitUserContentManager>(webkit_user_content_manager_new());
    UseFilter(NetworkBlockFilter(CallTimeout));
    // Compiled once per document in our world instead of travelling with every call.
    TzbOwner<WebKitUserScript, webkit_user_script_unref> helpers(
        webkit_user_script_new_for_world(DomPrelude, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                         WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, ScriptWorld, nullptr, nullptr));
    webkit_user_content_manager_add_script(Content.get(), helpers.get());
    webkit_user_content_manager_register_script_message_handler_in_world(Content.get(), TextMessage, ScriptWorld);
    TextSignal = TzbSignal(Content.get(), "script-message-received::zbText", G_CALLBACK(OnTextPosted), this);
    TzbGObject<WebKitSettings> settings(webkit_settings_new_with_settings(
        "enable-javascript", TRUE, "enable-javascript-markup", FALSE, "javascript-can-open-windows-automatically",
        FALSE, "javascript-can-access-clipboard", TRUE, "enable-page-cache", FALSE, "enable-html5-database", FALSE,
        "enable-html5-local-storage", FALSE, "enable-developer-extras", FALSE, "enable-webgl", FALSE, "enable-webaudio",
        FALSE, "enable-media-stream", FALSE, "enable-webrtc", FALSE, "enable-site-specific-quirks", FALSE,
        "media-playback-requires-user-gesture", TRUE, "allow-file-access-from-file-urls", FALSE,
        "allow-universal-access-from-file-urls", FALSE, "hardware-acceleration-policy",
        WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER, "default-charset", "windows-1252", "zoom-text-only", TRUE, nullptr));
    GtkWidget* widget =
        GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", SharedWebContext(), "user-content-manager",
                                Content.get(), "settings", settings.get(), nullptr));
    View.reset(WEBKIT_WEB_VIEW(g_object_ref_sink(widget)));
    gtk_widget_set_size_request(widget, 800, 600);
    if (AParent) {
      gtk_container_add(AParent, widget);
      gtk_widget_show(widget);
    } else {
      OwnWindow.reset(gtk_offscreen_window_new());
      gtk_container_add(GTK_CONTAINER(OwnWindow.get()), widget);
      gtk_widget_show_all(OwnWindow.get());
    }
    Signals.OnLoadChanged = [this](WebKitLoadEvent AEvent) { LoadChanged(AEvent); };
    Signals.OnLoadFailed = [this](const char* AUri, GError* AError) { return LoadFailedCb(AUri, AError); };
    Signals.OnTerminated = [this](WebKitWebProcessTerminationReason) { EngineEnded(); };
    Signals.OnDecidePolicy = [this](WebKitPolicyDecision* ADecision, WebKitPolicyDecisionType AType) {
      return Decide(ADecision, AType);
    };
    Signals.OnContextMenu = [this](WebKitContextMenu*, GdkEvent*) { return Host.ShowContextMenu(0, TPoint{}) == S_OK; };
    Signals.OnScriptDialog = [this](WebKitScriptDialog* ADialog) {
      std::int32_t result = 0;
      return Host.ShowMessage(Utf8ToUtf16(webkit_script_dialog_get_message(ADialog)), u"", 0, result) == S_OK;
    };
    Signals.Connect(View.get());
    StandardCommands[OLECMDID_PRINT] = [this](std::uint32_t AExecOpt, const TVariant& AIn, TVariant*) {
      return PrintCommand(View.get(), AExecOpt, AIn, PrintContext());
    };
    StandardCommands[OLECMDID_PRINTPREVIEW] = [this](std::uint32_t, const TVariant&, TVariant*) {
      return PreviewCommand(View.get(), PrintContext());
    };
    StandardCommands[OLECMDID_PAGESETUP] = [this](std::uint32_t, const TVariant&, TVariant*) {
      return PageSetupCommand(PrintContext());
    };
    StandardCommands[OLECMDID_OPEN] = [this](std::uint32_t, const TVariant&, TVariant*) {
      return OpenCommand(DialogContext());
    };
    StandardCommands[OLECMDID_SAVEAS] = [this](std::uint32_t AExecOpt, const TVariant& AIn, TVariant*) {
      return SaveAsCommand(AExecOpt, AIn, DialogContext());
    };
    StandardCommands[OLECMDID_PROPERTIES] = [this](std::uint32_t, const TVariant&, TVariant*) {
      return PropertiesCommand(DialogContext());
    };
    BrowserCommands[BrowserFind] = [this](std::uint32_t, const TVariant&, TVariant*) {
      return FindCommand(DialogContext());
    };
    BrowserCommands[BrowserViewSource] = [this](std::uint32_t, const TVariant&, TVariant*) {
      return ViewSourceCommand(DialogContext());
    };
    BrowserCommands[BrowserOptions] = [this](std::uint32_t, const TVariant&, TVariant*) {
      return OptionsCommand(DialogContext());
    };
  }

  std::int32_t DownloadMask() {
    TVariant value;
    if (Host.AmbientInvoke(DISPID_AMBIENT_DLCONTROL, DISPATCH_PROPERTYGET, &value) == S_OK &&
        std::holds_alternative<std::int32_t>(value))
      return std::get<std::int32_t>(value);
    return DefaultDownloadMask;
  }

  bool FramesAllowed = true;

  // Every load starts here: the host's mask and host flags are read for it.
  void BeginLoad() {
    std::int32_t mask = DownloadMask();
    TDocHostUIInfo info;
    Host.GetHostInfo(info);
    WebKitSettings* s = webkit_web_view_get_settings(View.get());
    webkit_settings_set_auto_load_images(s, (mask & DLCTL_DLIMAGES) != 0);
    webkit_settings_set_enable_media(s, (mask & (DLCTL_VIDEOS | DLCTL_BGSOUNDS)) != 0);
    FramesAllowed = (mask & (DLCTL_NO_FRAMEDOWNLOAD | DLCTL_NOFRAMES)) == 0;
    ReadyState = READYSTATE_LOADING;
    Failed = false;
    LoadFailed = false;
    ShowingErrorPage = false;
    Posted.reset();
    RemoveTextScript();
    LoadUri.clear();
    LoadData.reset();
    LoadCommitted = LoadRetried = false;
  }

  // The adapter's file load under way, kept until it commits: a web process that died before it could
  // start the load gets it once more (EngineEnded).
  std::string LoadUri;
  TzbGBytes LoadData;
  bool LoadCommitted = false;
  bool LoadRetried = false;

  void LaunchLoad() {
    ExpectedUri = LoadUri;
    // An empty character set, unlike none, leaves the engine to find it as for the file itself.
    if (LoadData)
      webkit_web_view_load_bytes(View.get(), LoadData.get(), "text/html", "", LoadUri.c_str());
    else
      webkit_web_view_load_uri(View.get(), LoadUri.c_str());
  }

  void Navigate(std::u16string_view AUrl, std::int32_t AFlags) {
    std::string uri = ToUri(AUrl);
    BeginLoad();
    if (IsLocalScheme(uri.c_str())) {
      UseFilter(DocumentFilter(uri, CallTimeout));
      LoadUri = uri;
      LoadData = HtmlFileBytes(uri, (AFlags & navNoHistory) == 0);
      // Only an HTML document: one the engine transforms (XSLT) would post the text of its source.
      if (LoadData && (AFlags & navReadBodyText)) InstallTextScript();
      LaunchLoad();
    } else {
      // Never asked of the network: the document is what a failed load gives.
      ShowingErrorPage = true;
      ExpectedUri = "about:blank";
      webkit_web_view_load_html(View.get(), EmptyDocument, "about:blank");
    }
  }

  // The content filter of the document being loaded: which local files it may read besides itself.
  // Held, so that its address cannot come back as another folder's filter.
  TzbOwner<WebKitUserContentFilter, webkit_user_content_filter_unref> ActiveFilter;
  void UseFilter(WebKitUserContentFilter* AFilter) {
    if (AFilter == ActiveFilter.get()) return;
    webkit_user_content_manager_remove_all_filters(Content.get());
    webkit_user_content_manager_add_filter(Content.get(), AFilter);
    ActiveFilter.reset(webkit_user_content_filter_ref(AFilter));
  }

  void InstallTextScript() {
    TextScript.reset(webkit_user_script_new_for_world(PostTextAtLoad, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, ScriptWorld, nullptr,
                                                      nullptr));
    webkit_user_content_manager_add_script(Content.get(), TextScript.get());
  }

  void RemoveTextScript() {
    if (!TextScript) return;
    webkit_user_content_manager_remove_script(Content.get(), TextScript.get());
    TextScript.reset();
  }

  static void OnTextPosted(WebKitUserContentManager*, WebKitJavascriptResult* AResult, gpointer AView) noexcept {
    GuardCallback([&] { static_cast<TView*>(AView)->TextPosted(webkit_javascript_result_get_js_value(AResult)); });
  }

  // Taken only while the load runs: a message that came late must not stand for a document that our
  // calls may have changed since.
  void TextPosted(JSCValue* AMessage) {
    if (!TextScript || !HasDocument || Failed || ReadyState != READYSTATE_LOADING || !jsc_value_is_array(AMessage))
      return;
    TzbGObject<JSCValue> type(jsc_value_object_get_property_at_index(AMessage, 0));
    TzbGObject<JSCValue> text(jsc_value_object_get_property_at_index(AMessage, 1));
    Posted = TPosted{Generation, ValueFromJsc(type.get()), ValueFromJsc(text.get())};
  }

  // The posted value for a read of the top document ARef names, if it still stands.
  const TPosted* PostedFor(const TRef& ARef) const {
    return Posted && ARef.DocExpr == "document" && Usable(ARef) && Posted->Generation == ARef.Generation ? &*Posted
                                                                                                         : nullptr;
  }

  void LoadBytes(std::string_view ABytes) {
    BeginLoad();
    UseFilter(NetworkBlockFilter(CallTimeout));
    ExpectedUri = "about:blank";
    TzbGBytes bytes(g_bytes_new(ABytes.data(), ABytes.size()));
    webkit_web_view_load_bytes(View.get(), bytes.get(), "text/html", nullptr, "about:blank");
  }

  void LoadChanged(WebKitLoadEvent AEvent) {
    if (AEvent == WEBKIT_LOAD_COMMITTED) {
      LoadCommitted = true;
      LoadData.reset();
      ++Generation;
      HasDocument = true;
      DesignModeMayBeOn = false;
      Zoom = DefaultZoom;
      webkit_web_view_set_zoom_level(View.get(), ZoomLevels[Zoom]);
    } else if (AEvent == WEBKIT_LOAD_FINISHED) {
      // A load that was replaced by a newer one still reports its end: while the newer one waits for its
      // navigation, or once it is under way.
      if (!ExpectedUri.empty() || webkit_web_view_is_loading(View.get())) return;
      if (!ShowingErrorPage && (LoadFailed || ShowsXmlErrorPage())) {
        ShowingErrorPage = true;
        ExpectedUri = "about:blank";
        webkit_web_view_load_html(View.get(), EmptyDocument, "about:blank");
        return;
      }
      ReadyState = READYSTATE_COMPLETE;
      ShowingErrorPage = false;
      RemoveTextScript();
      Host.DocumentComplete(
          Utf8ToUtf16(webkit_web_view_get_uri(View.get()) ? webkit_web_view_get_uri(View.get()) : ""));
    }
  }

  // An XML document the parser gave up on shows the engine's error page ("This page contains the
  // following errors") above what was read up to the fault: no document of the file's, so the load
  // failed. Asked only of documents the engine parsed as XML.
  bool ShowsXmlErrorPage() {
    WebKitWebResource* main = webkit_web_view_get_main_resource(View.get());
    WebKitURIResponse* response = main ? webkit_web_resource_get_response(main) : nullptr;
    const char* mime = response ? webkit_uri_response_get_mime_type(response) : nullptr;
    if (!mime || !g_str_has_suffix(mime, "xml")) return false;
    const TScriptResult r = RunScript(View.get(), "document.getElementsByTagNameNS('*','parsererror').length>0",
                                      ScriptWorld, CallTimeout, [this] { return Failed; });
    const bool* found = std::get_if<bool>(&r.Value);
    return r.Code >= 0 && found && *found;
  }

  bool LoadFailedCb(const char* AUri, GError* AError) {
    // A cancelled load, a load that a newer one replaces, or any load but the current one is no
    // failure of the document the host waits for.
    if (g_error_matches(AError, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) || !ExpectedUri.empty() ||
        !AUri || !SameAddress(AUri, CurrentUri))
      return TRUE;
    LoadFailed = true;
    return TRUE;  // no error page of WebKit's own: it would be one more load
  }

  // A wait that ran out leaves the web process at its work (a command over a huge document runs on for
  // minutes) and every later request would queue behind it: the process ends instead.
  void EndWebProcess() {
    if (Failed) return;
    webkit_web_view_terminate_web_process(View.get());
    Terminated();  // in case the engine reports the end later or not at all
  }

  // A web process that died between two loads is noticed only once the next load meets it. That load
  // never started: it starts once more, in the fresh process the engine launches for it.
  void EngineEnded() {
    if (!Failed && ReadyState == READYSTATE_LOADING && !LoadCommitted && !LoadRetried && !LoadUri.empty()) {
      LoadRetried = true;
      HasDocument = false;
      ++Generation;
      LaunchLoad();
      return;
    }
    Terminated();
  }

  void Terminated() {
    if (Failed) return;
    bool wasLoading = ReadyState == READYSTATE_LOADING;
    Failed = true;
    HasDocument = false;
    ++Generation;
    ReadyState = READYSTATE_UNINITIALIZED;
    ExpectedUri.clear();
    if (wasLoading) Host.DocumentComplete(u"");
  }

  bool Decide(WebKitPolicyDecision* ADecision, WebKitPolicyDecisionType AType) {
    switch (AType) {
      case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
        auto* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(ADecision));
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        // The adapter's own load comes first; after it only frames of the document may navigate, and
        // only while it loads, only where frames are allowed, only to local documents.
        const bool own = uri && !ExpectedUri.empty() && SameAddress(uri, ExpectedUri);
        if (own) {
          CurrentUri = ExpectedUri;
          ExpectedUri.clear();
        }
        const bool frame = !own && FramesAllowed && ReadyState == READYSTATE_LOADING && uri &&
                           (g_str_has_prefix(uri, "file:") || g_str_has_prefix(uri, "about:"));
        if (own || frame)
          webkit_policy_decision_use(ADecision);
        else
          webkit_policy_decision_ignore(ADecision);
        return true;
      }
      case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: webkit_policy_decision_ignore(ADecision); return true;
      case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
        auto* r = WEBKIT_RESPONSE_POLICY_DECISION(ADecision);
        if (!webkit_response_policy_decision_is_main_frame_main_resource(r) && !FramesAllowed) {
          webkit_policy_decision_ignore(ADecision);
          return true;
        }
        const char* mime = webkit_uri_response_get_mime_type(webkit_response_policy_decision_get_response(r));
        bool shown =
            webkit_response_policy_decision_is_mime_type_supported(r) && mime &&
            (g_str_has_prefix(mime, "text/") || g_str_has_prefix(mime, "image/") || g_str_has_suffix(mime, "xml"));
        if (shown)
          webkit_policy_decision_use(ADecision);
        else
          webkit_policy_decision_ignore(ADecision);  // never a download, never a plug-in viewer
        return true;
      }
      default: return false;
    }
  }

  TPrintContext PrintContext() {
    return {CallTimeout, [this] { return Failed; },
            [this](GtkWidget* ADialog, IzbPageSetupFields* AFields) { Host.DialogShown(ADialog, AFields); }};
  }

  // Defined below the document, whose save and serialisation the dialogs use.
  TDialogContext DialogContext();

  bool Usable(const TRef& ARef) const { return !Failed && HasDocument && ARef.Generation == Generation; }

  TScriptResult Script(const TRef& ARef, const std::string& ABody) {
    if (!Usable(ARef)) return {E_FAIL, {}, u"Das Dokument ist nicht mehr geladen"};
    Posted.reset();  // any call may change the document
    const std::string call =
        "(function(){var D=" + ARef.DocExpr + ";if(!D)throw new Error('No document');" + ABody + "})()";
    // The helpers come with every document as a user script; a document that missed it (one the engine
    // made itself) gets them with the call, before anything of the call runs.
    TScriptResult r =
        RunScript(View.get(), std::string(PreludeCheck) + call, ScriptWorld, CallTimeout, [this] { return Failed; });
    if (r.Code < 0 && r.Error.find(PreludeMissing) != std::u16string::npos)
      r = RunScript(View.get(), DomPrelude + call, ScriptWorld, CallTimeout, [this] { return Failed; });
    if (r.Code == E_ZB_TIMEOUT) EndWebProcess();
    return r;
  }

  TVariant Call(const TRef& ARef, const std::string& ABody) {
    TScriptResult r = Script(ARef, ABody);
    if (r.Code < 0) throw EzbOleError(r.Code, r.Error);
    return r.Value;
  }

  bool WaitComplete() {
    if (!WaitOnMainContext([this] { return ReadyState == READYSTATE_COMPLETE || Failed; }, CallTimeout))
      EndWebProcess();
    return ReadyState == READYSTATE_COMPLETE;
  }
};

std::u16string AsText(const TVariant& AValue) {
  if (auto* s = std::get_if<std::u16string>(&AValue)) return *s;
  if (auto* d = std::get_if<double>(&AValue)) return Utf8ToUtf16(std::to_string(static_cast<long long>(*d)));
  if (auto* b = std::get_if<bool>(&AValue)) return *b ? u"true" : u"false";
  return u"";
}
std::int32_t AsInt(const TVariant& AValue) {
  if (auto* d = std::get_if<double>(&AValue)) return static_cast<std::int32_t>(*d);
  return 0;
}
bool AsBool(const TVariant& AValue) {
  if (auto* b = std::get_if<bool>(&AValue)) return *b;
  return false;
}

// Releases its slot in the world's handle map when the last owner goes.
struct THandle {
  TRef Ref;
  int Id;
  THandle(TRef ARef, int AId) : Ref(std::move(ARef)), Id(AId) {}
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  ~THandle() {
    if (Ref.View->Usable(Ref))
      PostScript(Ref.View->View.get(), "globalThis.__zb&&__zb.free(" + std::to_string(Id) + ")", ScriptWorld);
  }
  std::string Get() const { return "__zb.get(" + std::to_string(Id) + ")"; }
  TVariant Call(const std::string& ABody) { return Ref.View->Call(Ref, "var O=" + Get() + ";" + ABody); }
};

class TWebKitStyle : public IHTMLStyle {
 public:
  explicit TWebKitStyle(std::shared_ptr<THandle> AElement) : FElement(std::move(AElement)) {}
  std::u16string backgroundImage() override {
    std::u16string v = AsText(FElement->Call("return O.style.backgroundImage;"));
    return v == u"none" ? u"" : v;
  }
  std::u16string fontFamily() override { return AsText(FElement->Call("return O.style.fontFamily;")); }
  void put_fontFamily(std::u16string_view AValue) override {
    FElement->Call("O.style.fontFamily=" + JsQuote(AValue) + ";");
  }
  std::u16string fontSize() override { return AsText(FElement->Call("return O.style.fontSize;")); }
  void put_fontSize(std::u16string_view AValue) override {
    FElement->Call("O.style.fontSize=" + JsQuote(AValue) + ";");
  }

 private:
  std::shared_ptr<THandle> FElement;
};

class TWebKitCurrentStyle : public IHTMLCurrentStyle {
 public:
  explicit TWebKitCurrentStyle(std::shared_ptr<THandle> AElement) : FElement(std::move(AElement)) {}
  std::u16string fontSize() override { return AsText(FElement->Call("return __zb.currentFontSize(O);")); }

 private:
  std::shared_ptr<THandle> FElement;
};

class TWebKitElement : public IHTMLElement, public IHTMLElement2 {
 public:
  explicit TWebKitElement(std::shared_ptr<THandle> AHandle) : FHandle(std::move(AHandle)) {}
  std::u16string tagName() override { return AsText(FHandle->Call("return O.tagName;")); }
  std::shared_ptr<IHTMLStyle> style() override { return std::make_shared<TWebKitStyle>(FHandle); }
  std::u16string outerText() override { return AsText(FHandle->Call("return O.innerText;")); }
  std::u16string innerHTML() override { return AsText(FHandle->Call("return O.innerHTML;")); }
  std::shared_ptr<IHTMLCurrentStyle> currentStyle() override { return std::make_shared<TWebKitCurrentStyle>(FHandle); }

 private:
  std::shared_ptr<THandle> FHandle;
};

std::shared_ptr<IHTMLElement> ElementOf(const TRef& ARef, const TVariant& AId) {
  int id = AsInt(AId);
  if (id <= 0) return nullptr;
  return std::make_shared<TWebKitElement>(std::make_shared<THandle>(ARef, id));
}

class TWebKitTxtRange : public IHTMLTxtRange {
 public:
  explicit TWebKitTxtRange(std::shared_ptr<THandle> AHandle) : FHandle(std::move(AHandle)) {}
  std::u16string text() override { return AsText(FHandle->Call("return O.toString();")); }
  // Line breaks of the text stay line breaks: lines go in as text nodes with a <br> between them.
  void put_text(std::u16string_view AText) override {
    FHandle->Call("var d=O.startContainer.ownerDocument,f=d.createDocumentFragment(),l=" + JsQuote(AText) +
                  ".split(/\\r\\n|\\r|\\n/);for(var i=0;i<l.length;i++){if(i)f.appendChild(d.createElement('br'));"
                  "f.appendChild(d.createTextNode(l[i]));}__zb.insertAt(O,f);");
  }
  std::u16string htmlText() override {
    return AsText(
        FHandle->Call("var d=O.startContainer.ownerDocument.createElement('div');"
                      "d.appendChild(O.cloneContents());return d.innerHTML;"));
  }
  void collapse(bool AStart) override {
    FHandle->Call(std::string("O.collapse(") + (AStart ? "true" : "false") + ");");
  }
  std::int32_t moveStart(std::u16string_view AUnit, std::int32_t ACount) override {
    return AsInt(FHandle->Call("return __zb.move(O," + JsQuote(AUnit) + "," + std::to_string(ACount) + ",true);"));
  }
  std::int32_t moveEnd(std::u16string_view AUnit, std::int32_t ACount) override {
    return AsInt(FHandle->Call("return __zb.move(O," + JsQuote(AUnit) + "," + std::to_string(ACount) + ",false);"));
  }
  void select() override {
    FHandle->Call("var s=O.startContainer.ownerDocument.getSelection();s.removeAllRanges();s.addRange(O);");
  }
  void pasteHTML(std::u16string_view AHtml) override {
    FHandle->Call("__zb.insertAt(O, O.createContextualFragment(" + JsQuote(AHtml) + "));");
  }
  std::shared_ptr<IHTMLElement> parentElement() override {
    return ElementOf(FHandle->Ref, FHandle->Call("var n=O.commonAncestorContainer;"
                                                 "if(n.nodeType!==1)n=n.parentElement;return __zb.put(n);"));
  }

 private:
  std::shared_ptr<THandle> FHandle;
};

class TWebKitSelection : public IHTMLSelectionObject {
 public:
  explicit TWebKitSelection(TRef ARef) : FRef(std::move(ARef)) {}
  std::u16string type() override {
    std::u16string t = AsText(FRef.View->Call(FRef, "return D.getSelection().type;"));
    return t == u"Range" || t == u"Caret" ? u"Text" : u"None";
  }
  std::shared_ptr<IHTMLTxtRange> createRange() override {
    TVariant id = FRef.View->Call(FRef,
                                  "var r=__zb.selRange(D);"
                                  "if(r)r=r.cloneRange();else{r=D.createRange();"
                                  "var p=__zb.pointAt(D,__zb.units(D),0,false);r.setStart(p.c,p.o);r.collapse(true);}"
                                  "return __zb.put(r);");
    if (AsInt(id) <= 0) return nullptr;
    return std::make_shared<TWebKitTxtRange>(std::make_shared<THandle>(FRef, AsInt(id)));
  }

 private:
  TRef FRef;
};

class TWebKitCollection : public IHTMLElementCollection {
 public:
  TWebKitCollection(TRef ARef, std::string AExpr) : FRef(std::move(ARef)), FExpr(std::move(AExpr)) {}
  std::int32_t length() override { return AsInt(FRef.View->Call(FRef, "return " + FExpr + ".length;")); }

 private:
  TRef FRef;
  std::string FExpr;
};

class TWebKitDocument : public IHTMLDocument2,
                        public IPersistStreamInit,
                        public IPersistFile,
                        public IOleCommandTarget {
 public:
  explicit TWebKitDocument(TRef ARef) : FRef(std::move(ARef)) {}

  std::u16string designMode() override {
    // A fresh document is never in design mode; only our own calls switch it on.
    if (IsTop() && !FRef.View->DesignModeMayBeOn && FRef.View->Usable(FRef)) return u"off";
    return AsText(Call("return D.designMode;"));
  }
  void put_designMode(std::u16string_view AValue) override {
    FRef.View->DesignModeMayBeOn = true;
    Call("D.designMode=" + JsQuote(AValue) + ";");
  }
  std::shared_ptr<IHTMLElement> body() override { return ElementOf(FRef, Call("return __zb.put(D.body);")); }
  // One script instead of a handle, its text and the handle's release.
  std::optional<std::u16string> bodyText() override {
    const TView::TPosted* p = FRef.View->PostedFor(FRef);
    const TVariant v = p ? p->Text : Call("var b=D.body;return b?b.innerText:null;");
    if (VarIsNull(v)) return std::nullopt;
    return AsText(v);
  }
  std::shared_ptr<IHTMLElementCollection> images() override {
    Call("return 0;");  // a stale document fails here, as the engine's collection would
    return std::make_shared<TWebKitCollection>(FRef, "D.images");
  }
  std::shared_ptr<IHTMLSelectionObject> selection() override {
    Call("return 0;");
    return std::make_shared<TWebKitSelection>(FRef);
  }
  std::u16string url() override {
    // Once the top document is complete and nothing loads, the view's address is the document's, without
    // a script.
    TView& v = *FRef.View;
    if (IsTop() && v.Usable(FRef) && v.ReadyState == READYSTATE_COMPLETE && !webkit_web_view_is_loading(v.View.get())) {
      const char* uri = webkit_web_view_get_uri(v.View.get());
      if (uri) return Utf8ToUtf16(uri);
    }
    return AsText(Call("return D.URL;"));
  }
  std::u16string readyState() override { return AsText(Call("return D.readyState;")); }
  std::u16string charset() override { return AsText(Call("return D.characterSet;")); }
  std::u16string contentType() override {
    const TView::TPosted* p = FRef.View->PostedFor(FRef);
    return AsText(p ? p->Type : Call("return D.contentType;"));
  }

  bool execCommand(std::u16string_view ACmdID, bool AShowUI, const TVariant& AValue) override {
    std::u16string name = AsciiUpperCase(ACmdID);
    if (name == u"REFRESH") {
      Call("return 0;");
      TView& v = *FRef.View;
      v.BeginLoad();
      const char* current = webkit_web_view_get_uri(v.View.get());
      v.ExpectedUri = current ? current : "";
      webkit_web_view_reload(v.View.get());
      return true;
    }
    if (name == u"STOP") {
      webkit_web_view_stop_loading(FRef.View->View.get());
      return true;
    }
    if (name == u"SAVEAS" && !AShowUI && std::holds_alternative<std::u16string>(AValue) &&
        !std::get<std::u16string>(AValue).empty()) {
      HRESULT r = Save(std::get<std::u16string>(AValue), false);
      if (r < 0) throw EzbOleError(r, u"Das Dokument konnte nicht gespeichert werden");
      return true;
    }
    std::uint32_t std = 0;
    if (name == u"PRINT")
      std = OLECMDID_PRINT;
    else if (name == u"OPEN")
      std = OLECMDID_OPEN;
    else if (name == u"SAVEAS")
      std = OLECMDID_SAVEAS;
    if (std) {
      TVariant out;
      HRESULT r = Exec(nullptr, std, AShowUI ? OLECMDEXECOPT_PROMPTUSER : OLECMDEXECOPT_DONTPROMPTUSER, AValue, &out);
      if (r < 0) throw EzbOleError(r, u"Befehl nicht unterstützt: " + std::u16string(ACmdID));
      return true;
    }
    FRef.View->DesignModeMayBeOn = true;  // the edit and browse modes are commands
    return AsBool(Call("return __zb.exec(D," + JsQuote(ACmdID) + "," + (AShowUI ? "true" : "false") + "," +
                       VariantToJs(CommandValue(name, AValue)) + ");"));
  }
  bool queryCommandSupported(std::u16string_view ACmdID) override {
    std::u16string name = AsciiUpperCase(ACmdID);
    if (name == u"REFRESH" || name == u"STOP" || name == u"SAVEAS") return true;
    if (name == u"PRINT") return FRef.View->StandardCommands.count(OLECMDID_PRINT) != 0;
    if (name == u"OPEN") return FRef.View->StandardCommands.count(OLECMDID_OPEN) != 0;
    return AsBool(Call("return __zb.supported(D," + JsQuote(ACmdID) + ");"));
  }
  bool queryCommandState(std::u16string_view ACmdID) override {
    return AsBool(Call("return D.queryCommandState(" + JsQuote(ACmdID) + ");"));
  }
  TVariant queryCommandValue(std::u16string_view ACmdID) override {
    TVariant v = Call("return D.queryCommandValue(" + JsQuote(ACmdID) + ");");
    return VarIsNull(v) ? TVariant{} : v;
  }

  // IPersistStreamInit
  HRESULT Save(std::string& AStream, bool) override {
    TScriptResult r = FRef.View->Script(FRef, "return D.characterSet+'\\n'+__zb.serialize(D);");
    if (r.Code < 0) return r.Code;
    std::string text = Utf16ToUtf8(AsText(r.Value));
    std::size_t cut = text.find('\n');
    // Nothing to serialise (a document the engine replaced by a transformation's result has no element
    // of its own): an empty file written as "saved" would lose the document.
    if (cut == std::string::npos || cut + 1 == text.size()) return E_FAIL;
    AStream += EncodeDocument(text.substr(cut + 1), text.substr(0, cut));
    return S_OK;
  }
  HRESULT Load(std::string_view AStream) override {
    TView& v = *FRef.View;
    if (v.Failed) return E_ZB_ENGINE_GONE;
    v.LoadBytes(AStream);
    if (!v.WaitComplete()) return v.Failed ? E_ZB_ENGINE_GONE : E_ZB_TIMEOUT;
    return S_OK;
  }
  HRESULT IsDirty() override { return S_FALSE; }

  // IPersistFile
  HRESULT Save(std::u16string_view AFileName, bool) override {
    std::string bytes;
    HRESULT r = Save(bytes, true);
    if (r < 0) return r;
    try {
      WriteFileAtomic(AFileName, bytes);
    } catch (const EzbException&) {
      return E_ACCESSDENIED;
    }
    return S_OK;
  }

  // IOleCommandTarget
  HRESULT Exec(const TGUID* AGroup, std::uint32_t ACmdID, std::uint32_t ACmdExecOpt, const TVariant& AIn,
               TVariant* AOut) override {
    TView& v = *FRef.View;
    if (!v.Usable(FRef)) return E_FAIL;
    if (!AGroup) {
      switch (ACmdID) {
        case OLECMDID_SELECTALL: {
          TScriptResult r = v.Script(FRef, "D.execCommand('selectAll');return 0;");
          return r.Code;
        }
        case OLECMDID_COPY:
          webkit_web_view_execute_editing_command(v.View.get(), WEBKIT_EDITING_COMMAND_COPY);
          return S_OK;
        case OLECMDID_ZOOM: {
          if (auto* level = std::get_if<std::int32_t>(&AIn)) {
            if (*level < 0 || *level > 4) return E_INVALIDARG;
            v.Zoom = *level;
            webkit_web_view_set_zoom_level(v.View.get(), ZoomLevels[v.Zoom]);
          }
          if (AOut) *AOut = v.Zoom;
          return S_OK;
        }
        case OLECMDID_GETZOOMRANGE:
          if (AOut) *AOut = static_cast<std::int32_t>(4 << 16);  // low word the smallest, high word the largest
          return S_OK;
        default: {
          auto it = v.StandardCommands.find(ACmdID);
          if (it == v.StandardCommands.end()) return OLECMDERR_E_NOTSUPPORTED;
          auto handler = it->second;  // may replace itself while it runs
          return handler(ACmdExecOpt, AIn, AOut);
        }
      }
    }
    if (*AGroup == CGID_MSHTML) {
      if (ACmdID != IDM_SAVE) return OLECMDERR_E_NOTSUPPORTED;
      TScriptResult r = v.Script(FRef, "return D.URL;");
      if (r.Code < 0) return r.Code;
      TzbGChars path(g_filename_from_uri(Utf16ToUtf8(AsText(r.Value)).c_str(), nullptr, nullptr));
      if (!path.get()) return E_FAIL;  // nothing of its own to save to (about:blank, bytes)
      return Save(Utf8ToUtf16(path.get()), false);
    }
    if (*AGroup == CGID_IWebBrowser) {
      auto it = v.BrowserCommands.find(ACmdID);
      if (it == v.BrowserCommands.end()) return OLECMDERR_E_NOTSUPPORTED;
      auto handler = it->second;
      return handler(ACmdExecOpt, AIn, AOut);
    }
    return OLECMDERR_E_UNKNOWNGROUP;
  }

 private:
  TRef FRef;
  TVariant Call(const std::string& ABody) { return FRef.View->Call(FRef, ABody); }
  bool IsTop() const { return FRef.DocExpr == "document"; }
};

TDialogContext TView::DialogContext() {
  // Each call works on the document loaded now; a later load refuses the stale one's calls.
  const TRef ref{shared_from_this(), Generation, "document"};
  auto document = std::make_shared<TWebKitDocument>(ref);
  TDialogContext c;
  c.View = View.get();
  c.Navigate = [this](std::u16string_view AUrl) { Navigate(AUrl, 0); };
  c.Save = [document](std::u16string_view AFileName) { return document->Save(AFileName, false); };
  c.Source = [this, ref] { return AsText(Call(ref, "return __zb.serialize(D);")); };
  c.Charset = [document] { return document->charset(); };
  c.Title = [this, ref] { return AsText(Call(ref, "return D.title;")); };
  c.Shown = [this](GtkWidget* ADialog) { Host.DialogShown(ADialog, nullptr); };
  return c;
}

class TWebKitBrowser : public IWebBrowser2 {
 public:
  TWebKitBrowser(std::shared_ptr<TView> AView, std::string ADocExpr)
      : FView(std::move(AView)), FDocExpr(std::move(ADocExpr)) {}
  ~TWebKitBrowser() override = default;

  bool IsTop() const { return FDocExpr == "document"; }
  void Navigate(std::u16string_view AUrl, std::int32_t AFlags) override {
    if (!IsTop()) throw EzbOleError(E_NOTIMPL, u"Ein Frame wird nicht für sich allein geladen");
    FView->Navigate(AUrl, AFlags);
  }
  int ReadyState() override { return FView->ReadyState; }
  std::shared_ptr<IHTMLDocument2> Document() override {
    if (FView->Failed || !FView->HasDocument) return nullptr;
    TRef ref{FView, FView->Generation, FDocExpr};
    if (!IsTop() && FView->Script(ref, "return 0;").Code < 0) return nullptr;
    return std::make_shared<TWebKitDocument>(ref);
  }
  std::u16string LocationURL() override {
    const char* uri = webkit_web_view_get_uri(FView->View.get());
    return uri ? Utf8ToUtf16(uri) : u"";
  }
  void Stop() override {
    TView& v = *FView;
    webkit_web_view_stop_loading(v.View.get());
    v.ExpectedUri.clear();
    // A load that never started reports no end: the state is what the view now holds.
    if (!webkit_web_view_is_loading(v.View.get()) && v.ReadyState == READYSTATE_LOADING)
      v.ReadyState = v.HasDocument ? READYSTATE_COMPLETE : READYSTATE_UNINITIALIZED;
  }
  void Refresh() override {
    if (!FView->HasDocument) return;
    FView->BeginLoad();
    const char* current = webkit_web_view_get_uri(FView->View.get());
    FView->ExpectedUri = current ? current : "";
    webkit_web_view_reload(FView->View.get());
  }
  void OnAmbientPropertyChange(std::int32_t) override {}  // the mask is read again at the next load
  bool EngineFailed() override { return FView->Failed; }
  void EndEngineWork() override { FView->EndWebProcess(); }
  void SetCallTimeout(int AMilliseconds) override { FView->CallTimeout = AMilliseconds; }
  GtkWidget* Widget() override { return GTK_WIDGET(FView->View.get()); }
  int FrameCount() override {
    if (FView->Failed || !FView->HasDocument) return 0;
    TScriptResult r = FView->Script(TRef{FView, FView->Generation, FDocExpr}, "return __zb.embeds(D).length;");
    return r.Code < 0 ? 0 : AsInt(r.Value);
  }
  std::shared_ptr<IWebBrowser2> Frame(int AIndex) override {
    if (AIndex < 0 || AIndex >= FrameCount()) return nullptr;
    return std::make_shared<TWebKitBrowser>(FView, "__zb.frameDoc(" + std::to_string(AIndex) + ")");
  }
  bool Snapshot(int AWidth, int AHeight, std::vector<std::uint32_t>& APixels) override;
  void SetStandardCommand(std::uint32_t ACmdID, TStandardCommand AHandler) override {
    if (AHandler)
      FView->StandardCommands[ACmdID] = std::move(AHandler);
    else
      FView->StandardCommands.erase(ACmdID);
  }

 private:
  std::shared_ptr<TView> FView;
  std::string FDocExpr;
};

struct TSnapshotCall {
  bool Done = false;
  TzbCairoSurface Surface;  // may arrive after the wait gave up
};

bool TWebKitBrowser::Snapshot(int AWidth, int AHeight, std::vector<std::uint32_t>& APixels) {
  if (AWidth <= 0 || AHeight <= 0 || FView->Failed || !FView->HasDocument) return false;
  if (!FView->WaitComplete()) return false;
  auto call = std::make_shared<TSnapshotCall>();
  webkit_web_view_get_snapshot(
      FView->View.get(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
      [](GObject* ASource, GAsyncResult* AResult, gpointer AData) noexcept {
        const std::shared_ptr<TSnapshotCall> c = TakeAsyncData<TSnapshotCall>(AData);
        c->Surface.reset(webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(ASource), AResult, nullptr));
        c->Done = true;
      },
      AsyncData(call));
  TView& view = *FView;
  if (!WaitOnMainContext([&] { return call->Done || view.Failed; }, view.CallTimeout)) view.EndWebProcess();
  if (!call->Surface) return false;
  TzbCairoSurface target(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, AWidth, AHeight));
  {
    TzbCairo cr(cairo_create(target.get()));
    double w = cairo_image_surface_get_width(call->Surface.get()),
           h = cairo_image_surface_get_height(call->Surface.get());
    if (w > 0 && h > 0) cairo_scale(cr.get(), AWidth / w, AHeight / h);
    cairo_set_source_surface(cr.get(), call->Surface.get(), 0, 0);
    cairo_paint(cr.get());
  }
  cairo_surface_flush(target.get());
  APixels.assign(static_cast<std::size_t>(AWidth) * static_cast<std::size_t>(AHeight), 0);
  const unsigned char* data = cairo_image_surface_get_data(target.get());
  int stride = cairo_image_surface_get_stride(target.get());
  for (int y = 0; y < AHeight; ++y)
    std::memcpy(&APixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(AWidth)],
                data + static_cast<std::ptrdiff_t>(y) * stride, static_cast<std::size_t>(AWidth) * 4);
  return true;
}

}  // namespace

std::unique_ptr<IWebBrowser2> CreateBrowser(GtkContainer* AParent, IzbBrowserHost& AHost) {
  auto view = std::make_shared<TView>(AHost);
  view->Create(AParent);
  return std::make_unique<TWebKitBrowser>(view, "document");
}

}  // namespace zb::webkit

namespace zb {
std::unique_ptr<IWebBrowser2> CreateWebBrowser(GtkContainer* AParent, IzbBrowserHost& AHost) {
  return webkit::CreateBrowser(AParent, AHost);
}
}  // namespace zb

namespace zb {
void ReleaseWebBrowserEngine() { webkit::ReleaseSharedWebKit(); }
}  // namespace zb
