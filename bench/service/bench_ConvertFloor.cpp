// The floor of the document benchmark: the least the engine needs for an HTML-to-plain-text conversion,
// without the bus, the request handling and the load bookkeeping of the service around it. One web view,
// never shown and in no window, loads the file's bytes; a script of its own world posts the body's text
// at document end; the text goes to the target as the service writes it. bench_Documents starts it once
// and writes "SRC\tDST\n" lines to its input; each is answered "1\n" once the target is written, or
// "0\n". The end of the input ends it.
#include <gio/gunixinputstream.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "support/zbStr.h"
#include "support/zbUnicode.h"

namespace {

using namespace zb;

constexpr char kWorld[] = "zb-floor";
constexpr char kHandler[] = "text";
constexpr char kPostText[] =
    "window.webkit.messageHandlers.text.postMessage(document.body ? document.body.innerText : '');";
// Only keeps a stuck load from hanging the benchmark; no mail comes near it.
constexpr guint kTimeoutS = 60;

bool WriteAnswer(bool AOk) {
  const char* answer = AOk ? "1\n" : "0\n";
  for (std::size_t done = 0; done < 2;) {
    const ssize_t n = write(STDOUT_FILENO, answer + done, 2 - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

class TFloor {
 public:
  explicit TFloor(GMainLoop* ALoop) : FLoop(ALoop) {
    FContext = TzbGObject<WebKitWebContext>(webkit_web_context_new_ephemeral());
    webkit_web_context_set_cache_model(FContext.get(), WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    FContent = TzbGObject<WebKitUserContentManager>(webkit_user_content_manager_new());
    TzbOwner<WebKitUserScript, webkit_user_script_unref> post(
        webkit_user_script_new_for_world(kPostText, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                         WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, kWorld, nullptr, nullptr));
    webkit_user_content_manager_add_script(FContent.get(), post.get());
    // The service's settings, images off as its host asks for them; the page's own scripts never run.
    TzbGObject<WebKitSettings> settings(webkit_settings_new_with_settings(
        "enable-javascript", TRUE, "enable-javascript-markup", FALSE, "javascript-can-open-windows-automatically",
        FALSE, "enable-page-cache", FALSE, "enable-html5-database", FALSE, "enable-html5-local-storage", FALSE,
        "enable-developer-extras", FALSE, "enable-webgl", FALSE, "enable-webaudio", FALSE, "enable-media-stream", FALSE,
        "enable-webrtc", FALSE, "enable-site-specific-quirks", FALSE, "enable-media", FALSE, "auto-load-images", FALSE,
        "allow-file-access-from-file-urls", FALSE, "allow-universal-access-from-file-urls", FALSE,
        "hardware-acceleration-policy", WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER, "default-charset", "windows-1252",
        nullptr));
    GtkWidget* widget =
        GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", FContext.get(), "user-content-manager",
                                FContent.get(), "settings", settings.get(), nullptr));
    FView = TzbGObject<WebKitWebView>(WEBKIT_WEB_VIEW(g_object_ref_sink(widget)));
    TzbGObject<GInputStream> in(g_unix_input_stream_new(STDIN_FILENO, FALSE));
    FInput = TzbGObject<GDataInputStream>(g_data_input_stream_new(in.get()));
    // Connected before the handler exists, so that no message can come without a receiver.
    FSignals.emplace_back(FContent.get(), (std::string("script-message-received::") + kHandler).c_str(),
                          G_CALLBACK(TextPosted), this);
    if (!webkit_user_content_manager_register_script_message_handler_in_world(FContent.get(), kHandler, kWorld))
      throw std::runtime_error("cannot register the script message handler");
    FSignals.emplace_back(FView.get(), "load-failed", G_CALLBACK(LoadFailed), this);
    FSignals.emplace_back(FView.get(), "web-process-terminated", G_CALLBACK(Terminated), this);
  }
  ~TFloor() {
    FSignals.clear();
    if (FView) gtk_widget_destroy(GTK_WIDGET(FView.get()));
  }
  TFloor(const TFloor&) = delete;
  TFloor& operator=(const TFloor&) = delete;

  // One line at a time: the next is read once the previous one is answered.
  void ReadNext() { g_data_input_stream_read_line_async(FInput.get(), G_PRIORITY_DEFAULT, nullptr, LineRead, this); }

 private:
  static void LineRead(GObject*, GAsyncResult* AResult, gpointer AData) noexcept {
    auto* self = static_cast<TFloor*>(AData);
    GuardCallback([&] {
      TzbGError error;
      gsize length = 0;
      TzbGChars line(g_data_input_stream_read_line_finish(self->FInput.get(), AResult, &length, error.Out()));
      if (!line) {
        if (error) std::fprintf(stderr, "bench_ConvertFloor: %s\n", error.Message());
        g_main_loop_quit(self->FLoop);
        return;
      }
      self->Start(std::string(line.get(), length));
    });
  }

  void Start(const std::string& ALine) {
    const std::size_t tab = ALine.find('\t');
    if (tab == std::string::npos) return Answer(false);
    const std::string source = ALine.substr(0, tab);
    FTarget = ALine.substr(tab + 1);
    TzbGError error;
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(source.c_str(), &contents, &length, error.Out())) {
      std::fprintf(stderr, "bench_ConvertFloor: %s\n", error.Message());
      return Answer(false);
    }
    TzbGBytes bytes(g_bytes_new_take(contents, length));
    TzbGChars absolute(g_canonicalize_filename(source.c_str(), nullptr));
    TzbGChars uri(g_filename_to_uri(absolute.get(), nullptr, nullptr));
    if (!uri) return Answer(false);
    FPending = true;
    FTimeout = TzbSource(g_timeout_add_seconds(kTimeoutS, TimedOut, this));
    // An empty encoding, unlike none (which means UTF-8), leaves the engine to find the document's
    // character set as it does for a file it loads.
    webkit_web_view_load_bytes(FView.get(), bytes.get(), "text/html", "", uri.get());
  }

  void Answer(bool AOk) {
    FPending = false;
    FTimeout.Remove();
    if (!WriteAnswer(AOk)) return g_main_loop_quit(FLoop);
    ReadNext();
  }

  static void TextPosted(WebKitUserContentManager*, WebKitJavascriptResult* AResult, gpointer AData) noexcept {
    auto* self = static_cast<TFloor*>(AData);
    // A late message of a load that was given up belongs to no request.
    if (!self->FPending) return;
    bool ok = GuardCallback(
        [&] {
          TzbGChars text(jsc_value_to_string(webkit_javascript_result_get_js_value(AResult)));
          // The service's own writer: the same bytes (its code page), the same atomic replace.
          SaveTextToFile(Utf8ToUtf16(text ? text.get() : ""), Utf8ToUtf16(self->FTarget));
          return true;
        },
        false);
    GuardCallback([&] { self->Answer(ok); });
  }

  static gboolean LoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* AError, gpointer AData) noexcept {
    auto* self = static_cast<TFloor*>(AData);
    if (self->FPending && !g_error_matches(AError, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
      GuardCallback([&] { self->Answer(false); });
    return TRUE;  // no error page: it would be one more load
  }

  static void Terminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer AData) noexcept {
    auto* self = static_cast<TFloor*>(AData);
    if (self->FPending) GuardCallback([&] { self->Answer(false); });
  }

  static gboolean TimedOut(gpointer AData) noexcept {
    auto* self = static_cast<TFloor*>(AData);
    self->FTimeout.Ended();
    GuardCallback([&] {
      webkit_web_view_stop_loading(self->FView.get());
      self->Answer(false);
    });
    return G_SOURCE_REMOVE;
  }

  GMainLoop* FLoop;
  TzbGObject<WebKitWebContext> FContext;
  TzbGObject<WebKitUserContentManager> FContent;
  TzbGObject<WebKitWebView> FView;
  TzbGObject<GDataInputStream> FInput;
  std::string FTarget;
  bool FPending = false;
  TzbSource FTimeout;
  std::vector<TzbSignal> FSignals;
};

}  // namespace

int main() {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "bench_ConvertFloor: no display\n");
    return 1;
  }
  try {
    TzbOwner<GMainLoop, g_main_loop_unref> loop(g_main_loop_new(nullptr, FALSE));
    TFloor floor(loop.get());
    floor.ReadNext();
    g_main_loop_run(loop.get());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_ConvertFloor: %s\n", e.what());
    return 1;
  }
}
